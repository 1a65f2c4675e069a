#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <optional>

// Calendar fields of one instant in one time zone. The weekday counts from Sunday: 1 is Sunday, 2 is
// Monday, ..., 7 is Saturday. Years before the common era are negative (1 BC is -1), as QDate has them.
struct DateComponents {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;

    friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

// Reading and writing the dates exchanged with the cloud service. No state: every member may be called
// from any thread. Dates are instants; the ones returned here are QDateTime values in UTC.
class DateHelper {
public:
    // The cloud's JSON date: "yyyy-MM-dd'T'HH:mm:ss" (the first 19 characters of a text of 19 to 22
    // characters) or "yyyy-MM-dd'T'HH:mm:ss.SSS" (the first 23 of a longer one), read as a wall-clock time
    // in the local time zone, plus that zone's current offset from GMT. Outside a daylight-saving change
    // this is the instant at which a UTC clock shows the text's date and time.
    // None for an absent text, a text shorter than 19 characters, one whose leading part does not fit the
    // pattern, and a wall-clock time that the local zone skips (a daylight-saving gap).
    static std::optional<QDateTime> DateFromAPIValue(const std::optional<QString>& text);
    // The same with the local time zone and the current time given.
    static std::optional<QDateTime> DateFromAPIValue(const std::optional<QString>& text,
                                                     const QTimeZone& zone, const QDateTime& now);

    // A millisecond count written between parentheses, as in "/Date(1700000000123+0800)/": the leading
    // decimal number after the first "(" (up to the first ")" after it, or the end of the text when there is
    // none) is logged and taken as an unsigned 64-bit count; its whole seconds after 1970-01-01 00:00 UTC
    // are the result. A text without "(" or without a number there reads as count 0, the epoch. A count
    // past the latest instant a QDateTime holds (a negative one among them, read as unsigned) gives that
    // latest instant.
    static QDateTime DateFromJsonValue(const QString& text);

    // A duration as days, hours, minutes and seconds (see CreateTimeString). The duration is truncated
    // toward zero to a signed 32-bit count of whole seconds (clamped at its limits, NaN counting as 0);
    // what the truncation dropped is the fraction.
    static QString ParseSecondToTimeText(double seconds);

    // How long before the current time plus 8 hours the date was: "刚刚", "5秒前", "3分钟前", "2小时前",
    // "4天前", "1月前" (30 days) or "2年前" (365 days). The difference in seconds is truncated toward zero
    // and clamped to a signed 32-bit integer. An invalid date counts as no difference.
    static QString ParseDateToReadableText(const QDateTime& date);
    // The same with the current time given.
    static QString ParseDateToReadableText(const QDateTime& date, const QDateTime& now);

    // "<days>天<hours>时" when days >= 1, else "<hours>时" when hours >= 1; then "<minutes>分" when any of
    // days, hours or minutes is >= 1; always "<seconds + fraction, three decimals>秒".
    static QString CreateTimeString(int days, int hours, int minutes, int seconds, double fraction);

    // The date's Gregorian calendar fields in the system's current time zone; all zero for an invalid date.
    static DateComponents ParseToComponents(const QDateTime& date);
    // The same in the given time zone.
    static DateComponents ParseToComponents(const QDateTime& date, const QTimeZone& zone);

    // The date written in UTC with a Unicode date pattern. Runs of one ASCII letter are fields, the run's
    // length choosing the form:
    //   y     year; "yy" its last two digits, otherwise zero-padded to the run's length
    //   M, L  month; 1-2 letters the number, 3 "Jan", 4 "January", 5 or more "J"
    //   d     day of the month          E   weekday; 1-3 "Mon", 4 "Monday", 5 "M", 6 or more "Mo"
    //   H     hour 0-23                 k   hour 1-24
    //   h     hour 1-12                 K   hour 0-11
    //   m     minute                    s   second
    //   S     fraction of the second, truncated (or zero-extended) to the run's length
    //   a     "AM" or "PM"
    // Numbers are zero-padded to the run's length. Text between single quotes is literal, and '' is one
    // quote; an unclosed quote runs to the end. Other letters and all other characters are copied as they
    // are. Names are English. An invalid date gives the empty text.
    static QString ParseToString(const QDateTime& date, const QString& pattern);
};
