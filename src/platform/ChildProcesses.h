#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

namespace platform {

// The children the program starts and waits for, from their start until they are reaped. Each leads a
// process group of its own, and a signal goes to the whole group, so that what a child started in its
// group ends with it. At exit the program ends them all (terminateAll); from then on nothing starts.
//
// Safe from any thread. A child is signalled only while it is in the record, and leaves the record before
// it is reaped: no process id is signalled after it was freed for reuse.
class ChildProcesses {
public:
    // The record of this process.
    static ChildProcesses& shared();

    ChildProcesses() = default;
    ChildProcesses(const ChildProcesses&) = delete;
    ChildProcesses& operator=(const ChildProcesses&) = delete;

    // Starts a child with spawn, which gives the process id of the child it started (the leader of a
    // group of its own) and returns 0, or returns the error number of a failed start. Once termination
    // has begun, spawn is not called and the answer is ECANCELED; a child that started while termination
    // began is killed at once. A child started stays in the record until reap() is called for it.
    int start(const std::function<int(qint64& pid)>& spawn);

    // Takes the child out of the record and reaps it, once it has ended or its waiter has killed it, and
    // gives its status as waitpid does. After termination has begun, what is left of its group is killed
    // first. terminated tells whether termination signalled the child.
    int reap(qint64 pid, bool& terminated);

    // SIGTERM to the group of every child; SIGKILL after the grace to the groups of those that have not
    // ended. Returns once every child has ended and was reaped, or a second after the kill at the latest.
    void terminateAll(std::chrono::milliseconds grace);

    bool isTerminating() const;
    // How many children are in the record now.
    int count() const;

private:
    // Waits until no child is in the record, starting or being reaped, or until the deadline.
    bool waitUntilEmpty(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point deadline);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<qint64, bool> children_; // pid -> signalled by termination
    int starting_ = 0;
    int reaping_ = 0;
    bool terminating_ = false;
};

} // namespace platform
