#include "StringHelper.h"

#include <QStringDecoder>

bool StringHelper::isNullOrEmpty(const std::optional<QString>& text) {
    return !text || text->isEmpty();
}

bool StringHelper::isNullOrEmpty(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return true;
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString().isEmpty();
    case QMetaType::QByteArray:
        return value.toByteArray().isEmpty();
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        return value.toList().isEmpty();
    case QMetaType::QVariantMap:
        return value.toMap().isEmpty();
    default:
        return false; // numbers and the like have no length
    }
}

std::optional<QString> StringHelper::removeEscapeCharacterOfString(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    // One pass over the text gives the same result as the nine replacements in a row, because no
    // replacement puts in a character that a later one replaces again.
    QString out;
    out.reserve(text->size() + text->size() / 8);
    for (const QChar c : *text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
        case u'\n':
        case u'\v':
            out += QStringLiteral("\\n");
            break;
        case u'\f':
            out += QStringLiteral("\\f");
            break;
        case u'\a':
        case u'\0':
            break;
        default:
            if (c.unicode() < 0x20) // JSON allows no raw control character in a string
                out += QStringLiteral("\\u00") + QChar(u"0123456789abcdef"[c.unicode() >> 4]) +
                       QChar(u"0123456789abcdef"[c.unicode() & 0xf]);
            else
                out += c;
        }
    }
    return out;
}

std::optional<QString> StringHelper::decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
