#include "ThreadHelper.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

bool ThreadHelper::isMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void ThreadHelper::RunOnMainThread(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    // The caller waits on a condition of its own rather than on Qt's blocking call, so that everything
    // the work did on the main thread is visibly ordered before the caller goes on.
    struct Completion {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    auto completion = std::make_shared<Completion>();
    QMetaObject::invokeMethod(
        app,
        [&work, completion] {
            work();
            std::lock_guard lock(completion->mutex);
            completion->done = true;
            completion->finished.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(completion->mutex);
    completion->finished.wait(lock, [&] { return completion->done; });
}
