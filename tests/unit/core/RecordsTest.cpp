// The JSON records (reading, refusing, writing) and the JSON helpers.
#include "core/JSONHelper.h"
#include "core/SilentModeApp.h"
#include "core/TapdeckIcon.h"
#include "core/TapdeckInfoDTO.h"
#include "core/TapdeckPanel.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"
#include "platform/Platform.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "TestBundle.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>

namespace {

const QString kCommand = QStringLiteral(
    R"({"name":"Next","commandType":"sendKey","parameter":"RIGHT","iconImageEncoded":"iconName:arrow","isNeedConfirm":true})");

QJsonObject objectOf(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// The command text with the key set to the JSON value, or removed when there is none.
QString commandWith(const char* key, const char* value) {
    QJsonObject object = objectOf(kCommand);
    object.remove(key);
    if (value)
        object.insert(key, QJsonDocument::fromJson(QByteArray("[") + value + "]").array().at(0));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct Release {
    Q_GADGET
    Q_PROPERTY(QString Title MEMBER Title)
    Q_PROPERTY(int VersionNumber MEMBER VersionNumber)
    Q_PROPERTY(bool IsForceUpdate MEMBER IsForceUpdate)
    Q_PROPERTY(QString Kind READ kind)

public:
    QString kind() const { return QStringLiteral("release"); }
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

TEST(RecordJson, CommandKeysAndValueKinds) {
    const struct {
        const char* key;
        const char* value; // nullptr: the key left out
        bool reads;
    } cases[] = {
        {"name", nullptr, false},           {"commandType", "null", false},  {"parameter", nullptr, false},
        {"name", "12", false},              {"name", R"(["Next"])", false},  {"parameter", "true", false},
        {"iconImageEncoded", "5", false},   {"isNeedConfirm", R"("true")", false},
        {"isNeedConfirm", "[true]", false}, {"iconImageEncoded", nullptr, true},
        {"iconImageEncoded", "null", true}, {"isNeedConfirm", "null", true},
        {"isNeedConfirm", "-0.5", true},    {"isNeedConfirm", "0", true},
        {"colour", R"({"r":[1]})", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + (c.value ? c.value : "(none)"));
        QString error;
        const auto command = TapdeckCommand::initWithString(commandWith(c.key, c.value), &error);
        EXPECT_EQ(command.has_value(), c.reads);
        EXPECT_EQ(error.contains(QString::fromLatin1(c.key)), !c.reads) << error.toStdString();
    }
    EXPECT_EQ(TapdeckCommand::initWithString(kCommand),
              TapdeckCommand("Next", "sendKey", "RIGHT", QStringLiteral("iconName:arrow"), true));
    EXPECT_TRUE(TapdeckCommand::initWithString(commandWith("isNeedConfirm", "-0.5"))->isNeedConfirm);
    EXPECT_FALSE(TapdeckCommand::initWithString(commandWith("isNeedConfirm", "0"))->isNeedConfirm);
    EXPECT_FALSE(TapdeckCommand::initWithString(commandWith("isNeedConfirm", "null"))->isNeedConfirm);
    EXPECT_FALSE(TapdeckCommand::initWithString(commandWith("iconImageEncoded", "null"))->iconImageEncoded);
    EXPECT_EQ(TapdeckCommand::initWithString(commandWith("iconImageEncoded", R"("")"))->iconImageEncoded,
              QString(""));
}

TEST(RecordJson, TextThatIsNoObjectOfTheRightShapeGivesNoRecord) {
    const std::optional<QString> texts[] = {
        std::nullopt, QString(""), QStringLiteral("not json"), kCommand + "x", "[" + kCommand + "]",
        QStringLiteral("null"), QString(200000, u'['),
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text ? text->left(40).toStdString() : std::string("(absent)"));
        QString error;
        EXPECT_FALSE(TapdeckCommand::initWithString(text, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(TapdeckPanel::initWithString(text));
        EXPECT_FALSE(SilentModeApp::initWithString(text));
    }
    EXPECT_TRUE(TapdeckCommand::initWithString(" \n" + kCommand + "\t"));

    const QString good = QStringLiteral(
        R"({"panelName":"Deck","tapdeckCommands":[%1,{"name":"B","commandType":"openUrl","parameter":"u"}]})");
    const auto panel = TapdeckPanel::initWithString(good.arg(kCommand));
    ASSERT_TRUE(panel);
    ASSERT_EQ(panel->tapdeckCommands.size(), 2);
    EXPECT_EQ(panel->tapdeckCommands[1].name, "B");
    const char* const bad[] = {
        R"({"panelName":"Deck"})",
        R"({"panelName":"Deck","tapdeckCommands":{"name":"n","commandType":"t","parameter":"p"}})",
        R"({"panelName":"Deck","tapdeckCommands":[1]})",
        R"({"panelName":"Deck","tapdeckCommands":[[{"name":"n","commandType":"t","parameter":"p"}]]})",
        R"({"panelName":7,"tapdeckCommands":[]})",
        R"({"panelName":"Deck","tapdeckCommands":[{"name":"n","commandType":"t","parameter":"p"},{"name":"n","commandType":"t"}]})",
    };
    for (const char* text : bad)
        EXPECT_FALSE(TapdeckPanel::initWithString(QString::fromUtf8(text))) << text;
    QString error;
    TapdeckPanel::initWithString(QString::fromUtf8(bad[5]), &error);
    EXPECT_TRUE(error.contains("tapdeckCommands") && error.contains("element 1") && error.contains("parameter"))
        << error.toStdString();
}

TEST(RecordJson, WrittenTextIsCompactWithoutAbsentValuesAndReadsBack) {
    TapdeckPanel panel;
    panel.panelName = QString::fromUtf8("Pr\u00e4sentation/\u6f14\u793a\"\\\n");
    panel.tapdeckCommands = {TapdeckCommand("Say-hi", "sendKey", "a-b"),
                             TapdeckCommand("Open", "openUrl", "https://example.org/?a=1&b=2",
                                            QStringLiteral("iconName:globe"), true)};
    const QString text = panel.toJSONString();
    // Compact, and text beyond ASCII written as it is.
    EXPECT_FALSE(text.contains(u' ') || text.contains(u'\n')) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("\u6f14\u793a"))) << text.toStdString();
    EXPECT_EQ(objectOf(text).value("tapdeckCommands").toArray().at(0).toObject().keys(),
              (QStringList{"commandType", "isNeedConfirm", "name", "parameter"}));
    EXPECT_EQ(TapdeckPanel::initWithString(text), panel);

    SilentModeApp app;
    app.bundleId = QStringLiteral("com.example.Keynote");
    app.name = QStringLiteral("Keynote");
    EXPECT_EQ(app.toJSONString(), QStringLiteral(R"({"bundleId":"com.example.Keynote","name":"Keynote"})"));

    TapdeckIcon plain, withImage;
    plain.Title = "T";
    withImage.IconImageEncoded = QStringLiteral("QQ==");
    withImage.IsNeedConfirm = true;
    TapdeckInfoDTO report;
    report.Id = "ID";
    report.CreateTime = 1700000000.125;
    report.Panels = {TapdeckPanelInfoDTO("P1", {plain, withImage}), TapdeckPanelInfoDTO()};
    const QString reportText = report.toJSONString();
    EXPECT_EQ(objectOf(reportText).keys(), (QStringList{"CreateTime", "Id", "InfoId", "Panels"}));
    const QJsonArray icons = objectOf(reportText)["Panels"][0]["Icons"].toArray();
    EXPECT_EQ(icons.at(0).toObject().keys(), (QStringList{"IsNeedConfirm", "Title", "Type"}));
    EXPECT_EQ(TapdeckInfoDTO::initWithString(reportText), report);

    // Report fields: IsNeedConfirm is required of an icon, CreateTime must be a number.
    const char* const badReports[] = {
        R"({"Id":"a","InfoId":"b","CreateTime":"3","Panels":[]})",
        R"({"Id":"a","InfoId":"b","CreateTime":3})",
        R"({"Id":"a","InfoId":"b","CreateTime":3,"Panels":[{"PanelName":"p","Icons":[{"Title":"t","Type":"x"}]}]})",
        R"({"Id":"a","InfoId":"b","CreateTime":3,"Panels":[{"PanelName":"p","Icons":[{"Title":"t","Type":"x","isNeedConfirm":true}]}]})",
    };
    for (const char* bad : badReports)
        EXPECT_FALSE(TapdeckInfoDTO::initWithString(QString::fromUtf8(bad))) << bad;
}

TEST(RecordJson, NewReportDescribesThisMachine) {
    TestBundle bundle{{{"CFBundleIdentifier", "com.example.RecordsTest"}, {"CFBundleVersion", "321"}}};
    bundle.makeMain();
    UserDefaultHelper::SaveMachineIndex(QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
    auto facts = std::make_shared<FakeHostFacts>();
    facts->osVersion = QStringLiteral("Version 14.1");
    facts->applications = QStringList{"file:///Applications/Keynote.app/", "file:///Applications/My%20App.app/"};
    platform::Platform::setHostFacts(facts);
    const double before = secondsNow();
    const TapdeckInfoDTO report = TapdeckInfoDTO::initWitPanelInfos({TapdeckPanelInfoDTO("P", {})});
    const double after = secondsNow();
    const TapdeckInfoDTO second = TapdeckInfoDTO::initWitPanelInfos({});
    platform::Platform::setHostFacts(nullptr);
    QFile::remove(UserDefaults::filePath());

    EXPECT_EQ(report.Id, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{32}$").match(report.InfoId).hasMatch());
    EXPECT_NE(report.InfoId, second.InfoId);
    EXPECT_TRUE(report.CreateTime >= before && report.CreateTime <= after);
    EXPECT_EQ(report.Panels, QList{TapdeckPanelInfoDTO("P", {})});
    EXPECT_EQ(report.OsVersion, QStringLiteral("Version 14.1"));
    EXPECT_EQ(report.PcAppVersion, QStringLiteral("321"));
    EXPECT_EQ(report.InstalledSoftwares, QStringLiteral("Keynote.app,My%20App.app"));
    EXPECT_FALSE(report.RunningProcesses);
}

TEST(JSONHelper, ParsesContainersAndOnlyTheDictionaryParserLogsFailures) {
    LogRecorder log;
    for (auto parse : {&JSONHelper::ParseToArrayFromString, &JSONHelper::ParseToDictionaryFromString}) {
        EXPECT_EQ(parse(QStringLiteral(R"({"a":[1,"x"]})")),
                  QVariant(QVariantMap{{"a", QVariantList{1, "x"}}}));
        EXPECT_EQ(parse(QStringLiteral("[{},2]")), QVariant(QVariantList{QVariantMap(), 2}));
        for (const char* text : {"42", "\"text\"", "null", "", "[1,]", "{}{}"})
            EXPECT_FALSE(parse(QString::fromUtf8(text))) << text;
        EXPECT_FALSE(parse(std::nullopt));
    }
    // Six failures of the dictionary parser, none of the other and none for absent text.
    EXPECT_EQ(log.at(spdlog::level::err).size(), 6u);
    EXPECT_EQ(log.entries().size(), 6u);
}

TEST(JSONHelper, FillsThePropertiesNamedExactlyByTheKeys) {
    Release release;
    Release& same = JSONHelper::ParseObjectFromDictionary(
        QVariantMap{{"Title", 7}, {"VersionNumber", "12"}, {"title", "x"}, {"Kind", "k"}}, release);
    EXPECT_EQ(&same, &release);
    EXPECT_EQ(release.Title, "7");
    EXPECT_EQ(release.VersionNumber, 12);

    // A key holding a NUL names no property; null sets the default; a value that does not convert is left.
    JSONHelper::ParseObjectFromDictionary(QVariantMap{{QStringLiteral("Title") + QChar(0), "y"},
                                                      {"VersionNumber", QVariant::fromValue(nullptr)},
                                                      {"IsForceUpdate", QVariantList{1}}},
                                          release);
    EXPECT_EQ(release.Title, "7");
    EXPECT_EQ(release.VersionNumber, 0);
    EXPECT_TRUE(release.IsForceUpdate);

    Preferences preferences;
    EXPECT_EQ(JSONHelper::ParseObjectFromDictionary(QVariantMap{{"port", 51301}, {"unknown", 1}}, &preferences),
              &preferences);
    EXPECT_EQ(preferences.port, 51301);
    EXPECT_TRUE(preferences.dynamicPropertyNames().isEmpty());
    EXPECT_EQ(JSONHelper::ParseObjectFromDictionary(QVariantMap{{"port", 1}}, static_cast<QObject*>(nullptr)),
              nullptr);
}

#include "RecordsTest.moc"
