// The Wi-Fi, clipboard-search and Bluetooth tools the bundles carry, run from a built bundle, and the
// shell script that stands for ejecting every disk, each with a search path that holds only fakes of
// the programs they drive (and a few text tools), so no real network, Bluetooth, disk or browser
// program can be reached.
#include "remote/ControlUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const QString kBundles = QStringLiteral(PC_BUNDLES_DIR);

QString resource(const QString& name) {
    return kBundles + QStringLiteral("/SlideWand.app/Contents/Resources/") + name;
}

TEST(BundleScriptsTest, EveryBundleCarriesTheToolsExecutable) {
    for (const char* flavour : {"SlideWand", "PodiumCast", "Steerlynx"}) {
        for (const char* name : {"wifi.scpt", "searchClipboard.scpt", "blueutil"}) {
            const QFileInfo file(kBundles + u'/' + QString::fromUtf8(flavour) +
                                 QStringLiteral(".app/Contents/Resources/") + QString::fromUtf8(name));
            EXPECT_TRUE(file.isFile()) << file.filePath().toStdString();
            EXPECT_TRUE(file.isExecutable()) << file.filePath().toStdString();
        }
    }
}

// A folder of fake programs that write "<name> <arguments>" to a calls file, used as the whole PATH.
class FakeTools {
public:
    FakeTools() {
        for (const char* tool : {"awk", "grep", "od", "tr", "sed"}) {
            const QString real = QStandardPaths::findExecutable(QString::fromUtf8(tool));
            if (!real.isEmpty())
                QFile::link(real, dir_.filePath(QString::fromUtf8(tool)));
        }
    }

    // A fake that records its call, then runs the extra shell lines.
    void add(const QString& name, const QByteArray& extra = {}) {
        QFile file(dir_.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"${0##*/} $*\" >> \"$CALLS\"\n" + extra);
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    }

    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Run run(const QString& program, const QStringList& arguments, const QStringList& variables = {}) {
        QProcess process;
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), dir_.path());
        env.insert(QStringLiteral("CALLS"), dir_.filePath(QStringLiteral("calls")));
        for (const QString& v : variables)
            env.insert(v.section(u'=', 0, 0), v.section(u'=', 1));
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        if (!process.waitForFinished(30000))
            return {};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    std::vector<std::string> takeCalls() {
        QFile file(dir_.filePath(QStringLiteral("calls")));
        std::vector<std::string> calls;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (!line.isEmpty())
                    calls.push_back(line.toStdString());
            }
            file.remove();
        }
        return calls;
    }

private:
    QTemporaryDir dir_;
};

TEST(BundleScriptsTest, BlueutilSwitchesThePowerThroughBluetoothctl) {
    FakeTools tools;
    tools.add(QStringLiteral("bluetoothctl"),
              "[ \"$1\" = show ] && echo \"	Powered: $POWERED\"\nexit 0\n");
    const QString blueutil = resource(QStringLiteral("blueutil"));
    for (const char* on : {"1", "on"}) {
        EXPECT_EQ(tools.run(blueutil, {QStringLiteral("-p"), QString::fromUtf8(on)}).exitCode, 0);
        EXPECT_THAT(tools.takeCalls(), ElementsAre("bluetoothctl power on")) << on;
    }
    for (const char* off : {"0", "off"}) {
        EXPECT_EQ(tools.run(blueutil, {QStringLiteral("-p"), QString::fromUtf8(off)}).exitCode, 0);
        EXPECT_THAT(tools.takeCalls(), ElementsAre("bluetoothctl power off")) << off;
    }
    EXPECT_EQ(
        tools.run(blueutil, {QStringLiteral("-p"), QStringLiteral("toggle")}, {QStringLiteral("POWERED=yes")})
            .exitCode,
        0);
    EXPECT_THAT(tools.takeCalls(), ElementsAre("bluetoothctl show", "bluetoothctl power off"));
    EXPECT_EQ(
        tools.run(blueutil, {QStringLiteral("-p"), QStringLiteral("toggle")}, {QStringLiteral("POWERED=no")})
            .exitCode,
        0);
    EXPECT_THAT(tools.takeCalls(), ElementsAre("bluetoothctl show", "bluetoothctl power on"));
}

TEST(BundleScriptsTest, BlueutilRefusesAnyOtherArguments) {
    FakeTools tools;
    tools.add(QStringLiteral("bluetoothctl"));
    const QString blueutil = resource(QStringLiteral("blueutil"));
    const QStringList refused[] = {
        {},
        {QStringLiteral("-p")},
        {QStringLiteral("-p"), QStringLiteral("1; bluetoothctl power off")},
        {QStringLiteral("-p"), QStringLiteral("$(bluetoothctl power off)")},
        {QStringLiteral("-p"), QStringLiteral("1"), QStringLiteral("2")},
        {QStringLiteral("-x"), QStringLiteral("1")},
        {QStringLiteral("-p"), QStringLiteral("2")},
    };
    for (const QStringList& arguments : refused) {
        const auto run = tools.run(blueutil, arguments);
        EXPECT_EQ(run.exitCode, 64) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("usage: blueutil")));
    }
    EXPECT_THAT(tools.takeCalls(), IsEmpty());
}

TEST(BundleScriptsTest, WifiScriptSwitchesTheRadioOver) {
    FakeTools tools;
    tools.add(QStringLiteral("nmcli"), "[ \"$*\" = 'radio wifi' ] && echo \"$WIFI\"\nexit 0\n");
    const QString wifi = resource(QStringLiteral("wifi.scpt"));

    auto run = tools.run(wifi, {}, {QStringLiteral("WIFI=enabled")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QStringLiteral("off\n"));
    EXPECT_THAT(tools.takeCalls(), ElementsAre("nmcli radio wifi", "nmcli radio wifi off"));

    run = tools.run(wifi, {}, {QStringLiteral("WIFI=disabled")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QStringLiteral("on\n"));
    EXPECT_THAT(tools.takeCalls(), ElementsAre("nmcli radio wifi", "nmcli radio wifi on"));

    run = tools.run(wifi, {}, {QStringLiteral("WIFI=missing")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(tools.takeCalls(), ElementsAre("nmcli radio wifi"));
}

TEST(BundleScriptsTest, ClipboardSearchOpensAWebSearchForTheClipboardText) {
    FakeTools tools;
    tools.add(QStringLiteral("xclip"), "printf '%s' \"$CLIPBOARD\"\n");
    tools.add(QStringLiteral("xdg-open"));
    const QString search = resource(QStringLiteral("searchClipboard.scpt"));

    EXPECT_EQ(tools.run(search, {}, {QStringLiteral("CLIPBOARD=a b&é")}).exitCode, 0);
    EXPECT_THAT(tools.takeCalls(),
                ElementsAre("xclip -o -selection clipboard",
                            "xdg-open https://www.google.com/search?q=%61%20%62%26%c3%a9"));

    EXPECT_EQ(tools.run(search, {}, {QStringLiteral("CLIPBOARD=")}).exitCode, 0);
    EXPECT_THAT(tools.takeCalls(), ElementsAre("xclip -o -selection clipboard"));
}

TEST(BundleScriptsTest, ClipboardSearchWithoutAClipboardReaderFails) {
    FakeTools tools;
    tools.add(QStringLiteral("xdg-open"));
    const auto run = tools.run(resource(QStringLiteral("searchClipboard.scpt")), {});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("no clipboard reader")));
    EXPECT_THAT(tools.takeCalls(), IsEmpty());
}

TEST(BundleScriptsTest, EjectScriptUnmountsAndPowersOffRemovableDisksAndEjectsRemovableMedia) {
    FakeTools tools;
    tools.add(QStringLiteral("lsblk"), R"(case "$*" in
"-dnrpo NAME,RM,TYPE") printf '/dev/sda 0 disk\n/dev/sdb 1 disk\n/dev/sr0 1 rom\n/dev/loop0 0 loop\n' ;;
"-nrpo NAME,MOUNTPOINT /dev/sdb") printf '/dev/sdb \n/dev/sdb1 /media/u/STICK\n/dev/sdb2 \n/dev/sdb3 /media/u/B\n' ;;
esac
)");
    tools.add(QStringLiteral("udisksctl"));
    tools.add(QStringLiteral("eject"));
    const auto eject = ControlUtil::linuxEquivalentOf(
        QStringLiteral(R"(tell application "Finder" to eject (every disk whose ejectable is true))"));
    ASSERT_TRUE(eject);
    EXPECT_EQ(tools.run(eject->program, eject->arguments).exitCode, 0);
    EXPECT_THAT(tools.takeCalls(),
                ElementsAre("lsblk -dnrpo NAME,RM,TYPE", "lsblk -nrpo NAME,MOUNTPOINT /dev/sdb",
                            "udisksctl unmount --no-user-interaction -b /dev/sdb1",
                            "udisksctl unmount --no-user-interaction -b /dev/sdb3",
                            "udisksctl power-off --no-user-interaction -b /dev/sdb", "eject /dev/sr0"));

    // A failure anywhere is the script's failure; it still goes on with the other disks.
    tools.add(QStringLiteral("udisksctl"), "exit 1\n");
    EXPECT_EQ(tools.run(eject->program, eject->arguments).exitCode, 1);
    EXPECT_EQ(tools.takeCalls().back(), "eject /dev/sr0");
}

} // namespace
