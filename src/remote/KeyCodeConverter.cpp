#include "KeyCodeConverter.h"

#include <QStringView>

namespace {

struct KeyName {
    QStringView name;
    std::int64_t keyCode;
    std::int64_t modifier;
};

constexpr std::int64_t kShift = 0x20000;

constexpr KeyName kKeyNames[] = {
    {u"backspace", 51, 0}, {u"return", 36, 0}, {u"esc", 53, 0},      {u"num0", 82, 0},   {u"num1", 83, 0},
    {u"num2", 84, 0},      {u"num3", 85, 0},   {u"num4", 86, 0},     {u"num5", 87, 0},   {u"num6", 88, 0},
    {u"num7", 89, 0},      {u"num8", 91, 0}, // 90 is no keypad key
    {u"num9", 92, 0},      {u"num.", 65, 0},   {u"num+", 69, 0},     {u"num-", 78, 0},   {u"num*", 67, 0},
    {u"num/", 75, 0},      {u"num=", 81, 0},   {u"numEnter", 76, 0}, {u"%", 23, kShift}, // the 5 key with
                                                                                         // shift
};

} // namespace

std::optional<KeyPress> KeyCodeConverter::keyCodeOfKeyName(const std::optional<QString>& name) const {
    if (!name)
        return std::nullopt;
    for (const KeyName& key : kKeyNames) {
        if (*name == key.name)
            return KeyPress(key.keyCode, key.modifier);
    }
    return std::nullopt;
}
