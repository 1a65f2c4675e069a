#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// A UDP socket of the legacy window, served on the thread that made it (the main thread). It hands its
// datagrams over one at a time: after each one it delivers nothing more until it is armed again.
class UdpSocket {
public:
    // Takes one datagram: the socket that received it, its bytes, the sender's host (IPv4 senders in
    // dotted form) and the sender's port.
    using Delegate =
        std::function<void(UdpSocket& socket, const QByteArray& data, const QString& host, quint16 port)>;

    virtual ~UdpSocket() = default;
    // Binds to the port on every local address, broadcast allowed; the error text when it cannot.
    virtual std::optional<QString> bindToPort(quint16 port) = 0;
    // Arms the socket for one more datagram; a datagram that waits already is delivered from the event
    // loop, never from inside this call.
    virtual void receiveOne() = 0;
    // Sends without waiting; an unbound socket sends from a port the system chooses.
    virtual void sendData(const QByteArray& data, const QString& host, quint16 port) = 0;
    virtual void close() = 0;
};

// Makes a socket that hands its datagrams to the delegate.
using UdpSocketFactory = std::function<std::unique_ptr<UdpSocket>(UdpSocket::Delegate delegate)>;
