// The crash log of an exception that leaves the event loop, read back after the process ended.
#include "app/CatchCrash.h"

#include "LogRecorder.h"
#include "core/Logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>

// Not static: its name must reach the stack's symbols.
[[noreturn]] void throwOutOfTheEventLoop() {
    throw std::out_of_range("slide 7 of 6");
}

TEST(CrashLogTest, AnExceptionLeavingTheEventLoopIsLoggedBesideTheLogsAndEndsTheProcess) {
    // The dying child runs this test again from its start: it finds the parent's folder in its environment.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Only the parent makes it: the child ends without removing anything.
    std::optional<QTemporaryDir> temporary;
    if (!qEnvironmentVariableIsSet("PC_CRASH_FOLDER"))
        qputenv("PC_CRASH_FOLDER", temporary.emplace().path().toUtf8());
    const QDir logs(qEnvironmentVariable("PC_CRASH_FOLDER"));
    EXPECT_EXIT(
        {
            Logger::removeAllLoggers();
            Logger::addFileLogger(logs.path(), "t", LogLevel::Verbose);
            CatchCrash::install();
            QTimer::singleShot(0, [] { throwOutOfTheEventLoop(); });
            // Nothing above the event loop catches it, as in the program's entry.
            []() noexcept {
                QCoreApplication::exec();
            }();
        },
        testing::KilledBySignal(SIGABRT), "slide 7 of 6"); // the standard handler still speaks

    qunsetenv("PC_CRASH_FOLDER");
    const QStringList crashes = logs.entryList({"crash-*.log"});
    ASSERT_EQ(crashes.size(), 1);
    EXPECT_TRUE(QRegularExpression("^crash-\\d{14}\\.log$").match(crashes[0]).hasMatch())
        << crashes[0].toStdString();
    QFile file(logs.filePath(crashes[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(QRegularExpression(
                    "^crashTime: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d Exception reason: slide 7 of 6$")
                    .match(lines[0])
                    .hasMatch())
        << lines[0].toStdString();
    EXPECT_EQ(lines[1], "Exception name: std::out_of_range");
    EXPECT_EQ(lines[2], "Exception stack:(");
    EXPECT_TRUE(lines.filter("throwOutOfTheEventLoop").size() == 1) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.back(), ")");
}

TEST(CrashLogTest, StackListingAndAFolderThatCannotBeWritten) {
    EXPECT_EQ(CatchCrash::describeList({}), "(\n)");
    EXPECT_EQ(CatchCrash::describeList({"main", "0 app  run + 12", "say \"hi\"\\"}),
              "(\n    main,\n    \"0 app  run + 12\",\n    \"say \\\"hi\\\"\\\\\"\n)");

    LogRecorder log;
    uncaughtExceptionHandler({"E", "R", {}}); // no file logger: no folder to write to
    ASSERT_EQ(log.at(spdlog::level::err).size(), 1u);
    EXPECT_TRUE(log.at(spdlog::level::err)[0].starts_with("将crash信息保存到本地失败: "));
}
