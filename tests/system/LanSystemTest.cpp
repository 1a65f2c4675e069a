// The LAN endpoint end to end: the application on this machine, the phone in a network
// namespace of its own, datagrams over a veth pair.
#include "SystemTestSupport.h"
#include "Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include <gtest/gtest.h>

namespace {

class LanSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!phoneHost.ready())
            GTEST_SKIP() << "no network namespace for the phone: " << phoneHost.error().toStdString();
        ASSERT_TRUE(host.start()) << host.output().toStdString();
    }

    QStringList phone(qint64 toPort, const QStringList& sends, int expect, int waitMs = 5000) {
        return phoneAt(phoneHost, toPort, sends, expect, waitMs);
    }
    QStringList phoneAt(const PhoneNamespace& at, qint64 toPort, const QStringList& sends, int expect,
                        int waitMs = 5000) {
        QStringList args{
            "--to",
            at.computerAddress(),
            "--port",
            QString::number(toPort),
            "--listen",
            QString::number(host.port("DataPort")) + "," + QString::number(host.port("ConnectPort")),
            "--expect",
            QString::number(expect),
            "--wait",
            QString::number(waitMs)};
        for (const QString& s : sends)
            args << "--send" << s;
        return at.phone(args);
    }

    PhoneNamespace phoneHost;
    AppProcess host{"PodiumCast"};
};

} // namespace

TEST_F(LanSystemTest, DiscoveryPairingHeartbeatAndStop) {
    const QString data = QString::number(host.port("DataPort"));
    const QString connect = QString::number(host.port("ConnectPort"));

    // Discovery on each of the three ports, answered at the phone's data port.
    for (const char* key : {"CheckPort", "CommandPort", "DataPort"}) {
        const QStringList replies = phone(host.port(key), {"Check"}, 1);
        ASSERT_EQ(replies.size(), 1) << key << "\n" << host.output().toStdString();
        EXPECT_TRUE(replies[0].startsWith(data + R"( {"MachineName":")")) << replies[0].toStdString();
        EXPECT_TRUE(replies[0].contains("\"" + phoneHost.computerAddress() + "\""))
            << replies[0].toStdString();
        EXPECT_TRUE(replies[0].endsWith("]}"));
    }

    // Refused while unpaired, without using up its id: the same command is answered after pairing.
    EXPECT_TRUE(phone(host.port("CommandPort"), {"9|heartbeat|7"}, 1, 1500).isEmpty());

    // Pairing: "Confirm" at the phone's connect port; then the heartbeat answer at its data port.
    EXPECT_EQ(phone(host.port("CommandPort"), {"1|connect|A,Phone A"}, 1), QStringList{connect + " Confirm"});
    EXPECT_EQ(phone(host.port("CommandPort"), {"2|heartbeat|42"}, 1), QStringList{data + " heartBeat|OK:42"});
    EXPECT_EQ(phone(host.port("CommandPort"), {"9|heartbeat|7"}, 1), QStringList{data + " heartBeat|OK:7"});
    // A repeated id is dropped: no answer.
    EXPECT_TRUE(phone(host.port("CommandPort"), {"2|heartbeat|42"}, 1, 1500).isEmpty());

    // A second phone on another address: its discovery and its pairing are refused while A is paired;
    // "check:" with A's id is answered from anywhere.
    PhoneNamespace second;
    ASSERT_TRUE(second.ready()) << second.error().toStdString();
    EXPECT_TRUE(phoneAt(second, host.port("CheckPort"), {"check"}, 1, 1500).isEmpty());
    EXPECT_TRUE(phoneAt(second, host.port("CommandPort"), {"3|connect|B,Phone B"}, 1, 1500).isEmpty());
    EXPECT_TRUE(phoneAt(second, host.port("CheckPort"), {"check:B"}, 1, 1500).isEmpty());
    EXPECT_EQ(phoneAt(second, host.port("CheckPort"), {"check:A"}, 1).size(), 1);
    EXPECT_EQ(phone(host.port("CheckPort"), {"check"}, 1).size(), 1); // the paired address

    // After A disconnects, the second phone is answered and can pair.
    EXPECT_TRUE(phone(host.port("CommandPort"), {"4|disconnect|A,bye"}, 1, 1500).isEmpty());
    EXPECT_EQ(phoneAt(second, host.port("CheckPort"), {"check"}, 1).size(), 1);
    EXPECT_EQ(phoneAt(second, host.port("CommandPort"), {"5|connect|B,Phone B"}, 1),
              QStringList{connect + " Confirm"});

    // A second instance cannot share the slide-information port: its bind fails and says so.
    AppProcess other("PodiumCast", {{"LanInfoPort", host.port("LanInfoPort")}});
    other.start();
    EXPECT_TRUE(waitUntil(
        [&] {
            return other.output().contains(QString("Error binding port %1").arg(host.port("LanInfoPort")));
        },
        10000))
        << other.output().toStdString();

    // SIGTERM: the sockets close and the application ends well; its log folder holds what it said.
    EXPECT_EQ(host.terminate(), 0) << host.output().toStdString();
    EXPECT_TRUE(host.output().contains("stop listening"));
    const QDir logs(host.homePath() + "/Documents/podiumcastlogfiles");
    const QStringList files = logs.entryList({"com.brisvane.PodiumCastForMac *.log"}, QDir::Files);
    ASSERT_EQ(files.size(), 1) << logs.entryList().join(' ').toStdString();
    QFile log(logs.filePath(files[0]));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray written = log.readAll();
    EXPECT_TRUE(written.contains("Connection refuse") && written.contains("stop listening"));
}

namespace {

// Runs the work on a thread of its own inside the namespace: the sockets it opens are that host's.
std::thread inNamespace(const PhoneNamespace& host, std::function<void()> work) {
    return std::thread([path = ("/run/netns/" + host.name()).toLocal8Bit(), work = std::move(work)] {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close(fd);
        if (entered)
            work();
        else
            ADD_FAILURE() << "cannot enter " << path.constData();
    });
}

} // namespace

// An attacker on the LAN beside the paired phone: slow and endless request heads, and commands from
// its own address. The phone's reads and commands go on working.
TEST_F(LanSystemTest, AnAttackerBesideThePairedPhone) {
    const QString data = QString::number(host.port("DataPort"));
    const QString url =
        "http://" + phoneHost.computerAddress() + ":" + QString::number(host.port("LanInfoPort"));
    ASSERT_EQ(phone(host.port("CommandPort"), {"1|connect|A,Phone A"}, 1).size(), 1);
    PhoneNamespace attacker;
    ASSERT_TRUE(attacker.ready()) << attacker.error().toStdString();
    const QString computer = attacker.computerAddress();
    const quint16 httpPort = quint16(host.port("LanInfoPort"));

    // A request head sent one byte at a time is cut off within the deadline, unanswered, while the
    // phone's GET is answered at once.
    qint64 slowCutAfter = -1;
    QByteArray slowAnswer;
    std::thread slow = inNamespace(attacker, [&] {
        QTcpSocket socket;
        socket.connectToHost(computer, httpPort);
        if (!socket.waitForConnected(5000))
            return;
        socket.write("GET / HTTP/1.1\r\n");
        QElapsedTimer held;
        held.start();
        while (socket.state() == QAbstractSocket::ConnectedState && held.elapsed() < 20000) {
            socket.write("X");
            socket.waitForBytesWritten(500);
            socket.waitForReadyRead(500);
            slowAnswer += socket.readAll();
        }
        slowCutAfter = held.elapsed();
    });
    EXPECT_EQ(phoneHost.get(url).first, 200);
    slow.join();
    EXPECT_GE(slowCutAfter, 3000);
    EXPECT_LT(slowCutAfter, 15000) << "a slow head must not hold its connection";
    EXPECT_TRUE(slowAnswer.isEmpty()) << slowAnswer.constData();

    // Header fields without end: refused once the head is too large, long before the attacker is done.
    QByteArray endlessAnswer;
    qint64 endlessSent = 0;
    std::thread endless = inNamespace(attacker, [&] {
        QTcpSocket socket;
        socket.connectToHost(computer, httpPort);
        if (!socket.waitForConnected(5000))
            return;
        socket.write("GET / HTTP/1.1\r\n");
        const QByteArray field = "X-Endless: " + QByteArray(100, 'v') + "\r\n";
        while (socket.state() == QAbstractSocket::ConnectedState && endlessSent < 10'000'000) {
            endlessSent += socket.write(field);
            socket.waitForBytesWritten(100);
            socket.waitForReadyRead(0);
            endlessAnswer += socket.readAll();
        }
        endlessAnswer += socket.readAll();
    });
    endless.join();
    EXPECT_TRUE(endlessAnswer.startsWith("HTTP/1.1 431")) << endlessAnswer.left(40).constData();
    EXPECT_LT(endlessSent, 10'000'000);

    // Commands from the attacker's address are refused while the phone is paired, and their ids stay
    // the phone's to use; pairing from it is refused as before.
    EXPECT_TRUE(phoneAt(attacker, host.port("CommandPort"), {"7|heartbeat|9"}, 1, 1500).isEmpty());
    EXPECT_TRUE(phoneAt(attacker, host.port("CommandPort"), {"8|connect|B,Phone B"}, 1, 1500).isEmpty());
    EXPECT_EQ(phone(host.port("CommandPort"), {"7|heartbeat|9"}, 1), QStringList{data + " heartBeat|OK:9"});
    EXPECT_EQ(phoneHost.get(url).first, 200);
    EXPECT_EQ(host.terminate(), 0) << host.output().toStdString();
}
