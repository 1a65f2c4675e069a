#pragma once

#include "core/NotificationCenter.h"

#include <QLabel>
#include <QWidget>

#include <atomic>
#include <chrono>

class QTimer;

namespace platform {
class Bundle;
}

// Two lights with their captions: the LAN light (green while a phone on the local network keeps sending
// heartbeats) and the Internet light (green while the cloud heartbeat succeeds). It learns both from
// notifications, and runs the LAN time-out itself: five ticks of its one-second countdown without a LAN
// heartbeat, and it posts the LAN light's "off" to itself, again on every later tick.
class NetworkStatusView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTimeLeft = 5;

    // The pictures and caption texts come from the bundle. tick: the countdown's interval.
    explicit NetworkStatusView(const platform::Bundle& bundle, QWidget* parent = nullptr,
                               std::chrono::milliseconds tick = std::chrono::seconds(1));
    ~NetworkStatusView() override;

    // One countdown tick (the timer's; tests drive it themselves).
    void checkTimeLeft();
    int timeLeft() const { return timeLeft_; }

    // The names of the pictures the lights show now: "greenLight" or "redLight".
    QString lanLight() const { return lanLight_; }
    QString apiLight() const { return apiLight_; }

    QLabel* apiLightLabel = nullptr;
    QLabel* lanLightLabel = nullptr;
    QLabel* apiIndicatorImageView = nullptr;
    QLabel* lanIndicatorImageView = nullptr;
    QTimer* lanHeartbeatCountDownTimer = nullptr;

private:
    void loadUI();
    void registerObservers();
    void lanConnectionStatusChanged(bool on);
    void apiConnectionStatusChanged(bool on);
    // On the main thread, in the order of posting: the light shows the picture, logged when it changes.
    void showLight(QLabel* light, QString& shown, const QString& image, const char* logFormat);

    const platform::Bundle& bundle_;
    std::atomic<int> timeLeft_{kTimeLeft};
    const QPixmap greenLight_, redLight_;
    QString lanLight_ = QStringLiteral("redLight");
    QString apiLight_ = QStringLiteral("redLight");
    NotificationCenter::Token apiObserver_ = 0;
    NotificationCenter::Token lanObserver_ = 0;
};
