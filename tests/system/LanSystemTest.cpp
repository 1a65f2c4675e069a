// The LAN endpoint end to end: the application on this machine, the phone in a network
// namespace of its own, datagrams over a veth pair.
#include "SystemTestSupport.h"

#include <QDir>

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

    // Refused while unpaired, and its id is dropped again after pairing.
    EXPECT_TRUE(phone(host.port("CommandPort"), {"9|heartbeat|7"}, 1, 1500).isEmpty());

    // Pairing: "Confirm" at the phone's connect port; then the heartbeat answer at its data port.
    EXPECT_EQ(phone(host.port("CommandPort"), {"1|connect|A,Phone A"}, 1), QStringList{connect + " Confirm"});
    EXPECT_EQ(phone(host.port("CommandPort"), {"2|heartbeat|42"}, 1), QStringList{data + " heartBeat|OK:42"});
    EXPECT_TRUE(phone(host.port("CommandPort"), {"9|heartbeat|7"}, 1, 1500).isEmpty());
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
