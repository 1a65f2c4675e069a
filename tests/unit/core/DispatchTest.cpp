// Main-thread dispatch, the notification centre and the global queue.
#include "core/GlobalQueue.h"
#include "core/NotificationCenter.h"
#include "core/ThreadHelper.h"

#include "Wait.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>

TEST(ThreadHelper, OnTheMainThreadRunsInsideTheCall) {
    bool ran = false;
    // Posted work still waiting in the event loop must not run before this returns.
    bool posted = false;
    QTimer::singleShot(0, [&] { posted = true; });
    ThreadHelper::RunOnMainThread([&] {
        EXPECT_TRUE(ThreadHelper::isMainThread());
        ran = true;
    });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(posted);
    waitUntil([&] { return posted; });
}

TEST(ThreadHelper, FromAnotherThreadWaitsUntilTheMainThreadRanIt) {
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> returned{false};
    bool sawRunBeforeReturn = false;
    std::thread worker([&] {
        ThreadHelper::RunOnMainThread([&] {
            QThread::msleep(50); // the caller must still be waiting after this
            ranOnMain = ThreadHelper::isMainThread();
        });
        sawRunBeforeReturn = ranOnMain.load();
        returned = true;
    });
    EXPECT_TRUE(waitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(sawRunBeforeReturn);
}

TEST(ThreadHelper, WorkFromSeveralThreadsRunsOneAtATime) {
    std::atomic<int> inside{0}, maxInside{0}, done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&] {
            ThreadHelper::RunOnMainThread([&] {
                maxInside = std::max(maxInside.load(), ++inside);
                QThread::msleep(5);
                --inside;
            });
            ++done;
        });
    }
    EXPECT_TRUE(waitUntil([&] { return done == 6; }));
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(maxInside, 1);
}

TEST(NotificationCenter, DeliversSynchronouslyOnThePostingThreadToObserversOfTheName) {
    NotificationCenter center;
    std::vector<int> seen;
    std::thread::id observerThread;
    const auto a = center.addObserver("kUpdatePptStatus", [&](const QVariant& v) {
        seen.push_back(v.toInt());
        observerThread = std::this_thread::get_id();
    });
    center.addObserver("kUpdatePptStatus", [&](const QVariant& v) { seen.push_back(10 + v.toInt()); });
    center.addObserver("other", [&](const QVariant&) { seen.push_back(-1); });

    std::thread poster([&] { center.post("kUpdatePptStatus", 2); });
    const auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(seen, (std::vector<int>{2, 12}));
    EXPECT_TRUE(observerThread == posterId);

    center.removeObserver(a);
    center.post("kUpdatePptStatus", 1);
    EXPECT_EQ(seen, (std::vector<int>{2, 12, 11}));
}

TEST(NotificationCenter, ObserversMayChangeTheCentreWhileBeingNotified) {
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::Token self = 0;
    self = center.addObserver("n", [&](const QVariant&) {
        ++calls;
        center.removeObserver(self);
        center.addObserver("n", [&](const QVariant&) { calls += 100; });
        center.post("m");
    });
    center.post("n");
    EXPECT_EQ(calls, 1);
    center.post("n");
    EXPECT_EQ(calls, 101);
}

TEST(GlobalQueue, BlockedWorkDoesNotStarveLaterWork) {
    // More blocked workers than cores: each waits for the last one, which can only run if the pool grows.
    constexpr int kBlocked = 24;
    std::latch allStarted(kBlocked + 1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> finished{0};
    for (int i = 0; i < kBlocked; ++i) {
        GlobalQueue::async([&, released] {
            allStarted.count_down();
            released.wait();
            ++finished;
        });
    }
    GlobalQueue::async([&] {
        allStarted.count_down();
        release.set_value();
    });
    allStarted.wait();
    while (finished.load() < kBlocked)
        std::this_thread::yield();
    EXPECT_EQ(finished.load(), kBlocked);
}

TEST(GlobalQueue, RunsEveryPieceOfWorkOnce) {
    constexpr int kWork = 2000;
    std::atomic<int> count{0};
    std::latch done(kWork);
    for (int i = 0; i < kWork; ++i)
        GlobalQueue::async([&] {
            ++count;
            done.count_down();
        });
    done.wait();
    EXPECT_EQ(count.load(), kWork);
}
