#include "platform/ChildProcesses.h"
#include "platform/WaitedProcess.h"

#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <sys/wait.h>

using namespace std::chrono_literals;
using platform::ChildProcesses;
using platform::WaitedProcess;

namespace {

// Whether the process runs (a zombie nobody reaped yet has ended).
bool alive(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return pid > 0 && stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}

class ChildProcessesTest : public ::testing::Test {
protected:
    // A shell script run as the leader of a group of its own, on a thread of its own.
    std::future<WaitedProcess::Result> start(const QByteArray& script, bool ownSession = true) {
        WaitedProcess::Request request;
        request.program = "/bin/sh";
        request.arguments = {"-c", script};
        request.ownSession = ownSession;
        request.timeout = 60s;
        return std::async(std::launch::async,
                          [this, request] { return WaitedProcess::run(request, record); });
    }
    QByteArray file(const char* name) const { return QFile::encodeName(folder.filePath(name)); }
    pid_t pidIn(const char* name) const {
        QFile f(folder.filePath(name));
        return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().toInt()) : 0;
    }
    static bool ready(std::future<WaitedProcess::Result>& run) {
        return run.wait_for(10s) == std::future_status::ready;
    }

    QTemporaryDir work;
    QDir folder{work.path()};
    ChildProcesses record;
};

} // namespace

TEST_F(ChildProcessesTest, TerminationEndsEveryChildWithWhatItStartedInItsGroup) {
    auto polite = start("echo $$ > '" + file("polite") + "'; sleep 60");
    auto stubborn =
        start("trap '' TERM; echo $$ > '" + file("stubborn") + "'; while :; do sleep 0.1; done", false);
    // A child that ends on SIGTERM, leaving in its group a child of its own that ignores it.
    auto parent = start("sh -c 'trap \"\" TERM; echo $$ > \"$0\"; exec sleep 60' '" + file("grandchild") +
                        "' & echo $$ > '" + file("parent") + "'; wait");
    // Should a check fail before the termination, the children do not outlive the test.
    const auto cleanUp = qScopeGuard([&] { record.terminateAll(100ms); });
    ASSERT_TRUE(waitUntil(
        [&] {
            return pidIn("polite") && pidIn("stubborn") && pidIn("parent") && pidIn("grandchild") &&
                   record.count() == 3;
        },
        10000));
    const pid_t grandchild = pidIn("grandchild");
    ASSERT_TRUE(alive(grandchild));

    record.terminateAll(300ms);
    EXPECT_EQ(record.count(), 0) << "terminateAll returned with children still running";
    ASSERT_TRUE(ready(polite) && ready(stubborn) && ready(parent));
    const auto endedBy = [](const WaitedProcess::Result& run) {
        EXPECT_TRUE(run.terminated);
        return WIFSIGNALED(run.status) ? WTERMSIG(run.status) : 0;
    };
    EXPECT_EQ(endedBy(polite.get()), SIGTERM);
    EXPECT_EQ(endedBy(stubborn.get()), SIGKILL) << "killed only once the grace had passed";
    EXPECT_EQ(endedBy(parent.get()), SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return !alive(grandchild); }, 5000)) << "the child's own child lives on";
    for (const char* name : {"polite", "stubborn", "parent"})
        EXPECT_FALSE(alive(pidIn(name))) << name;
}

TEST_F(ChildProcessesTest, NoChildStartedAroundOrAfterTerminationSurvivesIt) {
    // Starts on many threads at once race the termination: each child either starts before it, and is
    // ended by it, or is refused; none is left running (its thread would still be waiting for it).
    constexpr int kStarts = 12;
    std::latch go(kStarts + 1);
    std::vector<std::future<WaitedProcess::Result>> runs;
    for (int i = 0; i < kStarts; ++i)
        runs.push_back(std::async(std::launch::async, [&] {
            WaitedProcess::Request request;
            request.program = "sh"; // looked up on PATH
            request.arguments = {"-c", "sleep 60; :"};
            request.searchPath = true;
            request.timeout = 60s;
            go.arrive_and_wait();
            return WaitedProcess::run(request, record);
        }));
    const auto cleanUp = qScopeGuard([&] { record.terminateAll(100ms); });
    go.arrive_and_wait();
    record.terminateAll(200ms);
    for (auto& run : runs) {
        ASSERT_TRUE(ready(run)) << "a child started during termination still runs";
        const WaitedProcess::Result result = run.get();
        EXPECT_TRUE(result.startError == ECANCELED || (result.startError == 0 && result.terminated))
            << result.startError;
    }

    // After it, nothing starts at all.
    auto late = start("touch '" + file("late") + "'");
    ASSERT_TRUE(ready(late));
    EXPECT_EQ(late.get().startError, ECANCELED);
    EXPECT_FALSE(QFile::exists(folder.filePath("late")));
    EXPECT_EQ(record.count(), 0);
}
