#include "AccessibilityWatch.h"

#include "core/Logger.h"
#include "core/Notifications.h"

AccessibilityWatch::AccessibilityWatch(Collaborators collaborators)
    : collaborators_(std::move(collaborators)) {}

void AccessibilityWatch::run() {
    while (!stopped() && !collaborators_.isProcessTrusted()) {
        ++failureCount_;
        LOG_INFO("accessibility failed! count = {}", failureCount_);
        if (failureCount_ == 1)
            post(Notifications::kAccessibilityFailed);
        pause();
    }
    if (stopped())
        return;
    LOG_INFO("accessibility OK!");
    if (failureCount_ > 0)
        post(Notifications::kAccessibilitySucceeded);
    while (!stopped()) {
        if (!collaborators_.isProcessTrusted()) {
            // The relaunch ends this process; a second one before it has ended would start a second
            // instance.
            collaborators_.relaunch();
            return;
        }
        pause();
    }
}

void AccessibilityWatch::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    wake_.notify_all();
}

bool AccessibilityWatch::stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void AccessibilityWatch::pause() {
    if (collaborators_.sleep) {
        collaborators_.sleep(kCheckInterval);
        return;
    }
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, kCheckInterval, [this] { return stopped_; });
}
