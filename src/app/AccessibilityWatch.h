#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// Watches, for the life of the process, whether it may drive the keyboard and the pointer. Waiting phase:
// one check a second until the first trusted check; the first failure posts "kAccessibilityFailed", trust
// after failures posts "kAccessibilitySucceeded". Watching phase: trust lost later asks for a relaunch of
// the application, after which the watch ends.
class AccessibilityWatch {
public:
    struct Collaborators {
        std::function<bool()> isProcessTrusted;
        // Starts the new instance and ends this one.
        std::function<void()> relaunch;
        // Waits between checks; by default a wait that stop() cuts short.
        std::function<void(std::chrono::milliseconds)> sleep;
    };
    static constexpr std::chrono::milliseconds kCheckInterval{1000};

    explicit AccessibilityWatch(Collaborators collaborators);

    // The endless loop; returns once stop() was called or a relaunch was asked for.
    void run();
    void stop();
    // Failed checks of the waiting phase; only the watch's thread changes it.
    qint64 failureCount() const { return failureCount_; }

private:
    bool stopped();
    void pause();

    Collaborators collaborators_;
    qint64 failureCount_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
};
