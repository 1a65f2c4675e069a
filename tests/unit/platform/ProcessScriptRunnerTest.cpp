#include "platform/ProcessScriptRunner.h"

#include "TestBundle.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::ProcessScriptRunner;

namespace {

class ProcessScriptRunnerTest : public ::testing::Test {
protected:
    void script(const QString& name, const QByteArray& body) const {
        bundle.addResource(name + ".scpt", "#!/bin/sh\n" + body, true);
    }
    TestBundle bundle{{}};
    ProcessScriptRunner runner{bundle.resourcesPath(), 2s};
};

} // namespace

TEST_F(ProcessScriptRunnerTest, ResultIsStandardOutputLessOneLineFeed) {
    script("path", "printf '/tmp/a b.pptx  \\n\\n'");
    script("plain", "printf 'no'");
    script("utf8", "printf '讲稿 \\342\\200\\224 ok\\n'");
    script("newline", "echo");
    script("silent", "exit 0");

    EXPECT_EQ(runner.run("path").result->stringValue(), QStringLiteral("/tmp/a b.pptx  \n"));
    EXPECT_EQ(runner.run("plain").result->stringValue(), QStringLiteral("no"));
    EXPECT_EQ(runner.run("utf8").result->stringValue(), QStringLiteral("讲稿 — ok"));
    const auto newline = runner.run("newline");
    ASSERT_TRUE(newline.result);
    EXPECT_EQ(newline.result->stringValue(), QString(""));
    const auto silent = runner.run("silent");
    EXPECT_FALSE(silent.result);
    EXPECT_FALSE(silent.runError);
    EXPECT_FALSE(silent.loadError);
}

TEST_F(ProcessScriptRunnerTest, FailureNumberComesFromStandardErrorOrTheExitStatus) {
    script("denied", "echo '-1743' >&2; echo 'not allowed' >&2; exit 1");
    script("status", "echo 'some words' >&2; exit 3");
    const auto denied = runner.run("denied");
    EXPECT_FALSE(denied.result);
    ASSERT_TRUE(denied.runError);
    EXPECT_EQ(denied.runError->number, -1743);
    EXPECT_TRUE(denied.runError->message.contains("not allowed"));
    const auto status = runner.run("status");
    ASSERT_TRUE(status.runError);
    EXPECT_EQ(status.runError->number, 3);
}

TEST_F(ProcessScriptRunnerTest, AScriptThatRunsTooLongIsEndedWithTheTimeoutNumber) {
    // The script's own child must end with it: it would otherwise write the marker later.
    const QString marker = bundle.resourcesPath() + "/late";
    script("hang", ("(sleep 1; touch '" + marker + "') & sleep 30").toUtf8());
    ProcessScriptRunner quick(bundle.resourcesPath(), 300ms);
    const auto outcome = quick.run("hang");
    EXPECT_FALSE(outcome.result);
    ASSERT_TRUE(outcome.runError);
    EXPECT_EQ(outcome.runError->number, platform::ScriptRunner::kTimeoutErrorNumber);
    QThread::msleep(1500);
    EXPECT_FALSE(QFile::exists(marker));
}

TEST_F(ProcessScriptRunnerTest, AScriptEndsWhenItExitsThoughWhatItStartedKeepsItsOutput) {
    // A bridge a script starts lives on with the script's output streams; the run ends with the script.
    const QString pidFile = bundle.resourcesPath() + "/left.pid";
    script("starter",
           ("sleep 30 & echo $! > '" + pidFile + "'; echo started; echo warm >&2; exit 0").toUtf8());
    ProcessScriptRunner patient(bundle.resourcesPath(), 20s);
    QElapsedTimer took;
    took.start();
    const auto outcome = patient.run("starter");
    const qint64 elapsed = took.elapsed();
    QFile left(pidFile);
    if (left.open(QIODevice::ReadOnly))
        ::kill(pid_t(left.readAll().trimmed().toInt()), SIGKILL);
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(outcome.result->stringValue(), QStringLiteral("started"));
    EXPECT_LT(elapsed, 10000) << "the run waited for what the script left running";
}

TEST_F(ProcessScriptRunnerTest, RunsNothingOutsideResourcesOrForMissingScripts) {
    bundle.addResource("../escape.scpt", "#!/bin/sh\necho ran\n", true);
    for (const QString& name : {QStringLiteral("missing"), QStringLiteral("../escape"), QStringLiteral("a/b"),
                                QString(), QStringLiteral("..")}) {
        const auto outcome = runner.run(name);
        EXPECT_FALSE(outcome.result) << name.toStdString();
        EXPECT_FALSE(outcome.runError);
        EXPECT_FALSE(outcome.loadError);
    }
}

TEST_F(ProcessScriptRunnerTest, AScriptThatCannotStartIsALoadError) {
    bundle.addResource("notExecutable.scpt", "#!/bin/sh\necho hi\n", false);
    const auto outcome = runner.run("notExecutable");
    EXPECT_FALSE(outcome.result);
    EXPECT_TRUE(outcome.loadError);
}

TEST(ScriptDescriptor, CoercesTextToNumbersAndBooleans) {
    using platform::ScriptDescriptor;
    EXPECT_EQ(ScriptDescriptor(QString("12")).int32Value(), 12);
    EXPECT_EQ(ScriptDescriptor(QString(" 7\n")).int32Value(), 7);
    EXPECT_EQ(ScriptDescriptor(QString("2.6")).int32Value(), 3);
    EXPECT_EQ(ScriptDescriptor(QString("-4")).int32Value(), -4);
    EXPECT_EQ(ScriptDescriptor(QString("1e12")).int32Value(), 2147483647);
    EXPECT_EQ(ScriptDescriptor(QString("abc")).int32Value(), 0);
    EXPECT_EQ(ScriptDescriptor(std::nullopt).int32Value(), 0);
    EXPECT_TRUE(ScriptDescriptor(QString("true")).booleanValue());
    EXPECT_TRUE(ScriptDescriptor(QString(" TRUE\n")).booleanValue());
    EXPECT_TRUE(ScriptDescriptor(QString("1")).booleanValue());
    EXPECT_FALSE(ScriptDescriptor(QString("false")).booleanValue());
    EXPECT_FALSE(ScriptDescriptor(QString("0")).booleanValue());
    EXPECT_FALSE(ScriptDescriptor(QString("")).booleanValue());
    EXPECT_FALSE(ScriptDescriptor(std::nullopt).booleanValue());
}
