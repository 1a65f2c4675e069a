#include "KeyPressBatch.h"

#include "core/ThreadHelper.h"

namespace {

thread_local KeyPressBatch* openBatch = nullptr;

} // namespace

KeyPressBatch::KeyPressBatch() {
    if (!openBatch) {
        openBatch = this;
        opened_ = true;
    }
}

KeyPressBatch::~KeyPressBatch() {
    if (!opened_)
        return;
    post();
    openBatch = nullptr;
}

bool KeyPressBatch::add(std::function<void()> press) {
    if (!openBatch)
        return false;
    openBatch->presses_.push_back(std::move(press));
    return true;
}

void KeyPressBatch::afterPresses(const std::function<void()>& work) {
    if (openBatch && !openBatch->presses_.empty())
        openBatch->after_.push_back(work);
    else if (work)
        work();
}

void KeyPressBatch::flush() {
    if (openBatch)
        openBatch->post();
}

void KeyPressBatch::post() {
    if (!presses_.empty()) {
        ThreadHelper::RunOnMainThread([this] {
            for (const auto& press : presses_)
                press();
        });
        presses_.clear();
    }
    // Work may open no batch of its own and add nothing: this thread's batch is still open.
    std::vector<std::function<void()>> after;
    after.swap(after_);
    for (const auto& work : after)
        if (work)
            work();
}
