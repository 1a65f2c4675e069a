// JSONHelper: parsing text into containers, and filling objects from dictionaries by property name.
#include "core/JSONHelper.h"

#include "LogCapture.h"

#include <QObject>

#include <gtest/gtest.h>

namespace {

struct Release {
    Q_GADGET
    Q_PROPERTY(QString Title MEMBER Title)
    Q_PROPERTY(int VersionNumber MEMBER VersionNumber)
    Q_PROPERTY(bool IsForceUpdate MEMBER IsForceUpdate)
    Q_PROPERTY(double Size MEMBER Size)
    Q_PROPERTY(QStringList Tags MEMBER Tags)
    Q_PROPERTY(QString Kind READ kind)

public:
    QString kind() const { return QStringLiteral("release"); }

    QString Title = QStringLiteral("untitled");
    int VersionNumber = -1;
    bool IsForceUpdate = false;
    double Size = 0.5;
    QStringList Tags;
};

class Preferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString language MEMBER language)
    Q_PROPERTY(int port MEMBER port)

public:
    QString language;
    int port = 0;
};

QVariantMap dictionaryOf(const char* json) {
    const auto parsed = JSONHelper::ParseToDictionaryFromString(QString::fromUtf8(json));
    EXPECT_TRUE(parsed);
    return parsed ? parsed->toMap() : QVariantMap();
}

} // namespace

TEST(JSONHelperParse, ReturnsWhicheverContainerTheTextHolds) {
    for (auto parse : {&JSONHelper::ParseToArrayFromString, &JSONHelper::ParseToDictionaryFromString}) {
        const auto object = parse(QStringLiteral(R"({"a":1,"b":[true,"x",null],"c":{"d":2.5}})"));
        ASSERT_TRUE(object);
        ASSERT_EQ(object->typeId(), QMetaType::QVariantMap);
        const QVariantMap map = object->toMap();
        EXPECT_EQ(map.value("a").toLongLong(), 1);
        EXPECT_EQ(map.value("b").toList().size(), 3);
        EXPECT_EQ(map.value("b").toList().at(1).toString(), "x");
        EXPECT_EQ(map.value("c").toMap().value("d").toDouble(), 2.5);

        const auto array = parse(QStringLiteral(R"([{"a":1},2,"three"])"));
        ASSERT_TRUE(array);
        ASSERT_EQ(array->typeId(), QMetaType::QVariantList);
        EXPECT_EQ(array->toList().size(), 3);

        const auto empty = parse(QStringLiteral("[]"));
        ASSERT_TRUE(empty);
        EXPECT_TRUE(empty->toList().isEmpty());

        // Bare values, absent text and text that is not JSON give nothing.
        for (const char* text :
             {"42", "\"text\"", "true", "null", "", "  ", "{", "[1,]", "{}{}", "{'a':1}"}) {
            SCOPED_TRACE(text);
            EXPECT_FALSE(parse(QString::fromUtf8(text)));
        }
        EXPECT_FALSE(parse(std::nullopt));
    }
}

TEST(JSONHelperParse, OnlyTheDictionaryParserLogsFailures) {
    LogCapture log;
    EXPECT_FALSE(JSONHelper::ParseToArrayFromString(QStringLiteral("[1,")));
    EXPECT_FALSE(JSONHelper::ParseToArrayFromString(QStringLiteral("7")));
    EXPECT_EQ(log.text(), "");

    EXPECT_FALSE(JSONHelper::ParseToDictionaryFromString(QStringLiteral("{\"a\":")));
    EXPECT_TRUE(log.hasError("offset")) << log.text();
    log.clear();
    EXPECT_FALSE(JSONHelper::ParseToDictionaryFromString(QStringLiteral("7")));
    EXPECT_NE(log.text().find("[E]"), std::string::npos);
    log.clear();
    // Absent text is not a parse failure.
    EXPECT_FALSE(JSONHelper::ParseToDictionaryFromString(std::nullopt));
    EXPECT_EQ(log.text(), "");
    // A "{}" in the text reaches the log as text, not as a format.
    EXPECT_FALSE(JSONHelper::ParseToDictionaryFromString(QStringLiteral("{} {}")));
    EXPECT_TRUE(log.hasError("garbage")) << log.text();
}

TEST(JSONHelperParse, NestingDeeperThan1024IsRefused) {
    const auto deepest = JSONHelper::ParseToArrayFromString(QString(1024, u'[') + QString(1024, u']'));
    ASSERT_TRUE(deepest);
    QVariant level = *deepest;
    int depth = 0;
    while (level.typeId() == QMetaType::QVariantList && !level.toList().isEmpty()) {
        level = level.toList().at(0);
        ++depth;
    }
    EXPECT_EQ(depth, 1023);

    LogCapture log;
    EXPECT_FALSE(JSONHelper::ParseToArrayFromString(QString(1025, u'[') + QString(1025, u']')));
    EXPECT_FALSE(JSONHelper::ParseToDictionaryFromString(QString(300000, u'[') + QString(300000, u']')));
    EXPECT_TRUE(log.hasError("deeply nested")) << log.text();
    QString objects;
    for (int i = 0; i < 3000; ++i)
        objects += QStringLiteral(R"({"a":)");
    EXPECT_FALSE(JSONHelper::ParseToDictionaryFromString(objects));
}

TEST(JSONHelperFill, SetsThePropertiesNamedByTheKeys) {
    Release release;
    Release& same = JSONHelper::ParseObjectFromDictionary(
        dictionaryOf(
            R"({"Title":"Spring","VersionNumber":42,"IsForceUpdate":true,"Size":1.5,"Tags":["a","b"],"Other":1})"),
        release);
    EXPECT_EQ(&same, &release);
    EXPECT_EQ(release.Title, "Spring");
    EXPECT_EQ(release.VersionNumber, 42);
    EXPECT_TRUE(release.IsForceUpdate);
    EXPECT_EQ(release.Size, 1.5);
    EXPECT_EQ(release.Tags, (QStringList{"a", "b"}));

    // Names are matched exactly; others are skipped, and so is a property that cannot be written.
    Release exact;
    JSONHelper::ParseObjectFromDictionary(
        dictionaryOf(R"({"title":"x","TITLE":"y","Title ":"z","Kind":"k"})"), exact);
    EXPECT_EQ(exact.Title, "untitled");
    EXPECT_EQ(exact.kind(), "release");

    // A key with a NUL character names no property, even when the part before it does.
    Release nul;
    JSONHelper::ParseObjectFromDictionary(
        QVariantMap{{QStringLiteral("Title") + QChar(0) + QStringLiteral("x"), "y"}}, nul);
    EXPECT_EQ(nul.Title, "untitled");

    // An empty dictionary leaves the object untouched.
    Release untouched;
    untouched.VersionNumber = 9;
    JSONHelper::ParseObjectFromDictionary(QVariantMap(), untouched);
    EXPECT_EQ(untouched.VersionNumber, 9);
    EXPECT_EQ(untouched.Title, "untitled");
}

TEST(JSONHelperFill, ValuesAreConvertedOrLeftAlone) {
    Release release;
    JSONHelper::ParseObjectFromDictionary(dictionaryOf(R"({"Title":7,"VersionNumber":"12","Size":"2.25"})"),
                                          release);
    EXPECT_EQ(release.Title, "7");
    EXPECT_EQ(release.VersionNumber, 12);
    EXPECT_EQ(release.Size, 2.25);

    // Values that do not convert leave the property as it was.
    Release kept;
    kept.VersionNumber = 3;
    kept.Size = 4.0;
    JSONHelper::ParseObjectFromDictionary(
        dictionaryOf(R"({"VersionNumber":"twelve","Title":{"a":1},"Size":[1]})"), kept);
    EXPECT_EQ(kept.VersionNumber, 3);
    EXPECT_EQ(kept.Title, "untitled");
    EXPECT_EQ(kept.Size, 4.0);

    // null sets the property's default value.
    Release cleared;
    cleared.VersionNumber = 5;
    cleared.IsForceUpdate = true;
    cleared.Tags = {"t"};
    JSONHelper::ParseObjectFromDictionary(
        dictionaryOf(R"({"VersionNumber":null,"IsForceUpdate":null,"Title":null,"Tags":null})"), cleared);
    EXPECT_EQ(cleared.VersionNumber, 0);
    EXPECT_FALSE(cleared.IsForceUpdate);
    EXPECT_TRUE(cleared.Title.isEmpty());
    EXPECT_TRUE(cleared.Tags.isEmpty());
}

TEST(JSONHelperFill, FillsQObjectsWithoutAddingProperties) {
    Preferences settings;
    QObject* returned = JSONHelper::ParseObjectFromDictionary(
        dictionaryOf(R"({"language":"zh-Hans","port":51301,"objectName":"main","unknown":true})"), &settings);
    EXPECT_EQ(returned, &settings);
    EXPECT_EQ(settings.language, "zh-Hans");
    EXPECT_EQ(settings.port, 51301);
    EXPECT_EQ(settings.objectName(), "main");
    EXPECT_TRUE(settings.dynamicPropertyNames().isEmpty());

    EXPECT_EQ(
        JSONHelper::ParseObjectFromDictionary(dictionaryOf(R"({"port":1})"), static_cast<QObject*>(nullptr)),
        nullptr);
}

#include "JSONHelperTest.moc"
