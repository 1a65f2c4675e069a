// The user defaults when their file is broken or cannot be written.
#include "core/LocalUtils.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "TestBundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct ProbeRun {
    QStringList lines; // one for each operation
    std::string said() const { return lines.join(", ").toStdString(); }
    QString log;
    int exitCode = -1;
};

// Starts the operations in a second process (tests/unit/core/SettingsProbe.cpp) whose configuration
// folder is `config`. A read-only run of a root process runs without the capability to write where it may
// not (root writes into a read-only folder otherwise).
void startProbe(QProcess& process, const QString& config, const QStringList& operations, bool readOnly) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config);
    process.setProcessEnvironment(environment);
    if (readOnly && ::geteuid() == 0)
        process.start("setpriv", QStringList{"--inh-caps=-dac_override", "--bounding-set=-dac_override", "--",
                                             PC_SETTINGS_PROBE} +
                                     operations);
    else
        process.start(PC_SETTINGS_PROBE, operations);
}

ProbeRun finishProbe(QProcess& process) {
    ProbeRun run;
    if (!process.waitForFinished(30000)) {
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

ProbeRun probe(const QString& config, const QStringList& operations, bool readOnly = false) {
    QProcess process;
    startProbe(process, config, operations, readOnly);
    return finishProbe(process);
}

// The id of this program on a host whose machine id is 0123456789abcdef0123456789abcdef: HMAC-SHA256 over
// the bundle identifier, keyed by the 16 bytes of that id (computed apart from the code under test).
const QString kMachineIdText = "0123456789abcdef0123456789abcdef\n";
const QString kIdWithoutBundle = "61EC78AFCD4B75461A3F953C84485736"; // identifier absent
const QString kIdOfPodiumCast = "43D0B68BB4950AA79572768D9466F2DF";  // com.brisvane.PodiumCastForMac
const std::string kDerivedWarning = "; it is derived from this machine's id, the same at every launch";

} // namespace

TEST(SettingsFaultsTest, AnUnreadableFileIsKeptAsideAndTheMachineIdHoldsWhenNothingCanBeStored) {
    const TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}}};
    bundle.makeMain();
    const auto facts = std::make_shared<FakeHostFacts>();
    facts->machine = QByteArray::fromHex(kMachineIdText.toLatin1());
    platform::Platform::setHostFacts(facts);
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

    // A folder where the file should be: nothing can be stored, and the id, derived from the machine's,
    // still holds, said once.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::remove(folder.filePath(aside[0])));
    ASSERT_TRUE(folder.mkdir(QFileInfo(path).fileName()));
    const QString first = LocalUtils::GetMachineIndex();
    EXPECT_EQ(first.toStdString(), kIdOfPodiumCast.toStdString());
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first);
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first);
    const auto warnings = log.at(spdlog::level::warn);
    ASSERT_EQ(warnings.size(), 3u) << fmt::format("{}", fmt::join(warnings, "\n"));
    EXPECT_NE(warnings[2].find(path.toStdString() + ": what is there cannot be read"), std::string::npos)
        << warnings[2];
    EXPECT_NE(warnings[2].find(kDerivedWarning), std::string::npos) << warnings[2];
    ASSERT_TRUE(folder.rmdir(QFileInfo(path).fileName()));
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first) << "stored again once the file can be written";
    EXPECT_EQ(UserDefaultHelper::MachineIndex(), first);
    QFile::remove(path);
    platform::Platform::setHostFacts(nullptr);
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

    // A broken file in the read-only folder cannot be moved aside: said once, not at every read.
    file.close();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"SelectedVersion\": ");
    file.close();
    ASSERT_TRUE(QFile::setPermissions(config, readOnly));
    const ProbeRun broken = probe(config, {"read:SelectedVersion", "read:SelectedVersion"}, true);
    QFile::setPermissions(config, readOnly | QFileDevice::WriteOwner);
    EXPECT_EQ(broken.said(), "(none), (none)");
    EXPECT_EQ(broken.log.count("could not be moved aside"), 1) << broken.log.toStdString();
}

// No id stored and a folder that cannot be written: every launch derives the same id from the host's
// machine id (the second file, the D-Bus one, when the first holds none), and says so once; made writable
// while a launch runs, the folder gets that id, which the next launch reads.
TEST(SettingsFaultsTest, AnIdThatCannotBeStoredIsTheSameAtEveryLaunchAndStoredOnceItCanBe) {
    if (::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "setpriv is needed to take root's permission to write anywhere";
    const QTemporaryDir home;
    const QString config = home.path() + "/config", flag = home.path() + "/writable";
    const QString uninitialized = home.path() + "/uninitialized", dbus = home.path() + "/dbus-machine-id";
    ASSERT_TRUE(QDir().mkpath(config));
    for (const auto& [file, text] :
         {std::pair{uninitialized, QString("uninitialized\n")}, {dbus, kMachineIdText}}) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toLatin1());
    }
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                          QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(config, readOnly));
    const QString derivedFirst = uninitialized + "," + dbus, missingFirst = home.path() + "/none," + dbus;
    for (const QString& files : {derivedFirst, missingFirst}) {
        const ProbeRun launch = probe(
            config, {"machine-id-files:" + files, "machine-id", "machine-id", "read:MachineIndex"}, true);
        EXPECT_EQ(launch.said(), fmt::format("host, {0}, {0}, {0}", kIdWithoutBundle.toStdString()))
            << launch.log.toStdString();
        EXPECT_EQ(launch.log.count(QString::fromStdString(kDerivedWarning)), 1) << launch.log.toStdString();
        EXPECT_EQ(launch.log.count("[W]") + launch.log.count("[E]"), 1) << launch.log.toStdString();
    }
    EXPECT_TRUE(QDir(config).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    QProcess running;
    startProbe(running, config,
               {"machine-id-files:" + derivedFirst, "machine-id", "wait-for:" + flag, "machine-id"}, true);
    // The id is out (the second line) before the folder is made writable.
    const auto idGiven = [&] {
        return running.peek(running.bytesAvailable()).count('\n') >= 2;
    };
    while (!idGiven() && running.waitForReadyRead(20000)) {
    }
    ASSERT_TRUE(idGiven()) << "the probe gave no id";
    ASSERT_TRUE(QFile::setPermissions(config, readOnly | QFileDevice::WriteOwner));
    ASSERT_TRUE(QFile(flag).open(QIODevice::WriteOnly));
    const ProbeRun madeWritable = finishProbe(running);
    EXPECT_EQ(madeWritable.said(), fmt::format("host, {0}, found, {0}", kIdWithoutBundle.toStdString()))
        << madeWritable.log.toStdString();
    const QString path = config + "/PodiumCastCompanion.json";
    EXPECT_EQ(madeWritable.log.count("The user defaults of this run are saved to " + path + " now."), 1)
        << madeWritable.log.toStdString();

    const ProbeRun next = probe(config, {"machine-id-files:", "machine-id", "read:MachineIndex"});
    EXPECT_EQ(next.said(), fmt::format("host, {0}, {0}", kIdWithoutBundle.toStdString()))
        << next.log.toStdString();
    // Nothing logged (a sanitizer's own report may follow the run).
    EXPECT_FALSE(QRegularExpression(R"(\[[TDIWE]\] )").match(next.log).hasMatch()) << next.log.toStdString();
}
