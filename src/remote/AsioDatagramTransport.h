#pragma once

#include "DatagramTransport.h"

#include <memory>

// The datagram transport on asio UDP sockets, with a small pool of threads for the receivers.
class AsioDatagramTransport : public DatagramTransport {
public:
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
