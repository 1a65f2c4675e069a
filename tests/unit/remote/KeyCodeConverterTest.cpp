#include "remote/KeyCodeConverter.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyCodeConverterTest, EachNameGivesItsVirtualKeyAndOnlyThePercentSignShift) {
    const struct {
        const char* name;
        std::int64_t keyCode;
        std::int64_t modifier;
    } table[] = {
        {"backspace", 51, 0}, {"return", 36, 0}, {"esc", 53, 0},  {"num0", 82, 0}, {"num1", 83, 0},
        {"num2", 84, 0},      {"num3", 85, 0},   {"num4", 86, 0}, {"num5", 87, 0}, {"num6", 88, 0},
        {"num7", 89, 0},      {"num8", 91, 0},   {"num9", 92, 0}, {"num.", 65, 0}, {"num+", 69, 0},
        {"num-", 78, 0},      {"num*", 67, 0},   {"num/", 75, 0}, {"num=", 81, 0}, {"numEnter", 76, 0},
        {"%", 23, 0x20000},
    };
    static_assert(std::size(table) == 21);
    const KeyCodeConverter converter;
    for (const auto& row : table) {
        const auto key = converter.keyCodeOfKeyName(QString::fromUtf8(row.name));
        ASSERT_TRUE(key.has_value()) << row.name;
        EXPECT_EQ(key->keyCode(), row.keyCode) << row.name;
        EXPECT_EQ(key->modifier(), row.modifier) << row.name;
    }
}

TEST(KeyCodeConverterTest, NamesMatchExactlyOrNotAtAll) {
    const KeyCodeConverter converter;
    for (const char* name : {"numenter", "NumEnter", "NUMENTER", "enter", "Esc", " esc", "esc ", "num 1",
                             "num10", "%%", "delete", "num", ""}) {
        EXPECT_FALSE(converter.keyCodeOfKeyName(QString::fromUtf8(name))) << '"' << name << '"';
    }
    EXPECT_FALSE(converter.keyCodeOfKeyName(std::nullopt));
}

} // namespace
