// The settings: value conversions, the information dictionary, the user-defaults store and its file, and
// the lists and records kept in it.
#include "core/Coercion.h"
#include "core/LocalUtils.h"
#include "core/PListHelper.h"
#include "core/SilentModeApp.h"
#include "core/TapdeckPanel.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "LogRecorder.h"
#include "TestBundle.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
    }
    void TearDown() override { QFile::remove(UserDefaults::filePath()); }

    // The store's file as another launch finds it; the store notices the change and reads it again.
    static void writeStore(const QByteArray& content) {
        QFile file(UserDefaults::filePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    static QJsonObject storedObject() {
        QFile file(UserDefaults::filePath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    static QString appJson(const char* bundleId, const char* name) {
        SilentModeApp app;
        app.bundleId = QString::fromUtf8(bundleId);
        app.name = QString::fromUtf8(name);
        return app.toJSONString();
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.example.SettingsTest"},
                       {"CFBundleVersion", "123"},
                       {"ApiRoot", "http:\\\\host\\api"},
                       {"APIRootPath", "http:\\\\host\\api"},
                       {"ConnectPort", 51301},
                       {"DataPort", "51302"},
                       {"CheckPort", " -12abc"},
                       {"CommandPort", "none"},
                       {"LanInfoPort", 3.9},
                       {"HttpPort", "18446744073709551616"}}};
};

} // namespace

TEST(Coercion, OtherKindsReadAsIntegersNumbersAndFlags) {
    const struct {
        QVariant value;
        qint64 integer;
        double number;
        bool flag;
    } cases[] = {
        {51301, 51301, 51301, true},
        {QStringLiteral(" \t+42 apples"), 42, 42, true},
        {QStringLiteral("-12abc"), -12, -12, true},
        {QStringLiteral("0.75"), 0, 0.75, false},
        {QStringLiteral("none"), 0, 0, false},
        {QStringLiteral("true"), 0, 0, true},
        {QStringLiteral("yes"), 0, 0, true},
        {QStringLiteral("false"), 0, 0, false},
        {QStringLiteral("   "), 0, 0, false},
        {QString(), 0, 0, false},
        {3.9, 3, 3.9, true},
        {true, 1, 1, true},
        {QVariantList{1}, 0, 0, false},
        // Past the 64-bit range: the nearest limit, whether the digits overflow 64 bits or only 63.
        {QStringLiteral("18446744073709551616"), kMax, 18446744073709551616.0, true},
        {QStringLiteral("50000000000000000000"), kMax, 5e19, true},
        {QStringLiteral("-9223372036854775809"), kMin, -9223372036854775809.0, true},
        {QStringLiteral("-9223372036854775808"), kMin, -9223372036854775808.0, true},
        {1e300, kMax, 1e300, true},
        {-1e300, kMin, -1e300, true},
        {QVariant(quint64(18446744073709551615ULL)), kMax, 18446744073709551615.0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.toString().toStdString());
        EXPECT_EQ(Coercion::integerValue(c.value), c.integer);
        EXPECT_EQ(Coercion::doubleValue(c.value), c.number);
        EXPECT_EQ(Coercion::boolValue(c.value), c.flag);
    }
}

TEST_F(Settings, InformationDictionaryReaders) {
    EXPECT_EQ(PListHelper::GetValueForKey("ApiRoot"), QVariant("http:\\\\host\\api"));
    EXPECT_EQ(PListHelper::APIRootPath(), QStringLiteral("http://host/api"));
    EXPECT_FALSE(PListHelper::GetValueForKey("Missing").isValid());
    const std::pair<qint64 (*)(), qint64> ports[] = {
        {&PListHelper::ConnectPort, 51301}, {&PListHelper::DataPort, 51302}, {&PListHelper::CheckPort, -12},
        {&PListHelper::CommandPort, 0},     {&PListHelper::LanInfoPort, 3},  {&PListHelper::HttpPort, kMax},
        {&PListHelper::LanTapdeckInfoPort, 0}};
    for (const auto& [reader, value] : ports)
        EXPECT_EQ(reader(), value);
}

// What the setters write is what a later launch reads from the file: kinds kept, keys taken literally.
TEST_F(Settings, TheStoreFileKeepsKindsAndLiteralKeysAndIsReadBack) {
    EXPECT_FALSE(UserDefaultHelper::MachineIndex());
    EXPECT_FALSE(UserDefaultHelper::BannedKeys());
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 0);
    EXPECT_EQ(UserDefaultHelper::DelayTime(), 0.0);
    EXPECT_FALSE(UserDefaultHelper::IsNotFisrtLaunch());

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
    for (int i = 0; i < int(std::size(keys)); ++i)
        UserDefaults::write(keys[i], i);
    UserDefaults::remove("k");

    QJsonObject expected{{"MachineIndex", "ABC"},  {"SelectedVersion", -2},
                         {"isNotFirstLaunch", true}, {"DelayTime", 0.25},
                         {"BannedKeys", QJsonArray{"ONLY"}}, {"DebugInfo", ""},
                         {"LastLaunchedVersion", 123}};
    for (int i = 1; i < int(std::size(keys)); ++i)
        expected.insert(keys[i], i);
    EXPECT_EQ(storedObject(), expected);

    QFile::remove(UserDefaults::filePath());
    EXPECT_FALSE(UserDefaultHelper::MachineIndex()) << "the store did not notice the file changed";
    writeStore(QJsonDocument(expected).toJson());
    EXPECT_EQ(UserDefaultHelper::MachineIndex(), QStringLiteral("ABC"));
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), -2);
    EXPECT_TRUE(UserDefaultHelper::IsNotFisrtLaunch());
    EXPECT_EQ(UserDefaultHelper::DelayTime(), 0.25);
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList{"ONLY"});
    EXPECT_EQ(UserDefaultHelper::DebugInfo(), QString(""));
    EXPECT_EQ(UserDefaultHelper::LastLaunchedVersion(), 123);
    EXPECT_FALSE(UserDefaults::read("k"));
    for (int i = 1; i < int(std::size(keys)); ++i)
        EXPECT_EQ(UserDefaults::read(keys[i]), QVariant(qint64(i))) << keys[i].toStdString();

    UserDefaultHelper::SaveBannedKeys(std::nullopt);
    EXPECT_FALSE(storedObject().contains("BannedKeys"));
}

TEST_F(Settings, GettersConvertWhatAnotherWriterLeftInTheFile) {
    writeStore(R"({"SelectedVersion": "3 apples", "IsStoppedShowingWelcome": "true", "IsStoppedShowingHint": " ",
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

    for (const QByteArray& garbage : {QByteArray("{\"SelectedVersion\": 4,"), QByteArray("[4]")}) {
        writeStore(garbage);
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 0) << garbage.constData();
    }
}

// The store's file is named after the bundle identifier only when that is a plain file name.
TEST_F(Settings, TheStoreFileStaysInTheConfigurationFolder) {
    const QString folder = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    EXPECT_EQ(UserDefaults::filePath(), folder + "/com.example.SettingsTest.json");
    for (const QVariantMap& info : {QVariantMap{{"CFBundleIdentifier", "../../escape"}}, QVariantMap{}}) {
        TestBundle other(info);
        other.makeMain();
        EXPECT_EQ(UserDefaults::filePath(), folder + "/PodiumCastCompanion.json");
    }
}

TEST_F(Settings, BannedKeysAreUpperCasedUniqueAndRemovable) {
    UserDefaultHelper::AddBannedKey("esc");
    UserDefaultHelper::AddBannedKey("ESC");
    UserDefaultHelper::AddBannedKey("f5");
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList({"ESC", "F5"}));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("f5"));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("esc"));
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList()); // an empty list, not removed
    EXPECT_FALSE(UserDefaultHelper::RemoveBannedKey("esc"));

    UserDefaultHelper::SaveBannedKeys(QStringList({"A", "b", "A"}));
    EXPECT_TRUE(UserDefaultHelper::RemoveBannedKey("a")); // every equal entry goes
    EXPECT_EQ(UserDefaultHelper::BannedKeys(), QStringList{"b"});
    EXPECT_FALSE(UserDefaultHelper::RemoveBannedKey("b")); // "B" is not "b"
}

TEST_F(Settings, SilentModeAppsAreKeptOncePerBundleIdAsJsonTexts) {
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId("com.example.a"));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithJson("{}"));
    EXPECT_FALSE(storedObject().contains("SlientModeApps")); // failed removals store nothing

    const QString a = appJson("com.example.a", "A"), b = appJson("com.example.b", "B");
    const QString aOther = appJson("com.example.a", "Another name");
    UserDefaultHelper::SaveSlientModeApps(QStringList{"garbage", R"({"bundleId":"com.example.a"})", b, a, aOther, a});
    UserDefaultHelper::AddSlientModeAppBundleId("com.example.b", "Renamed");
    UserDefaultHelper::AddSlientModeAppBundleId("com.example.B", "Upper");
    const QString upper = appJson("com.example.B", "Upper");
    EXPECT_EQ(storedObject().value("SlientModeApps").toArray().last(), upper);

    // Every copy of the first match's text goes; the same application written otherwise stays.
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithBundleId("com.example.a"));
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(),
              (QStringList{"garbage", R"({"bundleId":"com.example.a"})", b, aOther, upper}));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId("garbage"));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithJson(R"({"name":"B","bundleId":"com.example.b"})"));
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithJson("garbage"));
    UserDefaultHelper::SaveSlientModeApps(QStringList{b});
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithJson(b));
    EXPECT_TRUE(storedObject().value("SlientModeApps").isArray()); // emptied, still a list
    UserDefaultHelper::SaveSlientModeApps(std::nullopt);
    EXPECT_FALSE(UserDefaultHelper::SilentModeAppJsonStrings());
}

TEST_F(Settings, PanelsAreStoredByNameAndBadOnesAreLoggedAndKept) {
    TapdeckPanel panel;
    panel.panelName = QStringLiteral("a/b%2F%");
    panel.tapdeckCommands = {TapdeckCommand("Next", "sendKey", "RIGHT", std::nullopt, true)};
    UserDefaultHelper::SaveQuickPanel(panel);
    EXPECT_EQ(TapdeckPanel::initWithString(storedObject().value("TapdeckPanel:a/b%2F%").toString()), panel);
    EXPECT_EQ(UserDefaultHelper::GetQuickPanelByName("a/b%2F%"), panel);
    EXPECT_FALSE(UserDefaultHelper::GetQuickPanelByName("a/b/%"));

    LogRecorder log;
    const std::pair<const char*, QVariant> broken[] = {
        {"Never", QVariant()},
        {"Cut", QStringLiteral(R"({"panelName":"Cut","tapdeckCommands":[)")},
        {"BadCommand", QStringLiteral(R"({"panelName":"BadCommand","tapdeckCommands":[{"name":"n"}]})")},
        {"Number", 12},
    };
    for (const auto& [name, value] : broken) {
        const QString key = QStringLiteral("TapdeckPanel:") + name;
        UserDefaults::write(key, value);
        EXPECT_FALSE(UserDefaultHelper::GetQuickPanelByName(name)) << name;
        EXPECT_EQ(UserDefaults::read(key).has_value(), value.isValid()) << name;
    }
    const auto errors = log.at(spdlog::level::err);
    ASSERT_EQ(errors.size(), std::size(broken));
    for (size_t i = 0; i < errors.size(); ++i)
        EXPECT_EQ(errors[i].rfind(std::string("Failed to get Panel by name ") + broken[i].first + ": ", 0), 0u)
            << errors[i];
}

TEST_F(Settings, MachineIdIsMadeOnceAndKept) {
    const QString id = LocalUtils::GetMachineIndex();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{32}$").match(id).hasMatch()) << id.toStdString();
    EXPECT_EQ(LocalUtils::GetMachineIndex(), id);
    EXPECT_EQ(storedObject().value("MachineIndex"), id);
    UserDefaultHelper::SaveMachineIndex(QStringLiteral("not-an-id"));
    EXPECT_EQ(LocalUtils::GetMachineIndex(), QStringLiteral("not-an-id"));
    UserDefaultHelper::SaveMachineIndex(QString(""));
    EXPECT_NE(LocalUtils::GetMachineIndex(), QString(""));
}
