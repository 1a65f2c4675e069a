#include "remote/SWDMacNetworkManager.h"

#include "core/LocalUtils.h"
#include "core/NotificationCenter.h"
#include "core/UserDefaults.h"

#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "TestBundle.h"

#include <QFile>

#include <gtest/gtest.h>

using Family = platform::InterfaceAddress::Family;

namespace {

platform::InterfaceAddress v4(const char* name, const char* address) {
    return {name, true, Family::IPv4, QString(address)};
}

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
        facts->host = QStringLiteral("Anna's \"Mac\"");
        facts->osVersion = QStringLiteral("Version 14.1 (Build 23B74)");
        facts->interfaces =
            std::vector{v4("lo", "127.0.0.1"), v4("eth0", "192.168.1.20"), v4("eth1", "169.254.3.4")};
        platform::Platform::setHostFacts(facts);
        platform::Platform::setAlerts(alerts);
        token = NotificationCenter::defaultCenter().addObserver("kUpdateConnectionStatus",
                                                                [this](const QVariant& v) {
                                                                    std::lock_guard lock(mutex);
                                                                    statuses.push_back(v.toString());
                                                                });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token);
        platform::Platform::setHostFacts(nullptr);
        platform::Platform::setAlerts(nullptr);
        QFile::remove(UserDefaults::filePath());
    }

    std::unique_ptr<SWDMacNetworkManager> make() {
        return std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            transport,
            [this](const std::optional<QString>& text, const std::optional<QString>& host) {
                std::lock_guard lock(mutex);
                executed.push_back({text, host});
            },
            {},
            facts});
    }
    std::vector<QString> statusPosts() {
        std::lock_guard lock(mutex);
        return statuses;
    }
    // Datagrams the phone at host got on its data port.
    int repliesTo(const QString& host) {
        int n = 0;
        for (const auto& s : transport->sent())
            n += s.socket == UdpSocketRole::Data && s.host == host && s.port == 51302;
        return n;
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"},
                       {"CFBundleVersion", "321"},
                       {"ConnectPort", 51301},
                       {"DataPort", 51302},
                       {"CheckPort", 51303},
                       {"CommandPort", 51304},
                       {"LanInfoPort", 51305},
                       {"HttpPort", 51307}}};
    std::shared_ptr<FakeHostFacts> facts = std::make_shared<FakeHostFacts>();
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    std::mutex mutex;
    std::vector<QString> statuses;
    std::vector<std::pair<std::optional<QString>, std::optional<QString>>> executed;
    NotificationCenter::Token token = 0;
};

} // namespace

TEST_F(NetworkTest, MachineInformationDocumentIsExactAndFiltersAddresses) {
    facts->interfaces->push_back(v4("eth2", "169.1.2.3"));
    const auto network = make();
    EXPECT_EQ(network->kConnectPort, 51301);
    EXPECT_EQ(network->kLanInfoPort, 51305);
    const QString id = LocalUtils::GetMachineIndex();
    const QString expected =
        R"x({"MachineName":"Anna's Mac","MachineId":")x" + id +
        R"x(","PcAppVersion":"321","OsVersion":"macOS Version 14.1 (Build 23B74)","OfficeVersion":"","IpAddressList":["192.168.1.20"]})x";
    EXPECT_EQ(network->machineInfoQrCodeMessage(), expected);
    EXPECT_EQ(network->machineInfoUdpMessage(), expected);
}

TEST_F(NetworkTest, DocumentWithOnlyFilteredOrNoAddresses) {
    facts->interfaces = std::vector{v4("lo", "127.0.0.1")};
    const auto network = make();
    EXPECT_TRUE(network->machineInfoQrCodeMessage()->endsWith(R"("IpAddressList":[]})"));
    EXPECT_EQ(network->machineInfoUdpMessage(), network->machineInfoQrCodeMessage());

    // An empty address list replaces only the QR text; the reply keeps its last text with addresses.
    facts->interfaces = std::vector{v4("eth0", "10.0.0.7")};
    network->getSystemInfo();
    const auto withAddress = network->machineInfoUdpMessage();
    ASSERT_TRUE(withAddress && withAddress->contains("10.0.0.7"));
    facts->interfaces = std::nullopt;
    network->getSystemInfo();
    EXPECT_TRUE(network->machineInfoQrCodeMessage()->endsWith(R"("IpAddressList":[]})"));
    EXPECT_EQ(network->machineInfoUdpMessage(), withAddress);

    // Before any build found an address, discovery has nothing to send.
    const auto fresh =
        std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{transport, {}, {}, facts});
    EXPECT_FALSE(fresh->machineInfoUdpMessage());
    fresh->startUdp();
    transport->deliver(UdpSocketRole::Check, "check", "192.168.1.9");
    EXPECT_TRUE(transport->sent().empty());
}

TEST_F(NetworkTest, StartUdpBindsThreeSocketsOnceAndReportsAFailedBind) {
    transport->refusedPorts = {51302};
    const auto network = make();
    network->startUdp();
    network->startUdp();
    ASSERT_EQ(transport->listenCalls.size(), 3u);
    EXPECT_EQ(transport->listenCalls[0], std::make_pair(UdpSocketRole::Command, quint16(51304)));
    EXPECT_EQ(transport->listenCalls[1], std::make_pair(UdpSocketRole::Data, quint16(51302)));
    EXPECT_EQ(transport->listenCalls[2], std::make_pair(UdpSocketRole::Check, quint16(51303)));
    EXPECT_EQ(transport->unbound, std::vector{UdpSocketRole::Confirm});
    const auto shown = alerts->shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].informativeText, "Error binding port 51302: Address already in use");
    // The other sockets still work.
    EXPECT_TRUE(transport->deliver(UdpSocketRole::Check, "check", "192.168.1.9"));
    EXPECT_FALSE(transport->deliver(UdpSocketRole::Data, "check", "192.168.1.9"));
    network->stopListening();
    EXPECT_GE(transport->closed, 1);
}

TEST_F(NetworkTest, DiscoveryRules) {
    const auto network = make();
    network->startUdp();
    for (const char* text : {"check", "CHECK", "cHeCk"})
        transport->deliver(UdpSocketRole::Command, text, "192.168.1.9");
    EXPECT_EQ(repliesTo("192.168.1.9"), 3);
    EXPECT_EQ(transport->sent()[0].data, network->machineInfoUdpMessage()->toUtf8());

    // Not discovery: the executor gets them unchanged.
    for (const char* text : {"CHECK:abc", "Check:abc", "chk", "", "checks"})
        transport->deliver(UdpSocketRole::Command, text, "192.168.1.9");
    transport->deliver(UdpSocketRole::Command, QByteArray("\xff\xfe bad", 6), "192.168.1.9");
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(executed.size(), 6u);
        EXPECT_EQ(executed[0].first, QStringLiteral("CHECK:abc"));
        EXPECT_EQ(executed[0].second, QStringLiteral("192.168.1.9"));
        EXPECT_EQ(executed[3].first, QString(""));
        EXPECT_FALSE(executed[5].first); // not UTF-8: no text
    }

    // Phone A pairs from .20: "check" is answered only for its address, "check:A" from anywhere.
    network->acceptConnectFromDeviceId("A", "Phone A", QStringLiteral("192.168.1.20"));
    transport->clearSent();
    transport->deliver(UdpSocketRole::Check, "check", "192.168.1.20");
    transport->deliver(UdpSocketRole::Check, "check", "192.168.1.21");
    transport->deliver(UdpSocketRole::Check, "check:A", "192.168.1.21");
    transport->deliver(UdpSocketRole::Check, "check:A:extra", "192.168.1.22");
    transport->deliver(UdpSocketRole::Check, "check:B", "192.168.1.23");
    EXPECT_EQ(repliesTo("192.168.1.20"), 1);
    EXPECT_EQ(repliesTo("192.168.1.21"), 1);
    EXPECT_EQ(repliesTo("192.168.1.22"), 1);
    EXPECT_EQ(repliesTo("192.168.1.23"), 0);
}

TEST_F(NetworkTest, PairingOverTheLanAndTheCloud) {
    const auto network = make();
    network->startUdp();
    EXPECT_TRUE(network->isAcceptingNewConnection());
    network->acceptConnectFromDeviceId("A", "Phone A", QStringLiteral("192.168.1.20"));
    EXPECT_FALSE(network->isAcceptingNewConnection());
    auto sent = transport->sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].socket, UdpSocketRole::Confirm);
    EXPECT_EQ(sent[0].host, "192.168.1.20");
    EXPECT_EQ(sent[0].port, 51301);
    EXPECT_EQ(sent[0].data, "Confirm");

    // Another device is refused; the same device from the cloud keeps its address and gets no Confirm.
    network->acceptConnectFromDeviceId("B", "Phone B", QStringLiteral("192.168.1.30"));
    network->acceptConnectFromDeviceId("A", "Phone A2", std::nullopt);
    EXPECT_EQ(transport->sent().size(), 1u);
    auto table = network->connectingDeviceDic();
    ASSERT_EQ(table.size(), 1);
    EXPECT_EQ(table["A"].deviceName, "Phone A2");
    EXPECT_EQ(table["A"].ipAddress, QStringLiteral("192.168.1.20"));

    network->disconnectWithDevice("nobody"); // posts nothing
    network->disconnectWithDevice("A");
    EXPECT_TRUE(network->isAcceptingNewConnection());
    network->acceptConnectFromDeviceId("C", "Cloud phone", std::nullopt);
    table = network->connectingDeviceDic();
    EXPECT_FALSE(table["C"].ipAddress);
    network->disconnect();
    network->disconnect(); // posts "" even with nothing paired
    EXPECT_EQ(statusPosts(), (std::vector<QString>{"Phone A", "Phone A2", "", "Cloud phone", "", ""}));
}

TEST_F(NetworkTest, HeartbeatReplyLeavesFromTheDataSocket) {
    const auto network = make();
    network->sendLanHeartBeatToHost("192.168.1.20", "heartBeat|OK:42");
    const auto sent = transport->sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].socket, UdpSocketRole::Data);
    EXPECT_EQ(sent[0].port, 51302);
    EXPECT_EQ(sent[0].data, "heartBeat|OK:42");
}
