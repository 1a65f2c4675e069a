#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// The paired phone.
struct ClientInfo {
    QString Id;
    QString deviceName;
    // Absent when the phone paired through the cloud and was not paired before.
    std::optional<QString> ipAddress;
    QDateTime connectTime;
};
