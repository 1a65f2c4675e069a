#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>

// Runs the main event loop until the condition holds or the limit passes; says whether it holds.
// The limit only ends a test that would otherwise hang: no test asserts on how long anything takes.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// Lets go of an object that background tasks may still hold, and waits until the last of them let go
// too, so that none of its work outlives the test.
template <typename T> bool releaseAndWait(std::shared_ptr<T>& object) {
    std::weak_ptr<T> alive = object;
    object.reset();
    return waitUntil([&] { return alive.expired(); });
}
