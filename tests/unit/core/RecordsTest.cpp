// The JSON records (reading, refusing, writing) and the JSON helpers.
#include "core/JSONHelper.h"
#include "core/SilentModeApp.h"
#include "core/TapdeckIcon.h"
#include "core/TapdeckInfoDTO.h"
#include "core/TapdeckPanel.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "TestBundle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

const QString kCommand = QStringLiteral(R"({"name":"Next","commandType":"sendKey","parameter":"RIGHT",)"
                                        R"("iconImageEncoded":"iconName:arrow","isNeedConfirm":true})");

// The command text with the key set to the JSON value, or left out when there is none.
QString commandWith(const char* key, const char* value) {
    QJsonObject object = QJsonDocument::fromJson(kCommand.toUtf8()).object();
    object.remove(key);
    if (value)
        object.insert(key, QJsonDocument::fromJson(QByteArray("[") + value + "]").array().at(0));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

struct Release {
    Q_GADGET
    Q_PROPERTY(QString Title MEMBER Title)
    Q_PROPERTY(int VersionNumber MEMBER VersionNumber)
    Q_PROPERTY(bool IsForceUpdate MEMBER IsForceUpdate)

public:
    QString Title = QStringLiteral("untitled");
    int VersionNumber = -1;
    bool IsForceUpdate = true;
};

class Preferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(int port MEMBER port)

public:
    int port = 0;
};

} // namespace

TEST(RecordJson, RequiredKeysAndTheKindsOfValues) {
    const std::tuple<const char*, const char*, bool> cases[] = {{"name", nullptr, false},
                                                                {"commandType", "null", false},
                                                                {"name", "12", false},
                                                                {"name", R"(["Next"])", false},
                                                                {"parameter", "true", false},
                                                                {"iconImageEncoded", "5", false},
                                                                {"isNeedConfirm", R"("1")", false},
                                                                {"isNeedConfirm", "[true]", false},
                                                                {"iconImageEncoded", nullptr, true},
                                                                {"isNeedConfirm", "null", true},
                                                                {"isNeedConfirm", "-0.5", true},
                                                                {"colour", R"({"r":[1]})", true}};
    for (const auto& [key, value, reads] : cases) {
        QString error;
        EXPECT_EQ(TapdeckCommand::initWithString(commandWith(key, value), &error).has_value(), reads) << key;
        EXPECT_EQ(error.contains(key), !reads) << error.toStdString();
    }
    EXPECT_EQ(TapdeckCommand::initWithString(kCommand),
              TapdeckCommand("Next", "sendKey", "RIGHT", QStringLiteral("iconName:arrow"), true));
    EXPECT_TRUE(TapdeckCommand::initWithString(commandWith("isNeedConfirm", "-0.5"))->isNeedConfirm);
    EXPECT_FALSE(TapdeckCommand::initWithString(commandWith("isNeedConfirm", "0"))->isNeedConfirm);
    EXPECT_FALSE(TapdeckCommand::initWithString(commandWith("iconImageEncoded", "null"))->iconImageEncoded);
    EXPECT_EQ(TapdeckCommand::initWithString(commandWith("iconImageEncoded", R"("")"))->iconImageEncoded, "");

    const std::optional<QString> notObjects[] = {
        std::nullopt, "", "not json", kCommand + "x", "[" + kCommand + "]", "null", QString(200000, u'[')};
    for (const auto& text : notObjects) {
        QString error;
        EXPECT_FALSE(TapdeckCommand::initWithString(text, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(SilentModeApp::initWithString(text));
    }
}

TEST(RecordJson, PanelsNeedEveryCommandWhole) {
    const auto panel = TapdeckPanel::initWithString(
        QStringLiteral(
            R"({"panelName":"Deck","tapdeckCommands":[%1,{"name":"B","commandType":"u","parameter":""}]})")
            .arg(kCommand));
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->tapdeckCommands,
              (QList{*TapdeckCommand::initWithString(kCommand), TapdeckCommand("B", "u", "")}));
    const char* const bad[] = {
        R"({"panelName":"Deck"})",
        R"({"panelName":"Deck","tapdeckCommands":{"name":"n","commandType":"t","parameter":"p"}})",
        R"({"panelName":"Deck","tapdeckCommands":[[{"name":"n","commandType":"t","parameter":"p"}]]})",
        R"({"panelName":7,"tapdeckCommands":[]})",
        R"({"panelName":"D","tapdeckCommands":[{"name":"n","commandType":"t","parameter":"p"},{"name":"n"}]})"};
    QString error;
    for (const char* text : bad)
        EXPECT_FALSE(TapdeckPanel::initWithString(QString::fromUtf8(text), &error)) << text;
    EXPECT_TRUE(error.contains("tapdeckCommands") && error.contains("element 1") &&
                error.contains("commandType"))
        << error.toStdString();
}

TEST(RecordJson, WrittenTextIsCompactWithoutAbsentValuesAndReadsBack) {
    TapdeckPanel panel;
    panel.panelName = QString::fromUtf8("Pr\u00e4sentation/\u6f14\u793a\"\\\n");
    panel.tapdeckCommands = {
        TapdeckCommand("Say-hi", "sendKey", "a-b"),
        TapdeckCommand("Open", "openUrl", "https://example.org/?a=1&b=2", "iconName:x", true)};
    const QString text = panel.toJSONString();
    EXPECT_FALSE(text.contains(u' ') || text.contains(u'\n')) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("\u6f14\u793a"))) << "text beyond ASCII is written as it is";
    EXPECT_TRUE(text.contains(
        R"({"commandType":"sendKey","isNeedConfirm":false,"name":"Say-hi","parameter":"a-b"})"));
    EXPECT_EQ(TapdeckPanel::initWithString(text), panel);
    SilentModeApp app;
    app.bundleId = "com.example.Keynote";
    app.name = "Keynote";
    EXPECT_EQ(app.toJSONString(), R"({"bundleId":"com.example.Keynote","name":"Keynote"})");

    // A report of this machine: IsNeedConfirm is required of an icon, CreateTime must be a number.
    TestBundle bundle{{{"CFBundleIdentifier", "com.example.RecordsTest"}, {"CFBundleVersion", "321"}}};
    bundle.makeMain();
    UserDefaultHelper::SaveMachineIndex(QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
    auto facts = std::make_shared<FakeHostFacts>();
    facts->osVersion = "Version 14.1";
    facts->applications =
        QStringList{"file:///Applications/Keynote.app/", "file:///Applications/My%20App.app/"};
    platform::Platform::setHostFacts(facts);
    TapdeckIcon icon;
    icon.IconImageEncoded = "QQ==";
    const double before = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const TapdeckInfoDTO report = TapdeckInfoDTO::initWitPanelInfos({TapdeckPanelInfoDTO("P", {icon})});
    platform::Platform::setHostFacts(nullptr);
    QFile::remove(UserDefaults::filePath());
    EXPECT_EQ(report.Id, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{32}$").match(report.InfoId).hasMatch());
    EXPECT_NE(report.InfoId, TapdeckInfoDTO::initWitPanelInfos({}).InfoId);
    EXPECT_NEAR(report.CreateTime, before, 5.0);
    EXPECT_EQ(std::tie(report.OsVersion, report.PcAppVersion, report.InstalledSoftwares),
              std::tuple(QString("Version 14.1"), QString("321"), QString("Keynote.app,My%20App.app")));
    EXPECT_FALSE(
        QJsonDocument::fromJson(report.toJSONString().toUtf8()).object().contains("RunningProcesses"));
    EXPECT_EQ(TapdeckInfoDTO::initWithString(report.toJSONString()), report);
    const char* const badReports[] = {
        R"({"Id":"a","InfoId":"b","CreateTime":"3","Panels":[]})",
        R"({"Id":"a","InfoId":"b","CreateTime":3,"Panels":[{"PanelName":"p","Icons":[{"Title":"t","Type":"x"}]}]})",
        R"({"Id":"a","InfoId":"b","CreateTime":3,"Panels":[{"PanelName":"p","Icons":[{"Title":"t","Type":"x",)"
        R"("isNeedConfirm":true}]}]})"};
    for (const char* bad : badReports)
        EXPECT_FALSE(TapdeckInfoDTO::initWithString(QString::fromUtf8(bad))) << bad;
}

TEST(JSONHelper, ParsesContainersAndOnlyTheDictionaryParserLogsFailures) {
    LogRecorder log;
    for (auto parse : {&JSONHelper::ParseToArrayFromString, &JSONHelper::ParseToDictionaryFromString}) {
        EXPECT_EQ(parse(R"({"a":[1,"x"]})"), QVariant(QVariantMap{{"a", QVariantList{1, "x"}}}));
        EXPECT_EQ(parse("[{},2]"), QVariant(QVariantList{QVariantMap(), 2}));
        for (const char* text : {"42", "null", "", "[1,]", "{}{}"})
            EXPECT_FALSE(parse(QString::fromUtf8(text))) << text;
        EXPECT_FALSE(parse(std::nullopt));
    }
    EXPECT_EQ(log.entries().size(), 5u); // one error each from the dictionary parser, none for absent text
    EXPECT_EQ(log.at(spdlog::level::err).size(), 5u);
}

TEST(JSONHelper, FillsThePropertiesNamedExactlyByTheKeys) {
    Release release;
    EXPECT_EQ(&JSONHelper::ParseObjectFromDictionary(QVariantMap{{"Title", 7}, {"title", "x"}}, release),
              &release);
    EXPECT_EQ(release.Title, "7");
    // A key holding a NUL names no property; null sets the default; a value that does not convert is left.
    JSONHelper::ParseObjectFromDictionary(QVariantMap{{QStringLiteral("Title") + QChar(0), "y"},
                                                      {"VersionNumber", QVariant::fromValue(nullptr)},
                                                      {"IsForceUpdate", QVariantList{1}}},
                                          release);
    EXPECT_EQ(std::tie(release.Title, release.VersionNumber, release.IsForceUpdate),
              std::tuple("7", 0, true));
    Preferences preferences;
    EXPECT_EQ(JSONHelper::ParseObjectFromDictionary(QVariantMap{{"port", "51301"}, {"x", 1}}, &preferences),
              &preferences);
    EXPECT_EQ(preferences.port, 51301);
    EXPECT_TRUE(preferences.dynamicPropertyNames().isEmpty());
    EXPECT_FALSE(
        JSONHelper::ParseObjectFromDictionary(QVariantMap{{"port", 1}}, static_cast<QObject*>(nullptr)));
}

#include "RecordsTest.moc"
