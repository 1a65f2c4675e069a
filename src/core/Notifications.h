#pragma once

#include "NotificationCenter.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <type_traits>

// The notifications between layers: each name with the kind of object it carries. Post and observe them
// through post() and observe() below, so that poster and observer agree on the object's kind.
template <typename Object> struct Notification {
    const char* name;
    QString qname() const { return QString::fromLatin1(name); }
};
// A notification that carries no object.
struct Signal {};

namespace Notifications {

// The presentation poll, each pass: 1 PowerPoint open, 2 Keynote open, 0 neither.
inline constexpr Notification<int> kUpdatePptStatus{"kUpdatePptStatus"};
// The PDF export of the open presentation starts and ends (1 PowerPoint, 2 Keynote).
inline constexpr Notification<int> kStartGeneratingPdf{"kStartGeneratingPdf"};
inline constexpr Notification<int> kFinishedGeneratingPdf{"kFinishedGeneratingPdf"};
// Pairing and disconnect: the paired phone's name, "" after a disconnect; absent when the phone sent
// no name.
inline constexpr Notification<std::optional<QString>> kUpdateConnectionStatus{"kUpdateConnectionStatus"};
// YES on each LAN heartbeat; NO from the indicator strip once heartbeats stop.
inline constexpr Notification<bool> kLanConnectionStatusChanged{"kLanConnectionStatusChanged"};
// Each cloud heartbeat's result.
inline constexpr Notification<bool> kApiConnectionStatusChanged{"kApiConnectionStatusChanged"};
// The main window's expand image was clicked.
inline constexpr Notification<Signal> kTapExpandButtonSignal{"kTapExpandButtonSignal"};
// The accessibility watch: the first failed check, and trust granted after failures.
inline constexpr Notification<Signal> kAccessibilityFailed{"kAccessibilityFailed"};
inline constexpr Notification<Signal> kAccessibilitySucceeded{"kAccessibilitySucceeded"};

} // namespace Notifications

namespace notification_detail {

template <typename T> QVariant toVariant(const T& object) {
    return QVariant::fromValue(object);
}
inline QVariant toVariant(const std::optional<QString>& object) {
    return object ? QVariant(*object) : QVariant();
}
inline QVariant toVariant(const Signal&) {
    return {};
}

template <typename T> T fromVariant(const QVariant& v) {
    return v.value<T>();
}
template <> inline std::optional<QString> fromVariant(const QVariant& v) {
    return v.isNull() ? std::nullopt : std::optional<QString>(v.toString());
}
template <> inline Signal fromVariant(const QVariant&) {
    return {};
}

} // namespace notification_detail

// Posts on the default center, synchronously on this thread.
template <typename T>
void post(const Notification<T>& notification, const std::type_identity_t<T>& object = T()) {
    NotificationCenter::defaultCenter().post(notification.qname(), notification_detail::toVariant(object));
}

// Observes on the default center; the observer runs on the posting thread.
template <typename T>
NotificationCenter::Token observe(const Notification<T>& notification,
                                  std::type_identity_t<std::function<void(const T&)>> observer) {
    return NotificationCenter::defaultCenter().addObserver(
        notification.qname(), [observer = std::move(observer)](const QVariant& v) {
            observer(notification_detail::fromVariant<T>(v));
        });
}
