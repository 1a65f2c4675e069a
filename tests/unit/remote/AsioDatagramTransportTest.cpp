#include "remote/AsioDatagramTransport.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>

// These tests send only to the loopback address.
namespace {

quint16 freePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

void sendTo(quint16 port, const QByteArray& data) {
    QUdpSocket phone;
    phone.writeDatagram(data, QHostAddress::LocalHost, port);
}

// A receiver that takes a batch one datagram at a time.
template <typename F> DatagramTransport::Receiver each(F f) {
    return [f](UdpSocketRole role, const std::vector<Datagram>& batch) {
        for (const Datagram& d : batch)
            f(role, d.data, d.host, d.port);
    };
}

} // namespace

TEST(AsioDatagramTransport, ReceivesInOrderPerSocketAndSocketsRunInParallel) {
    AsioDatagramTransport transport;
    const quint16 slowPort = freePort(), fastPort = freePort();
    std::mutex mutex;
    std::vector<QByteArray> slowSeen;
    std::latch release(1);
    std::atomic<int> fast{0};
    ASSERT_FALSE(
        transport.listen(UdpSocketRole::Command, slowPort,
                         each([&](UdpSocketRole role, const QByteArray& data, const QString& host, quint16) {
                             EXPECT_EQ(role, UdpSocketRole::Command);
                             EXPECT_EQ(host, "127.0.0.1");
                             if (data == "1")
                                 release.wait(); // holds this socket, not the other
                             std::lock_guard lock(mutex);
                             slowSeen.push_back(data);
                         })));
    ASSERT_FALSE(
        transport.listen(UdpSocketRole::Check, fastPort,
                         each([&](UdpSocketRole, const QByteArray&, const QString&, quint16) { ++fast; })));
    for (const char* d : {"1", "2", "3"})
        sendTo(slowPort, d);
    for (int i = 0; i < 5; ++i)
        sendTo(fastPort, "x");
    while (fast < 5)
        std::this_thread::yield();
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(slowSeen.empty()); // still held by the first datagram
    }
    release.count_down();
    for (;;) {
        std::lock_guard lock(mutex);
        if (slowSeen.size() == 3)
            break;
    }
    EXPECT_EQ(slowSeen, (std::vector<QByteArray>{"1", "2", "3"}));
}

TEST(AsioDatagramTransport, CutsLongDatagramsAndSendsFromTheRightSocket) {
    AsioDatagramTransport transport;
    const quint16 port = freePort();
    std::atomic<qsizetype> size{-1};
    std::atomic<quint16> senderPort{0};
    ASSERT_FALSE(
        transport.listen(UdpSocketRole::Data, port,
                         each([&](UdpSocketRole, const QByteArray& data, const QString&, quint16 from) {
                             senderPort = from;
                             size = data.size();
                         })));
    sendTo(port, QByteArray(20000, 'a'));
    while (size < 0)
        std::this_thread::yield();
    EXPECT_EQ(size.load(), DatagramTransport::kMaxDatagramSize);

    QUdpSocket phone;
    ASSERT_TRUE(phone.bind(QHostAddress::LocalHost, 0));
    transport.send(UdpSocketRole::Data, "127.0.0.1", phone.localPort(), "heartBeat|OK:1");
    ASSERT_TRUE(phone.waitForReadyRead(10000));
    const QNetworkDatagram reply = phone.receiveDatagram();
    EXPECT_EQ(reply.data(), "heartBeat|OK:1");
    EXPECT_EQ(reply.senderPort(), port); // replies leave from the data port

    transport.openUnbound(UdpSocketRole::Confirm);
    transport.send(UdpSocketRole::Confirm, "127.0.0.1", phone.localPort(), "Confirm");
    ASSERT_TRUE(phone.waitForReadyRead(10000));
    const QNetworkDatagram confirm = phone.receiveDatagram();
    EXPECT_EQ(confirm.data(), "Confirm");
    EXPECT_NE(confirm.senderPort(), port);

    // An address that is no IPv4 text sends nothing and does not fail.
    transport.send(UdpSocketRole::Data, "not an address", phone.localPort(), "x");
    transport.send(UdpSocketRole::Data, "::1", phone.localPort(), "x");
}

TEST(AsioDatagramTransport, ABoundPortCannotBeBoundAgainAndClosingStopsReceiving) {
    AsioDatagramTransport first, second;
    const quint16 port = freePort();
    std::atomic<int> received{0};
    ASSERT_FALSE(first.listen(UdpSocketRole::Command, port, [&](auto, auto&) { ++received; }));
    const auto error = second.listen(UdpSocketRole::Command, port, [](auto, auto&) {});
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->isEmpty());
    EXPECT_EQ(second.describe(UdpSocketRole::Command), "(null)");
    EXPECT_TRUE(first.describe(UdpSocketRole::Command).contains(QString::number(port)));
    first.closeAll();
    EXPECT_EQ(first.describe(UdpSocketRole::Command), "(null)");
}
