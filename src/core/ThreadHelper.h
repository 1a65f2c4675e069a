#pragma once

#include <functional>

class ThreadHelper {
public:
    // Runs the work on the main thread and returns when it has run: inside the call on the main thread,
    // otherwise by handing it to the main thread's event loop and waiting. Without an application
    // object there is no main loop to hand it to, and the work runs inside the call. Once the main loop
    // has ended (the application is about to quit), work handed over from other threads does not run:
    // the call returns at once, and a hand-over still waiting returns without its work.
    static void RunOnMainThread(const std::function<void()>& work);
    static bool isMainThread();
};
