// The LAN endpoint end to end: the headless service host on this machine, the phone in a network
// namespace of its own, datagrams over a veth pair.
#include "SystemTestSupport.h"

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
        QStringList args{"--to", PhoneNamespace::kComputerAddress, "--port", QString::number(toPort), "--listen",
                         QString::number(host.port("DataPort")) + "," + QString::number(host.port("ConnectPort")),
                         "--expect", QString::number(expect), "--wait", QString::number(waitMs)};
        for (const QString& s : sends)
            args << "--send" << s;
        return phoneHost.phone(args);
    }

    PhoneNamespace phoneHost;
    ServiceHostProcess host{"PodiumCast"};
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
        EXPECT_TRUE(replies[0].contains(QString("\"") + PhoneNamespace::kComputerAddress + "\"")) << replies[0].toStdString();
        EXPECT_TRUE(replies[0].endsWith("]}"));
    }

    // Pairing: "Confirm" at the phone's connect port; then the heartbeat answer at its data port.
    EXPECT_EQ(phone(host.port("CommandPort"), {"1|connect|A,Phone A"}, 1), QStringList{connect + " Confirm"});
    EXPECT_EQ(phone(host.port("CommandPort"), {"2|heartbeat|42"}, 1), QStringList{data + " heartBeat|OK:42"});
    // A repeated id is dropped: no answer.
    EXPECT_TRUE(phone(host.port("CommandPort"), {"2|heartbeat|42"}, 1, 1500).isEmpty());
    // Another device cannot pair, and discovery by another device id is not answered.
    EXPECT_TRUE(phone(host.port("CommandPort"), {"3|connect|B,Phone B"}, 1, 1500).isEmpty());
    EXPECT_TRUE(phone(host.port("CheckPort"), {"check:B"}, 1, 1500).isEmpty());
    EXPECT_EQ(phone(host.port("CheckPort"), {"check:A"}, 1).size(), 1);

    EXPECT_EQ(host.terminate(), 0) << host.output().toStdString();
    EXPECT_TRUE(host.output().contains("stop listening"));
}
