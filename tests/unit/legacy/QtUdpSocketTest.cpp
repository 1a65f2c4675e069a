// The legacy window's Qt socket on loopback: datagrams that arrive together, a socket that is not armed,
// an answer that is refused, and a flood of random bytes.
#include "legacy/QtUdpSocket.h"

#include "Wait.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <functional>

namespace {

class QtUdpSocketTest : public ::testing::Test {
protected:
    // A socket bound to a free loopback port whose delegate records each datagram and, while rearm holds,
    // arms the socket again as the window does.
    void SetUp() override {
        socket =
            QtUdpSocket::make([this](UdpSocket& s, const QByteArray& data, const QString& host, quint16) {
                received.push_back(data);
                EXPECT_EQ(host, QStringLiteral("127.0.0.1"));
                if (onReceive)
                    onReceive();
                if (answer)
                    s.sendData("confirm", host, answerPort);
                if (rearm)
                    s.receiveOne();
            });
        QUdpSocket probe;
        ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
        port = probe.localPort();
        probe.close();
        ASSERT_EQ(socket->bindToPort(port), std::nullopt);
        socket->receiveOne();
    }
    void send(const QByteArray& data) {
        ASSERT_EQ(sender.writeDatagram(data, QHostAddress::LocalHost, port), data.size());
    }
    // Sends "probe" until it comes through: true when the socket still hears.
    bool hears() {
        for (int attempt = 0; attempt < 20; ++attempt) {
            send("probe");
            if (waitUntil([&] { return !received.empty() && received.back() == "probe"; }, 250))
                return true;
        }
        return false;
    }

    std::unique_ptr<UdpSocket> socket;
    quint16 port = 0;
    QUdpSocket sender;
    std::vector<QByteArray> received;
    std::function<void()> onReceive;
    bool rearm = true;
    bool answer = false;
    quint16 answerPort = 0;
};

} // namespace

TEST_F(QtUdpSocketTest, DatagramsSentTogetherAreEachHandedOverInOrder) {
    std::vector<QByteArray> burst;
    for (int i = 0; i < 20; ++i) {
        burst.push_back("move|{2,1} #" + QByteArray::number(i));
        send(burst.back());
    }
    ASSERT_TRUE(waitUntil([&] { return received.size() >= burst.size(); }, 5000)) << received.size();
    EXPECT_EQ(received, burst);
    // And again, once the first burst is through.
    received.clear();
    for (const QByteArray& datagram : burst)
        send(datagram);
    ASSERT_TRUE(waitUntil([&] { return received.size() >= burst.size(); }, 5000)) << received.size();
    EXPECT_EQ(received, burst);
    // Datagrams that arrive while the one before is handled, as a touchpad's moves do.
    received.clear();
    onReceive = [&] {
        if (received.size() < burst.size())
            send(burst[received.size()]);
    };
    send(burst[0]);
    ASSERT_TRUE(waitUntil([&] { return received.size() >= burst.size(); }, 5000)) << received.size();
    EXPECT_EQ(received, burst);
    onReceive = nullptr;
    EXPECT_TRUE(hears());
}

TEST_F(QtUdpSocketTest, AnUnarmedSocketKeepsItsDatagramsUntilArmedAndStillHears) {
    rearm = false;
    for (const char* datagram : {"one", "two", "three"})
        send(datagram);
    ASSERT_TRUE(waitUntil([&] { return !received.empty(); }, 5000));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(received, std::vector<QByteArray>{"one"});
    socket->receiveOne();
    EXPECT_EQ(received.size(), 1u) << "handed over from inside receiveOne";
    ASSERT_TRUE(waitUntil([&] { return received.size() == 2; }, 5000));
    EXPECT_EQ(received.back(), "two");
    rearm = true;
    socket->receiveOne();
    ASSERT_TRUE(waitUntil([&] { return received.size() == 3; }, 5000));
    EXPECT_EQ(received.back(), "three");
    EXPECT_TRUE(hears());
}

TEST_F(QtUdpSocketTest, RefusedAnswersAndAFloodOfRandomBytesLeaveItHearing) {
    // Answers to a port where nothing listens come back refused, which the socket reports at its next read.
    QUdpSocket gone;
    ASSERT_TRUE(gone.bind(QHostAddress::LocalHost, 0));
    answerPort = gone.localPort();
    gone.close();
    answer = true;
    for (int i = 0; i < 20; ++i)
        send("connect");
    ASSERT_TRUE(waitUntil([&] { return received.size() >= 20; }, 5000)) << received.size();
    EXPECT_TRUE(hears());

    answer = false;
    QRandomGenerator random(27);
    for (int i = 0; i < 10000; ++i) {
        QByteArray datagram(qsizetype(random.bounded(600)), Qt::Uninitialized);
        for (char& c : datagram)
            c = char(random.bounded(256));
        sender.writeDatagram(datagram, QHostAddress::LocalHost, port); // the system may drop some
        if (i % 500 == 0)
            QCoreApplication::processEvents();
    }
    EXPECT_TRUE(hears());
}
