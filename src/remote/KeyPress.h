#pragma once

#include <cstdint>

// A key of the key-name table: a macOS virtual key code (a key press uses its low 16 bits) and the
// flags to set on the key-down (0, or the shift flag 0x20000).
class KeyPress {
public:
    KeyPress(std::int64_t keyCode, std::int64_t modifier)
        : keyCode_(keyCode)
        , modifier_(modifier) {}

    std::int64_t keyCode() const { return keyCode_; }
    void setKeyCode(std::int64_t keyCode) { keyCode_ = keyCode; }
    std::int64_t modifier() const { return modifier_; }
    void setModifier(std::int64_t modifier) { modifier_ = modifier; }

private:
    std::int64_t keyCode_;
    std::int64_t modifier_;
};
