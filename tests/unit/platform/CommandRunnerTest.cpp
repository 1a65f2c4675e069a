#include "platform/CommandRunner.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(ProcessCommandRunner, RunsFromPathWithArgumentsAsGivenAndKillsTheGroupAtTheTimeout) {
    platform::ProcessCommandRunner runner;
    const auto done =
        runner.run("sh", {"-c", "printf '%s|' \"$@\"; printf 'bad' >&2; exit 3", "sh", "a b", "ü;$x"}, 10s);
    EXPECT_TRUE(done.started);
    EXPECT_EQ(done.exitCode, 3);
    EXPECT_EQ(done.standardOutput, QStringLiteral("a b|ü;$x|"));
    EXPECT_EQ(done.standardError, QStringLiteral("bad"));

    EXPECT_FALSE(runner.run("pc-no-such-program", {}, 10s).started);
    EXPECT_FALSE(runner.run("", {}, 10s).started);

    // What the command started in its group ends with it: it would otherwise write the marker later.
    QTemporaryDir work;
    const QString marker = work.filePath("late");
    const auto slow =
        runner.run("/bin/sh", {"-c", "(sleep 1; touch \"$0\") & printf started; sleep 30", marker}, 300ms);
    EXPECT_TRUE(slow.started);
    EXPECT_EQ(slow.exitCode, -1);
    EXPECT_EQ(slow.standardOutput, QStringLiteral("started"));
    QThread::msleep(1500);
    EXPECT_FALSE(QFile::exists(marker));
}
