// The user defaults when their file is broken or cannot be written.
#include "core/LocalUtils.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "LogRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct ProbeRun {
    QStringList lines; // one for each operation
    std::string said() const { return lines.join(", ").toStdString(); }
    QString log;
    int exitCode = -1;
};

// The operations in a second process (tests/unit/core/SettingsProbe.cpp) whose configuration folder is
// `config`. A read-only run of a root process runs without the capability to write where it may not
// (root writes into a read-only folder otherwise).
ProbeRun probe(const QString& config, const QStringList& operations, bool readOnly = false) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config);
    process.setProcessEnvironment(environment);
    if (readOnly && ::geteuid() == 0)
        process.start("setpriv", QStringList{"--inh-caps=-dac_override", "--bounding-set=-dac_override", "--",
                                             PC_SETTINGS_PROBE} +
                                     operations);
    else
        process.start(PC_SETTINGS_PROBE, operations);
    ProbeRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "the probe did not end: " << process.errorString().toStdString();
        return run;
    }
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.log = QString::fromUtf8(process.readAllStandardError());
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

} // namespace

TEST(SettingsFaultsTest, AnUnreadableFileIsKeptAsideAndTheMachineIdHoldsWhenNothingCanBeStored) {
    const QString path = UserDefaults::filePath();
    const QDir folder = QFileInfo(path).dir();
    LogRecorder log;
    ASSERT_TRUE(folder.mkpath("."));
    {
        QFile broken(path);
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("{\"MachineIndex\": \"AB");
    }
    UserDefaultHelper::SaveSelectedVersion(3);
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 3);
    const QStringList aside = folder.entryList({QFileInfo(path).fileName() + ".unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(folder.filePath(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "{\"MachineIndex\": \"AB");
    EXPECT_EQ(log.at(spdlog::level::warn).size(), 2u); // unreadable, and kept aside

    // A folder where the file should be: nothing can be stored, and the id still holds.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::remove(folder.filePath(aside[0])));
    ASSERT_TRUE(folder.mkdir(QFileInfo(path).fileName()));
    const QString first = LocalUtils::GetMachineIndex();
    EXPECT_EQ(first.size(), 32);
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first);
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first);
    EXPECT_EQ(
        log.count(spdlog::level::warn,
                  "The machine id cannot be stored in the user defaults; it holds until the program ends."),
        1);
    ASSERT_TRUE(folder.rmdir(QFileInfo(path).fileName()));
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first) << "stored again once the file can be written";
    EXPECT_EQ(UserDefaultHelper::MachineIndex(), first);
    QFile::remove(path);
}

// A folder that cannot be written: the stored values stay readable, each value written holds for the
// run, and each failed write says so once; the next launch finds the file as it was.
TEST(SettingsFaultsTest, AReadOnlyFolderKeepsTheStoredValuesAndTheValuesOfTheRun) {
    if (::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "setpriv is needed to take root's permission to write anywhere";
    const QTemporaryDir home;
    const QString config = home.path() + "/config";
    const ProbeRun first =
        probe(config, {"machine-id", "write:IsStoppedShowingWelcome=true", "write:SelectedVersion=1"});
    ASSERT_EQ(first.exitCode, 0) << first.log.toStdString();
    ASSERT_EQ(first.lines.size(), 3) << first.log.toStdString();
    const QString id = first.lines[0];
    EXPECT_EQ(first.said(), id.toStdString() + ", saved, saved");
    const QString path = config + "/PodiumCastCompanion.json";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray saved = file.readAll();
    file.close();

    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                          QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(config, readOnly));
    const ProbeRun blocked = probe(config,
                                   {"machine-id", "read:IsStoppedShowingWelcome", "write:SelectedVersion=2",
                                    "read:SelectedVersion", "write:DebugInfo=\"typed\"", "read:DebugInfo",
                                    "read:SelectedVersion", "machine-id"},
                                   true);
    QFile::setPermissions(config, readOnly | QFileDevice::WriteOwner);
    EXPECT_EQ(blocked.exitCode, 0) << blocked.log.toStdString();
    EXPECT_EQ(blocked.said(),
              fmt::format("{0}, true, not saved, 2, not saved, typed, 2, {0}", id.toStdString()))
        << blocked.log.toStdString();
    EXPECT_EQ(blocked.log.count("The user defaults cannot be saved to " + path), 2)
        << blocked.log.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), saved);
    EXPECT_EQ(QDir(config).entryList(QDir::Files | QDir::Hidden).join(", ").toStdString(),
              "PodiumCastCompanion.json");

    const ProbeRun next = probe(
        config, {"machine-id", "read:SelectedVersion", "read:IsStoppedShowingWelcome", "read:DebugInfo"});
    EXPECT_EQ(next.said(), id.toStdString() + ", 1, true, (none)") << next.log.toStdString();
}
