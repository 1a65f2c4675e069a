// Both delegates' start-up and shutdown, and the phases of the accessibility watch.
#include "app/AccessibilityPermissionWindowController/AccessibilityPermissionWindowController.h"
#include "app/AccessibilityWatch.h"
#include "app/AppDelegatePodiumCast.h"

#include "LogRecorder.h"
#include "NotificationRecorder.h"
#include "Wait.h"
#include "core/Notifications.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <deque>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

[[noreturn]] void markerHandler() {
    std::abort();
}

// What the loggers write to standard error while the routine runs.
QByteArray standardErrorOf(const std::function<void()>& routine) {
    QTemporaryFile capture;
    if (!capture.open())
        return "cannot capture";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    routine();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

struct Calls {
    std::mutex mutex;
    QStringList names;
    std::function<void()> record(const char* name) {
        return [this, name] {
            std::lock_guard lock(mutex);
            names << QString::fromLatin1(name);
        };
    }
};

} // namespace

TEST(DelegateTest, StartUpLogsIntoTheDelegatesFolderAndShutdownStopsInOrder) {
    for (const bool podiumCast : {false, true}) {
        SCOPED_TRACE(podiumCast);
        QTemporaryDir home;
        Calls calls;
        auto delegate = AppDelegate::create(podiumCast ? "AppDelegatePodiumCast" : "AppDelegateSlideWand",
                                            {home.path() + "/Documents", "com.example.Test",
                                             calls.record("stopListening"), calls.record("clearPdfOfWebFile"),
                                             [] { return false; }, calls.record("relaunch")});
        ASSERT_TRUE(delegate);
        std::set_terminate(markerHandler);
        delegate->applicationDidFinishLaunching();
        EXPECT_FALSE(delegate->shouldTerminate);
        EXPECT_NE(std::get_terminate(), &markerHandler) << "the crash handler is installed";
        const QString folder =
            home.path() + (podiumCast ? "/Documents/podiumcastlogfiles" : "/Documents/slidewandlogfiles");
        EXPECT_EQ(Logger::lastLogsDirectory(), folder) << "the file logger is the last one";
        const QByteArray console = standardErrorOf([] {
            LOG_VERBOSE("verbose line");
            LOG_DEBUG("debug line");
        });
        EXPECT_TRUE(console.contains("debug line")) << console.constData();
        EXPECT_EQ(console.contains("verbose line"), podiumCast)
            << "the console takes verbose lines only under PodiumCast";
        const QStringList files = QDir(folder).entryList({"com.example.Test *.log"}, QDir::Files);
        ASSERT_EQ(files.size(), 1);
        QFile log(folder + "/" + files[0]);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(log.readAll().contains("verbose line"));

        if (podiumCast) { // never trusted: the dialog opens on the main thread
            auto* podium = static_cast<AppDelegatePodiumCast*>(delegate.get());
            ASSERT_TRUE(waitUntil([&] { return podium->accessibilityWC() != nullptr; }, 5000)) << "no dialog";
            EXPECT_TRUE(podium->accessibilityWC()->isVisible());
        }
        delegate->applicationWillTerminate();
        const QStringList expected =
            podiumCast ? QStringList{"clearPdfOfWebFile", "stopListening"} : QStringList{"stopListening"};
        EXPECT_EQ(calls.names, expected);
        delegate.reset();
        Logger::removeAllLoggers();
    }
    EXPECT_FALSE(AppDelegate::create("AppDelegate", {}));
}

TEST(DelegateTest, AccessibilityWatchPhases) {
    struct Case {
        const char* name;
        std::vector<bool> checks; // the trust answers in order; when they run out, the watch is stopped
        qint64 failures;
        int failedPosts, succeededPosts;
        bool relaunch;
        size_t checksMade, sleeps;
        long okLines;
    };
    const Case cases[] = {
        {"never granted", {false, false, false}, 3, 1, 0, false, 3, 3, 0},
        {"granted at once", {true, true, true}, 0, 0, 0, false, 3, 3, 1},
        {"granted after two failures", {false, false, true, true}, 2, 1, 1, false, 4, 4, 1},
        {"withdrawn while watching: no check after the relaunch",
         {true, true, false, true, true},
         0,
         0,
         0,
         true,
         3,
         1,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogRecorder log;
        NotificationRecorder posts(
            {Notifications::kAccessibilityFailed.qname(), Notifications::kAccessibilitySucceeded.qname()});
        std::deque<bool> answers(c.checks.begin(), c.checks.end());
        size_t checksMade = 0, sleeps = 0;
        bool relaunched = false;
        AccessibilityWatch* self = nullptr;
        AccessibilityWatch watch({[&] {
                                      if (answers.empty()) {
                                          self->stop();
                                          return true;
                                      }
                                      ++checksMade;
                                      const bool answer = answers.front();
                                      answers.pop_front();
                                      return answer;
                                  },
                                  [&] { relaunched = true; },
                                  [&](std::chrono::milliseconds interval) {
                                      EXPECT_EQ(interval, std::chrono::milliseconds(1000));
                                      ++sleeps;
                                  }});
        self = &watch;
        watch.run();
        EXPECT_EQ(watch.failureCount(), c.failures);
        EXPECT_EQ(posts.values(Notifications::kAccessibilityFailed.qname()).size(), size_t(c.failedPosts));
        EXPECT_EQ(posts.values(Notifications::kAccessibilitySucceeded.qname()).size(),
                  size_t(c.succeededPosts));
        EXPECT_EQ(relaunched, c.relaunch);
        EXPECT_EQ(checksMade, c.checksMade);
        EXPECT_EQ(sleeps, c.sleeps);
        for (qint64 n = 1; n <= c.failures; ++n)
            EXPECT_EQ(log.count(spdlog::level::info, "accessibility failed! count = " + std::to_string(n)),
                      1);
        EXPECT_EQ(log.count(spdlog::level::info, "accessibility OK!"), c.okLines);
    }
}
