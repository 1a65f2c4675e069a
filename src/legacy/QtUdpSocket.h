#pragma once

#include "UdpSocket.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <deque>

// The legacy window's socket on Qt: a QUdpSocket served by the event loop of the thread that made it.
// Qt turns broadcast on for every UDP socket, so sending to 255.255.255.255 needs nothing more.
class QtUdpSocket : public UdpSocket {
public:
    // Datagrams read from the system and not yet handed over; past this many, newer ones are dropped, as
    // a full receive buffer drops them.
    static constexpr size_t kMaxWaiting = 1024;
    // Datagrams read at one wake-up of the event loop; more wait for the next one, so that a flood
    // leaves the window time to draw.
    static constexpr int kReadsPerWakeUp = 64;

    explicit QtUdpSocket(Delegate delegate);
    static std::unique_ptr<UdpSocket> make(Delegate delegate);

    std::optional<QString> bindToPort(quint16 port) override;
    void receiveOne() override;
    void sendData(const QByteArray& data, const QString& host, quint16 port) override;
    void close() override;

private:
    // Reads what the system holds for the socket into waiting_, then hands datagrams over.
    void takeWaiting();
    // Hands waiting datagrams to the delegate, one for each time the socket is armed.
    void deliver();

    Delegate delegate_;
    QUdpSocket socket_;
    std::deque<QNetworkDatagram> waiting_;
    bool armed_ = false;
};
