#pragma once

#include "UdpSocket.h"

#include <QUdpSocket>

// The legacy window's socket on Qt: a QUdpSocket served by the event loop of the thread that made it.
// Qt turns broadcast on for every UDP socket, so sending to 255.255.255.255 needs nothing more.
class QtUdpSocket : public UdpSocket {
public:
    explicit QtUdpSocket(Delegate delegate);
    static std::unique_ptr<UdpSocket> make(Delegate delegate);

    std::optional<QString> bindToPort(quint16 port) override;
    void receiveOne() override;
    void sendData(const QByteArray& data, const QString& host, quint16 port) override;
    void close() override;

private:
    // Hands the next waiting datagram to the delegate when the socket is armed.
    void deliver();

    Delegate delegate_;
    QUdpSocket socket_;
    bool armed_ = false;
};
