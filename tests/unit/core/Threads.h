#pragma once

#include "Wait.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Runs work(i) on `count` threads at once; true when all of them returned within the limit while the main
// loop turned. Threads still running then are let go, so that a deadlock fails the test instead of hanging
// it.
inline bool runOnThreads(int count, const std::function<void(int)>& work, int limitMs = 5000) {
    auto returned = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([work, returned, i] {
            work(i);
            ++*returned;
        });
    const bool all = waitUntil([&] { return *returned == count; }, limitMs);
    for (auto& t : threads)
        all ? t.join() : t.detach();
    return all;
}
