#pragma once

#include "remote/DatagramTransport.h"

#include <QHash>

#include <mutex>
#include <vector>

// Records what the endpoint sends and lets a test deliver datagrams as if they had arrived.
class FakeDatagramTransport : public DatagramTransport {
public:
    struct Sent {
        UdpSocketRole socket;
        QString host;
        quint16 port;
        QByteArray data;
    };

    std::optional<QString> listen(UdpSocketRole socket, quint16 port, Receiver receiver) override {
        std::lock_guard lock(mutex_);
        listenCalls.push_back({socket, port});
        if (refusedPorts.contains(port))
            return QStringLiteral("Address already in use");
        receivers_.insert(int(socket), std::move(receiver));
        return std::nullopt;
    }
    void openUnbound(UdpSocketRole socket) override {
        std::lock_guard lock(mutex_);
        unbound.push_back(socket);
    }
    void send(UdpSocketRole socket, const QString& host, quint16 port, const QByteArray& data) override {
        std::lock_guard lock(mutex_);
        sent_.push_back({socket, host, port, data});
    }
    void closeAll() override {
        std::lock_guard lock(mutex_);
        ++closed;
    }
    QString describe(UdpSocketRole socket) const override {
        std::lock_guard lock(mutex_);
        return receivers_.contains(int(socket)) ? QStringLiteral("<fake>") : QStringLiteral("(null)");
    }

    // Delivers a datagram to the socket's receiver, as the real transport would on a pool thread.
    bool deliver(UdpSocketRole socket, const QByteArray& data, const QString& host, quint16 port = 40000) {
        Receiver receiver;
        {
            std::lock_guard lock(mutex_);
            receiver = receivers_.value(int(socket));
        }
        if (!receiver)
            return false;
        receiver(socket, {{data, host, port}});
        return true;
    }
    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    void clearSent() {
        std::lock_guard lock(mutex_);
        sent_.clear();
    }

    QList<quint16> refusedPorts;
    std::vector<std::pair<UdpSocketRole, quint16>> listenCalls;
    std::vector<UdpSocketRole> unbound;
    int closed = 0;

private:
    mutable std::mutex mutex_;
    QHash<int, Receiver> receivers_;
    std::vector<Sent> sent_;
};
