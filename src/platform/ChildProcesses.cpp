#include "ChildProcesses.h"

#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>

namespace platform {

namespace {

// The longest terminateAll waits, after the kill, for the children to end: a process that SIGKILL does
// not end at once hangs in the kernel, and the program leaves without it.
constexpr std::chrono::seconds kKillWait(1);

void signalGroup(qint64 pid, int signal) {
    ::kill(-pid_t(pid), signal);
}

} // namespace

ChildProcesses& ChildProcesses::shared() {
    static ChildProcesses record;
    return record;
}

int ChildProcesses::start(const std::function<int(qint64& pid)>& spawn) {
    {
        std::lock_guard lock(mutex_);
        if (terminating_)
            return ECANCELED;
        ++starting_;
    }
    // The spawn runs outside the lock: starts on several threads do not wait for each other, and
    // terminateAll waits for the starts under way instead.
    qint64 pid = -1;
    const int error = spawn(pid);
    std::lock_guard lock(mutex_);
    --starting_;
    if (error == 0 && pid > 0) {
        // A child that started after termination signalled the others is killed without a grace: the
        // program is about to leave.
        if (terminating_)
            signalGroup(pid, SIGKILL);
        children_.emplace(pid, terminating_);
    }
    changed_.notify_all();
    return error;
}

int ChildProcesses::reap(qint64 pid, bool& terminated) {
    {
        std::lock_guard lock(mutex_);
        const auto it = children_.find(pid);
        terminated = it != children_.end() && it->second;
        // The leader is not reaped yet, so its group id is still this group's: what the child left running
        // in it (a child that ignores SIGTERM while its parent ended on it) goes with it.
        if (terminating_)
            signalGroup(pid, SIGKILL);
        if (it != children_.end())
            children_.erase(it);
        ++reaping_;
    }
    // Outside the lock: a child its waiter has just killed may take a moment to end.
    int status = 0;
    while (::waitpid(pid_t(pid), &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    --reaping_;
    changed_.notify_all();
    return status;
}

void ChildProcesses::terminateAll(std::chrono::milliseconds grace) {
    std::unique_lock lock(mutex_);
    terminating_ = true;
    for (auto& [pid, signalled] : children_) {
        signalGroup(pid, SIGTERM);
        signalled = true;
    }
    if (waitUntilEmpty(lock, std::chrono::steady_clock::now() + grace))
        return;
    for (const auto& child : children_)
        signalGroup(child.first, SIGKILL);
    waitUntilEmpty(lock, std::chrono::steady_clock::now() + kKillWait);
}

bool ChildProcesses::waitUntilEmpty(std::unique_lock<std::mutex>& lock,
                                    std::chrono::steady_clock::time_point deadline) {
    return changed_.wait_until(lock, deadline,
                               [this] { return children_.empty() && starting_ == 0 && reaping_ == 0; });
}

bool ChildProcesses::isTerminating() const {
    std::lock_guard lock(mutex_);
    return terminating_;
}

int ChildProcesses::count() const {
    std::lock_guard lock(mutex_);
    return int(children_.size());
}

} // namespace platform
