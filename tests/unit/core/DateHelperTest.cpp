#include "core/DateHelper.h"

#include "core/Logger.h"

#include <gtest/gtest.h>
#include <limits>
#include <spdlog/sinks/ringbuffer_sink.h>

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second, int msec = 0) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::UTC);
}

std::optional<QDateTime> fromAPI(const QString& text, const QTimeZone& zone, const QDateTime& now) {
    return DateHelper::DateFromAPIValue(std::optional<QString>(text), zone, now);
}

const QDateTime kWinter = utc(2024, 1, 15, 12, 0, 0);
const QDateTime kSummer = utc(2024, 7, 15, 12, 0, 0);

} // namespace

// Which part of the text is read, by its length.
TEST(DateHelperFromAPIValue, LengthChoosesThePattern) {
    const QTimeZone shanghai("Asia/Shanghai");
    ASSERT_TRUE(shanghai.isValid());

    EXPECT_FALSE(DateHelper::DateFromAPIValue(std::nullopt, shanghai, kWinter));
    EXPECT_FALSE(fromAPI(QString(), shanghai, kWinter));
    EXPECT_FALSE(fromAPI(QStringLiteral(""), shanghai, kWinter));
    EXPECT_FALSE(fromAPI(QStringLiteral("2024-01-02T03:04:0"), shanghai, kWinter)); // 18 characters

    // 19 characters: the instant at which a UTC clock shows the text.
    EXPECT_EQ(fromAPI(QStringLiteral("2024-01-02T03:04:05"), shanghai, kWinter), utc(2024, 1, 2, 3, 4, 5));
    // 20 to 22: the first 19 only, the fraction dropped.
    EXPECT_EQ(fromAPI(QStringLiteral("2024-01-02T03:04:05Z"), shanghai, kWinter), utc(2024, 1, 2, 3, 4, 5));
    EXPECT_EQ(fromAPI(QStringLiteral("2024-01-02T03:04:05.67"), shanghai, kWinter), utc(2024, 1, 2, 3, 4, 5));
    // 23 and more: the first 23, milliseconds included.
    EXPECT_EQ(fromAPI(QStringLiteral("2024-01-02T03:04:05.678"), shanghai, kWinter),
              utc(2024, 1, 2, 3, 4, 5, 678));
    EXPECT_EQ(fromAPI(QStringLiteral("2024-01-02T03:04:05.6789012"), shanghai, kWinter),
              utc(2024, 1, 2, 3, 4, 5, 678));
    EXPECT_EQ(fromAPI(QStringLiteral("2024-12-31T23:59:59.999 and more text"), shanghai, kWinter),
              utc(2024, 12, 31, 23, 59, 59, 999));
}

// The zone's offset now is what is added, not its offset at the text's date.
TEST(DateHelperFromAPIValue, AddsTheCurrentOffsetOfTheZone) {
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(newYork.isValid());
    const QString july = QStringLiteral("2024-07-01T12:00:00");
    const QString january = QStringLiteral("2024-01-10T12:00:00");

    // Same offset then and now: the UTC clock reading.
    EXPECT_EQ(fromAPI(july, newYork, kSummer), utc(2024, 7, 1, 12, 0, 0));
    EXPECT_EQ(fromAPI(january, newYork, kWinter), utc(2024, 1, 10, 12, 0, 0));
    // Read in summer time (UTC-4) but shifted by the winter offset (UTC-5): an hour early, and the other
    // way round an hour late.
    EXPECT_EQ(fromAPI(july, newYork, kWinter), utc(2024, 7, 1, 11, 0, 0));
    EXPECT_EQ(fromAPI(january, newYork, kSummer), utc(2024, 1, 10, 13, 0, 0));

    // Zones without daylight saving, east and west of Greenwich, all give the UTC clock reading.
    for (const int offset : {0, 3600 * 5 + 1800, -3600 * 9, 3600 * 14}) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(fromAPI(QStringLiteral("2023-03-04T05:06:07.089"), QTimeZone(offset), kWinter),
                  utc(2023, 3, 4, 5, 6, 7, 89));
    }

    // A wall-clock time the zone skips does not exist there.
    EXPECT_FALSE(fromAPI(QStringLiteral("2024-03-10T02:30:00"), newYork, kWinter));
    // The hour that happens twice is read once, as standard time (UTC-5), then shifted by EDT's -4.
    EXPECT_EQ(fromAPI(QStringLiteral("2024-11-03T01:30:00"), newYork, kSummer), utc(2024, 11, 3, 2, 30, 0));
}

TEST(DateHelperFromAPIValue, UsesTheSystemZoneAndClock) {
    const QDateTime textTime = utc(2021, 6, 1, 8, 30, 0);
    const QTimeZone system = QTimeZone::systemTimeZone();
    // Shifted by how far the system zone's offset now differs from its offset at that date.
    const qint64 shift = system.offsetFromUtc(QDateTime::currentDateTimeUtc()) -
                         system.offsetFromUtc(QDateTime(textTime.date(), textTime.time(), system));
    EXPECT_EQ(DateHelper::DateFromAPIValue(QStringLiteral("2021-06-01T08:30:00")), textTime.addSecs(shift));
}

// Texts long enough but not in the pattern give no date.
TEST(DateHelperFromAPIValue, TextsOutsideThePatternGiveNone) {
    const QTimeZone zone(3600);
    for (const QString& text : {
             QStringLiteral("2024-01-02T03:04:05+08:00"), // zone right after the whole seconds
             QStringLiteral("2024-01-02 03:04:05"),       // no "T"
             QStringLiteral("2024-01-02t03:04:05"), QStringLiteral("2024-13-02T03:04:05"),
             QStringLiteral("2023-02-29T03:04:05"), QStringLiteral("2024-01-02T24:00:00"),
             QStringLiteral("2024-01-02T03:60:00"), QStringLiteral("2024-1-02T03:04:05.123"),
             QStringLiteral("2024-01-02T03:04:05,123"), QStringLiteral("2024-01-02T03:04:05.12x"),
             QStringLiteral("+024-01-02T03:04:05"),
             QStringLiteral("0000-01-02T03:04:05"), // no year 0 in QDate
             QStringLiteral("abcdefghijklmnopqrstuvwxyz"), QString(19, QChar(0x4e2d)),
             QString(30, QChar(0xd800)), // unpaired surrogates
         }) {
        EXPECT_FALSE(fromAPI(text, zone, kWinter)) << text.toStdString();
    }
}

// What the cloud writes reads back to the same text when written with its pattern.
TEST(DateHelperFromAPIValue, RoundTripsThroughParseToString) {
    const QString text = QStringLiteral("1999-12-31T23:59:58.007");
    const auto date = fromAPI(text, QTimeZone("Asia/Tokyo"), kSummer);
    ASSERT_TRUE(date);
    EXPECT_EQ(DateHelper::ParseToString(*date, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.SSS")), text);
}

class DateHelperFromJsonValue : public ::testing::Test {
protected:
    void SetUp() override { Logger::addLogger(sink_, int(LogFlag::Info)); }
    void TearDown() override { Logger::removeAllLoggers(); }

    std::vector<std::string> logged() {
        std::vector<std::string> messages;
        for (const auto& msg : sink_->last_raw()) {
            EXPECT_EQ(msg.level, spdlog::level::info);
            messages.emplace_back(msg.payload.data(), msg.payload.size());
        }
        return messages;
    }

    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_ =
        std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(16);
};

TEST_F(DateHelperFromJsonValue, WholeSecondsOfTheCountAreTheDate) {
    const QDateTime expected = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date(1700000000123)/")), expected);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date(1700000000999+0800)/")), expected);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date(1700000000000-0500)/")), expected);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("( +1700000000500)")), expected);
    EXPECT_EQ(logged(),
              (std::vector<std::string>{"1700000000123", "1700000000999", "1700000000000", "1700000000500"}));
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date(999)/")),
              QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
}

TEST_F(DateHelperFromJsonValue, FirstParenthesesOnly) {
    // The first "(" and the first ")" after it.
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("x(12000)y(34000)")),
              QDateTime::fromSecsSinceEpoch(12, Qt::UTC));
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral(")(5000)")),
              QDateTime::fromSecsSinceEpoch(5, Qt::UTC));
    // No ")": the number after the "(".
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date(7000")),
              QDateTime::fromSecsSinceEpoch(7, Qt::UTC));
    // No "(", or nothing numeric inside: count 0, the epoch, still logged.
    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("1700000000123")), epoch);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QString()), epoch);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date()/")), epoch);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date(abc123)/")), epoch);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("/Date(1)2000)/")), epoch);
    EXPECT_EQ(logged(), (std::vector<std::string>{"12000", "5000", "7000", "0", "0", "0", "0", "1"}));
}

// Counts past what QDateTime holds, negative ones among them (read as unsigned), give its latest second.
TEST_F(DateHelperFromJsonValue, HugeCountsStopAtTheLatestInstant) {
    const qint64 latestSecond = std::numeric_limits<qint64>::max() / 1000;
    const QDateTime latest = QDateTime::fromSecsSinceEpoch(latestSecond, Qt::UTC);
    ASSERT_TRUE(latest.isValid());

    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("(9223372036854775807)")), latest);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("(123456789012345678901234567890)")), latest);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("(-1000)")), latest);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("(-99999999999999999999999)")), latest);
    EXPECT_EQ(DateHelper::DateFromJsonValue(QStringLiteral("(9223372036854774999)")),
              QDateTime::fromSecsSinceEpoch(latestSecond - 1, Qt::UTC));
    EXPECT_EQ(logged(),
              (std::vector<std::string>{"9223372036854775807", "9223372036854775807", "18446744073709550616",
                                        "9223372036854775808", "9223372036854774999"}));
}

TEST(DateHelperReadableText, DifferenceTable) {
    const QDateTime now = utc(2024, 5, 1, 0, 0, 0);
    const QDateTime moment = now.addSecs(28800);
    const struct {
        qint64 secondsBefore;
        const char* text;
    } cases[] = {
        {-10, "刚刚"},
        {0, "刚刚"},
        {1, "1秒前"},
        {59, "59秒前"},
        {60, "1分钟前"},
        {90, "1分钟前"},
        {3599, "59分钟前"},
        {3600, "1小时前"},
        {86399, "23小时前"},
        {86400, "1天前"},
        {29 * 86400 + 86399, "29天前"},
        {30 * 86400, "1月前"},
        {364 * 86400, "12月前"},
        {365 * 86400, "1年前"},
        {3 * 365 * 86400, "3年前"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secondsBefore);
        EXPECT_EQ(DateHelper::ParseDateToReadableText(moment.addSecs(-c.secondsBefore), now),
                  QString::fromUtf8(c.text));
    }
}

TEST(DateHelperReadableText, TruncatesAndClamps) {
    const QDateTime now = utc(2024, 5, 1, 0, 0, 0);
    const QDateTime moment = now.addSecs(28800);
    // Toward zero: 59.9 s is 59, half a second is none.
    EXPECT_EQ(DateHelper::ParseDateToReadableText(moment.addMSecs(-59900), now), QStringLiteral("59秒前"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(moment.addMSecs(-500), now), QStringLiteral("刚刚"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(moment.addMSecs(-1999), now), QStringLiteral("1秒前"));

    // Past the signed 32-bit range the difference stays at its limit: 2147483647 s is 68 years.
    EXPECT_EQ(DateHelper::ParseDateToReadableText(utc(1900, 1, 1, 0, 0, 0), now), QStringLiteral("68年前"));
    const QDateTime earliest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min(), Qt::UTC);
    const QDateTime latest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), Qt::UTC);
    ASSERT_TRUE(earliest.isValid() && latest.isValid());
    EXPECT_EQ(DateHelper::ParseDateToReadableText(earliest, now), QStringLiteral("68年前"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(earliest, latest), QStringLiteral("68年前"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(latest, earliest), QStringLiteral("刚刚"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(QDateTime(), now), QStringLiteral("刚刚"));
}

// With the real clock, the present is eight hours before the moment compared with.
TEST(DateHelperReadableText, CurrentTimeIsShiftedEightHours) {
    EXPECT_EQ(DateHelper::ParseDateToReadableText(QDateTime::currentDateTimeUtc()),
              QStringLiteral("8小时前"));
    EXPECT_EQ(DateHelper::ParseDateToReadableText(QDateTime::currentDateTimeUtc().addSecs(28800 + 60)),
              QStringLiteral("刚刚"));
}

TEST(DateHelperTimeText, SplitsTheDuration) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {86400 + 3600 + 60 + 1.5, "1天1时1分1.500秒"},
        {3600, "1时0分0.000秒"},
        {59.25, "59.250秒"},
        {0, "0.000秒"},
        {61, "1分1.000秒"},
        {86400, "1天0时0分0.000秒"},
        {2 * 86400 + 59, "2天0时0分59.000秒"},
        {3 * 3600 + 0.0626, "3时0分0.063秒"},
        // Negative: the negative units are left out, the seconds below the whole minutes written.
        {-61.5, "-1.500秒"},
        {-(3600 + 2 * 60 + 5.25), "-5.250秒"},
        {-0.5, "-0.500秒"},
        {-90061.0, "-1.000秒"},
        // The limits of the signed 32-bit truncation.
        {2147483647.5, "24855天3时14分7.500秒"},
        {-2147483648.25, "-8.250秒"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(DateHelper::ParseSecondToTimeText(c.seconds), QString::fromUtf8(c.text));
    }
}

TEST(DateHelperTimeText, CreateTimeStringParts) {
    EXPECT_EQ(DateHelper::CreateTimeString(1, 1, 1, 1, 0.5), QStringLiteral("1天1时1分1.500秒"));
    EXPECT_EQ(DateHelper::CreateTimeString(0, 0, 0, 7, 0.0), QStringLiteral("7.000秒"));
    EXPECT_EQ(DateHelper::CreateTimeString(0, 0, 5, 0, 0.0), QStringLiteral("5分0.000秒"));
    EXPECT_EQ(DateHelper::CreateTimeString(0, 2, 0, 0, 0.0), QStringLiteral("2时0分0.000秒"));
    // Minutes follow whenever days or hours are written; hours whenever days are.
    EXPECT_EQ(DateHelper::CreateTimeString(3, 0, 0, 0, 0.0), QStringLiteral("3天0时0分0.000秒"));
    // Days below 1 fall through to the hours; negative parts that are not written.
    EXPECT_EQ(DateHelper::CreateTimeString(-1, 2, -3, 4, 0.0), QStringLiteral("2时-3分4.000秒"));
    EXPECT_EQ(DateHelper::CreateTimeString(-1, -2, -3, -4, 0.0), QStringLiteral("-4.000秒"));
    // Seconds and fraction are added before rounding to three decimals.
    EXPECT_EQ(DateHelper::CreateTimeString(0, 0, 0, 59, 0.9999), QStringLiteral("60.000秒"));
    EXPECT_EQ(DateHelper::CreateTimeString(0, 0, 0, 1, -0.25), QStringLiteral("0.750秒"));
}

TEST(DateHelperComponents, FieldsInTheZone) {
    const QDateTime instant = utc(2024, 2, 29, 23, 30, 15);
    EXPECT_EQ(DateHelper::ParseToComponents(instant, QTimeZone("Asia/Shanghai")),
              (DateComponents{2024, 3, 1, 7, 30, 15, 6})); // Friday
    EXPECT_EQ(DateHelper::ParseToComponents(instant, QTimeZone("America/New_York")),
              (DateComponents{2024, 2, 29, 18, 30, 15, 5})); // Thursday
    // Weekdays count from Sunday.
    EXPECT_EQ(DateHelper::ParseToComponents(utc(2024, 3, 3, 0, 0, 0), QTimeZone(0)).weekday, 1);
    EXPECT_EQ(DateHelper::ParseToComponents(utc(2024, 3, 4, 0, 0, 0), QTimeZone(0)).weekday, 2);
    EXPECT_EQ(DateHelper::ParseToComponents(utc(2024, 3, 9, 23, 59, 59), QTimeZone(0)).weekday, 7);
    EXPECT_EQ(DateHelper::ParseToComponents(QDateTime(), QTimeZone(0)), DateComponents{});

    // Without a zone, the system's.
    const QDateTime local = instant.toLocalTime();
    const DateComponents c = DateHelper::ParseToComponents(instant);
    EXPECT_EQ(c.year, local.date().year());
    EXPECT_EQ(c.day, local.date().day());
    EXPECT_EQ(c.hour, local.time().hour());
}

TEST(DateHelperParseToString, FieldsAreWrittenInUTC) {
    // 15:04:05.678 UTC, a Tuesday, given in UTC+8.
    const QDateTime date(QDate(2024, 1, 2), QTime(23, 4, 5, 678), QTimeZone(8 * 3600));
    const QDateTime midnight = utc(2024, 6, 30, 0, 7, 9);
    const auto write = [](const QDateTime& d, const char* pattern) {
        return DateHelper::ParseToString(d, QString::fromUtf8(pattern)).toStdString();
    };
    EXPECT_EQ(write(date, "yyyy-MM-dd'T'HH:mm:ss.SSS"), "2024-01-02T15:04:05.678");
    EXPECT_EQ(write(date, "yy/M/d H:m:s"), "24/1/2 15:4:5");
    EXPECT_EQ(write(date, "y yyy yyyyy"), "2024 2024 02024");
    EXPECT_EQ(write(date, "h:mm a|hh|K|k|HHH"), "3:04 PM|03|3|15|015");
    EXPECT_EQ(write(midnight, "h K k H a|hh:mm:ss"), "12 0 24 0 AM|12:07:09");
    EXPECT_EQ(write(date, "EEE, d MMM yyyy"), "Tue, 2 Jan 2024");
    EXPECT_EQ(write(date, "EEEE MMMM LLL"), "Tuesday January Jan");
    EXPECT_EQ(write(date, "E EEEEE EEEEEE MMMMM"), "Tue T Tu J");
    EXPECT_EQ(write(date, "S SS SSS SSSSS"), "6 67 678 67800");
    EXPECT_EQ(write(date, "yyyy年M月d日"), "2024年1月2日");
    EXPECT_EQ(write(QDateTime(QDate(-44, 3, 15), QTime(12, 0), Qt::UTC), "y-MM-dd"), "44-03-15");
    EXPECT_EQ(DateHelper::ParseToString(QDateTime(), QStringLiteral("yyyy")), QString());
}

TEST(DateHelperParseToString, QuotesAndOtherLetters) {
    const QDateTime date = utc(2024, 1, 2, 15, 4, 5);
    const auto write = [&date](const char* pattern) {
        return DateHelper::ParseToString(date, QString::fromUtf8(pattern)).toStdString();
    };
    EXPECT_EQ(write("'at' h 'o''clock'"), "at 3 o'clock");
    EXPECT_EQ(write("''h''"), "'3'");
    EXPECT_EQ(write("'yyyy-MM-dd'"), "yyyy-MM-dd");
    EXPECT_EQ(write("yyyy 'unclosed HH"), "2024 unclosed HH");
    EXPECT_EQ(write("yyyyMMddZ xX"), "20240102Z xX");
    EXPECT_EQ(write("'"), "");
    EXPECT_EQ(write(""), "");
}
