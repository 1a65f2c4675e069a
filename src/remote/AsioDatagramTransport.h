#pragma once

#include "DatagramTransport.h"

#include <memory>

// The datagram transport on Boost.Asio UDP sockets, with a small pool of threads for the receivers.
// Listening sockets ask the system for a large receive buffer, so that a burst of datagrams does not
// crowd out a phone's heartbeats.
class AsioDatagramTransport : public DatagramTransport {
public:
    // What a listening socket asks for; the system may grant less (on Linux, net.core.rmem_max).
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

    explicit AsioDatagramTransport(int threads = 4);
    ~AsioDatagramTransport() override;

    std::optional<QString> listen(UdpSocketRole socket, quint16 port, Receiver receiver) override;
    void openUnbound(UdpSocketRole socket) override;
    void send(UdpSocketRole socket, const QString& host, quint16 port, const QByteArray& data) override;
    void closeAll() override;
    QString describe(UdpSocketRole socket) const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
