#include "GlobalQueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <QtGlobal>

namespace {

class Pool {
public:
    void submit(std::function<void()> work) {
        std::unique_lock lock(mutex_);
        queue_.push_back(std::move(work));
        // Idle threads that were woken have not left the idle count yet, so compare with the queue's
        // length: every queued piece of work needs an idle thread of its own.
        if (qsizetype(queue_.size()) <= idle_) {
            wake_.notify_one();
        } else if (threads_ < GlobalQueue::kMaxThreads) {
            ++threads_;
            lock.unlock();
            std::thread([this] { serve(); }).detach();
        }
    }

private:
    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (queue_.empty()) {
                ++idle_;
                const bool woke = wake_.wait_for(lock, kIdleLifetime, [this] { return !queue_.empty(); });
                --idle_;
                if (!woke) {
                    --threads_;
                    return;
                }
            }
            auto work = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            work();
            work = nullptr; // release what the work captured before waiting again
            lock.lock();
        }
    }

    static constexpr std::chrono::seconds kIdleLifetime{15};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    int threads_ = 0;
    qsizetype idle_ = 0;
};

Pool& pool() {
    static Pool* p = new Pool; // detached workers may outlive static destruction
    return *p;
}

} // namespace

void GlobalQueue::async(std::function<void()> work) {
    pool().submit(std::move(work));
}

void GlobalQueue::detach(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}
