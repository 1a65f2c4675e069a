#pragma once

#include <functional>

// The process's concurrent background queue. Work runs on a pool that starts another thread whenever
// work arrives and no thread is idle, so work that blocks (scripts, exports, waits for the main thread)
// never starves the rest. Idle threads end after a while; the pool never exceeds kMaxThreads, beyond
// which work waits for a free thread.
class GlobalQueue {
public:
    static constexpr int kMaxThreads = 128;

    static void async(std::function<void()> work);
    // Starts a thread of its own for work that runs for the life of the process (endless loops).
    static void detach(std::function<void()> work);
};
