#include "Coercion.h"

#include <cmath>
#include <limits>

namespace Coercion {

namespace {

bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

qint64 clampToInt64(double d) {
    if (std::isnan(d))
        return 0;
    if (d >= 9.2233720368547758e18)
        return std::numeric_limits<qint64>::max();
    if (d <= -9.2233720368547758e18)
        return std::numeric_limits<qint64>::min();
    return qint64(d);
}

qsizetype skipBlanks(const QString& s) {
    qsizetype i = 0;
    while (i < s.size() && s[i].isSpace())
        ++i;
    return i;
}

qint64 leadingInteger(const QString& s) {
    qsizetype i = skipBlanks(s);
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        negative = s[i++] == u'-';
    quint64 magnitude = 0;
    bool overflow = false;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        const unsigned digit = s[i].unicode() - u'0';
        if (magnitude > (std::numeric_limits<quint64>::max() - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    if (overflow || magnitude > limit)
        magnitude = limit;
    return negative ? qint64(0 - magnitude) : qint64(magnitude);
}

double leadingDouble(const QString& s) {
    const qsizetype start = skipBlanks(s);
    qsizetype end = start;
    if (end < s.size() && (s[end] == u'+' || s[end] == u'-'))
        ++end;
    bool digits = false, point = false;
    for (; end < s.size(); ++end) {
        if (s[end].isDigit() && s[end].unicode() < 128)
            digits = true;
        else if (s[end] == u'.' && !point)
            point = true;
        else
            break;
    }
    if (!digits)
        return 0;
    return s.mid(start, end - start).toDouble();
}

} // namespace

qint64 integerValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return leadingInteger(value.toString());
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return clampToInt64(value.toDouble());
    if (value.typeId() == QMetaType::ULongLong)
        return qint64(std::min<quint64>(value.toULongLong(), quint64(std::numeric_limits<qint64>::max())));
    if (isNumber(value))
        return value.toLongLong();
    return 0;
}

double doubleValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return leadingDouble(value.toString());
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    if (isNumber(value))
        return value.toDouble();
    return 0;
}

bool boolValue(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString s = value.toString();
        const qsizetype i = skipBlanks(s);
        if (i >= s.size())
            return false;
        const QChar c = s[i];
        if (c == u'Y' || c == u'y' || c == u'T' || c == u't')
            return true;
        return leadingInteger(s) != 0;
    }
    if (isNumber(value))
        return value.toDouble() != 0.0;
    return false;
}

} // namespace Coercion
