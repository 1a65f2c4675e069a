#include "remote/SWDMacCommandManager.h"
#include "remote/KeyPressBatch.h"
#include "remote/SWDMacNetworkManager.h"

#include "core/NotificationCenter.h"
#include "core/ThreadHelper.h"
#include "core/UserDefaults.h"
#include "presentation/PowerPointHelper.h"

#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "RecordingEventPoster.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

class ExecutorTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
        scripts->answerText("getPdfPath", cache.path() + "/");
        lanToken = NotificationCenter::defaultCenter().addObserver(
            "kLanConnectionStatusChanged", [this](const QVariant& v) { lanPosts.push_back(v.toBool()); });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(lanToken);
        QFile::remove(UserDefaults::filePath());
    }
    std::vector<std::string> posted() { return describeEvents(poster->events()); }
    std::vector<int> types() {
        std::vector<int> out;
        for (const auto& e : poster->events())
            out.push_back(e.type);
        return out;
    }

    void pair() {
        executor.executeCommand(QStringLiteral("|connect|A,Phone A"), QStringLiteral("192.168.1.20"));
    }
    bool sent(const QByteArray& data) {
        for (const auto& s : transport->sent())
            if (s.data == data)
                return true;
        return false;
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"},
                       {"DataPort", 51302},
                       {"ConnectPort", 51301}}};
    QTemporaryDir cache;
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    SWDMacNetworkManager network{{transport, {}, {}, std::make_shared<FakeHostFacts>()}};
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<PowerPointHelper> presentation =
        PowerPointHelper::create({scripts, std::make_shared<RecordingCommandRunner>(),
                                  std::make_shared<FakeHostFacts>(), Flavour::SlideWand, 1e6});
    int pushes = 0;
    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    SWDMacCommandManager executor{{&network, [this]() -> PowerPointHelper& { return *presentation; },
                                   [this] { ++pushes; }, poster, nullptr, Flavour::PodiumCast}};
    std::vector<bool> lanPosts;
    NotificationCenter::Token lanToken = 0;
};

} // namespace

TEST_F(ExecutorTest, ParsingAndTheSeenIdTable) {
    executor.executeCommand(std::nullopt, std::nullopt);
    executor.executeCommand(QString(""), std::nullopt);
    executor.executeCommand(QStringLiteral("no bar here"), std::nullopt);
    EXPECT_EQ(executor.seenCommandIdCount(), 0u);

    // Refused by the gate, but recorded: the same string after pairing is still dropped.
    executor.executeCommand(QStringLiteral("ID9|start"), std::nullopt);
    EXPECT_TRUE(executor.hasSeenCommandId("id9"));
    EXPECT_FALSE(executor.hasSeenCommandId("ID9"));
    pair();
    scripts->clearRuns();
    presentation->setIsAllowGeneratePDF(false);
    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    presentation->refresh();
    executor.executeCommand(QStringLiteral("ID9|start"), std::nullopt);
    EXPECT_EQ(pushes, 1); // the connect's push only

    // Id "0" runs every time and overwrites; an empty id runs every time and is never recorded.
    executor.executeCommand(QStringLiteral("0|START"), std::nullopt);
    executor.executeCommand(QStringLiteral("0|start|x"), std::nullopt);
    executor.executeCommand(QStringLiteral("|start"), std::nullopt);
    executor.executeCommand(QStringLiteral("|start"), std::nullopt);
    EXPECT_EQ(pushes, 5);
    EXPECT_TRUE(executor.hasSeenCommandId("0"));
    EXPECT_FALSE(executor.hasSeenCommandId(""));

    // Nothing is trimmed: " start" is no type, but its id is recorded.
    executor.executeCommand(QStringLiteral("11| start"), std::nullopt);
    EXPECT_EQ(pushes, 5);
    EXPECT_TRUE(executor.hasSeenCommandId("11"));
}

TEST_F(ExecutorTest, ConnectAndDisconnectArguments) {
    executor.executeCommand(QStringLiteral("1|connect|onlyone"), QStringLiteral("192.168.1.20"));
    EXPECT_TRUE(network.isAcceptingNewConnection());
    executor.executeCommand(QStringLiteral("2|connect|"), QStringLiteral("192.168.1.20"));
    EXPECT_TRUE(network.isAcceptingNewConnection());
    executor.executeCommand(QStringLiteral("3|connect|A,Anna,extra"), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(network.connectingDeviceDic().value("A").deviceName, "Anna");
    EXPECT_TRUE(sent("Confirm"));
    executor.executeCommand(QStringLiteral("4|disconnect|A"), std::nullopt); // one item: ignored
    EXPECT_FALSE(network.isAcceptingNewConnection());
    executor.executeCommand(QStringLiteral("5|disconnect|A,"), std::nullopt);
    EXPECT_TRUE(network.isAcceptingNewConnection());
    EXPECT_EQ(pushes, 3); // every connect pushes, disconnect does not
}

TEST_F(ExecutorTest, HeartbeatAnswersOnlyPairedLanPhonesWithAToken) {
    executor.executeCommand(QStringLiteral("|heartbeat|1"), QStringLiteral("192.168.1.20"));
    EXPECT_FALSE(sent("heartBeat|OK:1")); // unpaired
    pair();
    executor.executeCommand(QStringLiteral("|heartbeat|42"), QStringLiteral("192.168.1.20"));
    executor.executeCommand(QStringLiteral("|heartbeat|"), QStringLiteral("192.168.1.20"));
    executor.executeCommand(QStringLiteral("|heartbeat"), QStringLiteral("192.168.1.20"));
    executor.executeCommand(QStringLiteral("|heartbeat|7"), std::nullopt); // from the cloud
    EXPECT_TRUE(sent("heartBeat|OK:42"));
    EXPECT_FALSE(sent("heartBeat|OK:7"));
    EXPECT_EQ(lanPosts, std::vector<bool>{true});
    const auto all = transport->sent();
    EXPECT_EQ(all.back().socket, UdpSocketRole::Data);
    EXPECT_EQ(all.back().host, "192.168.1.20");
}

TEST_F(ExecutorTest, StartModeAndTheFlavourPush) {
    pair();
    const int afterPair = pushes;
    executor.executeCommand(QStringLiteral("|start"), std::nullopt); // nothing open: fails, still pushes
    EXPECT_EQ(pushes, afterPair + 1);
    executor.executeCommand(QStringLiteral("|mode|Presentation"), std::nullopt);
    EXPECT_FALSE(presentation->isAllowGeneratePDF());
    executor.executeCommand(QStringLiteral("|mode|presentation"), std::nullopt);
    EXPECT_TRUE(presentation->isAllowGeneratePDF());
    executor.executeCommand(QStringLiteral("|mode"), std::nullopt);
    EXPECT_FALSE(presentation->isAllowGeneratePDF());
    executor.executeCommand(QStringLiteral("|qcmd|anything"), std::nullopt);
    EXPECT_EQ(pushes, afterPair + 1);

    for (const auto& [flavour, pushed] :
         {std::pair{Flavour::SlideWand, 0}, std::pair{Flavour::Steerlynx, 1}}) {
        SWDMacCommandManager other{{&network, [this]() -> PowerPointHelper& { return *presentation; },
                                    [this] { ++pushes; }, poster, nullptr, flavour}};
        const int before = pushes;
        other.executeCommand(QStringLiteral("|start"), std::nullopt);
        EXPECT_EQ(pushes, before + pushed);
    }
}

TEST_F(ExecutorTest, SameIdFromManyThreadsRunsOnce) {
    pair();
    const int before = pushes;
    std::vector<std::thread> threads;
    std::atomic<int> dummy{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            executor.executeCommand(QStringLiteral("77|start"), std::nullopt);
            ++dummy;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(pushes, before + 1);
}

TEST_F(ExecutorTest, ClicksAreGatedAndDeduplicated) {
    executor.executeCommand(QStringLiteral("9|click"), std::nullopt);
    EXPECT_TRUE(poster->events().empty()); // unpaired
    pair();
    executor.executeCommand(QStringLiteral("9|click"), std::nullopt);
    EXPECT_TRUE(poster->events().empty()); // the id was recorded before the gate
    executor.executeCommand(QStringLiteral("7|click"), std::nullopt);
    executor.executeCommand(QStringLiteral("7|click"), std::nullopt);
    EXPECT_EQ(types(), (std::vector<int>{1, 2, 2})); // down, up and one more up
    poster->clear();
    executor.executeCommand(QStringLiteral("0|click"), std::nullopt);
    executor.executeCommand(QStringLiteral("0|click|"), std::nullopt);
    EXPECT_EQ(types().size(), 6u);
    poster->clear();
    executor.executeCommand(QStringLiteral("|doubleclick"), std::nullopt);
    executor.executeCommand(QStringLiteral("|rightclick"), std::nullopt);
    EXPECT_EQ(types(), (std::vector<int>{1, 2, 1, 2, 3, 4}));
}

TEST_F(ExecutorTest, ArrowsAndNamedKeys) {
    pair();
    const int before = pushes;
    executor.executeCommand(QStringLiteral("|CMD|{down}"), std::nullopt);
    executor.executeCommand(QStringLiteral("|cmd|{Up}"), std::nullopt);
    ASSERT_EQ(poster->events().size(), 4u);
    EXPECT_EQ(poster->events()[0].keyCode, 125);
    EXPECT_EQ(poster->events()[0].flags, std::optional<std::uint64_t>(0xC));
    EXPECT_EQ(poster->events()[2].keyCode, 126);
    EXPECT_EQ(pushes, before + 2);
    executor.executeCommand(QStringLiteral("|cmd|"), std::nullopt);       // nothing and no push
    executor.executeCommand(QStringLiteral("|cmd|{LEFT}"), std::nullopt); // no key, but a push
    EXPECT_EQ(poster->events().size(), 4u);
    EXPECT_EQ(pushes, before + 3);

    poster->clear();
    executor.executeCommand(QStringLiteral("|key|Esc"), std::nullopt);
    EXPECT_TRUE(poster->events().empty());
    executor.executeCommand(QStringLiteral("|key|%"), std::nullopt);
    ASSERT_EQ(poster->events().size(), 2u);
    EXPECT_EQ(poster->events()[0].keyCode, 23);
    EXPECT_EQ(poster->events()[0].flags, std::optional<std::uint64_t>(0x20000));
    EXPECT_EQ(pushes, before + 3); // keys push nothing
}

TEST_F(ExecutorTest, ScrollMoveAndTextArguments) {
    pair();
    executor.executeCommand(QStringLiteral("|scroll|(2,1)"), std::nullopt);
    executor.executeCommand(QStringLiteral("|scroll|[1,1]"), std::nullopt);
    executor.executeCommand(QStringLiteral("|scroll|(0,-4)"), std::nullopt);
    executor.executeCommand(QStringLiteral("|scroll|(2.7,x)"), std::nullopt);
    executor.executeCommand(QStringLiteral("|scroll|(5)"), std::nullopt); // one item: ignored
    const auto events = poster->events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].wheel2, 6);
    EXPECT_EQ(events[0].wheel1, 0);
    EXPECT_EQ(events[1].wheel1, 3);
    EXPECT_EQ(events[2].wheel1, -12);
    EXPECT_EQ(events[3].wheel2, 6); // 2.7 reads as 2

    poster->clear();
    poster->setCursor(QPointF(100, 100));
    executor.executeCommand(QStringLiteral("|move|(25,5)"), std::nullopt);
    executor.executeCommand(QStringLiteral("|move|x"), std::nullopt);
    executor.executeCommand(QStringLiteral("|move|"), std::nullopt);
    EXPECT_EQ(poster->events().size(), 2u); // two steps
    EXPECT_EQ(poster->cursorLocation(), QPointF(125, 105));

    poster->clear();
    executor.executeCommand(QStringLiteral("|text|héllo"), std::nullopt);
    ASSERT_EQ(poster->events().size(), 1u);
    EXPECT_EQ(poster->events()[0].unicodeString, QString(QChar(0xFEFF)) + "héllo");
}

TEST_F(ExecutorTest, ADragEndsByItselfAboutASecondAfterTheLastMove) {
    pair();
    poster->setCursor(QPointF(50, 50));
    executor.executeCommand(QStringLiteral("|mousedown"), std::nullopt);
    EXPECT_TRUE(executor.isDragging());
    for (int i = 0; i < 3; ++i)
        executor.executeCommand(QStringLiteral("|move|(4,2)"), std::nullopt);
    EXPECT_EQ(executor.dragEndRemain(), 1.0);
    EXPECT_EQ(types(), (std::vector<int>{1, 6, 6, 6}));
    // The countdown runs on the main thread's event loop and releases the button when it reaches zero.
    ASSERT_TRUE(waitUntil([&] { return !executor.isDragging(); }));
    EXPECT_EQ(types(), (std::vector<int>{1, 6, 6, 6, 2}));
    EXPECT_LE(executor.dragEndRemain(), 0.0);
    EXPECT_GT(executor.dragEndRemain(), -0.05); // the tenth tick, not the eleventh

    // "mouseup" releases at once but leaves a running countdown: it releases once more at its end.
    poster->clear();
    executor.executeCommand(QStringLiteral("|mousedown"), std::nullopt);
    // From a LAN thread, which waits while the main thread starts the countdown.
    std::atomic<bool> moved{false};
    std::thread lan([&] {
        executor.executeCommand(QStringLiteral("|move|(1,1)"), std::nullopt);
        moved = true;
    });
    ASSERT_TRUE(waitUntil([&] { return moved.load(); }));
    lan.join();
    executor.executeCommand(QStringLiteral("|mouseup"), std::nullopt);
    EXPECT_FALSE(executor.isDragging());
    ASSERT_TRUE(waitUntil([&] { return types().size() == 4; }));
    EXPECT_EQ(types(), (std::vector<int>{1, 6, 2, 2}));
}

// The commands of one batch of datagrams: key presses wait to go to the main thread together, yet keep
// their order with the other commands, which run on the handler's thread; the handler returns only
// after every press was posted.
TEST_F(ExecutorTest, KeyPressesOfABatchGoToTheMainThreadTogetherInOrder) {
    pair();
    pushes = 0;
    std::mutex mutex;
    std::vector<std::pair<int, bool>> seen; // event type, posted on the main thread
    poster->onPost = [&](const platform::InputEvent& e) {
        std::lock_guard lock(mutex);
        seen.emplace_back(e.type, ThreadHelper::isMainThread());
    };
    std::atomic<bool> done{false};
    size_t postedWhenReturned = 0;
    std::thread handler([&] {
        {
            const KeyPressBatch batch;
            for (const char* command : {"1|key|esc", "2|cmd|{down}", "3|click", "4|key|esc", "5|key|esc"})
                executor.executeCommand(QString::fromLatin1(command), QStringLiteral("192.168.1.20"));
        }
        std::lock_guard lock(mutex);
        postedWhenReturned = seen.size();
        done = true;
    });
    const bool finished = waitUntil([&] { return done.load(); }, 5000);
    handler.join();
    ASSERT_TRUE(finished) << "the handler did not return";

    using namespace platform::EventType;
    const std::vector<std::pair<int, bool>> expected{
        {KeyDown, true},        {KeyUp, true},        {KeyDown, true},      {KeyUp, true},
        {LeftMouseDown, false}, {LeftMouseUp, false}, {LeftMouseUp, false}, {KeyDown, true},
        {KeyUp, true},          {KeyDown, true},      {KeyUp, true}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(postedWhenReturned, expected.size());
    EXPECT_EQ(pushes, 2); // after "cmd" and "click"
}
