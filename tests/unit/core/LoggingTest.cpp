// The leveled logger and the rolling log files.
#include "LogRecorder.h"
#include "core/Logger.h"
#include "core/RollingFileSink.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include "Threads.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

namespace {

// A whole line as the console and file loggers write it; the message is captured.
QRegularExpression line(const char* level, const char* where) {
    return QRegularExpression(
        QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} \\[%1\\] %2: (.*)$")
            .arg(level, where),
        QRegularExpression::MultilineOption);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

// Sinks in a fresh folder, with a clock the test moves.
class RollingFile : public ::testing::Test {
protected:
    std::unique_ptr<RollingFileSink> sink(int frequency, qint64 size, int count = 0, qint64 quota = 0) {
        return std::make_unique<RollingFileSink>(
            folder, "com.example.Presenter",
            RollingFileLimits{std::chrono::seconds(frequency), size, count, quota},
            [this] { return start.addMSecs(elapsed); });
    }
    // The file a sink makes that many milliseconds after the start.
    QString made(qint64 ms) const {
        return folder + "/com.example.Presenter " + start.addMSecs(ms).toString("yyyy-MM-dd--HH-mm-ss-zzz") +
               ".log";
    }
    static void log(RollingFileSink& sink, std::string_view text) {
        sink.log({spdlog::source_loc{"Slides.cpp", 12, "send"}, "pc", spdlog::level::info, text});
    }
    static QStringList messages(const QString& path) {
        QStringList out;
        for (auto it = line("I", "Slides\\.cpp:12 send").globalMatch(readFile(path)); it.hasNext();)
            out << it.next().captured(1);
        return out;
    }
    QStringList files() const { return QDir(folder).entryList(QDir::Files, QDir::Name); }

    QTemporaryDir temp;
    QString folder = temp.path() + "/podiumcastlogfiles";
    const QDateTime start{QDate(2026, 3, 1), QTime(12, 0, 0, 250)};
    qint64 elapsed = 0;
};

} // namespace

TEST(Logger, EachLoggerTakesTheLevelsOfItsMaskAndAFailingOneStopsNothing) {
    class Throwing : public spdlog::sinks::base_sink<std::mutex> {
        void sink_it_(const spdlog::details::log_msg&) override { throw std::runtime_error("disk on fire"); }
        void flush_() override { throw std::runtime_error("still on fire"); }
    };
    std::ostringstream all, picked;
    auto allSink = std::make_shared<spdlog::sinks::ostream_sink_mt>(all);
    auto pickedSink = std::make_shared<spdlog::sinks::ostream_sink_mt>(picked);
    allSink->set_formatter(Logger::makeFormatter());
    pickedSink->set_pattern("%v");
    Logger::addLogger(std::make_shared<Throwing>(), LogLevel::Verbose);
    Logger::addLogger(allSink, LogLevel::Verbose);
    Logger::addLogger(pickedSink, int(LogFlag::Warning) | int(LogFlag::Debug));
    EXPECT_NO_THROW(LOG_ERROR("e {}", 1));
    LOG_WARNING("w {}", 2);
    LOG_INFO("i {}", 3);
    LOG_DEBUG("d {}", 4);
    LOG_VERBOSE("v {}", 5);
    EXPECT_EQ(picked.str(), "w 2\nd 4\n");
    QStringList messages;
    for (auto it = line("([EWIDT])", "LoggingTest\\.cpp:\\d+ TestBody").globalMatch(all.str().c_str());
         it.hasNext();) {
        const auto m = it.next();
        messages << m.captured(1) + m.captured(2);
    }
    EXPECT_EQ(messages, QStringList({"Ee 1", "Ww 2", "Ii 3", "Dd 4", "Tv 5"})) << all.str();

    Logger::removeAllLoggers(); // a call no logger takes does not even evaluate its arguments
    Logger::addLogger(allSink, LogLevel::Debug);
    int evaluated = 0;
    LOG_VERBOSE("{}", ++evaluated);
    LOG_DEBUG("{}", ++evaluated);
    EXPECT_EQ(evaluated, 1);
    Logger::removeAllLoggers();
    EXPECT_FALSE(Logger::isEnabled(LogFlag::Error));
}

// The start-up order: console first, the file logger last, whose folder is then the logs directory.
TEST(Logger, ConsoleAndFileLoggersAndTheLogsDirectory) {
    QTemporaryDir home;
    Logger::addConsoleLogger(LogLevel::Debug);
    const auto file =
        Logger::addFileLogger(home.path() + "/logs", "com.example.PodiumCast", LogLevel::Verbose);
    EXPECT_EQ(Logger::lastLogsDirectory(), home.path() + "/logs");
    EXPECT_EQ(file->limits().maximumFileSize, 52428800);
    ::testing::internal::CaptureStderr();
    LOG_DEBUG("lan: heartbeat from {}", "10.0.0.7");
    LOG_VERBOSE("hidden");
    Logger::plain("Invalid command.");
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string plain =
        "[" + std::to_string(QCoreApplication::applicationPid()) + "] Invalid command.\n";
    EXPECT_EQ(err.substr(err.size() - std::min(err.size(), plain.size())), plain); // outside the levels
    EXPECT_EQ(line("D", "LoggingTest\\.cpp:\\d+ TestBody").match(err.c_str()).captured(1),
              "lan: heartbeat from 10.0.0.7");
    EXPECT_EQ(err.find("hidden"), std::string::npos) << err;
    EXPECT_EQ(readFile(file->currentFilePath()).count('\n'), 2);
    Logger::addConsoleLogger(LogLevel::Error);
    EXPECT_EQ(Logger::lastLogsDirectory(), std::nullopt);
    Logger::removeAllLoggers();
}

// A full file takes no more lines, nor one as old as the rolling frequency; no line is lost or repeated.
TEST_F(RollingFile, RollsAtTheMaximumSizeAndAtTheRollingFrequency) {
    auto bySize = sink(0, 1000);
    QStringList written, read;
    for (int i = 0; i < 40; ++i) {
        written << QStringLiteral("line %1 ").arg(i) + QString(40, u'x');
        log(*bySize, written.back().toStdString());
    }
    for (const QString& name : files()) {
        const qint64 size = QFileInfo(folder + "/" + name).size();
        EXPECT_TRUE(name == files().back() || (size >= 1000 && size < 1100)) << size;
        read << messages(folder + "/" + name);
    }
    EXPECT_EQ(read, written);
    EXPECT_GE(files().size(), 3);

    ASSERT_TRUE(QDir(folder).removeRecursively());
    auto byAge = sink(60, 0);
    log(*byAge, "a");
    elapsed = 59999;
    log(*byAge, "b");
    elapsed = 60000;
    log(*byAge, "c");
    EXPECT_EQ(messages(made(0)), QStringList({"a", "b"}));
    EXPECT_EQ(messages(made(60000)), QStringList{"c"});
}

TEST_F(RollingFile, AtStartGoesOnOnlyWithAYoungSmallNewestFile) {
    ASSERT_TRUE(QDir().mkpath(folder));
    writeFile(made(-1800000), "older\n");
    writeFile(made(-1200000), "earlier run\n");
    {
        auto goingOn = sink(3600, 1000);
        log(*goingOn, "this run");
        elapsed = 2399999; // an hour after that file was made, it rolls
        log(*goingOn, "still");
        elapsed = 2400000;
        log(*goingOn, "rolled");
    }
    EXPECT_TRUE(readFile(made(-1200000)).startsWith("earlier run\n"));
    EXPECT_EQ(messages(made(-1200000)), QStringList({"this run", "still"}));
    EXPECT_EQ(messages(made(2400000)), QStringList{"rolled"});
    writeFile(made(2400000), QByteArray(1000, 'x')); // the newest, young but full
    elapsed = 2400001;
    log(*sink(3600, 1000), "new");
    EXPECT_EQ(messages(made(2400001)), QStringList{"new"});
    EXPECT_EQ(readFile(made(-1800000)), "older\n");
}

// Only files named in its own pattern count; the current file is never deleted.
TEST_F(RollingFile, DeletesItsOldestFilesBeyondTheCountAndTheQuota) {
    ASSERT_TRUE(QDir().mkpath(folder));
    const QStringList foreign = {"crash-20200101120000.log", "com.example.Other 2020-01-01--12-00-00-000.log",
                                 "com.example.Presenter 2025-12-31--23-59-59-999 2.log",
                                 "com.example.PresenterX2025-12-31--23-59-59-999.log"};
    for (const QString& name : foreign)
        writeFile(folder + "/" + name, "f");
    for (int hours = 4; hours >= 1; --hours)
        writeFile(made(-3600000 * hours), QByteArray(300, 'a'));
    const auto ours = [&](const QList<qint64>& times) {
        QStringList names = foreign;
        for (const qint64 ms : times)
            names << QFileInfo(made(ms)).fileName();
        names.sort();
        return names.join('\n').toStdString();
    };
    sink(60, 0, 3);
    EXPECT_EQ(files().join('\n').toStdString(), ours({-7200000, -3600000, 0}));

    auto byQuota =
        sink(60, 0, 0, 1000); // 600 bytes archived: past 400 more, the oldest goes at the next roll
    for (int i = 0; i < 20 && QFileInfo(made(0)).size() <= 400; ++i)
        log(*byQuota, "a line");
    elapsed = 60000;
    log(*byQuota, "rolled");
    EXPECT_EQ(files().join('\n').toStdString(), ours({-3600000, 0, 60000}));

    writeFile(made(60000), QByteArray(1500, 'y'));
    sink(60, 0, 0, 1000);
    EXPECT_EQ(files().join('\n').toStdString(), ours({60000}));
}

TEST_F(RollingFile, GoesOnInANewFileWhenTheFileOrFolderGoesAway) {
    writeFile(folder, "in the way");
    auto logger = sink(0, 0);
    EXPECT_NO_THROW(log(*logger, "dropped"));
    ASSERT_TRUE(QFile::remove(folder));
    log(*logger, "first kept");
    ASSERT_TRUE(QFile::remove(made(0)));
    elapsed = 1000;
    log(*logger, "file gone");
    ASSERT_TRUE(QDir(folder).removeRecursively());
    elapsed = 2000;
    log(*logger, "folder gone");
    EXPECT_EQ(files(), QStringList{QFileInfo(made(2000)).fileName()});
    EXPECT_EQ(messages(made(2000)), QStringList{"folder gone"});
}

// Lines logged at once from several threads, across many rolls, each arrive whole and exactly once.
TEST_F(RollingFile, ConcurrentLinesStayWhole) {
    Logger::addLogger(sink(0, 16 * 1024), LogLevel::Verbose);
    ASSERT_TRUE(runOnThreads(8, [](int t) {
        for (int i = 0; i < 400; ++i)
            LOG_INFO("{} {} {}", t, i, std::string(size_t(20 + (i * 7 + t) % 60), char('a' + t)));
    })) << "logging from several threads deadlocked";
    Logger::removeAllLoggers();
    QSet<QString> seen;
    for (const QString& name : files()) {
        const QByteArray content = readFile(folder + "/" + name);
        ASSERT_TRUE(content.endsWith('\n')) << "a file ends inside a line";
        for (const QByteArray& text : content.chopped(1).split('\n')) {
            const QStringList words =
                line("I", "LoggingTest\\.cpp:\\d+ operator\\(\\)").match(text).captured(1).split(' ');
            ASSERT_EQ(words.size(), 3) << text.constData();
            const int t = words[0].toInt();
            EXPECT_EQ(words[2], QString(20 + (words[1].toInt() * 7 + t) % 60, QChar('a' + t)));
            seen.insert(words[0] + ":" + words[1]);
        }
    }
    EXPECT_EQ(seen.size(), 8 * 400);
    EXPECT_GT(files().size(), 2);
}

// Text from outside cannot begin a log line of its own or send escape sequences to a terminal.
TEST(Logger, ControlCharactersOfTextAndBytesAreEscaped) {
    LogRecorder log;
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
    const std::vector<std::string> messages = log.at(spdlog::level::info);
    ASSERT_EQ(messages.size(), 2 * std::size(cases) + 1) << "one line per call";
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(messages[2 * i], "receive data from [10.0.0.2:4000]: " + cases[i].logged);
        EXPECT_EQ(messages[2 * i + 1], "bytes " + cases[i].logged);
    }
    EXPECT_EQ(messages.back(), "invalid \xef\xbf\xbd\\n");
}
