#include "DateHelper.h"

#include "Logger.h"
#include "StringHelper.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// The cloud writes "yyyy-MM-dd'T'HH:mm:ss" or "yyyy-MM-dd'T'HH:mm:ss.SSS" (Unicode pattern letters; Qt
// spells the milliseconds "zzz"). Date and time are read apart and joined in the zone we are given, so the
// zone the process happens to run in never takes part (QDateTime::fromString reads in it and refuses its
// daylight-saving gaps).
constexpr qsizetype kShortLength = 19; // "2024-01-02T03:04:05"
constexpr qsizetype kLongLength = 23;  // "2024-01-02T03:04:05.678"
constexpr qsizetype kLongestShortText = 22;
constexpr qsizetype kTimeStart = 11;

// The latest whole second a QDateTime holds: its milliseconds since the epoch are a qint64.
constexpr qint64 kLatestSecond = std::numeric_limits<qint64>::max() / 1000;

constexpr qint64 kEightHoursMs = 28800 * qint64(1000);
constexpr int kMinute = 60;
constexpr int kHour = 3600;
constexpr int kDay = 86400;
constexpr int kMonth = 2592000; // 30 days
constexpr int kYear = 31536000; // 365 days

// The leading decimal number of the text: leading white space skipped, an optional sign, then ASCII
// digits; saturated at the qint64 limits. 0 when there are no digits.
qint64 leadingInteger(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulated as a negative number, whose range holds the magnitude of the qint64 minimum.
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const int digit = text[i].unicode() - u'0';
        if (value < (std::numeric_limits<qint64>::min() + digit) / 10) {
            value = std::numeric_limits<qint64>::min();
            break;
        }
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == std::numeric_limits<qint64>::min() ? std::numeric_limits<qint64>::max() : -value;
}

qint64 saturatingAdd(qint64 a, qint64 b) {
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return sum;
}

qint64 saturatingSub(qint64 a, qint64 b) {
    qint64 difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b < 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return difference;
}

int clampToInt32(qint64 value) {
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// printf's "%.3f", independent of the C locale that QCoreApplication sets from the environment.
QString fixedThreeDecimals(double value) {
    char buffer[400]; // the largest double has 309 digits before the point
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString padded(qint64 number, qsizetype width) {
    return QString::number(number).rightJustified(width, u'0');
}

const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
const char* const kWeekdayNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                     "Friday", "Saturday", "Sunday"};

// One name in the form a run of `count` letters asks for: 3 the first three letters, 4 the whole name,
// 5 the first letter, 6 (weekdays only) the first two.
QString nameForm(const char* name, qsizetype count) {
    const QString whole = QString::fromLatin1(name);
    if (count == 4)
        return whole;
    if (count == 5)
        return whole.left(1);
    if (count >= 6)
        return whole.left(2);
    return whole.left(3);
}

// Appends one field of ParseToString; `count` is the length of the run of `letter`.
void appendField(QString& out, char16_t letter, qsizetype count, const QDate& date, const QTime& time) {
    switch (letter) {
    case u'y': {
        const int yearOfEra = date.year() < 0 ? -date.year() : date.year();
        out += count == 2 ? padded(yearOfEra % 100, 2) : padded(yearOfEra, count);
        return;
    }
    case u'M':
    case u'L':
        if (count <= 2)
            out += padded(date.month(), count);
        else
            out += nameForm(kMonthNames[date.month() - 1], std::min<qsizetype>(count, 5));
        return;
    case u'd':
        out += padded(date.day(), count);
        return;
    case u'E':
        out += nameForm(kWeekdayNames[date.dayOfWeek() - 1], count <= 3 ? 3 : count);
        return;
    case u'a':
        out += time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
        return;
    case u'H':
        out += padded(time.hour(), count);
        return;
    case u'k':
        out += padded(time.hour() == 0 ? 24 : time.hour(), count);
        return;
    case u'h':
        out += padded(time.hour() % 12 == 0 ? 12 : time.hour() % 12, count);
        return;
    case u'K':
        out += padded(time.hour() % 12, count);
        return;
    case u'm':
        out += padded(time.minute(), count);
        return;
    case u's':
        out += padded(time.second(), count);
        return;
    case u'S': {
        const QString milliseconds = padded(time.msec(), 3);
        out += count <= 3 ? milliseconds.left(count) : milliseconds.leftJustified(count, u'0');
        return;
    }
    default:
        out += QString(count, QChar(letter));
    }
}

bool isAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace

std::optional<QDateTime> DateHelper::DateFromAPIValue(const std::optional<QString>& text) {
    return DateFromAPIValue(text, QTimeZone::systemTimeZone(), QDateTime::currentDateTimeUtc());
}

std::optional<QDateTime> DateHelper::DateFromAPIValue(const std::optional<QString>& text,
                                                      const QTimeZone& zone, const QDateTime& now) {
    if (StringHelper::isNullOrEmpty(text) || text->size() < kShortLength)
        return std::nullopt;
    const bool withMilliseconds = text->size() > kLongestShortText;
    const QStringView head = QStringView(*text).left(withMilliseconds ? kLongLength : kShortLength);
    if (head[kTimeStart - 1] != u'T')
        return std::nullopt;
    const QDate date = QDate::fromString(head.left(kTimeStart - 1).toString(), QStringLiteral("yyyy-MM-dd"));
    const QTime time =
        QTime::fromString(head.mid(kTimeStart).toString(),
                          withMilliseconds ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime wallClock(date, time, zone);
    // A time the zone skips is not valid in it.
    if (!wallClock.isValid() || wallClock.date() != date || wallClock.time() != time)
        return std::nullopt;
    const QDateTime shifted = wallClock.toUTC().addSecs(zone.offsetFromUtc(now));
    if (!shifted.isValid())
        return std::nullopt;
    return shifted;
}

QDateTime DateHelper::DateFromJsonValue(const QString& text) {
    qint64 count = 0;
    const qsizetype open = text.indexOf(u'(');
    if (open >= 0) {
        const qsizetype close = text.indexOf(u')', open + 1);
        const QStringView inside = QStringView(text).mid(open + 1, close < 0 ? -1 : close - open - 1);
        count = leadingInteger(inside);
    }
    const auto unsignedCount = static_cast<quint64>(count);
    LOG_INFO("{}", unsignedCount);
    const quint64 seconds = unsignedCount / 1000;
    return QDateTime::fromSecsSinceEpoch(qint64(std::min<quint64>(seconds, quint64(kLatestSecond))), Qt::UTC);
}

QString DateHelper::ParseSecondToTimeText(double seconds) {
    int whole = 0;
    if (std::isnan(seconds))
        whole = 0;
    else if (seconds >= double(std::numeric_limits<int>::max()))
        whole = std::numeric_limits<int>::max();
    else if (seconds <= double(std::numeric_limits<int>::min()))
        whole = std::numeric_limits<int>::min();
    else
        whole = int(seconds); // truncates toward zero
    const double fraction = seconds - whole;
    return CreateTimeString(whole / kDay, whole % kDay / kHour, whole % kHour / kMinute, whole % kMinute,
                            fraction);
}

QString DateHelper::ParseDateToReadableText(const QDateTime& date) {
    return ParseDateToReadableText(date, QDateTime::currentDateTimeUtc());
}

QString DateHelper::ParseDateToReadableText(const QDateTime& date, const QDateTime& now) {
    int d = 0;
    if (date.isValid() && now.isValid()) {
        const qint64 laterMs = saturatingAdd(now.toMSecsSinceEpoch(), kEightHoursMs);
        d = clampToInt32(saturatingSub(laterMs, date.toMSecsSinceEpoch()) / 1000);
    }
    if (d <= 0)
        return QStringLiteral("刚刚");
    if (d < kMinute)
        return QString::number(d) + QStringLiteral("秒前");
    if (d < kHour)
        return QString::number(d / kMinute) + QStringLiteral("分钟前");
    if (d < kDay)
        return QString::number(d / kHour) + QStringLiteral("小时前");
    if (d < kMonth)
        return QString::number(d / kDay) + QStringLiteral("天前");
    if (d < kYear)
        return QString::number(d / kMonth) + QStringLiteral("月前");
    return QString::number(d / kYear) + QStringLiteral("年前");
}

QString DateHelper::CreateTimeString(int days, int hours, int minutes, int seconds, double fraction) {
    QString text;
    if (days >= 1)
        text = QString::number(days) + QStringLiteral("天") + QString::number(hours) + QStringLiteral("时");
    else if (hours >= 1)
        text = QString::number(hours) + QStringLiteral("时");
    if (days >= 1 || hours >= 1 || minutes >= 1)
        text += QString::number(minutes) + QStringLiteral("分");
    return text + fixedThreeDecimals(seconds + fraction) + QStringLiteral("秒");
}

DateComponents DateHelper::ParseToComponents(const QDateTime& date) {
    return ParseToComponents(date, QTimeZone::systemTimeZone());
}

DateComponents DateHelper::ParseToComponents(const QDateTime& date, const QTimeZone& zone) {
    if (!date.isValid())
        return {};
    const QDateTime local = date.toTimeZone(zone);
    if (!local.isValid())
        return {};
    const QDate day = local.date();
    const QTime time = local.time();
    // QDate counts weekdays from Monday (1) to Sunday (7).
    return {day.year(),
            day.month(),
            day.day(),
            time.hour(),
            time.minute(),
            time.second(),
            day.dayOfWeek() % 7 + 1};
}

QString DateHelper::ParseToString(const QDateTime& date, const QString& pattern) {
    if (!date.isValid())
        return {};
    const QDateTime utc = date.toUTC();
    const QDate day = utc.date();
    const QTime time = utc.time();
    QString out;
    const qsizetype n = pattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < n && pattern[i + 1] == u'\'') { // '' outside quotes
                out += u'\'';
                i += 2;
                continue;
            }
            for (++i; i < n; ++i) {
                if (pattern[i] != u'\'') {
                    out += pattern[i];
                } else if (i + 1 < n && pattern[i + 1] == u'\'') {
                    out += u'\'';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            continue;
        }
        if (!isAsciiLetter(c)) {
            out += c;
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && pattern[i + run] == c)
            ++run;
        appendField(out, c.unicode(), run, day, time);
        i += run;
    }
    return out;
}
