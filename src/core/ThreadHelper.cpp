#include "ThreadHelper.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace threadhelper_detail {

// Work handed to the main thread. The work itself travels through this queue under a mutex of ours,
// and Qt's event loop carries only the call to drain(), so everything the caller did before handing
// the work over is ordered before the main thread runs it, and everything the work did is ordered
// before the caller goes on.
class MainThreadQueue : public QObject {
    Q_OBJECT
public:
    // False once the main loop has ended: the job is dropped.
    bool push(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        if (closed_)
            return false;
        jobs_.push_back(std::move(job));
        return true;
    }

    // The main loop has ended: nothing handed over from now on runs, and what waits is dropped.
    void close() {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            dropped.swap(jobs_);
        }
    }
    bool closed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

    Q_INVOKABLE void drain() {
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard lock(mutex_);
                if (jobs_.empty())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
    bool closed_ = false;
};

} // namespace threadhelper_detail

using threadhelper_detail::MainThreadQueue;

namespace {

std::atomic<MainThreadQueue*> sharedQueue{nullptr};

// Made on the main thread while the application object is constructed, before any other thread can ask.
// When the main loop ends, the queue closes.
void makeMainThreadQueue() {
    auto* queue = new MainThreadQueue;
    QObject::connect(
        QCoreApplication::instance(), &QCoreApplication::aboutToQuit, queue, [queue] { queue->close(); },
        Qt::DirectConnection);
    sharedQueue.store(queue, std::memory_order_release);
}
Q_COREAPP_STARTUP_FUNCTION(makeMainThreadQueue)

MainThreadQueue& mainThreadQueue(QCoreApplication* app) {
    if (MainThreadQueue* queue = sharedQueue.load(std::memory_order_acquire))
        return *queue;
    // An application object made before this library was loaded: make the queue here and give it to
    // the main thread. The queue lives for the life of the process.
    auto* made = new MainThreadQueue;
    made->moveToThread(app->thread());
    MainThreadQueue* expected = nullptr;
    if (!sharedQueue.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        made->deleteLater();
        return *expected;
    }
    return *made;
}

} // namespace

bool ThreadHelper::isMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void ThreadHelper::RunOnMainThread(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    if (!app) {
        // Before the application object, nobody else can run it; after it, nothing may.
        if (MainThreadQueue* queue = sharedQueue.load(std::memory_order_acquire); !queue || !queue->closed())
            work();
        return;
    }
    struct Completion {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    auto completion = std::make_shared<Completion>();
    MainThreadQueue& queue = mainThreadQueue(app);
    // Whether the job runs or is dropped unrun (the main loop ended), the end of the job releases the waiter.
    struct Release {
        explicit Release(std::shared_ptr<Completion> c)
            : completion(std::move(c)) {}
        Release(const Release&) = delete;
        Release& operator=(const Release&) = delete;
        std::shared_ptr<Completion> completion;
        ~Release() {
            std::lock_guard lock(completion->mutex);
            completion->done = true;
            completion->finished.notify_all();
        }
    };
    if (!queue.push([&work, release = std::make_shared<Release>(completion)] { work(); }))
        return;
    QMetaObject::invokeMethod(&queue, "drain", Qt::QueuedConnection);
    std::unique_lock lock(completion->mutex);
    completion->finished.wait(lock, [&] { return completion->done; });
}

#include "ThreadHelper.moc"
