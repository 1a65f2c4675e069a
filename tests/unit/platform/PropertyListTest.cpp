#include "platform/PropertyList.h"

#include <gtest/gtest.h>

using platform::PropertyList;

namespace {

QByteArray wrap(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">" +
           body + "</plist>";
}

} // namespace

TEST(PropertyList, ReadsEveryValueKind) {
    const auto v = PropertyList::parse(wrap(R"(
        <dict>
          <key>Text</key><string>a &amp; b &lt;c&gt; 中文</string>
          <key>Empty</key><string/>
          <key>Port</key><integer> -51302 </integer>
          <key>Big</key><integer>9223372036854775807</integer>
          <key>Ratio</key><real>0.75</real>
          <key>Yes</key><true/>
          <key>No</key><false/>
          <key>List</key><array><string>x</string><integer>2</integer><array/><dict/></array>
        </dict>)"));
    ASSERT_TRUE(v);
    const QVariantMap m = v->toMap();
    EXPECT_EQ(m.value("Text").toString(), QStringLiteral("a & b <c> 中文"));
    EXPECT_EQ(m.value("Text").typeId(), QMetaType::QString);
    EXPECT_EQ(m.value("Empty").toString(), QString());
    EXPECT_EQ(m.value("Empty").typeId(), QMetaType::QString);
    EXPECT_EQ(m.value("Port").typeId(), QMetaType::LongLong);
    EXPECT_EQ(m.value("Port").toLongLong(), -51302);
    EXPECT_EQ(m.value("Big").toLongLong(), 9223372036854775807LL);
    EXPECT_DOUBLE_EQ(m.value("Ratio").toDouble(), 0.75);
    EXPECT_EQ(m.value("Yes").typeId(), QMetaType::Bool);
    EXPECT_TRUE(m.value("Yes").toBool());
    EXPECT_FALSE(m.value("No").toBool());
    const QVariantList list = m.value("List").toList();
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0].toString(), "x");
    EXPECT_EQ(list[1].toLongLong(), 2);
    EXPECT_EQ(list[2].typeId(), QMetaType::QVariantList);
    EXPECT_EQ(list[3].typeId(), QMetaType::QVariantMap);
}

TEST(PropertyList, RefusesMalformedInputWithAReason) {
    const QByteArray bad[] = {
        "",
        "not xml at all",
        wrap(""),
        wrap("<dict><key>A</key></dict>"),
        wrap("<dict><string>no key</string></dict>"),
        wrap("<dict><key>A</key><integer>12x</integer></dict>"),
        wrap("<dict><key>A</key><integer>99999999999999999999</integer></dict>"),
        wrap("<dict><key>A</key><real>fast</real></dict>"),
        wrap("<dict><key>A</key><date>2020-01-01T00:00:00Z</date></dict>"),
        wrap("<dict><key>A</key><true>x</true></dict>"),
        wrap("<dict><key>A</key><string>a<b/></string></dict>"),
        wrap("<dict>stray</dict>"),
        wrap("<dict></dict><dict></dict>"),
        wrap("<dict><key>A</key><string>unclosed"),
        "<other/>",
    };
    for (const QByteArray& input : bad) {
        QString error;
        EXPECT_FALSE(PropertyList::parse(input, &error)) << input.constData();
        EXPECT_FALSE(error.isEmpty()) << input.constData();
    }
}

TEST(PropertyList, RefusesNestingBeyondTheLimitButTakesItUpToTheLimit) {
    auto nested = [](int depth) {
        QByteArray open, close;
        for (int i = 0; i < depth; ++i) {
            open += "<array>";
            close += "</array>";
        }
        return wrap(open + close);
    };
    EXPECT_TRUE(PropertyList::parse(nested(PropertyList::kMaxDepth)));
    EXPECT_FALSE(PropertyList::parse(nested(PropertyList::kMaxDepth + 1)));
    EXPECT_FALSE(PropertyList::parse(nested(100000)));
}
