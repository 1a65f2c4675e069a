#include "core/DateHelper.h"

#include "LogRecorder.h"

#include <gtest/gtest.h>

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second, int msec = 0) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::UTC);
}

} // namespace

// The text read by its length as a wall clock in the zone, shifted by the zone's offset now.
TEST(DateHelper, CloudDates) {
    const QTimeZone newYork("America/New_York"), zone(19800);
    const QDateTime winter = utc(2024, 1, 15, 12, 0, 0), summer = utc(2024, 7, 15, 12, 0, 0);
    const std::tuple<const char*, QTimeZone, QDateTime, std::optional<QDateTime>> cases[] = {
        {"2024-01-02T03:04:0", zone, winter, std::nullopt},
        {"2024-01-02T03:04:05", zone, winter, utc(2024, 1, 2, 3, 4, 5)},
        {"2024-01-02T03:04:05.67", zone, winter, utc(2024, 1, 2, 3, 4, 5)},
        {"2024-01-02T03:04:05.678 and more", zone, winter, utc(2024, 1, 2, 3, 4, 5, 678)},
        {"2024-07-01T12:00:00", newYork, summer, utc(2024, 7, 1, 12, 0, 0)},
        {"2024-07-01T12:00:00", newYork, winter, utc(2024, 7, 1, 11, 0, 0)},
        {"2024-01-10T12:00:00", newYork, summer, utc(2024, 1, 10, 13, 0, 0)},
        {"2024-03-10T02:30:00", newYork, winter, std::nullopt}, // skipped by the zone
        {"2024-11-03T01:30:00", newYork, summer, utc(2024, 11, 3, 2, 30, 0)},
        {"2024-01-02T03:04:05+08:00", zone, winter, std::nullopt},
        {"2024-01-02 03:04:05", zone, winter, std::nullopt},
        {"2023-02-29T03:04:05", zone, winter, std::nullopt},
        {"2024-01-02T03:04:05.12x", zone, winter, std::nullopt},
    };
    for (const auto& [text, in, now, date] : cases)
        EXPECT_EQ(DateHelper::DateFromAPIValue(QString::fromUtf8(text), in, now), date) << text;
    EXPECT_FALSE(DateHelper::DateFromAPIValue(std::nullopt, zone, winter));
}

// The whole seconds of the count after the first "(", logged; past what a date holds, the latest date.
TEST(DateHelper, JsonDates) {
    LogRecorder log;
    const qint64 latest = std::numeric_limits<qint64>::max() / 1000;
    const std::tuple<const char*, qint64, const char*> cases[] = {
        {"/Date(1700000000999+0800)/", 1700000000, "1700000000999"},
        {"x(12000)y(34000)", 12, "12000"},
        {"/Date(7000", 7, "7000"},
        {"1700000000123", 0, "0"},
        {"/Date(1)2000)/", 0, "1"},
        {"(123456789012345678901234567890)", latest, "9223372036854775807"},
        {"(-1000)", latest, "18446744073709550616"},
        {"(9223372036854774999)", latest - 1, "9223372036854774999"},
    };
    std::vector<std::string> counts;
    for (const auto& [text, seconds, logged] : cases) {
        EXPECT_EQ(DateHelper::DateFromJsonValue(text), QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC))
            << text;
        counts.push_back(logged);
    }
    EXPECT_EQ(log.at(spdlog::level::info), counts);
}

TEST(DateHelper, ReadableDifferenceToEightHoursFromNow) {
    const QDateTime now = utc(2024, 5, 1, 0, 0, 0), moment = now.addSecs(28800);
    const std::pair<qint64, const char*> cases[] = {
        {-10000, "刚刚"},       {500, "刚刚"},         {1999, "1秒前"},         {60000, "1分钟前"},
        {3599000, "59分钟前"},  {3600000, "1小时前"},  {86399000, "23小时前"},  {86400000, "1天前"},
        {2591999000, "29天前"}, {2592000000, "1月前"}, {31535999000, "12月前"}, {94608000000, "3年前"}};
    for (const auto& [msBefore, text] : cases)
        EXPECT_EQ(DateHelper::ParseDateToReadableText(moment.addMSecs(-msBefore), now), text) << msBefore;
    const QDateTime earliest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min(), Qt::UTC);
    const QDateTime latest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), Qt::UTC);
    EXPECT_EQ(DateHelper::ParseDateToReadableText(earliest, latest), "68年前"); // at the 32-bit limit
    EXPECT_EQ(DateHelper::ParseDateToReadableText(QDateTime(), now), "刚刚");
    EXPECT_EQ(DateHelper::ParseDateToReadableText(QDateTime::currentDateTimeUtc()), "8小时前");
}

TEST(DateHelper, DurationsAndComponents) {
    const std::pair<double, const char*> cases[] = {
        {90061.5, "1天1时1分1.500秒"}, {3600, "1时0分0.000秒"}, {61, "1分1.000秒"},
        {10800.0626, "3时0分0.063秒"}, {-3725.25, "-5.250秒"},  {2147483647.5, "24855天3时14分7.500秒"},
        {-2147483648.25, "-8.250秒"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(DateHelper::ParseSecondToTimeText(seconds), text) << seconds;
    EXPECT_EQ(DateHelper::CreateTimeString(-1, 2, -3, 4, 0.0), "2时-3分4.000秒");

    const QDateTime instant = utc(2024, 2, 29, 23, 30, 15); // a Thursday
    EXPECT_EQ(DateHelper::ParseToComponents(instant, QTimeZone("Asia/Shanghai")),
              (DateComponents{2024, 3, 1, 7, 30, 15, 6}));
    EXPECT_EQ(DateHelper::ParseToComponents(utc(2024, 3, 3, 0, 0, 0), QTimeZone(0)).weekday, 1); // Sunday
    EXPECT_EQ(DateHelper::ParseToComponents(QDateTime(), QTimeZone(0)), DateComponents{});
}

TEST(DateHelper, PatternsAreWrittenInUtc) {
    const QDateTime date(QDate(2024, 1, 2), QTime(23, 4, 5, 678), QTimeZone(8 * 3600)); // 15:04 UTC, Tuesday
    const std::pair<const char*, const char*> cases[] = {
        {"yyyy-MM-dd'T'HH:mm:ss.SSS", "2024-01-02T15:04:05.678"},
        {"yy/M/d H:m:s y yyyyy", "24/1/2 15:4:5 2024 02024"},
        {"h:mm a|hh|K|k|HHH", "3:04 PM|03|3|15|015"},
        {"EEE d MMM|EEEE MMMM LLL", "Tue 2 Jan|Tuesday January Jan"},
        {"E EEEEE EEEEEE MMMMM", "Tue T Tu J"},
        {"S SS SSSS", "6 67 6780"},
        {"'at' h 'o''clock' ''h''", "at 3 o'clock '3'"},
        {"yyyy 'unclosed HH", "2024 unclosed HH"},
        {"yyyyMMddZ xX年", "20240102Z xX年"},
    };
    for (const auto& [pattern, text] : cases)
        EXPECT_EQ(DateHelper::ParseToString(date, pattern), text) << pattern;
    EXPECT_EQ(DateHelper::ParseToString(utc(2024, 6, 30, 0, 7, 9), "h K k H a"), "12 0 24 0 AM");
    EXPECT_EQ(DateHelper::ParseToString(QDateTime(), "yyyy"), QString());
}
