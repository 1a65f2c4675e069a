#include "remote/AsioDatagramTransport.h"

#include "Wait.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>

// These tests send only to the loopback address.
namespace {

using Role = UdpSocketRole;

quint16 freePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

void sendTo(quint16 port, const QByteArray& data) {
    QUdpSocket phone;
    phone.writeDatagram(data, QHostAddress::LocalHost, port);
}

} // namespace

TEST(AsioDatagramTransport, EachSocketInOrderTheSocketsInParallelLongDatagramsCut) {
    AsioDatagramTransport transport;
    const quint16 slowPort = freePort(), fastPort = freePort();
    std::mutex mutex;
    std::vector<QByteArray> slowSeen;
    std::latch release(1);
    std::atomic<int> fast{0}, slow{0};
    std::atomic<qsizetype> longest{0};
    ASSERT_FALSE(
        transport.listen(Role::Command, slowPort, [&](Role role, const std::vector<Datagram>& batch) {
            for (const Datagram& d : batch) {
                EXPECT_EQ(std::pair(role, d.host), std::pair(Role::Command, QString("127.0.0.1")));
                if (d.data == "1")
                    release.wait(); // holds this socket, not the other
                std::lock_guard lock(mutex);
                slowSeen.push_back(d.data);
                ++slow;
            }
        }));
    ASSERT_FALSE(transport.listen(Role::Check, fastPort, [&](Role, const std::vector<Datagram>& batch) {
        for (const Datagram& d : batch) {
            longest = std::max(longest.load(), d.data.size());
            ++fast;
        }
    }));
    for (const char* d : {"1", "2", "3"})
        sendTo(slowPort, d);
    for (const QByteArray& d : {QByteArray("x"), QByteArray(20000, 'a')})
        sendTo(fastPort, d);
    const bool parallel = waitUntil([&] { return fast == 2; }, 5000);
    EXPECT_EQ(slow, 0); // still held by the first datagram
    release.count_down();
    EXPECT_TRUE(parallel) << "one socket waited for the other";
    EXPECT_EQ(longest, DatagramTransport::kMaxDatagramSize);
    ASSERT_TRUE(waitUntil([&] { return slow == 3; }, 5000)) << "datagrams lost";
    EXPECT_EQ(slowSeen, (std::vector<QByteArray>{"1", "2", "3"}));
}

TEST(AsioDatagramTransport, RepliesLeaveFromTheDataPortAndAPortIsBoundOnce) {
    AsioDatagramTransport transport, second;
    const quint16 port = freePort();
    ASSERT_FALSE(transport.listen(Role::Data, port, [](auto, auto&) {}));
    const auto error = second.listen(Role::Data, port, [](auto, auto&) {});
    EXPECT_TRUE(error && !error->isEmpty());
    EXPECT_EQ(second.describe(Role::Data), "(null)");
    EXPECT_TRUE(transport.describe(Role::Data).contains(QString::number(port)));

    QUdpSocket phone;
    ASSERT_TRUE(phone.bind(QHostAddress::LocalHost, 0));
    // An address that is no IPv4 text sends nothing and does not fail.
    transport.send(Role::Data, "not an address", phone.localPort(), "x");
    transport.send(Role::Data, "::1", phone.localPort(), "x");
    transport.send(Role::Data, "127.0.0.1", phone.localPort(), "heartBeat|OK:1");
    transport.openUnbound(Role::Confirm);
    transport.send(Role::Confirm, "127.0.0.1", phone.localPort(), "Confirm");
    std::vector<std::pair<QByteArray, bool>> got; // the text, and whether it left from the data port
    while (got.size() < 2 && phone.waitForReadyRead(5000))
        while (phone.hasPendingDatagrams()) {
            const QNetworkDatagram d = phone.receiveDatagram();
            got.emplace_back(d.data(), d.senderPort() == port);
        }
    std::sort(got.begin(), got.end()); // two sockets: either may arrive first
    EXPECT_EQ(got, (std::vector<std::pair<QByteArray, bool>>{{"Confirm", false}, {"heartBeat|OK:1", true}}));
    transport.closeAll();
    EXPECT_EQ(transport.describe(Role::Data), "(null)");
}
