#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// The four UDP sockets of the LAN endpoint.
enum class UdpSocketRole { Command, Data, Check, Confirm };

// One received datagram and its sender.
struct Datagram {
    QByteArray data;
    QString host;
    quint16 port = 0;
};

// Sends and receives the LAN endpoint's datagrams. One receive is outstanding per listening socket:
// when datagrams arrive, what the socket already holds (up to kMaxBatch, in arrival order) is handed to
// the receiver at once on a pool thread, and the socket reads again only after the receiver returned,
// so one socket's datagrams are handled in order while the sockets run in parallel.
class DatagramTransport {
public:
    // Datagrams longer than this are cut to it.
    static constexpr int kMaxDatagramSize = 9216;
    static constexpr int kMaxBatch = 64;

    using Receiver = std::function<void(UdpSocketRole socket, const std::vector<Datagram>& batch)>;

    virtual ~DatagramTransport() = default;
    // Binds a socket to the port on every local IPv4 interface, with broadcast on, and starts receiving.
    // Gives the error text when it cannot bind.
    virtual std::optional<QString> listen(UdpSocketRole socket, quint16 port, Receiver receiver) = 0;
    // Opens a socket that is never bound: it only sends, from a port the system chooses.
    virtual void openUnbound(UdpSocketRole socket) = 0;
    // Sends without waiting for completion; failures are not reported.
    virtual void send(UdpSocketRole socket, const QString& host, quint16 port, const QByteArray& data) = 0;
    virtual void closeAll() = 0;
    // A short description of the socket for the log, or "(null)" when it is not open.
    virtual QString describe(UdpSocketRole socket) const = 0;
};
