#include "remote/ComputerControlManager.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "RecordingEventPoster.h"
#include "TestBundle.h"
#include "platform/Bundle.h"

#include <atomic>
#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class ComputerControlTest : public ::testing::Test {
protected:
    ComputerControlTest() {
        bundle.addResource(QStringLiteral("blueutil"), "#!/bin/sh\nexit 0\n", true);
        bundle.addResource(QStringLiteral("wifi.scpt"), "#!/bin/sh\nexit 0\n", true);
        bundle.addResource(QStringLiteral("searchClipboard.scpt"), "#!/bin/sh\nexit 0\n", true);
        commands->result = {true, 0, QString(), QString()};
    }

    ComputerControlManager makeManager() {
        ControlUtil::Collaborators c;
        c.commands = commands;
        c.scripts = scripts;
        c.events = events;
        c.bundle = std::make_shared<const platform::Bundle>(bundle.path());
        return ComputerControlManager(std::move(c));
    }

    void run(const std::optional<QString>& command) { manager.executeCommandString(command); }

    struct Call {
        QString program;
        QStringList arguments;
        bool operator==(const Call&) const = default;
        friend void PrintTo(const Call& c, std::ostream* os) {
            *os << c.program.toStdString() << " [" << c.arguments.join(QStringLiteral("] [")).toStdString()
                << ']';
        }
    };
    std::vector<Call> calls() const {
        std::vector<Call> out;
        for (const auto& call : commands->calls()) {
            EXPECT_FALSE(call.detached);
            out.push_back({call.program, call.arguments});
        }
        return out;
    }

    // Nothing ran, nothing was posted.
    void expectNoEffect() {
        EXPECT_THAT(commands->calls(), IsEmpty());
        EXPECT_THAT(scripts->runs(), IsEmpty());
        EXPECT_THAT(events->events(), IsEmpty());
    }

    TestBundle bundle{{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.brisvane.Test")}}};
    std::shared_ptr<RecordingCommandRunner> commands = std::make_shared<RecordingCommandRunner>();
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<RecordingEventPoster> events = std::make_shared<RecordingEventPoster>();
    ComputerControlManager manager = makeManager();
    LogRecorder log;
};

TEST_F(ComputerControlTest, EachShortcutPostsItsKeyDownWithItsFlagsThenTheKeyUpWithTheNonCoalescedFlag) {
    const struct {
        const char* action;
        int keyCode;
        std::uint64_t flags;
    } shortcuts[] = {
        {"brightnessUp", 113, 0x800000},
        {"brightnessDown", 107, 0x800000},
        {"previousDesktop", 123, 0x840000},
        {"nextDesktop", 124, 0x840000},
        {"missionControl", 126, 0x840000},
        {"applicationWindows", 125, 0x840000},
        {"launchPad", 131, 0x800000},
        {"siri", 49, 0x800000},
        {"screenShot", 21, 0x120000},
        {"spotlight", 49, 0x100000},
        {"previousApplication", 48, 0x100000},
        {"switchWindow", 50, 0x100000},
        {"maximizeWindow", 3, 0x140000},
        {"previousTab", 33, 0x120000},
        {"nextTab", 30, 0x120000},
        {"refresh", 15, 0x100000},
        {"closeTab", 13, 0x100000},
        {"newTab", 17, 0x100000},
        {"quitApplication", 12, 0x100000},
        {"forceQuit", 53, 0x180000},
    };
    for (const auto& s : shortcuts) {
        events->clear();
        run(QString::fromUtf8(s.action));
        EXPECT_THAT(
            describeEvents(events->events()),
            ElementsAre(fmt::format("type=10 key={} flags={:#x} source=private tap=0", s.keyCode, s.flags),
                        fmt::format("type=11 key={} flags=0x100 source=private tap=0", s.keyCode)))
            << s.action;
    }
    EXPECT_THAT(commands->calls(), IsEmpty());
}

TEST_F(ComputerControlTest, ShowDesktopPostsTwoStrokesWithCommandAndOption) {
    run(QStringLiteral("showDesktop"));
    EXPECT_THAT(describeEvents(events->events()),
                ElementsAre("type=10 key=46 flags=0x180000 source=private tap=0",
                            "type=11 key=46 flags=0x100 source=private tap=0",
                            "type=10 key=4 flags=0x180000 source=private tap=0",
                            "type=11 key=4 flags=0x100 source=private tap=0"));
}

TEST_F(ComputerControlTest, ScriptTextActionsRunTheirLinuxEquivalentThroughTheCommandRunner) {
    const auto pactl = [](const char* volume) {
        return Call{
            QStringLiteral("pactl"),
            {QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"), QString::fromUtf8(volume)}};
    };
    const std::pair<const char*, Call> actions[] = {
        {"sleep", {QStringLiteral("systemctl"), {QStringLiteral("suspend")}}},
        {"reboot", {QStringLiteral("systemctl"), {QStringLiteral("reboot")}}},
        {"shutdown", {QStringLiteral("systemctl"), {QStringLiteral("poweroff")}}},
        {"logout", {QStringLiteral("loginctl"), {QStringLiteral("terminate-session"), QString()}}},
        {"startScreenSaver", {QStringLiteral("xdg-screensaver"), {QStringLiteral("activate")}}},
        {"lockScreen", {QStringLiteral("loginctl"), {QStringLiteral("lock-session")}}},
        {"volumeUp", pactl("+5%")},
        {"volumeDown", pactl("-5%")},
        {"volumeMute", pactl("0%")},
    };
    for (const auto& [action, expected] : actions) {
        commands = std::make_shared<RecordingCommandRunner>();
        commands->result = {true, 0, QString(), QString()};
        manager = makeManager();
        run(QString::fromUtf8(action));
        EXPECT_THAT(calls(), ElementsAre(expected)) << action;
    }
    EXPECT_THAT(log.at(spdlog::level::info), ::testing::Each(std::string("compiled the script")));
    EXPECT_EQ(log.at(spdlog::level::info).size(), std::size(actions));
    EXPECT_THAT(log.at(spdlog::level::err), IsEmpty());
    EXPECT_THAT(events->events(), IsEmpty());
}

TEST_F(ComputerControlTest, EjectAllRunsAFixedShellScriptOverTheRemovableDisks) {
    run(QStringLiteral("ejectAll"));
    const auto made = calls();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].program, QStringLiteral("/bin/sh"));
    ASSERT_EQ(made[0].arguments.size(), 2);
    EXPECT_EQ(made[0].arguments[0], QStringLiteral("-c"));
    EXPECT_THAT(made[0].arguments[1].toStdString(), HasSubstr("udisksctl power-off"));
    EXPECT_THAT(made[0].arguments[1].toStdString(), HasSubstr("lsblk"));
}

TEST_F(ComputerControlTest, ItemsBeyondTheArgumentCountAreIgnored) {
    run(QStringLiteral("volumeUp"));
    run(QStringLiteral("volumeUp,10"));
    const auto made = calls();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[0], made[1]);
}

TEST_F(ComputerControlTest, NamesThatAreNoActionDoNothingSilently) {
    for (const char* command : {"VolumeUp", "volumeUp:", "", ",", " volumeUp", "volumeUp ", "lock",
                                "setLock:,x", "postKey:Flags:,12,1048576", "init", "dealloc", "description",
                                "setBlueToothState", "testParamWithP1:", "changeWifiState:"}) {
        run(QString::fromUtf8(command));
    }
    expectNoEffect();
    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(ComputerControlTest, AbsentStringLogsInvalidCcmd) {
    run(std::nullopt);
    expectNoEffect();
    EXPECT_THAT(log.at(spdlog::level::info), ElementsAre("Invalid ccmd."));
}

TEST_F(ComputerControlTest, BluetoothStateIsTheToolsOneArgumentWithoutAShell) {
    const QString tool = bundle.resourcesPath() + QStringLiteral("/blueutil");
    run(QStringLiteral("setBlueToothState:,1"));
    run(QStringLiteral("setBlueToothState:,0;reboot $(id) `id`"));
    EXPECT_THAT(calls(),
                ElementsAre(Call{tool, {QStringLiteral("-p"), QStringLiteral("1")}},
                            Call{tool, {QStringLiteral("-p"), QStringLiteral("0;reboot $(id) `id`")}}));
    EXPECT_THAT(log.at(spdlog::level::err), IsEmpty());
}

TEST_F(ComputerControlTest, BluetoothWithoutStateOrToolRunsNothing) {
    run(QStringLiteral("setBlueToothState:"));
    EXPECT_THAT(commands->calls(), IsEmpty());
    EXPECT_THAT(log.at(spdlog::level::info), ElementsAre("setBlueToothState: no state given"));

    QFile::remove(bundle.resourcesPath() + QStringLiteral("/blueutil"));
    manager = makeManager();
    run(QStringLiteral("setBlueToothState:,1"));
    EXPECT_THAT(commands->calls(), IsEmpty());
    EXPECT_THAT(log.at(spdlog::level::err), ElementsAre("setBlueToothState: the bundle holds no blueutil"));
}

TEST_F(ComputerControlTest, FailingToolLogsItsError) {
    commands->result = {true, 1, QString(), QStringLiteral("No default controller available\n")};
    run(QStringLiteral("setBlueToothState:,on"));
    const auto errors = log.at(spdlog::level::err);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], HasSubstr("NSAppleScriptErrorMessage = \"No default controller available\";"));
    EXPECT_THAT(errors[0], HasSubstr("NSAppleScriptErrorNumber = 1;"));
}

TEST_F(ComputerControlTest, WifiAndClipboardSearchRunTheirBundleScripts) {
    run(QStringLiteral("changeWifiState"));
    run(QStringLiteral("searchClipboard"));
    EXPECT_EQ(scripts->runs(), QStringList({QStringLiteral("wifi"), QStringLiteral("searchClipboard")}));
    EXPECT_THAT(log.at(spdlog::level::trace),
                ElementsAre("runAppleScript: wifi", "runAppleScript: searchClipboard"));
    EXPECT_THAT(commands->calls(), IsEmpty());
}

TEST_F(ComputerControlTest, BundleScriptFailuresAreLogged) {
    scripts->fail(QStringLiteral("wifi"), -1728);
    platform::ScriptRunResult broken;
    broken.loadError = platform::ScriptError{-1, QStringLiteral("Exec format error")};
    scripts->answer(QStringLiteral("searchClipboard"), broken);
    run(QStringLiteral("changeWifiState"));
    run(QStringLiteral("searchClipboard"));
    const auto errors = log.at(spdlog::level::err);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_THAT(errors[0], HasSubstr("Error running apple script: {"));
    EXPECT_THAT(errors[0], HasSubstr("NSAppleScriptErrorNumber = -1728;"));
    EXPECT_THAT(errors[1], HasSubstr("Error init apple script: {"));
    EXPECT_THAT(errors[1], HasSubstr("Exec format error"));
}

TEST_F(ComputerControlTest, ScriptRunnerByNameRunsOnlyPlainNamesOfScriptsTheBundleHolds) {
    run(QStringLiteral("runAppleScriptWithPath:,wifi"));
    EXPECT_EQ(scripts->runs(), QStringList{QStringLiteral("wifi")});
    scripts->clearRuns();

    for (const char* command :
         {"runAppleScriptWithPath:,../wifi", "runAppleScriptWithPath:,/bin/sh", "runAppleScriptWithPath:,..",
          "runAppleScriptWithPath:,.", "runAppleScriptWithPath:,",
          "runAppleScriptWithPath:", "runAppleScriptWithPath:,nosuch"})
        run(QString::fromUtf8(command));
    expectNoEffect();
    const auto errors = log.at(spdlog::level::err);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], HasSubstr("Error init apple script: "));
    EXPECT_THAT(errors[0], HasSubstr("no script named nosuch"));
}

TEST_F(ComputerControlTest, ScriptTextFromAComputerControlStringRunsNothing) {
    run(QStringLiteral(R"(runAppleScript:,tell app "System Events" to restart)"));
    run(QStringLiteral(R"(runAppleScript:,do shell script "pmset sleepnow")"));
    run(QStringLiteral("runAppleScript:"));
    expectNoEffect();
    const auto infos = log.at(spdlog::level::info);
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_THAT(infos[0], HasSubstr("refused"));
}

TEST_F(ComputerControlTest, ScriptTextWithoutLinuxEquivalentDoesNotCompileAndRunsNothing) {
    ControlUtil& cu = manager.cu();
    EXPECT_FALSE(cu.runAppleScript(QStringLiteral(R"(do shell script "rm -rf ~")")));
    EXPECT_FALSE(cu.runAppleScript(QStringLiteral(R"(tell app "System Events" to restart )")));
    EXPECT_FALSE(cu.runAppleScript(QString()));
    expectNoEffect();
    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(ComputerControlTest, ScriptTextResultIsTheCommandsOutputAndAFailureGivesNone) {
    ControlUtil& cu = manager.cu();
    commands->result = {true, 0, QStringLiteral("done\n"), QString()};
    const auto result = cu.runAppleScript(QStringLiteral(R"(do shell script "pmset sleepnow")"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->stringValue(), QStringLiteral("done"));

    commands->result = {true, 0, QString(), QString()};
    const auto empty = cu.runAppleScript(QStringLiteral(R"(do shell script "pmset sleepnow")"));
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->stringValue());

    commands->result = {true, 3, QString(), QStringLiteral("Failed to suspend system: Access denied\n")};
    EXPECT_FALSE(cu.runAppleScript(QStringLiteral(R"(do shell script "pmset sleepnow")")));
    commands->result = {false, -1, QString(), QString()};
    EXPECT_FALSE(cu.runAppleScript(QStringLiteral(R"(do shell script "pmset sleepnow")")));

    const auto errors = log.at(spdlog::level::err);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_THAT(errors[0], HasSubstr("Access denied"));
    EXPECT_THAT(errors[0], HasSubstr("NSAppleScriptErrorNumber = 3;"));
    EXPECT_THAT(errors[1], HasSubstr("cannot start systemctl"));
    EXPECT_EQ(commands->calls().size(), 4u);
}

TEST_F(ComputerControlTest, TestActionWritesItsArgumentsToThePlainLog) {
    ::testing::internal::CaptureStderr();
    run(QStringLiteral("testParamWithP1:P2:,a"));
    run(QStringLiteral("testParamWithP1:P2:,a,b,c"));
    run(QStringLiteral("testParamWithP1:P2:"));
    run(QStringLiteral("testParamWithP1:P2:,%2,%1"));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("] P1 = a, P2 = (null)\n"));
    EXPECT_THAT(err, HasSubstr("] P1 = a, P2 = b\n"));
    EXPECT_THAT(err, HasSubstr("] P1 = (null), P2 = (null)\n"));
    EXPECT_THAT(err, HasSubstr("] P1 = %2, P2 = %1\n"));
    expectNoEffect();
}

TEST_F(ComputerControlTest, BundleScriptsRunOneAtATime) {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    scripts->onRun = [&](const QString&) {
        const int now = ++running;
        int seen = most;
        while (seen < now && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        --running;
    };
    auto toggle = [&] {
        for (int i = 0; i < 10; ++i)
            manager.executeCommandString(QStringLiteral("changeWifiState"));
    };
    std::thread a(toggle);
    std::thread b(toggle);
    a.join();
    b.join();
    EXPECT_EQ(scripts->runs().size(), 20);
    EXPECT_EQ(most, 1);
}

TEST(ComputerControlNamesTest, ThirtyFiveActionsAndTheTwoScriptRunners) {
    const QStringList names = ComputerControlManager::actionNames();
    EXPECT_EQ(names.size(), 37);
    EXPECT_TRUE(names.contains(QStringLiteral("runAppleScript:")));
    EXPECT_TRUE(names.contains(QStringLiteral("runAppleScriptWithPath:")));
    EXPECT_TRUE(names.contains(QStringLiteral("setBlueToothState:")));
    EXPECT_TRUE(names.contains(QStringLiteral("testParamWithP1:P2:")));
}

} // namespace
