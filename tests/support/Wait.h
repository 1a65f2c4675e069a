#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

// Runs the main event loop until the condition holds or the limit passes; says whether it holds.
// The limit only ends a test that would otherwise hang: no test asserts on how long anything takes.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}
