#include "core/LocalUtils.h"
#include "core/GetIPAddress.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "Fakes.h"
#include "TestBundle.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using Family = platform::InterfaceAddress::Family;

namespace {

class LocalUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
        platform::Platform::setHostFacts(facts);
    }
    void TearDown() override {
        platform::Platform::setHostFacts(nullptr);
        QFile::remove(UserDefaults::filePath());
    }
    TestBundle bundle{{{"CFBundleIdentifier", "com.example.LocalUtilsTest"}}};
    std::shared_ptr<FakeHostFacts> facts = std::make_shared<FakeHostFacts>();
};

platform::InterfaceAddress entry(const char* name, Family family, const char* address, bool up = true) {
    return {name, up, family, address ? std::optional<QString>(address) : std::nullopt};
}

} // namespace

TEST_F(LocalUtilsTest, MachineIdIsMadeOnceAndKept) {
    const QString id = LocalUtils::GetMachineIndex();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{32}$").match(id).hasMatch()) << id.toStdString();
    EXPECT_EQ(UserDefaultHelper::MachineIndex(), id);
    EXPECT_EQ(LocalUtils::GetMachineIndex(), id);

    UserDefaultHelper::SaveMachineIndex(QStringLiteral("not-an-id"));
    EXPECT_EQ(LocalUtils::GetMachineIndex(), QStringLiteral("not-an-id"));
    UserDefaultHelper::SaveMachineIndex(QString(""));
    EXPECT_NE(LocalUtils::GetMachineIndex(), QString(""));
}

TEST_F(LocalUtilsTest, InterfaceTableKeepsUpInterfacesAndTheLastAddressPerFamily) {
    facts->interfaces = std::vector{
        entry("lo", Family::IPv4, "127.0.0.1"),     entry("eth0", Family::IPv4, "192.168.1.5"),
        entry("eth0", Family::IPv4, "192.168.1.6"), entry("eth0", Family::IPv6, "fe80::1"),
        entry("eth0", Family::Other, nullptr),      entry("eth1", Family::IPv4, "10.0.0.9", false),
        entry("eth2", Family::IPv4, nullptr),
    };
    const auto table = GetIPAddress::getIPAddresses();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->size(), 3);
    EXPECT_EQ(table->value("lo/ipv4"), "127.0.0.1");
    EXPECT_EQ(table->value("eth0/ipv4"), "192.168.1.6");
    EXPECT_EQ(table->value("eth0/ipv6"), "fe80::1");
    EXPECT_EQ(LocalUtils::GetLanIpList(), QStringList({"192.168.1.6", "127.0.0.1"}));
}

TEST_F(LocalUtilsTest, NoAddressesMeansNoTableAndEmptyLists) {
    facts->interfaces = std::nullopt; // the system could not be asked
    EXPECT_FALSE(GetIPAddress::getIPAddresses());
    EXPECT_TRUE(LocalUtils::GetLanIpList().isEmpty());
    EXPECT_EQ(GetIPAddress::getIPAddress(true), "0.0.0.0");
    facts->interfaces = std::vector{entry("eth0", Family::IPv4, "10.0.0.1", false)};
    EXPECT_FALSE(GetIPAddress::getIPAddresses());
    facts->interfaces = std::vector{entry("lo", Family::IPv4, "127.0.0.1")};
    EXPECT_EQ(LocalUtils::GetLanIpList(), QStringList{"127.0.0.1"});
    EXPECT_EQ(GetIPAddress::getIPAddress(false), "0.0.0.0");
}

TEST_F(LocalUtilsTest, PreferredAddressFollowsTheSearchOrder) {
    facts->interfaces =
        std::vector{entry("en0", Family::IPv6, "fe80::2"), entry("en0", Family::IPv4, "10.0.0.2"),
                    entry("pdp_ip0", Family::IPv4, "10.9.9.9")};
    EXPECT_EQ(GetIPAddress::getIPAddress(true), "10.0.0.2");
    EXPECT_EQ(GetIPAddress::getIPAddress(false), "fe80::2");
    facts->interfaces->push_back(entry("utun0", Family::IPv6, "fd00::1"));
    EXPECT_EQ(GetIPAddress::getIPAddress(true), "fd00::1");
}

TEST_F(LocalUtilsTest, RealInterfaceListHasLoopback) {
    platform::Platform::setHostFacts(nullptr);
    EXPECT_TRUE(LocalUtils::GetLanIpList().contains("127.0.0.1"));
}

TEST(LocalUtils, PrivateAddressTest) {
    for (const char* lan : {"10.1.2.3", "192.168.0.1", "172.16.0.1", "172.31.255.255"})
        EXPECT_TRUE(LocalUtils::IsLanAddress(QString(lan))) << lan;
    for (const char* other :
         {"172.32.0.1", "172.15.0.1", "10.1.2", "1.2.3.4", "192.169.0.1", "172.x.0.1", "10.1.2.3.4", ""})
        EXPECT_FALSE(LocalUtils::IsLanAddress(QString(other))) << other;
    EXPECT_FALSE(LocalUtils::IsLanAddress(std::nullopt));
}

TEST_F(LocalUtilsTest, InstalledSoftwareStringKeepsEscapesAndEscapesForJson) {
    facts->applications = QStringList{"file:///usr/share/applications/My%20App.desktop",
                                      "file:///usr/share/applications/Folder.app/",
                                      "file:///usr/share/applications/back\\slash.desktop",
                                      "file:///usr/share/applications/say\"hi\".desktop"};
    EXPECT_EQ(LocalUtils::InstalledSoftwareString(),
              QStringLiteral("My%20App.desktop,Folder.app,back\\\\slash.desktop,sayhi.desktop"));
    facts->applications = QStringList{};
    EXPECT_EQ(LocalUtils::InstalledSoftwareString(), QString(""));
    facts->applications = std::nullopt;
    EXPECT_EQ(LocalUtils::InstalledSoftwareString(), QString(""));
}

TEST(LinuxHostFacts, ListsAFolderAsFileUrls) {
    QTemporaryDir dir;
    for (const char* name : {"b app.desktop", ".hidden", "a.desktop"}) {
        QFile file(dir.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("Sub.app"));
    platform::LinuxHostFacts facts(dir.path());
    const auto urls = facts.applicationsFolderEntries();
    ASSERT_TRUE(urls);
    const QString base = QUrl::fromLocalFile(dir.path()).toString(QUrl::FullyEncoded);
    EXPECT_EQ(*urls, QStringList({base + "/Sub.app/", base + "/a.desktop", base + "/b%20app.desktop"}));
    EXPECT_FALSE(platform::LinuxHostFacts(dir.path() + "/missing").applicationsFolderEntries());
    EXPECT_FALSE(facts.hostName().isEmpty());
    EXPECT_FALSE(facts.operatingSystemVersionString().isEmpty());
}
