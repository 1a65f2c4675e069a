#pragma once

#include <functional>

namespace platform {

// Runs the handler on the main thread's event loop when the process is asked to end (SIGTERM or
// SIGINT). Call once, on the main thread, after the application object exists.
class TerminationSignals {
public:
    static void install(std::function<void()> handler);
};

} // namespace platform
