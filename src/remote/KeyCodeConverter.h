#pragma once

#include "KeyPress.h"

#include <QString>
#include <optional>

// The key names of the "key" command: backspace, return, escape, the numeric keypad and the percent
// sign. Names are compared exactly (case-sensitive, nothing trimmed, no aliases).
class KeyCodeConverter {
public:
    // The key of the name; absent for a name not in the table, an empty one and an absent one.
    std::optional<KeyPress> keyCodeOfKeyName(const std::optional<QString>& name) const;
};
