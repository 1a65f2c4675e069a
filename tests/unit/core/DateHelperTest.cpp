#include "core/DateHelper.h"

#include "LogRecorder.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second, int msec = 0) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::UTC);
}

const QDateTime kWinter = utc(2024, 1, 15, 12, 0, 0);
const QDateTime kSummer = utc(2024, 7, 15, 12, 0, 0);

} // namespace

TEST(DateHelper, CloudDatesAreReadByLengthAndShiftedByTheZonesOffsetNow) {
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(newYork.isValid());
    const struct {
        const char* text;
        QTimeZone zone;
        QDateTime now;
        std::optional<QDateTime> date;
    } cases[] = {
        {"2024-01-02T03:04:0", QTimeZone(3600), kWinter, std::nullopt}, // 18 characters
        {"2024-01-02T03:04:05", QTimeZone(3600), kWinter, utc(2024, 1, 2, 3, 4, 5)},
        {"2024-01-02T03:04:05.67", QTimeZone(-32400), kWinter, utc(2024, 1, 2, 3, 4, 5)}, // 22: no fraction
        {"2024-01-02T03:04:05.678", QTimeZone(19800), kWinter, utc(2024, 1, 2, 3, 4, 5, 678)},
        {"2024-12-31T23:59:59.999 and more", QTimeZone(0), kWinter, utc(2024, 12, 31, 23, 59, 59, 999)},
        // Summer time read, the winter offset added: an hour early; and the other way round.
        {"2024-07-01T12:00:00", newYork, kSummer, utc(2024, 7, 1, 12, 0, 0)},
        {"2024-07-01T12:00:00", newYork, kWinter, utc(2024, 7, 1, 11, 0, 0)},
        {"2024-01-10T12:00:00", newYork, kSummer, utc(2024, 1, 10, 13, 0, 0)},
        {"2024-03-10T02:30:00", newYork, kWinter, std::nullopt}, // skipped by the zone
        {"2024-11-03T01:30:00", newYork, kSummer, utc(2024, 11, 3, 2, 30, 0)},
        {"2024-01-02T03:04:05+08:00", QTimeZone(0), kWinter, std::nullopt},
        {"2024-01-02 03:04:05", QTimeZone(0), kWinter, std::nullopt},
        {"2023-02-29T03:04:05", QTimeZone(0), kWinter, std::nullopt},
        {"2024-01-02T24:00:00", QTimeZone(0), kWinter, std::nullopt},
        {"2024-1-02T03:04:05.123", QTimeZone(0), kWinter, std::nullopt},
        {"2024-01-02T03:04:05.12x", QTimeZone(0), kWinter, std::nullopt},
        {"+024-01-02T03:04:05", QTimeZone(0), kWinter, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateHelper::DateFromAPIValue(QString::fromUtf8(c.text), c.zone, c.now), c.date) << c.text;
    EXPECT_FALSE(DateHelper::DateFromAPIValue(std::nullopt, QTimeZone(0), kWinter));
    EXPECT_FALSE(DateHelper::DateFromAPIValue(QString(30, QChar(0xd800)), QTimeZone(0), kWinter));

    // Without a zone: the system's, shifted by how far its offset now differs from the one at that date.
    const QDateTime textTime = utc(2021, 6, 1, 8, 30, 0);
    const QTimeZone system = QTimeZone::systemTimeZone();
    const qint64 shift = system.offsetFromUtc(QDateTime::currentDateTimeUtc()) -
                         system.offsetFromUtc(QDateTime(textTime.date(), textTime.time(), system));
    EXPECT_EQ(DateHelper::DateFromAPIValue(QStringLiteral("2021-06-01T08:30:00")), textTime.addSecs(shift));
}

TEST(DateHelper, JsonDatesAreTheWholeSecondsOfTheCountInParentheses) {
    LogRecorder log;
    const qint64 latest = std::numeric_limits<qint64>::max() / 1000;
    const struct {
        const char* text;
        qint64 seconds;
        const char* logged;
    } cases[] = {
        {"/Date(1700000000999+0800)/", 1700000000, "1700000000999"},
        {"( +1700000000500)", 1700000000, "1700000000500"},
        {"x(12000)y(34000)", 12, "12000"},
        {")(5000)", 5, "5000"},
        {"/Date(7000", 7, "7000"},
        {"1700000000123", 0, "0"},
        {"/Date(abc123)/", 0, "0"},
        {"/Date(1)2000)/", 0, "1"},
        {"(9223372036854775807)", latest, "9223372036854775807"},
        {"(123456789012345678901234567890)", latest, "9223372036854775807"},
        {"(-1000)", latest, "18446744073709550616"},
        {"(9223372036854774999)", latest - 1, "9223372036854774999"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateHelper::DateFromJsonValue(QString::fromUtf8(c.text)),
                  QDateTime::fromSecsSinceEpoch(c.seconds, Qt::UTC))
            << c.text;
    const auto logged = log.at(spdlog::level::info);
    ASSERT_EQ(logged.size(), std::size(cases));
    for (size_t i = 0; i < logged.size(); ++i)
        EXPECT_EQ(logged[i], cases[i].logged);
}

TEST(DateHelper, ReadableDifferenceToEightHoursFromNow) {
    const QDateTime now = utc(2024, 5, 1, 0, 0, 0);
    const QDateTime moment = now.addSecs(28800);
    const struct {
        qint64 msBefore;
        const char* text;
    } cases[] = {
        {-10000, "刚刚"},           {500, "刚刚"},           {1999, "1秒前"},         {59900, "59秒前"},
        {60000, "1分钟前"},         {3599000, "59分钟前"},   {3600000, "1小时前"},    {86399000, "23小时前"},
        {86400000, "1天前"},        {2591999000, "29天前"},  {2592000000, "1月前"},   {31535999000, "12月前"},
        {31536000000, "1年前"},     {94608000000, "3年前"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateHelper::ParseDateToReadableText(moment.addMSecs(-c.msBefore), now), QString::fromUtf8(c.text))
            << c.msBefore;
    // Past the signed 32-bit range the difference stays at its limit, 68 years.
    const QDateTime earliest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min(), Qt::UTC);
    const QDateTime latest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), Qt::UTC);
    EXPECT_EQ(DateHelper::ParseDateToReadableText(earliest, latest), QStringLiteral("68年前"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(latest, earliest), QStringLiteral("刚刚"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(QDateTime(), now), QStringLiteral("刚刚"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(QDateTime::currentDateTimeUtc()), QStringLiteral("8小时前"));
}

TEST(DateHelper, DurationText) {
    const std::pair<double, const char*> cases[] = {
        {86400 + 3600 + 60 + 1.5, "1天1时1分1.500秒"},
        {3600, "1时0分0.000秒"},
        {59.25, "59.250秒"},
        {61, "1分1.000秒"},
        {2 * 86400 + 59, "2天0时0分59.000秒"},
        {3 * 3600 + 0.0626, "3时0分0.063秒"},
        {-(3600 + 2 * 60 + 5.25), "-5.250秒"}, // negative units left out
        {2147483647.5, "24855天3时14分7.500秒"},
        {-2147483648.25, "-8.250秒"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(DateHelper::ParseSecondToTimeText(seconds), QString::fromUtf8(text)) << seconds;
    EXPECT_EQ(DateHelper::CreateTimeString(-1, 2, -3, 4, 0.0), QStringLiteral("2时-3分4.000秒"));
    EXPECT_EQ(DateHelper::CreateTimeString(0, 0, 0, 59, 0.9999), QStringLiteral("60.000秒"));
}

TEST(DateHelper, ComponentsInAZone) {
    const QDateTime instant = utc(2024, 2, 29, 23, 30, 15);
    EXPECT_EQ(DateHelper::ParseToComponents(instant, QTimeZone("Asia/Shanghai")),
              (DateComponents{2024, 3, 1, 7, 30, 15, 6})); // Friday
    EXPECT_EQ(DateHelper::ParseToComponents(utc(2024, 3, 3, 0, 0, 0), QTimeZone(0)).weekday, 1); // Sunday
    EXPECT_EQ(DateHelper::ParseToComponents(utc(2024, 3, 9, 0, 0, 0), QTimeZone(0)).weekday, 7);
    EXPECT_EQ(DateHelper::ParseToComponents(QDateTime(), QTimeZone(0)), DateComponents{});
    EXPECT_EQ(DateHelper::ParseToComponents(instant).hour, instant.toLocalTime().time().hour());
}

TEST(DateHelper, PatternsAreWrittenInUtc) {
    // 15:04:05.678 UTC, a Tuesday, given in UTC+8.
    const QDateTime date(QDate(2024, 1, 2), QTime(23, 4, 5, 678), QTimeZone(8 * 3600));
    const std::pair<const char*, const char*> cases[] = {
        {"yyyy-MM-dd'T'HH:mm:ss.SSS", "2024-01-02T15:04:05.678"},
        {"yy/M/d H:m:s", "24/1/2 15:4:5"},
        {"y yyy yyyyy", "2024 2024 02024"},
        {"h:mm a|hh|K|k|HHH", "3:04 PM|03|3|15|015"},
        {"EEE, d MMM yyyy", "Tue, 2 Jan 2024"},
        {"EEEE MMMM LLL", "Tuesday January Jan"},
        {"E EEEEE EEEEEE MMMMM", "Tue T Tu J"},
        {"S SS SSS SSSSS", "6 67 678 67800"},
        {"yyyy年M月d日", "2024年1月2日"},
        {"'at' h 'o''clock' ''h''", "at 3 o'clock '3'"},
        {"yyyy 'unclosed HH", "2024 unclosed HH"},
        {"yyyyMMddZ xX", "20240102Z xX"},
    };
    for (const auto& [pattern, text] : cases)
        EXPECT_EQ(DateHelper::ParseToString(date, QString::fromUtf8(pattern)), QString::fromUtf8(text)) << pattern;
    EXPECT_EQ(DateHelper::ParseToString(utc(2024, 6, 30, 0, 7, 9), "h K k H a"), QStringLiteral("12 0 24 0 AM"));
    EXPECT_EQ(DateHelper::ParseToString(QDateTime(QDate(-44, 3, 15), QTime(12, 0), Qt::UTC), "y"), "44");
    EXPECT_EQ(DateHelper::ParseToString(QDateTime(), QStringLiteral("yyyy")), QString());
}
