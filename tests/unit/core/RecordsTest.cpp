// Reading and writing the JSON records: required and optional keys, conversions and their failures,
// wrong shapes, nesting, and the compact written form.
#include "core/LocalUtils.h"
#include "core/SilentModeApp.h"
#include "core/TapdeckCommand.h"
#include "core/TapdeckIcon.h"
#include "core/TapdeckInfoDTO.h"
#include "core/TapdeckPanel.h"
#include "core/TapdeckPanelInfoDTO.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"
#include "platform/Platform.h"

#include "Fakes.h"
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

// The text with the key's value replaced (or the key added); the value is JSON text.
QString withValue(const QString& json, const char* key, const char* value) {
    QJsonObject object = objectOf(json);
    const QJsonDocument v = QJsonDocument::fromJson(QByteArray("[") + value + "]");
    object.insert(QString::fromLatin1(key), v.array().at(0));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString without(const QString& json, const char* key) {
    QJsonObject object = objectOf(json);
    object.remove(QString::fromLatin1(key));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// Whether the text has white space outside its string values.
bool hasSpaceOutsideStrings(const QString& json) {
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const QChar c = json[i];
        if (inString) {
            if (c == u'\\')
                ++i;
            else if (c == u'"')
                inString = false;
        } else if (c == u'"') {
            inString = true;
        } else if (c.isSpace()) {
            return true;
        }
    }
    return false;
}

QString nested(int depth, const QString& inner = {}) {
    return QString(depth, u'[') + inner + QString(depth, u']');
}

} // namespace

TEST(TapdeckCommandJson, ReadsEveryPropertyAndDefaultsTheOptionalOnes) {
    const auto command = TapdeckCommand::initWithString(kCommand);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->name, "Next");
    EXPECT_EQ(command->commandType, "sendKey");
    EXPECT_EQ(command->parameter, "RIGHT");
    EXPECT_EQ(command->iconImageEncoded, QStringLiteral("iconName:arrow"));
    EXPECT_TRUE(command->isNeedConfirm);

    const auto plain =
        TapdeckCommand::initWithString(without(without(kCommand, "isNeedConfirm"), "iconImageEncoded"));
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->isNeedConfirm);
    EXPECT_FALSE(plain->iconImageEncoded);

    // null counts as missing: fine for optional keys.
    const auto nulls = TapdeckCommand::initWithString(
        withValue(withValue(kCommand, "isNeedConfirm", "null"), "iconImageEncoded", "null"));
    ASSERT_TRUE(nulls);
    EXPECT_FALSE(nulls->isNeedConfirm);
    EXPECT_FALSE(nulls->iconImageEncoded);

    // An empty icon text is a value, not absence.
    const auto empty = TapdeckCommand::initWithString(withValue(kCommand, "iconImageEncoded", R"("")"));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->iconImageEncoded, QString(""));

    // Keys the record does not know are ignored.
    const auto extra = TapdeckCommand::initWithString(withValue(kCommand, "colour", R"({"r":[1,2]})"));
    ASSERT_TRUE(extra);
    EXPECT_EQ(*extra, *command);
}

TEST(TapdeckCommandJson, RequiredKeysMustBePresentAndNotNull) {
    for (const char* key : {"name", "commandType", "parameter"}) {
        SCOPED_TRACE(key);
        QString error;
        EXPECT_FALSE(TapdeckCommand::initWithString(without(kCommand, key), &error));
        EXPECT_TRUE(error.contains(QString::fromLatin1(key))) << error.toStdString();
        error.clear();
        EXPECT_FALSE(TapdeckCommand::initWithString(withValue(kCommand, key, "null"), &error));
        EXPECT_FALSE(error.isEmpty());
    }
    // Key names are case-sensitive.
    EXPECT_FALSE(TapdeckCommand::initWithString(R"({"Name":"n","commandType":"t","parameter":"p"})"));
    EXPECT_TRUE(TapdeckCommand::initWithString(R"({"name":"n","commandType":"t","parameter":"p"})"));
}

TEST(TapdeckCommandJson, ValuesOfTheWrongKindFailTheRecord) {
    struct Case {
        const char* key;
        const char* value;
        bool reads;
    };
    const Case cases[] = {
        {"name", "12", false}, // a number is not a text
        {"name", "true", false},
        {"name", R"(["Next"])", false}, // an array where a text belongs
        {"name", R"({"a":"b"})", false},
        {"parameter", "0", false},
        {"iconImageEncoded", "5", false},
        {"iconImageEncoded", "[]", false},
        {"isNeedConfirm", R"("true")", false}, // a text is not a boolean
        {"isNeedConfirm", "[true]", false},
        {"isNeedConfirm", "{}", false},
        {"isNeedConfirm", "1", true}, // numbers read as booleans
        {"isNeedConfirm", "0", true},
        {"isNeedConfirm", "false", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.value);
        QString error;
        const auto command = TapdeckCommand::initWithString(withValue(kCommand, c.key, c.value), &error);
        EXPECT_EQ(command.has_value(), c.reads);
        EXPECT_EQ(error.isEmpty(), c.reads) << error.toStdString();
        if (!c.reads) {
            EXPECT_TRUE(error.contains(QString::fromLatin1(c.key))) << error.toStdString();
        }
    }
    EXPECT_TRUE(TapdeckCommand::initWithString(withValue(kCommand, "isNeedConfirm", "1"))->isNeedConfirm);
    EXPECT_TRUE(TapdeckCommand::initWithString(withValue(kCommand, "isNeedConfirm", "-0.5"))->isNeedConfirm);
    EXPECT_FALSE(TapdeckCommand::initWithString(withValue(kCommand, "isNeedConfirm", "0"))->isNeedConfirm);
}

TEST(RecordJson, TextThatIsNotAJsonObjectGivesNoRecordAndAnError) {
    const std::optional<QString> texts[] = {
        std::nullopt,
        QString(),
        QString(""),
        QStringLiteral("   "),
        QStringLiteral("not json"),
        QStringLiteral("{\"name\":\"n\""),                    // cut short
        kCommand + QStringLiteral("x"),                       // garbage behind the object
        QStringLiteral("[") + kCommand + QStringLiteral("]"), // an array where an object belongs
        QStringLiteral("\"text\""),
        QStringLiteral("42"),
        QStringLiteral("null"),
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text ? text->toStdString() : std::string("(absent)"));
        QString error;
        EXPECT_FALSE(TapdeckCommand::initWithString(text, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(TapdeckPanel::initWithString(text));
        EXPECT_FALSE(SilentModeApp::initWithString(text));
    }
    // Surrounding white space is fine.
    EXPECT_TRUE(TapdeckCommand::initWithString(QStringLiteral(" \n") + kCommand + QStringLiteral("\t")));
}

TEST(TapdeckPanelJson, ReadsItsCommandsInOrderAndFailsOnAnyBadOne) {
    const QString good =
        QStringLiteral(
            R"({"panelName":"Deck","tapdeckCommands":[%1,{"name":"B","commandType":"openUrl","parameter":"u"}]})")
            .arg(kCommand);
    const auto panel = TapdeckPanel::initWithString(good);
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->panelName, "Deck");
    ASSERT_EQ(panel->tapdeckCommands.size(), 2);
    EXPECT_EQ(panel->tapdeckCommands[0].name, "Next");
    EXPECT_EQ(panel->tapdeckCommands[1].name, "B");
    EXPECT_FALSE(panel->tapdeckCommands[1].isNeedConfirm);

    const auto emptyPanel = TapdeckPanel::initWithString(R"({"panelName":"","tapdeckCommands":[]})");
    ASSERT_TRUE(emptyPanel);
    EXPECT_TRUE(emptyPanel->tapdeckCommands.isEmpty());

    const char* const bad[] = {
        R"({"panelName":"Deck"})",   // list missing
        R"({"tapdeckCommands":[]})", // name missing
        R"({"panelName":"Deck","tapdeckCommands":null})",
        R"({"panelName":"Deck","tapdeckCommands":{"name":"n","commandType":"t","parameter":"p"}})", // object,
                                                                                                    // not
                                                                                                    // array
        R"({"panelName":"Deck","tapdeckCommands":"[]"})", // text, not array
        R"({"panelName":"Deck","tapdeckCommands":[1]})",  // element not an object
        R"({"panelName":"Deck","tapdeckCommands":[[{"name":"n","commandType":"t","parameter":"p"}]]})",
        R"({"panelName":"Deck","tapdeckCommands":[null]})",
        R"({"panelName":"Deck","tapdeckCommands":[{"name":"n","commandType":"t","parameter":"p"},{"name":"n","commandType":"t"}]})",
        R"({"panelName":7,"tapdeckCommands":[]})",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        QString error;
        EXPECT_FALSE(TapdeckPanel::initWithString(QString::fromUtf8(text), &error));
        EXPECT_FALSE(error.isEmpty());
    }
    // The error names where the bad element is.
    QString error;
    EXPECT_FALSE(TapdeckPanel::initWithString(QString::fromUtf8(bad[8]), &error));
    EXPECT_TRUE(error.contains("tapdeckCommands")) << error.toStdString();
    EXPECT_TRUE(error.contains("element 1")) << error.toStdString();
    EXPECT_TRUE(error.contains("parameter")) << error.toStdString();
}

TEST(RecordJson, DeepNestingIsRefusedCleanly) {
    // Nesting inside a key the record ignores is fine up to the parser's limit of 1024 levels.
    const QString inside = QStringLiteral(R"({"panelName":"Deck","tapdeckCommands":[],"x":%1})");
    EXPECT_TRUE(TapdeckPanel::initWithString(inside.arg(nested(1023))));
    QString error;
    EXPECT_FALSE(TapdeckPanel::initWithString(inside.arg(nested(1024)), &error));
    EXPECT_TRUE(error.contains("deeply nested")) << error.toStdString();

    // Far deeper input, balanced or not, stops at the limit.
    EXPECT_FALSE(TapdeckPanel::initWithString(nested(200000)));
    EXPECT_FALSE(TapdeckPanel::initWithString(QString(200000, u'[')));
    EXPECT_FALSE(TapdeckPanel::initWithString(QString(100000, u'{')));
    QString objects;
    for (int i = 0; i < 5000; ++i)
        objects += QStringLiteral(R"({"tapdeckCommands":)");
    EXPECT_FALSE(TapdeckPanel::initWithString(objects));

    // Arrays nested where command objects belong are a wrong shape.
    EXPECT_FALSE(TapdeckPanel::initWithString(
        QStringLiteral(R"({"panelName":"Deck","tapdeckCommands":%1})").arg(nested(500))));
}

TEST(RecordJson, WrittenTextIsCompactLeavesOutAbsentValuesAndReadsBack) {
    TapdeckCommand command(QStringLiteral("Say \"hi\"\n"), QStringLiteral("sendKey"), QStringLiteral("a b"));
    const QString text = command.toJSONString();
    EXPECT_FALSE(hasSpaceOutsideStrings(text)) << text.toStdString();
    const QJsonObject written = objectOf(text);
    EXPECT_EQ(written.keys(), (QStringList{"commandType", "isNeedConfirm", "name", "parameter"}));
    EXPECT_TRUE(written.value("isNeedConfirm").isBool());
    EXPECT_EQ(TapdeckCommand::initWithString(text), command);

    TapdeckPanel panel;
    panel.panelName = QStringLiteral("Präsentation 演示 \u00e9/\\");
    panel.tapdeckCommands = {command, TapdeckCommand(QStringLiteral("Open"), QStringLiteral("openUrl"),
                                                     QStringLiteral("https://example.org/?a=1&b=2"),
                                                     QStringLiteral("iconName:globe"), true)};
    const QString panelText = panel.toJSONString();
    EXPECT_FALSE(hasSpaceOutsideStrings(panelText)) << panelText.toStdString();
    // Non-ASCII text is written as UTF-8, not escaped.
    EXPECT_TRUE(panelText.contains(QStringLiteral("演示")));
    EXPECT_EQ(TapdeckPanel::initWithString(panelText), panel);
    EXPECT_EQ(objectOf(panelText).value("tapdeckCommands").toArray().size(), 2);

    SilentModeApp app;
    app.bundleId = QStringLiteral("com.example.Keynote");
    app.name = QStringLiteral("Keynote");
    EXPECT_EQ(app.toJSONString(), QStringLiteral(R"({"bundleId":"com.example.Keynote","name":"Keynote"})"));
    EXPECT_EQ(SilentModeApp::initWithString(app.toJSONString()), app);
    EXPECT_FALSE(SilentModeApp::initWithString(R"({"bundleId":"com.example.Keynote"})"));
    EXPECT_FALSE(SilentModeApp::initWithString(R"({"bundleId":["com.example.Keynote"],"name":"K"})"));
}

TEST(TapdeckReportJson, IconsNeedIsNeedConfirmAndReportsRoundTrip) {
    const auto icon = TapdeckIcon::initWithString(R"({"Title":"T","Type":"sendKey","IsNeedConfirm":false})");
    ASSERT_TRUE(icon);
    EXPECT_FALSE(icon->IconImageEncoded);
    QString error;
    EXPECT_FALSE(TapdeckIcon::initWithString(R"({"Title":"T","Type":"sendKey"})", &error));
    EXPECT_TRUE(error.contains("IsNeedConfirm")) << error.toStdString();
    EXPECT_FALSE(TapdeckIcon::initWithString(R"({"Title":"T","Type":"sendKey","IsNeedConfirm":null})"));
    // The command's key spelling does not stand in for the icon's.
    EXPECT_FALSE(TapdeckIcon::initWithString(R"({"Title":"T","Type":"sendKey","isNeedConfirm":true})"));

    TapdeckIcon withImage = *icon;
    withImage.IconImageEncoded = QStringLiteral("QQ==");
    withImage.IsNeedConfirm = true;
    TapdeckInfoDTO report;
    report.Id = QStringLiteral("ID");
    report.InfoId = QStringLiteral("INFO");
    report.CreateTime = 1700000000.125;
    report.Panels = {TapdeckPanelInfoDTO(QStringLiteral("P1"), {*icon, withImage}), TapdeckPanelInfoDTO()};
    report.OsVersion = QStringLiteral("Linux");
    const QString text = report.toJSONString();
    EXPECT_FALSE(hasSpaceOutsideStrings(text));
    const QJsonObject written = objectOf(text);
    EXPECT_EQ(written.keys(), (QStringList{"CreateTime", "Id", "InfoId", "OsVersion", "Panels"}));
    EXPECT_EQ(written.value("CreateTime").toDouble(), 1700000000.125);
    const QJsonArray icons = written.value("Panels").toArray().at(0).toObject().value("Icons").toArray();
    EXPECT_FALSE(icons.at(0).toObject().contains("IconImageEncoded"));
    EXPECT_EQ(icons.at(1).toObject().value("IconImageEncoded").toString(), "QQ==");
    EXPECT_EQ(TapdeckInfoDTO::initWithString(text), report);

    // A whole number reads as the double; a text does not.
    EXPECT_TRUE(TapdeckInfoDTO::initWithString(R"({"Id":"a","InfoId":"b","CreateTime":3,"Panels":[]})"));
    EXPECT_FALSE(TapdeckInfoDTO::initWithString(R"({"Id":"a","InfoId":"b","CreateTime":"3","Panels":[]})"));
    EXPECT_FALSE(TapdeckInfoDTO::initWithString(R"({"Id":"a","InfoId":"b","CreateTime":1e999,"Panels":[]})"));
    EXPECT_FALSE(TapdeckInfoDTO::initWithString(R"({"Id":"a","InfoId":"b","CreateTime":3})"));
    // A bad icon deep inside fails the whole report.
    EXPECT_FALSE(TapdeckInfoDTO::initWithString(
        R"({"Id":"a","InfoId":"b","CreateTime":3,"Panels":[{"PanelName":"p","Icons":[{"Title":"t","Type":"x"}]}]})"));
}

TEST(TapdeckReportJson, NewReportDescribesThisMachine) {
    TestBundle bundle{{{"CFBundleIdentifier", "com.example.RecordsTest"}, {"CFBundleVersion", "321"}}};
    bundle.makeMain();
    QFile::remove(UserDefaults::filePath());
    UserDefaultHelper::SaveMachineIndex(QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
    auto facts = std::make_shared<FakeHostFacts>();
    facts->osVersion = QStringLiteral("Version 14.1 (Build 23B74)");
    facts->applications =
        QStringList{"file:///Applications/Keynote.app/", "file:///Applications/My%20App.app/"};
    platform::Platform::setHostFacts(facts);

    const double before =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const TapdeckInfoDTO report =
        TapdeckInfoDTO::initWitPanelInfos({TapdeckPanelInfoDTO(QStringLiteral("P"), {})});
    const double after =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const TapdeckInfoDTO second = TapdeckInfoDTO::initWitPanelInfos({});
    platform::Platform::setHostFacts(nullptr);
    QFile::remove(UserDefaults::filePath());

    EXPECT_EQ(report.Id, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{32}$").match(report.InfoId).hasMatch())
        << report.InfoId.toStdString();
    EXPECT_NE(report.InfoId, second.InfoId);
    EXPECT_GE(report.CreateTime, before);
    EXPECT_LE(report.CreateTime, after);
    ASSERT_EQ(report.Panels.size(), 1);
    EXPECT_EQ(report.Panels[0].PanelName, "P");
    EXPECT_EQ(report.OsVersion, QStringLiteral("Version 14.1 (Build 23B74)"));
    EXPECT_EQ(report.PcAppVersion, QStringLiteral("321"));
    EXPECT_EQ(report.InstalledSoftwares, QStringLiteral("Keynote.app,My%20App.app"));
    EXPECT_FALSE(report.RunningProcesses);
    EXPECT_FALSE(objectOf(report.toJSONString()).contains("RunningProcesses"));
}
