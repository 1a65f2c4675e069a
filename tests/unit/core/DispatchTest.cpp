// Main-thread dispatch, notifications, the global queue, the error alert and the relaunch.
#include "core/ApplicationRelaunch.h"
#include "core/ErrorHelper.h"
#include "core/GlobalQueue.h"
#include "core/NotificationCenter.h"
#include "core/ThreadHelper.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "TestBundle.h"
#include "Threads.h"

#include <QDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>

TEST(ThreadHelper, RunsOnTheMainThreadAndReturnsOnlyOnceTheWorkRan) {
    bool posted = false, ran = false; // on the main thread: at once, before work already posted
    QTimer::singleShot(0, [&] { posted = true; });
    ThreadHelper::RunOnMainThread([&] { ran = !posted && ThreadHelper::isMainThread(); });
    EXPECT_TRUE(ran);
    std::atomic<int> seen{0};
    ASSERT_TRUE(runOnThreads(4, [&](int) {
        bool done = false;
        ThreadHelper::RunOnMainThread([&] {
            QThread::msleep(20);
            done = ThreadHelper::isMainThread();
        });
        seen += done;
    })) << "work handed to the main thread never came back";
    EXPECT_EQ(seen, 4);
}

// In a child process, whose main loop it ends: work handed over after that does not run, and the
// caller is not left waiting.
TEST(ThreadHelper, WorkHandedOverAfterTheMainLoopEndedReturnsWithoutRunning) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QTimer::singleShot(0, [] { QCoreApplication::quit(); });
            QCoreApplication::exec();
            std::atomic<bool> ran{false};
            auto handedOver =
                std::async(std::launch::async, [&] { ThreadHelper::RunOnMainThread([&] { ran = true; }); });
            const bool returned = handedOver.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
            std::_Exit(!returned ? 2 : ran ? 3 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(NotificationCenter, ObserversOfTheNameRunOnThePostingThreadAndMayChangeTheCentre) {
    NotificationCenter center;
    std::vector<int> seen;
    std::thread::id observerThread, poster;
    const auto first = center.addObserver("n", [&](const QVariant& v) {
        seen.push_back(v.toInt());
        observerThread = std::this_thread::get_id();
    });
    NotificationCenter::Token self = center.addObserver("n", [&](const QVariant& v) {
        seen.push_back(10 + v.toInt());
        center.removeObserver(self);
        center.addObserver("n", [&](const QVariant&) { seen.push_back(100); });
        center.post("m");
    });
    center.addObserver("other", [&](const QVariant&) { seen.push_back(-1); });
    ASSERT_TRUE(runOnThreads(1, [&](int) {
        poster = std::this_thread::get_id();
        center.post("n", 2);
    })) << "posting from an observer deadlocked";
    EXPECT_TRUE(observerThread == poster);
    center.removeObserver(first);
    center.post("n", 1);
    EXPECT_EQ(seen, (std::vector<int>{2, 12, 100}));
}

// More blocked pieces than cores, each waiting for a later one: only a pool that grows runs that one.
TEST(GlobalQueue, BlockedWorkDoesNotStarveLaterWorkAndEveryPieceRunsOnce) {
    struct State {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> unblocked{0}, counted{0};
    };
    auto state = std::make_shared<State>();
    for (int i = 0; i < 24; ++i)
        GlobalQueue::async([state] {
            state->unblocked +=
                state->released.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        });
    GlobalQueue::async([state] { state->release.set_value(); });
    for (int i = 0; i < 2000; ++i)
        GlobalQueue::async([state] { ++state->counted; });
    EXPECT_TRUE(waitUntil([&] { return state->unblocked == 24 && state->counted == 2000; }, 5000))
        << state->unblocked << " unblocked, " << state->counted << " counted";
}

TEST(ErrorHelper, LogsAndShowsTheTranslatedAlertOnTheMainThread) {
    const TestBundle bundle({});
    ASSERT_TRUE(QDir(bundle.resourcesPath()).mkdir("translations"));
    bundle.addResource("translations/" + QLocale::system().uiLanguages().value(0).replace('-', '_') + ".json",
                       R"({"Error": "Fehler", "OK": "Gut"})");
    bundle.makeMain();
    auto alerts = std::make_shared<RecordingAlerts>();
    platform::Platform::setAlerts(alerts);
    LogRecorder log;
    ASSERT_TRUE(runOnThreads(1, [](int) { ErrorHelper::ShowErrorMessage("Port %d taken: %@ {} 100%"); }));
    platform::Platform::setAlerts(nullptr);
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].messageText, "Fehler");
    EXPECT_EQ(alerts->shown()[0].informativeText, "Port %d taken: %@ {} 100%");
    EXPECT_EQ(alerts->shown()[0].buttons, QStringList{"Gut"});
    EXPECT_EQ(log.at(spdlog::level::err), std::vector<std::string>{"Port %d taken: %@ {} 100%"});
}

TEST(ApplicationRelaunch, StartsTheShellThenQuitsThroughTheEventLoop) {
    auto workspace = std::make_shared<RecordingWorkspace>();
    platform::Platform::setWorkspace(workspace);
    bool relaunchedFirst = false;
    QObject guard;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &guard,
                     [&] { relaunchedFirst = workspace->relaunches == std::vector<float>{0.5f}; });
    QTimer::singleShot(0, [] { ApplicationRelaunch::relaunchAfterDelay(0.5f); });
    QTimer::singleShot(5000, &guard, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0) << "the relaunch did not quit the application";
    platform::Platform::setWorkspace(nullptr);
    EXPECT_TRUE(relaunchedFirst);
}
