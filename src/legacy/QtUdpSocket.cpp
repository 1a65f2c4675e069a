#include "QtUdpSocket.h"

#include <QNetworkDatagram>

QtUdpSocket::QtUdpSocket(Delegate delegate)
    : delegate_(std::move(delegate)) {
    QObject::connect(&socket_, &QUdpSocket::readyRead, &socket_, [this] { deliver(); });
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
    // readyRead comes only for datagrams that arrive after the last read: look for waiting ones from the
    // event loop. The socket is the context, so nothing runs once it is gone.
    QMetaObject::invokeMethod(
        &socket_, [this] { deliver(); }, Qt::QueuedConnection);
}

void QtUdpSocket::deliver() {
    if (!armed_ || !socket_.hasPendingDatagrams())
        return;
    const QNetworkDatagram datagram = socket_.receiveDatagram();
    if (!datagram.isValid())
        return; // a failed read: the socket stays armed for the next datagram
    armed_ = false;
    // An IPv4 sender on the dual-stack socket comes as ::ffff:a.b.c.d; it is named a.b.c.d.
    QHostAddress sender = datagram.senderAddress();
    bool isIPv4 = false;
    if (const quint32 v4 = sender.toIPv4Address(&isIPv4); isIPv4)
        sender = QHostAddress(v4);
    delegate_(*this, datagram.data(), sender.toString(), quint16(datagram.senderPort()));
}

void QtUdpSocket::sendData(const QByteArray& data, const QString& host, quint16 port) {
    socket_.writeDatagram(data, QHostAddress(host), port);
}

void QtUdpSocket::close() {
    armed_ = false;
    socket_.close();
}
