#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// Text operations many parts share.
class StringHelper {
public:
    // YES for an absent value, a null value and a text of length 0.
    static bool isNullOrEmpty(const std::optional<QString>& text);
    static bool isNullOrEmpty(const QVariant& value);

    // Makes a text fit between the quotes of a JSON string value: backslash and quotation mark are
    // escaped, CR becomes \r, tab, line feed and vertical tab become \n, form feed becomes \f, bell and
    // NUL are dropped, every other character below U+0020 becomes \u00xx (lower-case hexadecimal, ESC
    // is \u001b). Every other character passes unchanged.
    static std::optional<QString> removeEscapeCharacterOfString(const std::optional<QString>& text);

    // The text of UTF-8 bytes; nothing when they are not UTF-8.
    static std::optional<QString> decodeUtf8(const QByteArray& bytes);
};
