#pragma once

#include <functional>
#include <vector>

// Gathers the key presses a thread asks for while it handles a batch of commands, and takes them to
// the main thread in one trip instead of one trip a press. The presses keep their order among each
// other and with every other command of the thread: the executor flushes the batch before it acts on
// any command that is not a key press, and the batch is flushed when it ends, so the thread that opened
// it returns only after its presses were posted. Without an open batch, a press goes to the main thread
// by itself.
class KeyPressBatch {
public:
    // Opens the batch of this thread, unless one is open already (then this one does nothing).
    KeyPressBatch();
    // Flushes and closes the batch this object opened.
    ~KeyPressBatch();
    KeyPressBatch(const KeyPressBatch&) = delete;
    KeyPressBatch& operator=(const KeyPressBatch&) = delete;

    // Adds a press (work that posts it, run on the main thread) to this thread's open batch; false when
    // no batch is open.
    static bool add(std::function<void()> press);
    // Runs the work on this thread once the presses gathered so far were posted: at once when none wait.
    static void afterPresses(const std::function<void()>& work);
    // Posts the gathered presses on the main thread, waits for them, then runs what waited for them.
    static void flush();

private:
    void post();

    bool opened_ = false;
    std::vector<std::function<void()>> presses_;
    std::vector<std::function<void()>> after_;
};
