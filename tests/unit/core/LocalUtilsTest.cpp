// Text helpers, this machine's addresses and installed applications.
#include "core/LocalUtils.h"
#include "core/GetIPAddress.h"
#include "core/StringHelper.h"

#include "Fakes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using Family = platform::InterfaceAddress::Family;

TEST(StringHelper, NullOrEmptyAndEscapingForJsonText) {
    EXPECT_TRUE(StringHelper::isNullOrEmpty(std::optional<QString>()));
    EXPECT_TRUE(StringHelper::isNullOrEmpty(std::optional<QString>(QString(""))));
    EXPECT_FALSE(StringHelper::isNullOrEmpty(std::optional<QString>(QString(" "))));
    for (const QVariant& empty :
         {QVariant(), QVariant::fromValue(nullptr), QVariant(QString()), QVariant(QVariantList()),
          QVariant(QVariantMap()), QVariant(QByteArray(""))})
        EXPECT_TRUE(StringHelper::isNullOrEmpty(empty)) << empty.typeName();
    EXPECT_FALSE(StringHelper::isNullOrEmpty(QVariant(0)));
    EXPECT_FALSE(StringHelper::isNullOrEmpty(QVariant(QStringList{""})));

    // Escaped for a JSON string: tab and vertical tab as line feeds, bell and NUL dropped, the other
    // control characters as \u00xx, the rest kept.
    const QString note = QString("Line \"one\"\\\r\nTab\there\vend\f") + QChar(7) + QChar(0) + QChar(0x1b) +
                         QChar(0x1f) + QChar(0x7f) + "中文";
    const QString escaped = *StringHelper::removeEscapeCharacterOfString(note);
    EXPECT_EQ(escaped,
              QString("Line \\\"one\\\"\\\\\\r\\nTab\\nhere\\nend\\f\\u001b\\u001f") + QChar(0x7f) + "中文");
    EXPECT_FALSE(StringHelper::removeEscapeCharacterOfString(std::nullopt));
}

TEST(LocalUtils, AddressesOfTheInterfacesThatAreUp) {
    auto facts = std::make_shared<FakeHostFacts>();
    platform::Platform::setHostFacts(facts);
    const auto entry = [](const char* name, Family family, const char* address, bool up = true) {
        return platform::InterfaceAddress{name, up, family,
                                          address ? std::optional<QString>(address) : std::nullopt};
    };
    facts->interfaces = std::vector{
        entry("lo", Family::IPv4, "127.0.0.1"),     entry("eth0", Family::IPv4, "192.168.1.5"),
        entry("eth0", Family::IPv4, "192.168.1.6"), entry("eth0", Family::IPv6, "fe80::1"),
        entry("eth0", Family::Other, nullptr),      entry("eth1", Family::IPv4, "10.0.0.9", false),
        entry("eth2", Family::IPv4, nullptr)};
    EXPECT_EQ(GetIPAddress::getIPAddresses(),
              (QMap<QString, QString>{
                  {"lo/ipv4", "127.0.0.1"}, {"eth0/ipv4", "192.168.1.6"}, {"eth0/ipv6", "fe80::1"}}));
    EXPECT_EQ(LocalUtils::GetLanIpList(), QStringList({"192.168.1.6", "127.0.0.1"}));
    EXPECT_EQ(GetIPAddress::getIPAddress(true), "0.0.0.0"); // none of the preferred interfaces

    // The preferred interfaces in order, the asked family first.
    facts->interfaces =
        std::vector{entry("en0", Family::IPv6, "fe80::2"), entry("en0", Family::IPv4, "10.0.0.2"),
                    entry("pdp_ip0", Family::IPv4, "10.9.9.9")};
    EXPECT_EQ(GetIPAddress::getIPAddress(true), "10.0.0.2");
    EXPECT_EQ(GetIPAddress::getIPAddress(false), "fe80::2");
    facts->interfaces->push_back(entry("utun0", Family::IPv6, "fd00::1"));
    EXPECT_EQ(GetIPAddress::getIPAddress(true), "fd00::1");

    facts->interfaces = std::vector{entry("eth0", Family::IPv4, "10.0.0.1", false)};
    EXPECT_FALSE(GetIPAddress::getIPAddresses());
    facts->interfaces = std::nullopt; // the system could not be asked
    EXPECT_TRUE(LocalUtils::GetLanIpList().isEmpty());
    EXPECT_EQ(GetIPAddress::getIPAddress(false), "0.0.0.0");

    facts->applications =
        QStringList{"file:///usr/share/applications/My%20App.desktop", "file:///apps/Folder.app/",
                    "file:///apps/back\\slash.desktop", "file:///apps/say\"hi\".desktop"};
    EXPECT_EQ(LocalUtils::InstalledSoftwareString(),
              QStringLiteral("My%20App.desktop,Folder.app,back\\\\slash.desktop,sayhi.desktop"));
    facts->applications = std::nullopt;
    EXPECT_EQ(LocalUtils::InstalledSoftwareString(), QString(""));
    platform::Platform::setHostFacts(nullptr);
    EXPECT_TRUE(LocalUtils::GetLanIpList().contains("127.0.0.1")); // the real interfaces
}

TEST(LocalUtils, PrivateAddresses) {
    for (const char* lan : {"10.1.2.3", "192.168.0.1", "172.16.0.1", "172.31.255.255"})
        EXPECT_TRUE(LocalUtils::IsLanAddress(QString(lan))) << lan;
    for (const char* other :
         {"172.32.0.1", "172.15.0.1", "10.1.2", "1.2.3.4", "192.169.0.1", "10.1.2.3.4", ""})
        EXPECT_FALSE(LocalUtils::IsLanAddress(QString(other))) << other;
    EXPECT_FALSE(LocalUtils::IsLanAddress(std::nullopt));
}

TEST(LinuxHostFacts, ListsAFolderAsFileUrls) {
    QTemporaryDir dir;
    for (const char* name : {"b app.desktop", ".hidden", "a.desktop"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QDir(dir.path()).mkdir("Sub.app"));
    const QString base = QUrl::fromLocalFile(dir.path()).toString(QUrl::FullyEncoded);
    EXPECT_EQ(platform::LinuxHostFacts(dir.path()).applicationsFolderEntries(),
              QStringList({base + "/Sub.app/", base + "/a.desktop", base + "/b%20app.desktop"}));
    EXPECT_FALSE(platform::LinuxHostFacts(dir.path() + "/missing").applicationsFolderEntries());
    EXPECT_FALSE(platform::LinuxHostFacts(dir.path()).hostName().isEmpty());
}
