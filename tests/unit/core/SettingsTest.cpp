#include "core/PListHelper.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "TestBundle.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
    }
    void TearDown() override { QFile::remove(UserDefaults::filePath()); }

    TestBundle bundle{{{"CFBundleIdentifier", "com.example.SettingsTest"},
                       {"CFBundleVersion", "123"},
                       {"ApiRoot", "http:\\\\host\\api"},
                       {"APIRootPath", "http:\\\\host\\api"},
                       {"CFBundleDisplayName", "Display"},
                       {"ModelVersion", 7},
                       {"ConnectPort", 51301},
                       {"DataPort", "51302"},
                       {"CheckPort", " -12abc"},
                       {"CommandPort", "none"},
                       {"LanInfoPort", 3.9},
                       {"HttpPort", true}}};
};

} // namespace

TEST_F(Settings, InformationDictionaryReaders) {
    EXPECT_EQ(PListHelper::GetValueForKey("ApiRoot").toString(), QStringLiteral("http:\\\\host\\api"));
    EXPECT_EQ(PListHelper::APIRootPath(), QStringLiteral("http://host/api"));
    EXPECT_EQ(PListHelper::BundleDisplayName().toString(), QStringLiteral("Display"));
    EXPECT_EQ(PListHelper::ModelVersion().toLongLong(), 7);
    EXPECT_EQ(PListHelper::ConnectPort(), 51301);
    EXPECT_EQ(PListHelper::DataPort(), 51302); // a text of digits
    EXPECT_EQ(PListHelper::CheckPort(), -12);  // leading digits with sign
    EXPECT_EQ(PListHelper::CommandPort(), 0);  // a text without digits
    EXPECT_EQ(PListHelper::LanInfoPort(), 3);  // a number's integer part
    EXPECT_EQ(PListHelper::HttpPort(), 1);
    EXPECT_EQ(PListHelper::LanTapdeckInfoPort(), 0); // absent
    EXPECT_EQ(PListHelper::ConnectImageCount(), 0);
    EXPECT_FALSE(PListHelper::GetValueForKey("Missing").isValid());
}

TEST_F(Settings, UnreadableInformationDictionaryReadsAsDefaults) {
    QFile file(bundle.infoPlistPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<plist><dict><key>ConnectPort</key><integer>1");
    file.close();
    bundle.makeMain();
    EXPECT_EQ(PListHelper::ConnectPort(), 0);
    EXPECT_FALSE(PListHelper::APIRootPath());
}

TEST_F(Settings, NeverWrittenKeysReadAsTheirDefaults) {
    EXPECT_FALSE(UserDefaultHelper::MachineIndex());
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 0);
    EXPECT_FALSE(UserDefaultHelper::IsStoppedShowingHint());
    EXPECT_FALSE(UserDefaultHelper::IsStoppedShowingWelcome());
    EXPECT_FALSE(UserDefaultHelper::DebugInfo());
    EXPECT_EQ(UserDefaultHelper::LastLaunchedVersion(), 0);
    EXPECT_EQ(UserDefaultHelper::SteerlynxSoloHotKey(), 0);
    EXPECT_EQ(UserDefaultHelper::DelayTime(), 0.0);
    EXPECT_FALSE(UserDefaultHelper::IsNotFisrtLaunch());
    EXPECT_FALSE(UserDefaultHelper::IsAllowStayAfterHotkeyUp());
    EXPECT_FALSE(UserDefaultHelper::BannedKeys());
    EXPECT_FALSE(UserDefaultHelper::CurrentLanguage());
}

TEST_F(Settings, ValuesKeepTheirKindInTheStoreFile) {
    UserDefaultHelper::SaveMachineIndex(QStringLiteral("ABC"));
    UserDefaultHelper::SaveSelectedVersion(2);
    UserDefaultHelper::SaveIsStoppedShowingHint(true);
    UserDefaultHelper::SaveIsStoppedShowingWelcome(true);
    UserDefaultHelper::SaveDebugInfo(QString(""));
    UserDefaultHelper::SaveSteerlynxSoloHotKey(-5);
    UserDefaultHelper::SaveDelayTime(0.25);
    UserDefaultHelper::SaveIsNotFirstLaunch(true);
    UserDefaultHelper::SaveIsAllowStayAfterHotkeyUp(true);
    UserDefaultHelper::SaveBannedKeys(QStringList{"ONLY"});
    UserDefaultHelper::SaveCurrentLanguage(QStringLiteral("zh-Hans"));
    UserDefaultHelper::SaveLastLaunchedVersion();

    auto check = [] {
        EXPECT_EQ(UserDefaultHelper::MachineIndex(), QStringLiteral("ABC"));
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 2);
        EXPECT_TRUE(UserDefaultHelper::IsStoppedShowingHint());
        EXPECT_TRUE(UserDefaultHelper::IsStoppedShowingWelcome());
        EXPECT_EQ(UserDefaultHelper::DebugInfo(), QString("")); // empty, not absent
        EXPECT_EQ(UserDefaultHelper::SteerlynxSoloHotKey(), -5);
        EXPECT_EQ(UserDefaultHelper::DelayTime(), 0.25);
        EXPECT_TRUE(UserDefaultHelper::IsNotFisrtLaunch());
        EXPECT_TRUE(UserDefaultHelper::IsAllowStayAfterHotkeyUp());
        EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList{"ONLY"}); // a one-entry list stays a list
        EXPECT_EQ(UserDefaultHelper::CurrentLanguage(), QStringLiteral("zh-Hans"));
        EXPECT_EQ(UserDefaultHelper::LastLaunchedVersion(), 123);
    };
    check();

    // What a later launch reads: the file alone, without this process's cache.
    QFile file(UserDefaults::filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    EXPECT_TRUE(saved.contains("\"isNotFirstLaunch\": true"));
    EXPECT_TRUE(saved.contains("\"LastLaunchedVersion\": 123"));
    EXPECT_TRUE(saved.contains("\"BannedKeys\": [\n        \"ONLY\"\n    ]"));

    // Absent values remove their key.
    UserDefaultHelper::SaveMachineIndex(std::nullopt);
    UserDefaultHelper::SaveBannedKeys(std::nullopt);
    EXPECT_FALSE(UserDefaultHelper::MachineIndex());
    EXPECT_FALSE(UserDefaultHelper::BannedKeys());
}

TEST_F(Settings, TextGettersGiveNoValueForOtherKinds) {
    UserDefaults::write("MachineIndex", 42);
    UserDefaults::write("BannedKeys", QStringLiteral("not a list"));
    EXPECT_FALSE(UserDefaultHelper::MachineIndex());
    EXPECT_FALSE(UserDefaultHelper::BannedKeys());
    UserDefaults::write("SelectedVersion", QStringLiteral("3 apples"));
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 3);
}

TEST_F(Settings, BannedKeysAreUpperCasedUniqueAndRemovable) {
    UserDefaultHelper::AddBannedKey("esc");
    UserDefaultHelper::AddBannedKey("ESC");
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList{"ESC"});
    UserDefaultHelper::AddBannedKey("f5");
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList({"ESC", "F5"}));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("f5"));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("esc"));
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList()); // stored as an empty list, not removed
    EXPECT_FALSE(UserDefaultHelper::RemoveBannedKey("esc"));

    UserDefaultHelper::SaveBannedKeys(QStringList({"A", "b", "A"}));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("a")); // every equal entry goes
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList{"b"});
    EXPECT_FALSE(UserDefaultHelper::RemoveBannedKey("b")); // "B" is not "b"
}

TEST_F(Settings, UnreadableStoreReadsAsDefaults) {
    UserDefaultHelper::SaveSelectedVersion(4);
    UserDefaultHelper::SaveMachineIndex(QStringLiteral("ID"));
    for (const QByteArray& garbage : {QByteArray("{\"SelectedVersion\": 4,"), QByteArray("[1,2]"),
                                      QByteArray("\xff\xfe\x00garbage", 10)}) {
        {
            QFile file(UserDefaults::filePath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(garbage);
        }
        // The store notices the file changed on disk and reads it again.
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 0);
        EXPECT_FALSE(UserDefaultHelper::MachineIndex());
        EXPECT_FALSE(UserDefaultHelper::IsStoppedShowingWelcome());
        QFile::remove(UserDefaults::filePath());
    }
}

TEST_F(Settings, KeysAreTakenLiterally) {
    // "/" is an ordinary character of a key: no folding of "//", no dropped trailing "/", no groups.
    const QString keys[] = {"k", "k/", "/k", "k/x", "k//x", "k%2Fx", "k%25", "%", "/"};
    int value = 0;
    for (const QString& key : keys)
        UserDefaults::write(key, value++);
    value = 0;
    for (const QString& key : keys) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_EQ(UserDefaults::read(key), QVariant(qint64(value++)));
    }
    // Removing one key leaves the keys that would be its sub-keys.
    UserDefaults::remove("k");
    EXPECT_FALSE(UserDefaults::read("k"));
    EXPECT_TRUE(UserDefaults::read("k/x"));

    QFile file(UserDefaults::filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    EXPECT_TRUE(saved.contains("\"k//x\": 4"));
    EXPECT_TRUE(saved.contains("\"k%2Fx\": 5"));
    EXPECT_TRUE(saved.contains("\"/\": 8"));
}
