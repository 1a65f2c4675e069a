#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// Reader of XML property lists (the format of a bundle's Info.plist).
// Values map onto QVariant: dict -> QVariantMap, array -> QVariantList, string -> QString,
// integer -> qint64, real -> double, true/false -> bool.
class PropertyList {
public:
    // Nesting deeper than this is refused, so hostile input cannot exhaust the stack.
    static constexpr int kMaxDepth = 64;

    // The root value, or nothing with a description of the first fault in *error.
    static std::optional<QVariant> parse(const QByteArray& xml, QString* error = nullptr);
};

} // namespace platform
