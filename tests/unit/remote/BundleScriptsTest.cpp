// The Wi-Fi, clipboard-search and Bluetooth tools the bundles carry, run from a built bundle, and the
// shell script that stands for ejecting every disk, each with a search path that holds only fakes of
// the programs they drive (and a few text tools), so no real network, Bluetooth, disk or browser
// program can be reached.
#include "remote/ControlUtil.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kBundles = QStringLiteral(PC_BUNDLES_DIR);

// Runs the program with a PATH of fakes (each appends "<name> <arguments>" to a calls file, then runs its
// own lines) and the text tools; gives "<exit code> out=<output> err=<error up to a colon> calls=<a|b>".
std::string runWithFakes(const QString& program, const QStringList& arguments,
                         const std::map<QString, QByteArray>& fakes, const QString& variable = {}) {
    QTemporaryDir dir;
    for (const char* tool : {"awk", "grep", "od", "tr", "sed"})
        QFile::link(QStandardPaths::findExecutable(QString::fromUtf8(tool)),
                    dir.filePath(QString::fromUtf8(tool)));
    for (const auto& [name, lines] : fakes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"${0##*/} $*\" >> \"$CALLS\"\n" + lines);
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), dir.path());
    env.insert(QStringLiteral("CALLS"), dir.filePath(QStringLiteral("calls")));
    if (!variable.isEmpty())
        env.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return "did not end";
    QFile calls(dir.filePath(QStringLiteral("calls")));
    calls.open(QIODevice::ReadOnly);
    return QStringLiteral("%1 out=%2 err=%3 calls=%4")
        .arg(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1)
        .arg(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
             QString::fromUtf8(process.readAllStandardError()).section(u':', 0, 0),
             QString::fromUtf8(calls.readAll()).trimmed().replace(u'\n', u'|'))
        .toStdString();
}

const std::map<QString, QByteArray> kFakes = {
    {"bluetoothctl", "[ \"$1\" = show ] && echo \"\tPowered: $POWERED\"\nexit 0\n"},
    {"nmcli", "[ \"$*\" = 'radio wifi' ] && echo \"$WIFI\"\nexit 0\n"},
    {"xclip", "printf '%s' \"$CLIPBOARD\"\n"},
    {"xdg-open", ""}};

} // namespace

TEST(BundleScriptsTest, EveryBundleCarriesTheToolsExecutable) {
    for (const char* flavour : {"SlideWand", "PodiumCast", "Steerlynx"})
        for (const char* name : {"wifi.scpt", "searchClipboard.scpt", "blueutil"}) {
            const QFileInfo file(kBundles + u'/' + flavour + QStringLiteral(".app/Contents/Resources/") +
                                 name);
            EXPECT_TRUE(file.isFile() && file.isExecutable()) << file.filePath().toStdString();
        }
}

TEST(BundleScriptsTest, ToolsDriveTheirProgramsAndTheBluetoothToolTakesNothingElse) {
    const struct {
        const char* tool;
        QStringList arguments;
        const char* variable;
        std::string result;
    } runs[] = {
        {"blueutil", {"-p", "1"}, "", "0 out= err= calls=bluetoothctl power on"},
        {"blueutil", {"-p", "on"}, "", "0 out= err= calls=bluetoothctl power on"},
        {"blueutil", {"-p", "0"}, "", "0 out= err= calls=bluetoothctl power off"},
        {"blueutil", {"-p", "off"}, "", "0 out= err= calls=bluetoothctl power off"},
        {"blueutil",
         {"-p", "toggle"},
         "POWERED=yes",
         "0 out= err= calls=bluetoothctl show|bluetoothctl power off"},
        {"blueutil",
         {"-p", "toggle"},
         "POWERED=no",
         "0 out= err= calls=bluetoothctl show|bluetoothctl power on"},
        {"blueutil", {}, "", "64 out= err=usage calls="},
        {"blueutil", {"-p"}, "", "64 out= err=usage calls="},
        {"blueutil", {"-p", "1; bluetoothctl power off"}, "", "64 out= err=usage calls="},
        {"blueutil", {"-p", "$(bluetoothctl power off)"}, "", "64 out= err=usage calls="},
        {"blueutil", {"-p", "1", "2"}, "", "64 out= err=usage calls="},
        {"blueutil", {"-x", "1"}, "", "64 out= err=usage calls="},
        {"blueutil", {"-p", "2"}, "", "64 out= err=usage calls="},
        {"wifi.scpt", {}, "WIFI=enabled", "0 out=off err= calls=nmcli radio wifi|nmcli radio wifi off"},
        {"wifi.scpt", {}, "WIFI=disabled", "0 out=on err= calls=nmcli radio wifi|nmcli radio wifi on"},
        {"wifi.scpt", {}, "WIFI=missing", "1 out= err=wifi calls=nmcli radio wifi"},
        {"searchClipboard.scpt",
         {},
         "CLIPBOARD=a b&é",
         "0 out= err= calls=xclip -o -selection clipboard|xdg-open "
         "https://www.google.com/search?q=%61%20%62%26%c3%a9"},
        {"searchClipboard.scpt", {}, "CLIPBOARD=", "0 out= err= calls=xclip -o -selection clipboard"},
    };
    const QString resources = kBundles + QStringLiteral("/SlideWand.app/Contents/Resources/");
    for (const auto& run : runs)
        EXPECT_EQ(runWithFakes(resources + run.tool, run.arguments, kFakes, run.variable), run.result)
            << run.tool << ' ' << run.arguments.join(u' ').toStdString();
    EXPECT_EQ(runWithFakes(resources + "searchClipboard.scpt", {}, {{"xdg-open", ""}}),
              "1 out= err=searchClipboard calls=");
}

TEST(BundleScriptsTest, EjectScriptUnmountsAndPowersOffRemovableDisksAndEjectsRemovableMedia) {
    std::map<QString, QByteArray> fakes = {{"lsblk", R"(case "$*" in
"-dnrpo NAME,RM,TYPE") printf '/dev/sda 0 disk\n/dev/sdb 1 disk\n/dev/sr0 1 rom\n/dev/loop0 0 loop\n' ;;
"-nrpo NAME,MOUNTPOINT /dev/sdb") printf '/dev/sdb \n/dev/sdb1 /media/u/STICK\n/dev/sdb2 \n/dev/sdb3 /media/u/B\n' ;;
esac
)"},
                                           {"udisksctl", ""},
                                           {"eject", ""}};
    const auto eject = ControlUtil::linuxEquivalentOf(
        QStringLiteral(R"(tell application "Finder" to eject (every disk whose ejectable is true))"));
    ASSERT_TRUE(eject);
    const std::string calls =
        "lsblk -dnrpo NAME,RM,TYPE|lsblk -nrpo NAME,MOUNTPOINT /dev/sdb|udisksctl unmount "
        "--no-user-interaction -b /dev/sdb1|udisksctl unmount --no-user-interaction -b "
        "/dev/sdb3|udisksctl power-off --no-user-interaction -b /dev/sdb|eject /dev/sr0";
    EXPECT_EQ(runWithFakes(eject->program, eject->arguments, fakes), "0 out= err= calls=" + calls);
    // A failure anywhere is the script's failure; it still goes on with the other disks.
    fakes["udisksctl"] = "exit 1\n";
    EXPECT_EQ(runWithFakes(eject->program, eject->arguments, fakes), "1 out= err= calls=" + calls);
}
