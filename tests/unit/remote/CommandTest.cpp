// The phone's command strings end to end on the recording poster, command runner, script runner and
// transport: what each command does, the seen-id table and the pairing gate, the computer-control
// strings, the synthesised input's arithmetic, and the threads that meet in key presses and drags.
#include "RemoteFixture.h"

#include "remote/KeyPressBatch.h"
#include "remote/SynthesisedInput.h"

#include "core/ThreadHelper.h"

#include "NotificationRecorder.h"

#include <cmath>
#include <mutex>
#include <thread>

namespace {

using platform::InputEvent;
namespace EventType = platform::EventType;

const char* const kPhone = "192.168.1.20";

class CommandTest : public RemoteTest {};

} // namespace

TEST_F(CommandTest, EachCommandInTurn) {
    const NotificationRecorder lan{{Notifications::kLanConnectionStatusChanged.qname()}};
    const std::string noSlides = "Error: Fail to start playing slide!";
    const auto clicks = [](int n) {
        std::vector<std::string> events(n,
                                        fmt::format("down b0 (200,150) x{0} n, up b0 (200,150) x{0} n", n));
        return fmt::format("{}", fmt::join(events, ", "));
    };
    const struct {
        const char* command;
        const char* from;
        std::string effect;
        bool pushed;
    } steps[] = {
        {"no bar here", nullptr, "Invalid command.", false},
        // Unpaired, only connect and disconnect pass; the refused id is not recorded.
        {"ID9|start\n|click\n|heartbeat|1", kPhone, "", false},
        {"1|connect|onlyone", kPhone, "", false}, // only a connect that pairs pushes
        {"2|connect|", kPhone, "", false},
        {"3|CONNECT|A,Anna,extra", kPhone,
         "Confirm to 192.168.1.20:51301 from 3, status Anna, Send confirm to 192.168.1.20:51301", true},
        {"4|disconnect|A", nullptr, "", false}, // one item: still paired
        {"id9|start", nullptr, noSlides, true}, // the id refused before pairing runs now
        {"7|click", nullptr,
         "down b0 (200,150) c, up b0 (200,150) c, up b0 (200,150) c, cmd: click, cmd: mouseup", true},
        {"7|click", nullptr, "", false},
        // Id "0" runs every time; an empty id is never recorded; nothing is trimmed.
        {"0|START\n0|start|x\n|start\n|start", nullptr, fmt::format("{0}, {0}, {0}, {0}", noSlides), true},
        {"11| start", nullptr, "", false},
        {"|heartbeat|42\n|heartbeat|\n|heartbeat", kPhone, "heartBeat|OK:42 to 192.168.1.20:51302 from 1",
         false},
        {"|heartbeat|7", nullptr, "", false}, // from the cloud
        {"|doubleclick", nullptr, clicks(2) + ", cmd: doubleclick", true},
        {"|tripleclick", nullptr, clicks(3) + ", cmd: tripleclick", true},
        {"|rightclick", nullptr, "rdown b1 (200,150) c, rup b1 (200,150) c, cmd: rightClick", true},
        {"|mousedown\n|mouseup", nullptr, "down b0 (200,150) n, up b0 (200,150) c, cmd: mouseup", false},
        {"|scroll|(2,1)\n|scroll|[1,1]\n|scroll|(0,-4)\n|scroll|(2.7,x)\n|scroll|(5)\n|scroll|(-9999999999,"
         "0)",
         nullptr,
         "wheel 0,6 n, wheel 3,0 n, wheel -12,0 n, wheel 0,6 n, wheel 0,-2147483648 n, scroll: x = 2 , y = "
         "1, "
         "scroll: x = 1 , y = 1, scroll: x = 0 , y = -4, scroll: x = 2 , y = 0, scroll: x = -2147483648 , y "
         "= 0",
         false},
        {"|move|(25,5)\n|move|x\n|move|", nullptr,
         "warp (212.5,152.5), moved b1 (212.5,152.5) c, warp (225,155), moved b1 (225,155) c, "
         "seperateMoveTimes = 2",
         false},
        {"|CMD|{down}\n|cmd|{Up}\n|cmd|{LEFT}", nullptr, "0xc+Down, 0xc+Up", true},
        {"|cmd|", nullptr, "", false},
        {"|key|%", nullptr, "Shift+5", false}, // keys push nothing
        {"|text|héllo\n|text", nullptr, "text ^héllo n ses", false},
        {"|ccmd|brightnessUp", nullptr, "Fn+F15", false},
        {"|qcmd|anything\n|bogus", nullptr, "", false},
        {"5|disconnect|A,\n|click", nullptr, "status ", false},
    };
    executor->executeCommand(std::nullopt, std::nullopt);
    for (const auto& step : steps) {
        const int before = pushes;
        EXPECT_EQ(run(QString::fromUtf8(step.command), step.from), step.effect) << step.command;
        EXPECT_EQ(pushes > before, step.pushed) << step.command;
    }
    EXPECT_EQ(lan.values(Notifications::kLanConnectionStatusChanged.qname()), std::vector{1});
    EXPECT_TRUE(executor->hasSeenCommandId("id9") && executor->hasSeenCommandId("0"));
    EXPECT_FALSE(executor->hasSeenCommandId("ID9") || executor->hasSeenCommandId(""));
    // Only the commands that did something: 3, id9, 7, 0 and 5.
    for (const char* inert : {"1", "2", "4", "11"})
        EXPECT_FALSE(executor->hasSeenCommandId(inert)) << inert;
    EXPECT_EQ(executor->seenCommandIdCount(), 5u);

    run("|connect|A,Phone A", kPhone);
    for (const auto& [mode, allowed] :
         {std::pair{"|mode|Presentation", false}, {"|mode|presentation", true}}) {
        EXPECT_EQ(run(QString::fromUtf8(mode)), "");
        EXPECT_EQ(presentation->isAllowGeneratePDF(), allowed) << mode;
    }
    for (const auto& [flavour, pushed] : {std::pair{Flavour::SlideWand, false}, {Flavour::Steerlynx, true}}) {
        const int before = pushes;
        executorOf(flavour)->executeCommand(QStringLiteral("|start"), std::nullopt);
        EXPECT_EQ(pushes > before, pushed);
    }
}

TEST_F(CommandTest, KeyNamesAndShortcutsPressTheirKeys) {
    run("|connect|A,Phone A", kPhone);
    const auto keys = [&](const char* names) {
        return run(QStringLiteral("|key|") +
                   QString::fromUtf8(names).replace(u' ', QStringLiteral("\n|key|")));
    };
    EXPECT_EQ(keys("backspace return esc numEnter % num. num+ num- num* num/ num="),
              "BackSpace, Return, Escape, KP_Enter, Shift+5, KP., KP+, KP-, KP*, KP/, KP=");
    EXPECT_EQ(keys("num0 num1 num2 num3 num4 num5 num6 num7 num8 num9"),
              "KP0, KP1, KP2, KP3, KP4, KP5, KP6, KP7, KP8, KP9");
    // Names match exactly: no case folding, no trimming, no aliases.
    EXPECT_EQ(keys("numenter NumEnter Esc num10 %% enter num"), "");
    EXPECT_EQ(run("|key| esc\n|key|esc \n|key|\n|key"), "");
    EXPECT_EQ(
        ccmd("brightnessUp\nbrightnessDown\npreviousDesktop\nnextDesktop\nmissionControl\n"
             "applicationWindows\nlaunchPad\nsiri"),
        "Fn+F15, Fn+F14, Fn+Control+Left, Fn+Control+Right, Fn+Control+Up, Fn+Control+Down, Fn+LaunchA, "
        "Fn+space");
    EXPECT_EQ(
        ccmd(
            "screenShot\nspotlight\npreviousApplication\nswitchWindow\nmaximizeWindow\npreviousTab\nnextTab"),
        "Super+Shift+4, Super+space, Super+Tab, Super+`, Super+Control+f, Super+Shift+[, Super+Shift+]");
    EXPECT_EQ(ccmd("refresh\ncloseTab\nnewTab\nquitApplication\nforceQuit\nshowDesktop"),
              "Super+r, Super+w, Super+t, Super+q, Super+Alt+Escape, Super+Alt+m, Super+Alt+h");
    // The whole of a press: a shortcut's comes from a private source at the HID tap, a key's and an
    // arrow's from the combined session at the annotated-session tap.
    run("|key|%\n|cmd|{UP}"); // from the cloud: the arrow goes to the main thread, this one
    EXPECT_EQ(describeEvents(poster->events()),
              (std::vector<std::string>{"type=10 key=23 flags=0x20000 source=combined tap=2",
                                        "type=11 key=23 source=combined tap=2",
                                        "type=10 key=126 flags=0xc source=combined tap=2",
                                        "type=11 key=126 source=combined tap=2"}));
    ccmd("siri");
    EXPECT_EQ(describeEvents(poster->events()),
              (std::vector<std::string>{"type=10 key=49 flags=0x800000 source=private tap=0",
                                        "type=11 key=49 flags=0x100 source=private tap=0"}));
}

TEST_F(CommandTest, ComputerControlStrings) {
    const std::string compiled = ", compiled the script", pactl = "pactl set-sink-volume @DEFAULT_SINK@ ";
    const std::string outside = "runAppleScript: refused to run a script outside the bundle";
    // A failure is logged in the form of a script error (its line breaks escaped, as all logged text).
    const auto error = [](const char* message, int number) {
        return fmt::format(
            "{{\\n    NSAppleScriptErrorMessage = \"{}\";\\n    NSAppleScriptErrorNumber = {};\\n}}", message,
            number);
    };
    const std::pair<const char*, std::string> table[] = {
        {"sleep", "systemctl suspend" + compiled},
        {"reboot", "systemctl reboot" + compiled},
        {"shutdown", "systemctl poweroff" + compiled},
        {"logout", "loginctl terminate-session " + compiled}, // the caller's session
        {"startScreenSaver", "xdg-screensaver activate" + compiled},
        {"lockScreen", "loginctl lock-session" + compiled},
        {"volumeUp", pactl + "+5%" + compiled},
        {"volumeDown", pactl + "-5%" + compiled},
        {"volumeMute", pactl + "0%" + compiled},
        {"volumeUp,10", pactl + "+5%" + compiled}, // items past the arguments are ignored
        {"ejectAll", "/bin/sh -c status=0" + compiled},
        // The state is the tool's one argument: no shell in between.
        {"setBlueToothState:,1\nsetBlueToothState:,0;reboot $(id) `id`",
         "Resources/blueutil -p 1, Resources/blueutil -p 0;reboot $(id) `id`"},
        {"setBlueToothState:", "setBlueToothState: no state given"},
        {"changeWifiState\nsearchClipboard\nrunAppleScriptWithPath:,wifi",
         "script wifi, script searchClipboard, script wifi"},
        // Only a plain name of a script the bundle holds runs; script text never runs from here.
        {"runAppleScriptWithPath:,../wifi\nrunAppleScriptWithPath:,/bin/sh\nrunAppleScriptWithPath:,..\n"
         "runAppleScriptWithPath:,.\nrunAppleScriptWithPath:,",
         fmt::format("{0}, {0}, {0}, {0}, {0}", outside)},
        {"runAppleScriptWithPath:", "runAppleScriptWithPath: no script named"},
        {"runAppleScriptWithPath:,nosuch",
         "Error init apple script: " + error("no script named nosuch", -43)},
        {"runAppleScript:,do shell script \"pmset sleepnow\"",
         "runAppleScript: refused, a computer-control string runs no script text"},
        // Names that are no action do nothing, silently.
        {"VolumeUp\nvolumeUp:\n\n,\n volumeUp\nvolumeUp \nlock\nsetLock:,x\npostKey:Flags:,12,1048576\ninit\n"
         "dealloc\nsetBlueToothState\ntestParamWithP1:\nchangeWifiState:",
         ""},
        {"testParamWithP1:P2:,a\ntestParamWithP1:P2:,a,b,c\ntestParamWithP1:P2:\ntestParamWithP1:P2:,%2,%1",
         "P1 = a, P2 = (null), P1 = a, P2 = b, P1 = (null), P2 = (null), P1 = %2, P2 = %1"},
    };
    for (const auto& [strings, effect] : table)
        EXPECT_EQ(ccmd(QString::fromUtf8(strings)), effect) << strings;
    EXPECT_EQ(observe([&] { manager.executeCommandString(std::nullopt); }), "Invalid ccmd.");
    EXPECT_EQ(ComputerControlManager::actionNames().size(), 37);

    commands->result = {true, 1, QString(), QStringLiteral("No default controller available\n")};
    EXPECT_EQ(ccmd("setBlueToothState:,on"),
              "Resources/blueutil -p on, " + error("No default controller available", 1));
    commands->result = {true, 3, QString(), QString()};
    EXPECT_EQ(ccmd("sleep"), "systemctl suspend, compiled the script, " + error("systemctl failed", 3));
    commands->result = {false, -1, QString(), QString()};
    EXPECT_EQ(ccmd("reboot"),
              "systemctl reboot, compiled the script, " + error("cannot start systemctl", -1));
    bundleScripts->fail(QStringLiteral("wifi"), -1728);
    platform::ScriptRunResult broken;
    broken.loadError = platform::ScriptError{-1, QStringLiteral("Exec format error")};
    bundleScripts->answer(QStringLiteral("searchClipboard"), broken);
    EXPECT_EQ(ccmd("changeWifiState\nsearchClipboard"),
              "script wifi, script searchClipboard, Error running apple script: " + error("failed", -1728) +
                  ", Error init apple script: " + error("Exec format error", -1));
    QFile::remove(bundle.resourcesPath() + QStringLiteral("/blueutil"));
    EXPECT_EQ(ccmd("setBlueToothState:,1"), "setBlueToothState: the bundle holds no blueutil");

    // A script text's result is the command's output less one line feed; none when it fails or has no
    // equivalent (then nothing runs and nothing is logged).
    const QString sleep = QStringLiteral(R"(do shell script "pmset sleepnow")");
    commands->result = {true, 0, QStringLiteral("done\n\n"), QString()};
    EXPECT_EQ(manager.cu().runAppleScript(sleep)->stringValue(), QStringLiteral("done\n"));
    commands->result = {true, 0, QString(), QString()};
    EXPECT_FALSE(manager.cu().runAppleScript(sleep)->stringValue());
    EXPECT_EQ(observe([&] {
                  EXPECT_FALSE(manager.cu().runAppleScript(QStringLiteral(R"(do shell script "rm")")));
              }),
              "");
}

TEST_F(CommandTest, OneIdFromManyThreadsRunsOnce) {
    run("|connect|A,Phone A", kPhone);
    const int before = pushes;
    onThreads(8, [&](int) { executor->executeCommand(QStringLiteral("77|start"), std::nullopt); });
    EXPECT_EQ(pushes, before + 1);
    // A command that does nothing leaves its id free, however many threads send it.
    onThreads(8, [&](int) { executor->executeCommand(QStringLiteral("78|connect|B,Other"), std::nullopt); });
    EXPECT_EQ(run("78|start"), "Error: Fail to start playing slide!");
}

// Before the phone pairs and after, another host's commands that are refused or do nothing spend none
// of the phone's ids; a disconnect still comes from any address.
TEST_F(CommandTest, AStrangerSpendsNoIdsOfThePhone) {
    const char* const kStranger = "192.168.1.66";
    const char* const inert[] = {"nop",
                                 "click",
                                 "start",
                                 "heartbeat|9",
                                 "cmd|{down}",
                                 "key|esc",
                                 "connect|onlyone",
                                 "connect|",
                                 "disconnect|A,x",
                                 "qcmd|x",
                                 "mode|presentation",
                                 "ccmd|sleep",
                                 "text|hi",
                                 "move|(1,1)"};
    QStringList spent;
    for (int id = 1; id <= 3000; ++id)
        spent.append(QString::number(id) + u'|' + QString::fromUtf8(inert[id % std::size(inert)]));
    EXPECT_EQ(run(spent.join(u'\n'), kStranger), "");
    EXPECT_EQ(executor->seenCommandIdCount(), 0u);

    EXPECT_EQ(run("1|connect|A,Phone A", kPhone),
              "Confirm to 192.168.1.20:51301 from 3, status Phone A, Send confirm to 192.168.1.20:51301");
    EXPECT_EQ(run("2|heartbeat|42", kPhone), "heartBeat|OK:42 to 192.168.1.20:51302 from 1");
    // Paired over the LAN: another phone's connect is refused, the stranger's other commands too.
    EXPECT_EQ(run("3|connect|B,Other\n4|disconnect|B,x\n5|click\n2999|bogus", kStranger),
              "Connection refuse: not accepting a machine that is not connected");
    EXPECT_EQ(run("3|cmd|{down}\n2999|key|esc", kPhone), "0xc+Down, Escape");
    EXPECT_EQ(run("6|disconnect|A,x", kStranger), "status ");
    EXPECT_EQ(executor->seenCommandIdCount(), 5u);
    // A phone paired through the cloud is commanded over the LAN from any address.
    EXPECT_EQ(run("7|connect|C,Cloud phone"), "status Cloud phone");
    EXPECT_EQ(run("8|key|esc", kStranger), "Escape");
}

TEST_F(CommandTest, BundleScriptsRunOneAtATime) {
    std::atomic<int> running{0}, most{0};
    bundleScripts->onRun = [&](const QString&) {
        const int now = ++running;
        for (int seen = most; seen < now && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        --running;
    };
    onThreads(2, [&](int) {
        for (int i = 0; i < 10; ++i)
            manager.executeCommandString(QStringLiteral("changeWifiState"));
    });
    EXPECT_EQ(bundleScripts->runs().size(), 20);
    EXPECT_EQ(most, 1);
}

TEST_F(CommandTest, KeyPressesStayWholeAcrossThreadsAndArrowsArePressedOnTheMainThread) {
    run("|connect|A,Phone A", kPhone);
    std::atomic<int> arrowsOffMain{0};
    poster->onPost = [&](const InputEvent& e) { // a wide gap between a key-down and its key-up
        arrowsOffMain += e.keyCode == 126 && !ThreadHelper::isMainThread();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    };
    onThreads(2, [&](int thread) { // the arrows wait for the main thread
        for (int i = 0; i < 40; ++i)
            thread ? SynthesisedInput(poster).PostKeyPress(125, 0)
                   : executor->executeCommand(QStringLiteral("|cmd|{up}"), std::nullopt);
    });
    poster->onPost = nullptr;
    const auto events = poster->events();
    ASSERT_EQ(events.size(), 160u);
    for (size_t i = 0; i < events.size(); i += 2)
        EXPECT_EQ(std::tuple(events[i].type, events[i + 1].type, events[i].keyCode),
                  std::tuple(EventType::KeyDown, EventType::KeyUp, events[i + 1].keyCode))
            << i;
    EXPECT_EQ(arrowsOffMain, 0);
}

// The commands of one batch of datagrams: key presses wait to go to the main thread together, yet keep
// their order with the other commands, which run on the handler's thread; the handler returns only
// after every press was posted.
TEST_F(CommandTest, KeyPressesOfABatchGoToTheMainThreadTogetherInOrder) {
    run("|connect|A,Phone A", kPhone);
    const int before = pushes;
    std::mutex mutex;
    std::string seen, whenReturned; // each event's type, with "m" when posted on the main thread
    poster->onPost = [&](const InputEvent& e) {
        std::lock_guard lock(mutex);
        seen += std::to_string(e.type) + (ThreadHelper::isMainThread() ? "m " : " ");
    };
    onThreads(1, [&](int) {
        {
            const KeyPressBatch batch;
            for (const char* command : {"1|key|esc", "2|cmd|{down}", "3|click", "4|key|esc", "5|key|esc"})
                executor->executeCommand(QString::fromLatin1(command), QString::fromLatin1(kPhone));
        }
        std::lock_guard lock(mutex);
        whenReturned = seen;
    });
    poster->onPost = nullptr;
    EXPECT_EQ(whenReturned, "10m 11m 10m 11m 1 2 2 10m 11m 10m 11m ");
    EXPECT_EQ(pushes, before + 2); // after "cmd" and "click"
}

TEST_F(CommandTest, ADragEndsByItselfAboutASecondAfterTheLastMove) {
    run("|connect|A,Phone A", kPhone);
    const auto types = [&] {
        std::string out;
        for (const auto& e : poster->events())
            out += std::to_string(e.type);
        return out;
    };
    poster->clear();
    poster->setCursor(QPointF(50, 50));
    executor->executeCommand(QStringLiteral("|mousedown"), std::nullopt);
    EXPECT_TRUE(executor->isDragging());
    for (int i = 0; i < 3; ++i)
        executor->executeCommand(QStringLiteral("|move|(4,2)"), std::nullopt);
    EXPECT_EQ(executor->dragEndRemain(), 1.0);
    EXPECT_EQ(brief(poster->events().back()), "dragged b0 (62,56) n"); // no warp, no steps
    EXPECT_EQ(types(), "1666");
    EXPECT_EQ(poster->entries().size(), 4u); // no warps
    // The countdown runs on the main thread's event loop and releases the button when it reaches zero.
    ASSERT_TRUE(waitUntil([&] { return !executor->isDragging(); }, 5000)) << "the drag did not end";
    EXPECT_EQ(types(), "16662");
    EXPECT_LE(executor->dragEndRemain(), 0.0);
    EXPECT_GT(executor->dragEndRemain(), -0.05); // the tenth tick, not the eleventh

    // "mouseup" releases at once but leaves a running countdown: it releases once more at its end.
    poster->clear();
    executor->executeCommand(QStringLiteral("|mousedown"), std::nullopt);
    // A move from a LAN thread waits while the main thread starts the countdown.
    onThreads(1, [&](int) { executor->executeCommand(QStringLiteral("|move|(1,1)"), std::nullopt); });
    executor->executeCommand(QStringLiteral("|mouseup"), std::nullopt);
    EXPECT_FALSE(executor->isDragging());
    ASSERT_TRUE(waitUntil([&] { return types().size() == 4; }, 5000)) << "the countdown did not release";
    EXPECT_EQ(types(), "1622");
}

TEST(SynthesisedInput, MoveStepsTextChunksWheelsAndPoints) {
    const struct {
        double dx, dy;
        int count;
        float stepX, stepY;
    } moves[] = {
        {4, -7, 1, 4, -7},
        {10, 10, 1, 10, 10},
        {0, -30, 3, 0, -10},
        {25, 5, 2, 12.5f, 2.5f},
        {-35, 12, 3, float(-35.0 / 3), 4},
        // The larger delta is rounded to single precision before dividing: 29.9999999999 is 30.0f.
        {29.9999999999, 1, 3, float(29.9999999999 / 3), float(1.0 / 3)},
        {9999, 0, 999, float(9999.0 / 999), 0},
        {-25000, 12, 1000, -25, 0.012f}, // at most kMaxMoveSteps steps: larger moves take larger steps
        {std::nan(""), 1, 0, 0, 0},
        {1, HUGE_VAL, 0, 0, 0},
    };
    for (const auto& m : moves) {
        const MoveSteps steps = SeparateMove(m.dx, m.dy);
        EXPECT_EQ(std::tuple(steps.count, steps.dx, steps.dy), std::tuple(m.count, m.stepX, m.stepY)) << m.dx;
    }

    const auto poster = std::make_shared<RecordingEventPoster>();
    const SynthesisedInput input(poster);
    const auto typed = [&](const std::optional<QString>& text) {
        poster->clear();
        input.TypeText(text);
        QStringList chunks;
        for (const auto& e : poster->events())
            chunks.append(QString::fromStdString(brief(e)));
        return chunks.join(u'|');
    };
    // Ten UTF-16 units a chunk, a surrogate pair never split, at most eleven chunks.
    EXPECT_EQ(typed(QStringLiteral("abcdefghijklmnopqrstuvwxy")),
              "text ^abcdefghij n ses|text ^klmnopqrst n ses|text ^uvwxy n ses");
    EXPECT_EQ(typed(QStringLiteral("0123456789")), "text ^0123456789 n ses");
    EXPECT_EQ(typed(QStringLiteral("héllo wörld ñ €")), "text ^héllo wörl n ses|text ^d ñ € n ses");
    EXPECT_EQ(typed(QStringLiteral("123456789😀abc")), "text ^123456789 n ses|text ^😀abc n ses");
    EXPECT_EQ(typed(QStringLiteral("12345678😀abc")), "text ^12345678😀 n ses|text ^abc n ses");
    EXPECT_EQ(typed(QString(120, u'x')), QStringList(11, "text ^xxxxxxxxxx n ses").join(u'|'));
    EXPECT_EQ(typed(QString()) + typed(std::nullopt), "");

    // Wheels saturate at the 32-bit range; a vertical product is truncated toward zero.
    poster->clear();
    constexpr auto max = std::numeric_limits<std::int32_t>::max(),
                   min = std::numeric_limits<std::int32_t>::min();
    input.PostHorizontalScroll(max);
    input.PostHorizontalScroll(min);
    for (const float y : {0.5f, -0.5f, float(max), -1e30f, std::nanf("")})
        input.PostVerticalScroll(y);
    // Each step of a move starts from the cursor as it is then, moved by hand or not.
    poster->setCursor({100, 100});
    poster->onPost = [&, nudged = false](const InputEvent&) mutable {
        if (!std::exchange(nudged, true))
            poster->setCursor(poster->cursorLocation() + QPointF(0, 40));
    };
    input.PostMouseMoveInSteps(25, 5);
    poster->onPost = nullptr;
    input.PostLeftMouseDownAt({10, 20});
    input.PostLeftMouseUpAt({30.5, 40});
    std::vector<std::string> events;
    for (const auto& e : poster->events())
        events.push_back(brief(e));
    EXPECT_EQ(
        fmt::format("{}", fmt::join(events, ", ")),
        fmt::format("wheel 0,{0} n, wheel 0,{1} n, wheel 1,0 n, wheel -1,0 n, wheel {0},0 n, wheel {1},0 n, "
                    "wheel 0,0 n, moved b1 (112.5,102.5) c, moved b1 (125,145) c, down b0 (10,20) n, up b0 "
                    "(30.5,40) n",
                    max, min));
}
