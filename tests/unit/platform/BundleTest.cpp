#include "platform/Bundle.h"

#include "TestBundle.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using platform::Bundle;

TEST(Bundle, ReadsItsInformationDictionaryAndFindsItsParts) {
    const TestBundle made({{"CFBundleIdentifier", "com.example.Test"},
                           {"CFBundleExecutable", "Runner"},
                           {"CommandPort", 5000}});
    made.addResource("getPdfPath.scpt", "#!/bin/sh\n", true);
    const Bundle bundle(made.path());
    EXPECT_FALSE(bundle.infoDictionaryError());
    EXPECT_EQ(bundle.bundleIdentifier(), QStringLiteral("com.example.Test"));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CommandPort").toLongLong(), 5000);
    EXPECT_EQ(bundle.executablePath(), made.path() + "/Contents/MacOS/Runner");
    EXPECT_EQ(bundle.pathForResource("getPdfPath", "scpt"), made.resourcesPath() + "/getPdfPath.scpt");
    EXPECT_FALSE(bundle.pathForResource("missing", "scpt"));
}

TEST(Bundle, LooksUpPlainResourceNamesOnly) {
    const TestBundle made({});
    made.addResource("tool", "x");
    QFile outside(made.path() + "/Contents/secret.scpt");
    ASSERT_TRUE(outside.open(QIODevice::WriteOnly));
    const Bundle bundle(made.path());
    EXPECT_TRUE(bundle.pathForResource("tool"));
    for (const QString& name : {QStringLiteral("../secret"), QStringLiteral(".."), QStringLiteral("."),
                                QStringLiteral("a/b"), QStringLiteral("/etc/passwd"), QString()})
        EXPECT_FALSE(bundle.pathForResource(name, "scpt")) << name.toStdString();
    EXPECT_FALSE(bundle.pathForResource("..", ""));
}

TEST(Bundle, MissingOrMalformedInfoPlistGivesAnEmptyDictionaryAndAReason) {
    const TestBundle made({});
    QFile::remove(made.infoPlistPath());
    const Bundle missing(made.path());
    EXPECT_TRUE(missing.infoDictionary().isEmpty());
    ASSERT_TRUE(missing.infoDictionaryError());
    EXPECT_TRUE(missing.infoDictionaryError()->contains("Info.plist"));
    EXPECT_FALSE(missing.bundleIdentifier());
    EXPECT_EQ(missing.executablePath(), made.path() + "/Contents/MacOS/Test");

    for (const QByteArray& content : {QByteArray("<plist><dict><key>A</key>"),
                                      TestBundle::plistXml({}).replace("<dict></dict>", "<array></array>")}) {
        QFile file(made.infoPlistPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        const Bundle bad(made.path());
        EXPECT_TRUE(bad.infoDictionary().isEmpty());
        EXPECT_TRUE(bad.infoDictionaryError());
    }
}

TEST(Bundle, AnExecutableNameThatIsNoPlainNameIsNotFollowed) {
    const TestBundle made({{"CFBundleExecutable", "../../evil"}}, "Flavour");
    EXPECT_EQ(Bundle(made.path()).executablePath(), made.path() + "/Contents/MacOS/Flavour");
}

TEST(Bundle, LocalizedStringFallsBackToTheKey) {
    const TestBundle made({});
    const Bundle bundle(made.path());
    EXPECT_EQ(bundle.localizedString("Error"), QStringLiteral("Error"));
    EXPECT_EQ(bundle.localizedString("Log files has been exported to %@"),
              QStringLiteral("Log files has been exported to %@"));
}

TEST(Bundle, BuiltBundlesHaveTheirShapeAndEveryKey) {
    const QString dir = PC_BUNDLES_DIR;
    const struct {
        const char* name;
        const char* identifier;
    } flavours[] = {{"SlideWand", nullptr},
                    {"PodiumCast", "com.brisvane.PodiumCastForMac"},
                    {"Steerlynx", "com.brisvane.SteerlynxForMac"}};
    for (const auto& f : flavours) {
        const Bundle bundle(dir + "/" + f.name + ".app");
        ASSERT_FALSE(bundle.infoDictionaryError()) << f.name;
        if (f.identifier)
            EXPECT_EQ(bundle.bundleIdentifier(), QString::fromLatin1(f.identifier));
        else
            EXPECT_NE(bundle.bundleIdentifier()->toStdString(), "com.brisvane.PodiumCastForMac");
        EXPECT_TRUE(QFileInfo(bundle.executablePath()).isExecutable()) << f.name;
        EXPECT_TRUE(QFileInfo(bundle.resourcesPath()).isDir()) << f.name;
        const auto& info = bundle.infoDictionary();
        QSet<qint64> ports;
        for (const char* key : {"ConnectPort", "DataPort", "CheckPort", "CommandPort", "LanInfoPort",
                                "LanTapdeckInfoPort", "HttpPort"}) {
            const qint64 port = info.value(key).toLongLong();
            EXPECT_GT(port, 1023) << key;
            EXPECT_LT(port, 65536) << key;
            ports.insert(port);
        }
        EXPECT_EQ(ports.size(), 7) << "ports must be distinct in " << f.name;
        for (const char* key :
             {"ApiRoot", "APIRootPath", "CFBundleDisplayName", "ModelVersion", "CFBundleVersion"})
            EXPECT_FALSE(info.value(key).toString().isEmpty()) << key;
        EXPECT_TRUE(info.value("ApiRoot").toString().startsWith("http://127.0.0.1"));
        EXPECT_GT(info.value("CFBundleVersion").toString().toInt(), 0);
        EXPECT_TRUE(info.contains("ConnectImageCount"));
    }
}
