#pragma once

class ApplicationRelaunch {
public:
    // Starts a new instance of the application after the delay and quits this one through the normal
    // termination on the main thread (which runs the quit handlers).
    static void relaunchAfterDelay(float seconds);
};
