#pragma once

// Two helpers of the UDP load benchmark that talk to the X display (DISPLAY) as clients of their own,
// beside the poster under test: one counts the key presses the server handles, one taps a key as fast
// as the server takes it. The X headers stay in XKeyProbe.cpp.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Records, with the RECORD extension, every key press the X server handles, from any client, and calls
// back once for each on a thread of its own, with the time its record arrived. A window of its own has
// the keyboard focus, as the application a user presents with would: the key presses go to it, and the
// server sends their records when it sends them to the window, so the time is when the application
// could have the key press. The window's key presses are counted too: under a flood of key presses
// RECORD (of Xvfb 21) leaves out some records while the window still gets every key.
class XKeyPressRecorder {
public:
    using Clock = std::chrono::steady_clock;
    using OnKeyPress = std::function<void(Clock::time_point arrived)>;

    // Calls recorded for each record of a key press, delivered for each key press the window read.
    // Null, with the reason in why, when there is no display or it lacks RECORD.
    static std::unique_ptr<XKeyPressRecorder> start(OnKeyPress recorded, OnKeyPress delivered,
                                                    std::string& why);
    // Stops recording and joins the thread (bounded: it gives up on a server that does not answer).
    ~XKeyPressRecorder();
    XKeyPressRecorder(const XKeyPressRecorder&) = delete;
    XKeyPressRecorder& operator=(const XKeyPressRecorder&) = delete;

    struct Impl;

private:
    explicit XKeyPressRecorder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d_;
};

// A plain XTest loop on a connection of its own: presses and releases the Escape key and flushes, tap
// after tap, until the deadline. Gives the taps sent; 0 with the reason in why when there is no
// display with XTest.
std::uint64_t tapKeysWithXTest(std::chrono::steady_clock::time_point deadline, std::string& why);
