#include "QtUdpSocket.h"

QtUdpSocket::QtUdpSocket(Delegate delegate)
    : delegate_(std::move(delegate)) {
    QObject::connect(&socket_, &QUdpSocket::readyRead, &socket_, [this] { takeWaiting(); });
}

std::unique_ptr<UdpSocket> QtUdpSocket::make(Delegate delegate) {
    return std::make_unique<QtUdpSocket>(std::move(delegate));
}

std::optional<QString> QtUdpSocket::bindToPort(quint16 port) {
    // The dual-stack address: IPv4 and IPv6 senders alike (IPv4 alone where the host has no IPv6).
    if (socket_.bind(QHostAddress::Any, port))
        return std::nullopt;
    return socket_.errorString();
}

void QtUdpSocket::receiveOne() {
    armed_ = true;
    // A datagram read already is handed over from the event loop, never from inside this call. The socket
    // is the context, so nothing runs once it is gone.
    QMetaObject::invokeMethod(
        &socket_, [this] { deliver(); }, Qt::QueuedConnection);
}

void QtUdpSocket::takeWaiting() {
    // Qt stops watching the socket when it signals readyRead and watches again only after a read, so a
    // wake-up that reads nothing leaves the socket deaf for good. Every wake-up reads at least once, armed
    // or not: that read also takes a pending error (the refusal of an earlier answer) off the socket.
    for (int reads = 0; reads < kReadsPerWakeUp; ++reads) {
        QNetworkDatagram datagram = socket_.receiveDatagram();
        if (datagram.isValid() && waiting_.size() < kMaxWaiting)
            waiting_.push_back(std::move(datagram));
        if (!socket_.hasPendingDatagrams())
            break;
    }
    deliver();
}

void QtUdpSocket::deliver() {
    // The delegate arms the socket again before it returns, so a burst is handed over in one go, in order.
    while (armed_ && !waiting_.empty()) {
        const QNetworkDatagram datagram = std::move(waiting_.front());
        waiting_.pop_front();
        armed_ = false;
        // An IPv4 sender on the dual-stack socket comes as ::ffff:a.b.c.d; it is named a.b.c.d.
        QHostAddress sender = datagram.senderAddress();
        bool isIPv4 = false;
        if (const quint32 v4 = sender.toIPv4Address(&isIPv4); isIPv4)
            sender = QHostAddress(v4);
        delegate_(*this, datagram.data(), sender.toString(), quint16(datagram.senderPort()));
    }
}

void QtUdpSocket::sendData(const QByteArray& data, const QString& host, quint16 port) {
    socket_.writeDatagram(data, QHostAddress(host), port);
}

void QtUdpSocket::close() {
    armed_ = false;
    waiting_.clear();
    socket_.close();
}
