#include "platform/Workspace.h"
#include "platform/Bundle.h"

#include "Fakes.h"
#include "TestBundle.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::LinuxWorkspace;

TEST(Workspace, RelaunchCommandWaitsThenStartsTheQuotedExecutable) {
    EXPECT_EQ(
        LinuxWorkspace::relaunchCommand(0, "/opt/My Apps/PodiumCast.app/Contents/MacOS/PodiumCast"),
        QStringLiteral("sleep 0.000000; exec \"/opt/My Apps/PodiumCast.app/Contents/MacOS/PodiumCast\""));
    EXPECT_EQ(LinuxWorkspace::relaunchCommand(1.5f, "/a"), QStringLiteral("sleep 1.500000; exec \"/a\""));
}

TEST(Workspace, RelaunchStartsAShellThatOutlivesUs) {
    const TestBundle bundle({{"CFBundleExecutable", "Runner"}}, "Odd Name");
    auto runner = std::make_shared<RecordingCommandRunner>();
    LinuxWorkspace workspace(runner, platform::Bundle(bundle.path()).executablePath());
    EXPECT_TRUE(workspace.relaunchAfterDelay(0));
    const auto calls = runner->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].detached);
    EXPECT_EQ(calls[0].program, "/bin/sh");
    EXPECT_EQ(calls[0].arguments,
              QStringList({"-c", "sleep 0.000000; exec \"" + bundle.path() + "/Contents/MacOS/Runner\""}));
}

// The quoted path must reach the shell as exactly one word, whatever characters it holds.
TEST(Workspace, RelaunchCommandQuotingSurvivesHostilePaths) {
    QTemporaryDir dir;
    const QString marker = "injected"; // relative: created in the shell's working folder if anything runs
    const QStringList names{
        "with space",  "quote\"inside", "$(touch " + marker + ")", "`touch " + marker + "`",
        "back\\slash", "中文 名"};
    for (const QString& name : names) {
        const QString path = dir.path() + "/" + name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$0\"\n");
        file.close();
        file.setPermissions(file.permissions() | QFile::ExeOwner);
        QProcess sh;
        sh.setWorkingDirectory(dir.path());
        sh.start("/bin/sh", {"-c", LinuxWorkspace::relaunchCommand(0, path)});
        ASSERT_TRUE(sh.waitForFinished(5000));
        EXPECT_EQ(QString::fromUtf8(sh.readAllStandardOutput()).trimmed(), path) << name.toStdString();
        EXPECT_FALSE(QFile::exists(dir.path() + "/" + marker)) << name.toStdString();
    }
}
