#include "core/StringHelper.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

TEST(StringHelper, IsNullOrEmpty) {
    EXPECT_TRUE(StringHelper::isNullOrEmpty(std::optional<QString>()));
    EXPECT_TRUE(StringHelper::isNullOrEmpty(std::optional<QString>(QString(""))));
    EXPECT_FALSE(StringHelper::isNullOrEmpty(std::optional<QString>(QString(" "))));
    EXPECT_TRUE(StringHelper::isNullOrEmpty(QVariant()));
    EXPECT_TRUE(StringHelper::isNullOrEmpty(QVariant::fromValue(nullptr)));
    EXPECT_TRUE(StringHelper::isNullOrEmpty(QVariant(QString())));
    EXPECT_FALSE(StringHelper::isNullOrEmpty(QVariant(QString(" "))));
    EXPECT_TRUE(StringHelper::isNullOrEmpty(QVariant(QVariantList())));
    EXPECT_FALSE(StringHelper::isNullOrEmpty(QVariant(0)));
}

TEST(StringHelper, EscapingTable) {
    auto esc = [](const QString& s) {
        return *StringHelper::removeEscapeCharacterOfString(s);
    };
    EXPECT_EQ(esc("a\tb"), QStringLiteral("a\\nb"));
    EXPECT_EQ(esc(QString("a\ab") + QChar(0) + "c"), QStringLiteral("abc"));
    EXPECT_EQ(esc("say \"hi\""), QStringLiteral("say \\\"hi\\\""));
    EXPECT_EQ(esc("C:\\dir"), QStringLiteral("C:\\\\dir"));
    EXPECT_EQ(esc("a\r\nb"), QStringLiteral("a\\r\\nb"));
    EXPECT_EQ(esc("\f\v"), QStringLiteral("\\f\\n"));
    const QString other = QString("x") + QChar(0x1b) + QChar(0x01) + "中文 é";
    EXPECT_EQ(esc(other), other);
    EXPECT_EQ(esc("plain text"), QStringLiteral("plain text"));
    EXPECT_FALSE(StringHelper::removeEscapeCharacterOfString(std::nullopt));
    EXPECT_EQ(esc(""), QString(""));
}

// The escaped text, put between quotes, is a JSON string whose value is the text with tab and vertical
// tab turned into line feeds and bell and NUL dropped.
TEST(StringHelper, EscapedTextParsesBackAsJson) {
    const QString note = QString("Line \"one\"\\\r\nTab\there\vend\f") + QChar(7) + QChar(0) + "中文";
    const QByteArray json = "{\"n\":\"" + StringHelper::removeEscapeCharacterOfString(note)->toUtf8() + "\"}";
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.constData();
    EXPECT_EQ(doc.object().value("n").toString(), QString("Line \"one\"\\\r\nTab\nhere\nend\f中文"));
}
