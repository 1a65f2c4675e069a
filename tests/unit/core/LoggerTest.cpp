#include "core/Logger.h"

#include "core/RollingFileSink.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <stdexcept>

namespace {

// Keeps the formatted lines it is given.
class RecordingSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    RecordingSink()
        : base_sink(Logger::makeFormatter()) {}

    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The message part of each line, after "<function>: ".
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        for (const std::string& line : lines()) {
            const size_t at = line.find(": ");
            out.push_back(line.substr(at + 2, line.size() - at - 3));
        }
        return out;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        spdlog::memory_buf_t buffer;
        formatter_->format(msg, buffer);
        lines_.emplace_back(buffer.data(), buffer.size());
    }
    void flush_() override {}

private:
    std::vector<std::string> lines_;
};

class ThrowingSink : public spdlog::sinks::base_sink<std::mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg&) override { throw std::runtime_error("disk on fire"); }
    void flush_() override { throw std::runtime_error("still on fire"); }
};

void logEveryLevel() {
    LOG_ERROR("e {}", 1);
    LOG_WARNING("w {}", 2);
    LOG_INFO("i {}", 3);
    LOG_DEBUG("d {}", 4);
    LOG_VERBOSE("v {}", 5);
}

int reportDiskFullLine = 0;
void reportDiskFull(const QString& volume) {
    reportDiskFullLine = __LINE__ + 1;
    LOG_WARNING("api: volume {} is full", volume);
}

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override { Logger::removeAllLoggers(); }
    void TearDown() override { Logger::removeAllLoggers(); }
};

TEST_F(LoggerTest, EachLoggerTakesTheLevelsInItsMask) {
    auto debug = std::make_shared<RecordingSink>();
    auto verbose = std::make_shared<RecordingSink>();
    auto picked = std::make_shared<RecordingSink>();
    Logger::addLogger(debug, 15);
    Logger::addLogger(verbose, 31);
    Logger::addLogger(picked, int(LogFlag::Warning) | int(LogFlag::Debug));

    logEveryLevel();

    using Lines = std::vector<std::string>;
    EXPECT_EQ(debug->messages(), Lines({"e 1", "w 2", "i 3", "d 4"}));
    EXPECT_EQ(verbose->messages(), Lines({"e 1", "w 2", "i 3", "d 4", "v 5"}));
    EXPECT_EQ(picked->messages(), Lines({"w 2", "d 4"}));
    // Each level keeps its own tag in the line.
    const Lines all = verbose->lines();
    ASSERT_EQ(all.size(), 5u);
    const char* tags[] = {"[E]", "[W]", "[I]", "[D]", "[T]"};
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_NE(all[i].find(tags[i]), std::string::npos) << all[i];
}

// A call no logger takes does not even evaluate its arguments.
TEST_F(LoggerTest, FilteredCallsCostNoFormatting) {
    int evaluated = 0;
    LOG_ERROR("{}", ++evaluated);
    EXPECT_EQ(evaluated, 0);
    EXPECT_FALSE(Logger::isEnabled(LogFlag::Error));

    Logger::addLogger(std::make_shared<RecordingSink>(), LogLevel::Debug);
    LOG_VERBOSE("{}", ++evaluated);
    EXPECT_EQ(evaluated, 0);
    LOG_DEBUG("{}", ++evaluated);
    EXPECT_EQ(evaluated, 1);
    EXPECT_FALSE(Logger::isEnabled(LogFlag::Verbose));
    EXPECT_TRUE(Logger::isEnabled(LogFlag::Debug));

    Logger::removeAllLoggers();
    EXPECT_FALSE(Logger::isEnabled(LogFlag::Error));
}

TEST_F(LoggerTest, LinesCarrySourceFileFunctionAndLine) {
    auto sink = std::make_shared<RecordingSink>();
    Logger::addLogger(sink, LogLevel::Verbose);
    reportDiskFull(QStringLiteral("Données"));

    ASSERT_EQ(sink->lines().size(), 1u);
    const QString line = QString::fromStdString(sink->lines().front());
    const QRegularExpression expected(
        QStringLiteral(
            "^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} \\[W\\] LoggerTest\\.cpp:%1 reportDiskFull: "
            "api: volume Données is full\\n$")
            .arg(reportDiskFullLine));
    EXPECT_TRUE(expected.match(line).hasMatch()) << line.toStdString();
}

TEST_F(LoggerTest, AFailingSinkDoesNotStopTheCallerOrTheOtherSinks) {
    auto after = std::make_shared<RecordingSink>();
    Logger::addLogger(std::make_shared<ThrowingSink>(), LogLevel::Verbose);
    Logger::addLogger(after, LogLevel::Verbose);
    EXPECT_NO_THROW(LOG_ERROR("first"));
    EXPECT_NO_THROW(LOG_INFO("second"));
    EXPECT_EQ(after->messages(), std::vector<std::string>({"first", "second"}));
}

TEST_F(LoggerTest, ConsoleLoggerWritesItsLevelsToStandardError) {
    Logger::addConsoleLogger(LogLevel::Debug);
    ::testing::internal::CaptureStderr();
    LOG_DEBUG("shown {}", 1);
    LOG_VERBOSE("hidden {}", 2);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[D] LoggerTest.cpp:"), std::string::npos) << err;
    EXPECT_NE(err.find("TestBody: shown 1\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("hidden"), std::string::npos) << err;
    EXPECT_EQ(Logger::lastLogsDirectory(), std::nullopt);
}

// The start-up order: console first, the file logger last; the logs directory is the file logger's folder.
TEST_F(LoggerTest, FileLoggerAddedLastGivesTheLogsDirectory) {
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/Documents") + QStringLiteral("/podiumcastlogfiles");
    EXPECT_EQ(Logger::lastLogsDirectory(), std::nullopt);

    Logger::addConsoleLogger(LogLevel::Verbose);
    const auto file =
        Logger::addFileLogger(folder, QStringLiteral("com.example.PodiumCast"), LogLevel::Verbose);
    ASSERT_TRUE(file);
    EXPECT_EQ(Logger::lastLogsDirectory(), folder);
    EXPECT_EQ(file->logsDirectory(), folder);
    EXPECT_EQ(file->limits().rollingFrequency, std::chrono::seconds(864000));
    EXPECT_EQ(file->limits().maximumFileSize, 52428800);
    EXPECT_EQ(file->limits().maximumNumberOfLogFiles, 7);
    EXPECT_EQ(file->limits().logFilesDiskQuota, 20971520);

    ::testing::internal::CaptureStderr();
    LOG_VERBOSE("lan: heartbeat from {}", "10.0.0.7");
    ::testing::internal::GetCapturedStderr();
    const QStringList names = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(names.size(), 1);
    EXPECT_TRUE(names.front().startsWith(QStringLiteral("com.example.PodiumCast 20")))
        << names.front().toStdString();
    const QStringList lines = fileLines(file->currentFilePath());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("\\[T\\] LoggerTest\\.cpp:\\d+ TestBody: lan: heartbeat from 10\\.0\\.0\\.7$"))
            .match(lines.front())
            .hasMatch())
        << lines.front().toStdString();

    // Whatever is added later decides: another file logger's folder, or none for a console logger.
    const QString other = home.path() + QStringLiteral("/other");
    Logger::addFileLogger(other, QStringLiteral("com.example.PodiumCast"), LogLevel::Error);
    EXPECT_EQ(Logger::lastLogsDirectory(), other);
    Logger::addConsoleLogger(LogLevel::Error);
    EXPECT_EQ(Logger::lastLogsDirectory(), std::nullopt);

    Logger::removeAllLoggers();
    EXPECT_EQ(Logger::lastLogsDirectory(), std::nullopt);
}

} // namespace

// Text from outside cannot begin a log line of its own or send escape sequences to a terminal.
TEST_F(LoggerTest, ControlCharactersOfTextAndBytesAreEscaped) {
    auto sink = std::make_shared<RecordingSink>();
    Logger::addLogger(sink, LogLevel::Verbose);
    const struct {
        QString text;
        std::string logged;
    } cases[] = {
        {QStringLiteral("7|cmd|{DOWN}"), "7|cmd|{DOWN}"},
        {QStringLiteral("a\nb\r\tc"), "a\\nb\\r\\tc"},
        {QStringLiteral("\x1b[2J\x7f\u0085\u2028!"), "\\x1b[2J\\x7f\\x85\\u2028!"},
        {QStringLiteral("é\\n"), "é\\n"},
    };
    for (const auto& c : cases) {
        LOG_INFO("receive data from [{}:{}]: {}", QStringLiteral("10.0.0.2"), 4000, c.text);
        LOG_INFO("bytes {}", c.text.toUtf8());
    }
    LOG_INFO("invalid {}", QByteArray("\xff\n", 2));

    const std::vector<std::string> messages = sink->messages();
    ASSERT_EQ(messages.size(), 2 * std::size(cases) + 1) << "one line per call";
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(messages[2 * i], "receive data from [10.0.0.2:4000]: " + cases[i].logged);
        EXPECT_EQ(messages[2 * i + 1], "bytes " + cases[i].logged);
    }
    EXPECT_EQ(messages.back(), "invalid \xef\xbf\xbd\\n");
}
