// The settings: value conversions, the information dictionary, and the user-defaults store with its file,
// lists and panels.
#include "core/Coercion.h"
#include "core/LocalUtils.h"
#include "core/PListHelper.h"
#include "core/SilentModeApp.h"
#include "core/TapdeckPanel.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "LogRecorder.h"
#include "TestBundle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max(), kMin = std::numeric_limits<qint64>::min();

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
    }
    void TearDown() override { QFile::remove(UserDefaults::filePath()); }

    // What another launch or another writer left in the file; the store notices and reads it again.
    static void writeStore(const QByteArray& content) {
        QFile file(UserDefaults::filePath());
        QDir().mkpath(QFileInfo(file).path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    static QJsonObject stored() {
        QFile file(UserDefaults::filePath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.example.SettingsTest"},
                       {"CFBundleVersion", "123"},
                       {"APIRootPath", "http:\\\\host\\api"},
                       {"ConnectPort", 51301},
                       {"DataPort", "51302"},
                       {"CheckPort", " -12abc"},
                       {"LanInfoPort", 3.9},
                       {"HttpPort", "18446744073709551616"}}};
};

} // namespace

TEST(Coercion, OtherKindsReadAsIntegersNumbersAndFlags) {
    const std::tuple<QVariant, qint64, double, bool> cases[] = {
        {51301, 51301, 51301, true},
        {" \t+42 apples", 42, 42, true},
        {"0.75s", 0, 0.75, false},
        {"-12", -12, -12, true},
        {"none", 0, 0, false},
        {"true", 0, 0, true},
        {"yes", 0, 0, true},
        {"   ", 0, 0, false},
        {3.9, 3, 3.9, true},
        {true, 1, 1, true},
        {QVariantList{1}, 0, 0, false},
        // Past the 64-bit range: the nearest limit, whether the digits overflow 64 bits or only 63.
        {"18446744073709551616", kMax, 18446744073709551616.0, true},
        {"50000000000000000000", kMax, 5e19, true},
        {"-9223372036854775809", kMin, -9223372036854775809.0, true},
        {1e300, kMax, 1e300, true},
        {-1e300, kMin, -1e300, true},
        {quint64(18446744073709551615ULL), kMax, 18446744073709551615.0, true},
    };
    for (const auto& [value, integer, number, flag] : cases) {
        EXPECT_EQ(Coercion::integerValue(value), integer) << value.toString().toStdString();
        EXPECT_EQ(Coercion::doubleValue(value), number) << value.toString().toStdString();
        EXPECT_EQ(Coercion::boolValue(value), flag) << value.toString().toStdString();
    }
}

TEST_F(Settings, InformationDictionaryReaders) {
    EXPECT_EQ(PListHelper::APIRootPath(), "http://host/api");
    EXPECT_EQ(PListHelper::GetValueForKey("APIRootPath"), "http:\\\\host\\api");
    EXPECT_FALSE(PListHelper::GetValueForKey("Missing").isValid());
    EXPECT_EQ((std::vector<qint64>{PListHelper::ConnectPort(), PListHelper::DataPort(),
                                   PListHelper::CheckPort(), PListHelper::CommandPort(),
                                   PListHelper::LanInfoPort(), PListHelper::HttpPort()}),
              (std::vector<qint64>{51301, 51302, -12, 0, 3, kMax}));
}

// What the setters write is what another launch reads from the file: kinds kept, keys taken literally.
TEST_F(Settings, TheStoreFileKeepsKindsAndLiteralKeysAndIsReadBack) {
    EXPECT_FALSE(UserDefaultHelper::MachineIndex());
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 0);
    UserDefaultHelper::SaveMachineIndex(QStringLiteral("ABC"));
    UserDefaultHelper::SaveSelectedVersion(-2);
    UserDefaultHelper::SaveIsNotFirstLaunch(true);
    UserDefaultHelper::SaveDelayTime(0.25);
    UserDefaultHelper::SaveBannedKeys(QStringList{"ONLY"});
    UserDefaultHelper::SaveDebugInfo(QString(""));
    UserDefaultHelper::SaveLastLaunchedVersion();
    UserDefaultHelper::SaveCurrentLanguage(QStringLiteral("gone"));
    UserDefaultHelper::SaveCurrentLanguage(QVariant());
    // "/" and "%" are ordinary characters of a key: no groups, no folding of "//", no decoding.
    const QString keys[] = {"k", "k/", "/k", "k//x", "k%2Fx", "%25", "%", "/"};
    for (int i = 0; i < 8; ++i)
        UserDefaults::write(keys[i], i);
    UserDefaults::remove("k");
    QJsonObject expected{{"MachineIndex", "ABC"},
                         {"SelectedVersion", -2},
                         {"isNotFirstLaunch", true},
                         {"DelayTime", 0.25},
                         {"DebugInfo", ""},
                         {"LastLaunchedVersion", 123},
                         {"BannedKeys", QJsonArray{"ONLY"}}};
    for (int i = 1; i < 8; ++i)
        expected.insert(keys[i], i);
    EXPECT_EQ(stored(), expected);

    QFile::remove(UserDefaults::filePath());
    EXPECT_FALSE(UserDefaultHelper::MachineIndex()) << "the store did not notice its file change";
    writeStore(QJsonDocument(expected).toJson());
    EXPECT_EQ(UserDefaultHelper::MachineIndex(), "ABC");
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), -2);
    EXPECT_TRUE(UserDefaultHelper::IsNotFisrtLaunch());
    EXPECT_EQ(UserDefaultHelper::DelayTime(), 0.25);
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList{"ONLY"});
    EXPECT_EQ(UserDefaultHelper::DebugInfo(), "");
    EXPECT_EQ(UserDefaultHelper::LastLaunchedVersion(), 123);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(UserDefaults::read(keys[i]), i ? std::optional(QVariant(qint64(i))) : std::nullopt) << i;
    UserDefaultHelper::SaveBannedKeys(std::nullopt);
    EXPECT_FALSE(stored().contains("BannedKeys"));
}

TEST_F(Settings, GettersConvertWhatAnotherWriterLeftAndUnreadableFilesReadAsDefaults) {
    writeStore(
        R"({"SelectedVersion": "3 apples", "IsStoppedShowingWelcome": "true", "IsStoppedShowingHint": " ",
                   "SteerlynxSoloHotKey": 18446744073709551616, "LastLaunchedVersion": "-50000000000000000000",
                   "DelayTime": "0.5s", "MachineIndex": 42, "BannedKeys": ["A", 1], "SlientModeApps": "a"})");
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 3);
    EXPECT_TRUE(UserDefaultHelper::IsStoppedShowingWelcome());
    EXPECT_FALSE(UserDefaultHelper::IsStoppedShowingHint());
    EXPECT_EQ(UserDefaultHelper::SteerlynxSoloHotKey(), kMax);
    EXPECT_EQ(UserDefaultHelper::LastLaunchedVersion(), kMin);
    EXPECT_EQ(UserDefaultHelper::DelayTime(), 0.5);
    EXPECT_FALSE(UserDefaultHelper::MachineIndex());
    EXPECT_FALSE(UserDefaultHelper::BannedKeys());
    EXPECT_FALSE(UserDefaultHelper::SilentModeAppJsonStrings());
    for (const char* garbage : {"{\"SelectedVersion\": 4,", "[4]"}) {
        writeStore(garbage);
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 0) << garbage;
    }
    // The file is named after the bundle identifier only when that is a plain file name.
    const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::filePath(), folder + "/com.example.SettingsTest.json");
    for (const QVariantMap& info : {QVariantMap{{"CFBundleIdentifier", "../../escape"}}, QVariantMap{}}) {
        TestBundle other(info);
        other.makeMain();
        EXPECT_EQ(UserDefaults::filePath(), folder + "/PodiumCastCompanion.json");
    }
}

TEST_F(Settings, BannedKeysAreUpperCasedUniqueAndRemovable) {
    for (const char* key : {"esc", "ESC", "f5"})
        UserDefaultHelper::AddBannedKey(key);
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList({"ESC", "F5"}));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("f5"));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("esc"));
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList()); // an empty list, not removed
    EXPECT_FALSE(UserDefaultHelper::RemoveBannedKey("esc"));
    UserDefaultHelper::SaveBannedKeys(QStringList({"A", "b", "A"}));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("a"));  // every equal entry goes
    EXPECT_FALSE(UserDefaultHelper::RemoveBannedKey("b")); // "B" is not "b"
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList{"b"});
}

TEST_F(Settings, SilentModeAppsAreKeptOncePerBundleIdAsJsonTexts) {
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId("com.example.a"));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithJson("{}"));
    EXPECT_FALSE(stored().contains("SlientModeApps")); // failed removals store nothing
    const QString a = R"({"bundleId":"com.example.a","name":"A"})",
                  b = R"({"bundleId":"com.example.b","name":"B"})";
    const QString aOther = R"({"name":"A","bundleId":"com.example.a"})",
                  bad = R"({"bundleId":"com.example.b"})";
    UserDefaultHelper::SaveSlientModeApps(QStringList{"garbage", bad, b, a, aOther, a});
    UserDefaultHelper::AddSlientModeAppBundleId("com.example.b", "Renamed");
    UserDefaultHelper::AddSlientModeAppBundleId("com.example.B", "Upper");
    const QString upper = R"({"bundleId":"com.example.B","name":"Upper"})";
    EXPECT_EQ(stored().value("SlientModeApps").toArray().last(), upper);
    // Every copy of the first match's text goes; the same application written otherwise stays.
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithBundleId("com.example.a"));
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), (QStringList{"garbage", bad, b, aOther, upper}));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId("garbage"));
    EXPECT_FALSE(
        UserDefaultHelper::RemoveSlientModeAppWithJson(R"({"name":"B","bundleId":"com.example.b"})"));
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithJson("garbage"));
    UserDefaultHelper::SaveSlientModeApps(QStringList{b});
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithJson(b));
    EXPECT_TRUE(stored().value("SlientModeApps").isArray()); // emptied, still a list
}

TEST_F(Settings, PanelsAreStoredByNameAndBadOnesAreLoggedAndKept) {
    TapdeckPanel panel;
    panel.panelName = QStringLiteral("a/b%2F%");
    panel.tapdeckCommands = {TapdeckCommand("Next", "sendKey", "RIGHT", std::nullopt, true)};
    UserDefaultHelper::SaveQuickPanel(panel);
    EXPECT_EQ(TapdeckPanel::initWithString(stored().value("TapdeckPanel:a/b%2F%").toString()), panel);
    EXPECT_EQ(UserDefaultHelper::GetQuickPanelByName("a/b%2F%"), panel);
    LogRecorder log;
    const std::pair<QString, QVariant> broken[] = {
        {"a/b/%", QVariant()}, {"Cut", R"({"panelName":"Cut","tapdeckCommands":[)"}, {"Number", 12}};
    for (const auto& [name, value] : broken) {
        UserDefaults::write("TapdeckPanel:" + name, value);
        EXPECT_FALSE(UserDefaultHelper::GetQuickPanelByName(name));
        EXPECT_EQ(UserDefaults::read("TapdeckPanel:" + name).has_value(), value.isValid());
        const auto errors = log.at(spdlog::level::err);
        ASSERT_FALSE(errors.empty()) << "nothing logged";
        EXPECT_EQ(errors.back().rfind("Failed to get Panel by name " + name.toStdString() + ": ", 0), 0u);
    }
}

TEST_F(Settings, MachineIdIsMadeOnceAndKept) {
    const QString id = LocalUtils::GetMachineIndex();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{32}$").match(id).hasMatch()) << id.toStdString();
    EXPECT_EQ(LocalUtils::GetMachineIndex(), id);
    EXPECT_EQ(stored().value("MachineIndex").toString(), id);
    UserDefaultHelper::SaveMachineIndex(QString(""));
    EXPECT_NE(LocalUtils::GetMachineIndex(), "");
}
