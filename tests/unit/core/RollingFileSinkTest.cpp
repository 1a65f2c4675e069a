#include "core/RollingFileSink.h"

#include "core/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <spdlog/details/log_msg.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QString kPrefix = QStringLiteral("com.example.Presenter");

class FakeClock {
public:
    explicit FakeClock(const QDateTime& start)
        : msecs_(start.toMSecsSinceEpoch()) {}
    QDateTime now() const { return QDateTime::fromMSecsSinceEpoch(msecs_.load()); }
    void advance(std::chrono::milliseconds by) { msecs_ += by.count(); }
    RollingFileSink::Clock function() {
        return [this] {
            return now();
        };
    }

private:
    std::atomic<qint64> msecs_;
};

QString logName(const QDateTime& created) {
    return kPrefix + QLatin1Char(' ') + created.toString(QStringLiteral("yyyy-MM-dd--HH-mm-ss-zzz")) +
           QStringLiteral(".log");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(content), content.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void logLine(RollingFileSink& sink, std::string_view text) {
    sink.log(spdlog::details::log_msg(spdlog::source_loc{"Slides.cpp", 12, "send"}, "pc", spdlog::level::info,
                                      text));
}

// The payloads of a file's lines, the part after "send: ".
QStringList payloads(const QString& path) {
    QStringList out;
    const QList<QByteArray> lines = readFile(path).split('\n');
    for (const QByteArray& line : lines) {
        if (const qsizetype at = line.indexOf("send: "); at >= 0)
            out << QString::fromUtf8(line.mid(at + 6));
    }
    return out;
}

class RollingFileSinkTest : public ::testing::Test {
protected:
    void TearDown() override { Logger::removeAllLoggers(); }

    RollingFileLimits noPruning() const {
        RollingFileLimits limits;
        limits.maximumNumberOfLogFiles = 0;
        limits.logFilesDiskQuota = 0;
        return limits;
    }

    // Every file in the folder, names sorted (for log files: oldest first).
    QStringList entries() const { return QDir(folder).entryList(QDir::Files, QDir::Name); }

    QTemporaryDir temp;
    QString folder = temp.path() + QStringLiteral("/Documents/podiumcastlogfiles");
    FakeClock clock{QDateTime(QDate(2026, 3, 1), QTime(12, 0, 0, 250))};
};

TEST_F(RollingFileSinkTest, CreatesTheFolderAndNamesTheFileAfterItsCreationTime) {
    ASSERT_FALSE(QFileInfo::exists(folder));
    RollingFileSink sink(folder, kPrefix, {}, clock.function());

    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(sink.logsDirectory(), folder);
    EXPECT_EQ(sink.currentFilePath(),
              folder + QStringLiteral("/com.example.Presenter 2026-03-01--12-00-00-250.log"));
    EXPECT_EQ(*sink.creationTimeOf(QFileInfo(sink.currentFilePath()).fileName()), clock.now());

    logLine(sink, "next slide");
    const QByteArray content = readFile(sink.currentFilePath());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} \\[I\\] "
                                                  "Slides\\.cpp:12 send: next slide\\n$"))
                    .match(QString::fromUtf8(content))
                    .hasMatch())
        << content.constData();
}

TEST_F(RollingFileSinkTest, RecognisesOnlyItsOwnFileNames) {
    RollingFileSink sink(folder, kPrefix, {}, clock.function());
    EXPECT_TRUE(sink.creationTimeOf(QStringLiteral("com.example.Presenter 2025-12-31--23-59-59-999.log")));
    for (const char* name : {"crash-20260301120000.log", "com.example.Presenter.log",
                             "com.example.Other 2025-12-31--23-59-59-999.log",
                             "com.example.Presenter 2025-12-31--23-59-59-999.txt",
                             "com.example.Presenter 2025-12-31--23-59-59-99.log",
                             "com.example.Presenter 2025-13-31--23-59-59-999.log",
                             "com.example.Presenter 2025-12-31--23-59-59-999 2.log",
                             "com.example.PresenterX2025-12-31--23-59-59-999.log"})
        EXPECT_FALSE(sink.creationTimeOf(QString::fromLatin1(name))) << name;
}

// A file is full once it reached the maximum size: the next line goes to a new file, so every file but the
// current one ends within one line past the limit. No line is lost or repeated.
TEST_F(RollingFileSinkTest, RollsWhenTheFileReachedTheMaximumSize) {
    RollingFileLimits limits = noPruning();
    limits.maximumFileSize = 1000;
    RollingFileSink sink(folder, kPrefix, limits, clock.function()); // the clock stands still throughout

    QStringList written;
    for (int i = 0; i < 40; ++i) {
        written << QStringLiteral("line %1 ").arg(i, 2, 10, QLatin1Char('0')) + QString(40, QLatin1Char('x'));
        logLine(sink, written.back().toStdString());
    }

    const QStringList files = entries();
    ASSERT_GE(files.size(), 3);
    QStringList read;
    for (const QString& name : files) {
        const QString path = folder + QLatin1Char('/') + name;
        const qint64 size = QFileInfo(path).size();
        const QStringList lines = payloads(path);
        ASSERT_FALSE(lines.isEmpty());
        const qint64 lineSize = size / lines.size();
        if (name != files.back()) {
            EXPECT_GE(size, limits.maximumFileSize) << name.toStdString();
            EXPECT_LT(size, limits.maximumFileSize + lineSize) << name.toStdString();
        }
        read << lines;
    }
    EXPECT_EQ(read, written);
    // Rolled within one millisecond, the names still differ and sort in the order the files were made.
    EXPECT_EQ(sink.currentFilePath(), folder + QLatin1Char('/') + files.back());
}

TEST_F(RollingFileSinkTest, RollsWhenTheFileIsAsOldAsTheRollingFrequency) {
    RollingFileLimits limits = noPruning();
    limits.rollingFrequency = 60s;
    RollingFileSink sink(folder, kPrefix, limits, clock.function());
    const QString first = sink.currentFilePath();

    logLine(sink, "a");
    clock.advance(59999ms);
    logLine(sink, "b");
    EXPECT_EQ(sink.currentFilePath(), first);

    clock.advance(1ms);
    logLine(sink, "c");
    const QString second = sink.currentFilePath();
    EXPECT_EQ(second, folder + QLatin1Char('/') + logName(clock.now()));
    EXPECT_EQ(payloads(first), QStringList({"a", "b"}));
    EXPECT_EQ(payloads(second), QStringList({"c"}));

    // The age counts from the new file's creation, not from the first one's.
    clock.advance(59s);
    logLine(sink, "d");
    EXPECT_EQ(sink.currentFilePath(), second);
    clock.advance(1s);
    logLine(sink, "e");
    EXPECT_NE(sink.currentFilePath(), second);
    EXPECT_EQ(payloads(second), QStringList({"c", "d"}));
}

class RollingFileSinkStartTest : public RollingFileSinkTest {
protected:
    RollingFileLimits startLimits() const {
        RollingFileLimits limits = noPruning();
        limits.rollingFrequency = 3600s;
        limits.maximumFileSize = 1000;
        return limits;
    }
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(folder)); }
};

TEST_F(RollingFileSinkStartTest, GoesOnWithAYoungSmallNewestFile) {
    const QString older = folder + QLatin1Char('/') + logName(clock.now().addSecs(-1800));
    const QString newest = folder + QLatin1Char('/') + logName(clock.now().addSecs(-1200));
    writeFile(older, "older\n");
    writeFile(newest, "earlier run\n");

    RollingFileSink sink(folder, kPrefix, startLimits(), clock.function());
    ASSERT_EQ(sink.currentFilePath(), newest);
    logLine(sink, "this run");
    EXPECT_TRUE(readFile(newest).startsWith("earlier run\n"));
    EXPECT_EQ(payloads(newest), QStringList({"this run"}));
    EXPECT_EQ(readFile(older), QByteArray("older\n"));
    EXPECT_EQ(entries().size(), 2);

    // Its age runs from its creation in the earlier run: 40 more minutes make it an hour old.
    clock.advance(2399s);
    logLine(sink, "still");
    EXPECT_EQ(sink.currentFilePath(), newest);
    clock.advance(1s);
    logLine(sink, "rolled");
    EXPECT_NE(sink.currentFilePath(), newest);
}

TEST_F(RollingFileSinkStartTest, StartsANewFileWhenTheNewestIsTooOldOrTooLarge) {
    const QString oldPath = folder + QLatin1Char('/') + logName(clock.now().addSecs(-3600));
    writeFile(oldPath, "old\n");
    {
        RollingFileSink sink(folder, kPrefix, startLimits(), clock.function());
        EXPECT_EQ(sink.currentFilePath(), folder + QLatin1Char('/') + logName(clock.now()));
    }
    EXPECT_EQ(readFile(oldPath), QByteArray("old\n"));

    clock.advance(1s); // the file just made is now the newest: young, but make it full
    const QString fullPath = folder + QLatin1Char('/') + logName(clock.now().addSecs(-1));
    writeFile(fullPath, QByteArray(1000, 'x'));
    RollingFileSink sink(folder, kPrefix, startLimits(), clock.function());
    EXPECT_EQ(sink.currentFilePath(), folder + QLatin1Char('/') + logName(clock.now()));
    EXPECT_EQ(readFile(fullPath).size(), 1000);
    EXPECT_EQ(entries().size(), 3);
}

class RollingFileSinkPruningTest : public RollingFileSinkStartTest {
protected:
    // Log files made 1, 2, ... hours before now, each of the given size, plus files that are not ours.
    QStringList makeArchive(int count, int size) {
        QStringList paths;
        for (int hours = count; hours >= 1; --hours) {
            paths << folder + QLatin1Char('/') + logName(clock.now().addSecs(-3600 * hours));
            writeFile(paths.back(), QByteArray(size, 'a'));
        }
        for (const QString& name : foreign)
            writeFile(folder + QLatin1Char('/') + name, QByteArray(4096, 'f'));
        return paths; // oldest first
    }

    void expectForeignFilesKept() {
        for (const QString& name : foreign)
            EXPECT_EQ(QFileInfo(folder + QLatin1Char('/') + name).size(), 4096) << name.toStdString();
    }

    QStringList ours() const {
        QStringList names = entries();
        for (const QString& name : foreign)
            names.removeAll(name);
        return names;
    }

    static QString nameOf(const QString& path) { return QFileInfo(path).fileName(); }

    const QStringList foreign = {QStringLiteral("crash-20200101120000.log"), QStringLiteral("notes.txt"),
                                 QStringLiteral("com.example.Other 2020-01-01--12-00-00-000.log"),
                                 QStringLiteral("com.example.Presenter 2020-01-01.log")};
};

TEST_F(RollingFileSinkPruningTest, KeepsTheNewestFilesUpToTheMaximumCount) {
    const QStringList archive = makeArchive(5, 10);
    RollingFileLimits limits = noPruning();
    limits.rollingFrequency = 60s;
    limits.maximumNumberOfLogFiles = 3;

    RollingFileSink sink(folder, kPrefix, limits, clock.function());
    const QString first = sink.currentFilePath();
    EXPECT_EQ(ours(), QStringList({nameOf(archive[3]), nameOf(archive[4]), nameOf(first)}));

    clock.advance(60s);
    logLine(sink, "rolled once");
    const QString second = sink.currentFilePath();
    EXPECT_EQ(ours(), QStringList({nameOf(archive[4]), nameOf(first), nameOf(second)}));

    clock.advance(60s);
    logLine(sink, "rolled twice");
    EXPECT_EQ(ours(), QStringList({nameOf(first), nameOf(second), nameOf(sink.currentFilePath())}));
    expectForeignFilesKept();
}

TEST_F(RollingFileSinkPruningTest, DeletesTheOldestFilesWhileOverTheDiskQuota) {
    const QStringList archive = makeArchive(4, 300);
    RollingFileLimits limits = noPruning();
    limits.rollingFrequency = 60s;
    limits.logFilesDiskQuota = 1000;

    RollingFileSink sink(folder, kPrefix, limits, clock.function());
    const QString first = sink.currentFilePath();
    EXPECT_EQ(ours(),
              QStringList({nameOf(archive[1]), nameOf(archive[2]), nameOf(archive[3]), nameOf(first)}));

    // 900 bytes archived: a current file of more than 100 bytes pushes the oldest out at the next roll.
    for (int i = 0; i < 3; ++i)
        logLine(sink, "a line long enough to add up");
    ASSERT_GT(QFileInfo(first).size(), 100);
    ASSERT_LT(QFileInfo(first).size(), 400);
    clock.advance(60s);
    logLine(sink, "rolled");
    EXPECT_EQ(ours(), QStringList({nameOf(archive[2]), nameOf(archive[3]), nameOf(first),
                                   nameOf(sink.currentFilePath())}));
    expectForeignFilesKept();
}

// A current file larger than the whole quota stays: only the archived files go.
TEST_F(RollingFileSinkPruningTest, NeverDeletesTheCurrentFile) {
    makeArchive(2, 300);
    const QString young = folder + QLatin1Char('/') + logName(clock.now().addSecs(-10));
    writeFile(young, QByteArray(1500, 'y'));
    RollingFileLimits limits = noPruning();
    limits.rollingFrequency = 60s;
    limits.logFilesDiskQuota = 1000;

    RollingFileSink sink(folder, kPrefix, limits, clock.function());
    ASSERT_EQ(sink.currentFilePath(), young);
    EXPECT_EQ(ours(), QStringList({nameOf(young)}));
    logLine(sink, "kept");
    EXPECT_EQ(payloads(young), QStringList({"kept"}));
    expectForeignFilesKept();
}

TEST_F(RollingFileSinkTest, SurvivesTheFileOrFolderGoingAwayAndResumes) {
    RollingFileSink sink(folder, kPrefix, {}, clock.function());
    logLine(sink, "before");

    // The file alone removed: the next line starts a new one.
    ASSERT_TRUE(QFile::remove(sink.currentFilePath()));
    clock.advance(1s);
    logLine(sink, "file gone");
    EXPECT_EQ(payloads(sink.currentFilePath()), QStringList({"file gone"}));

    // The whole folder removed: it comes back with a new file.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    clock.advance(1s);
    EXPECT_NO_THROW(logLine(sink, "folder gone"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(sink.currentFilePath(), folder + QLatin1Char('/') + logName(clock.now()));
    EXPECT_EQ(payloads(sink.currentFilePath()), QStringList({"folder gone"}));

    // A plain file where the folder belongs: the folder cannot be made, the lines are dropped until it can.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    writeFile(folder, "in the way");
    clock.advance(1s);
    EXPECT_NO_THROW(logLine(sink, "dropped"));
    EXPECT_NO_THROW(sink.flush());
    EXPECT_EQ(readFile(folder), QByteArray("in the way"));
    ASSERT_TRUE(QFile::remove(folder));
    clock.advance(1s);
    logLine(sink, "back");
    EXPECT_EQ(sink.currentFilePath(), folder + QLatin1Char('/') + logName(clock.now()));
    EXPECT_EQ(payloads(sink.currentFilePath()), QStringList({"back"}));
}

TEST_F(RollingFileSinkTest, StartsWithoutAFolderAndOpensOnceItCanBeMade) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).path()));
    writeFile(folder, "in the way");
    RollingFileSink sink(folder, kPrefix, {}, clock.function());
    EXPECT_TRUE(sink.currentFilePath().isEmpty());
    EXPECT_NO_THROW(logLine(sink, "dropped"));

    ASSERT_TRUE(QFile::remove(folder));
    logLine(sink, "first kept");
    ASSERT_FALSE(sink.currentFilePath().isEmpty());
    EXPECT_EQ(payloads(sink.currentFilePath()), QStringList({"first kept"}));
}

// Lines logged at once from several threads, across many rolls, each arrive whole and exactly once.
TEST_F(RollingFileSinkTest, ConcurrentLinesStayWhole) {
    RollingFileLimits limits = noPruning();
    limits.maximumFileSize = 16 * 1024;
    Logger::addLogger(std::make_shared<RollingFileSink>(folder, kPrefix, limits), LogLevel::Verbose, folder);

    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                LOG_INFO("thread {} line {} {}", t, i,
                         std::string(size_t(20 + (i * 7 + t) % 60), char('a' + t)));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    Logger::removeAllLoggers();

    const QRegularExpression whole(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} \\[I\\] "
                                                  "RollingFileSinkTest\\.cpp:\\d+ operator\\(\\): "
                                                  "thread (\\d) line (\\d+) ([a-h])+$"));
    QSet<QString> seen;
    int files = 0;
    for (const QString& name : entries()) {
        ++files;
        const QList<QByteArray> lines = readFile(folder + QLatin1Char('/') + name).split('\n');
        ASSERT_TRUE(lines.back().isEmpty()) << "file ends inside a line: " << name.toStdString();
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const QString line = QString::fromUtf8(lines[i]);
            const QRegularExpressionMatch m = whole.match(line);
            ASSERT_TRUE(m.hasMatch()) << line.toStdString();
            const int t = m.captured(1).toInt();
            const int n = m.captured(2).toInt();
            EXPECT_EQ(line.section(QLatin1Char(' '), -1),
                      QString(20 + (n * 7 + t) % 60, QLatin1Char('a' + t)));
            EXPECT_FALSE(seen.contains(m.captured(1) + QLatin1Char(':') + m.captured(2)))
                << line.toStdString();
            seen.insert(m.captured(1) + QLatin1Char(':') + m.captured(2));
        }
    }
    EXPECT_EQ(seen.size(), kThreads * kLines);
    EXPECT_GT(files, 2);
}

} // namespace
