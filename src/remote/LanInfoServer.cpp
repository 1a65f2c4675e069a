#include "LanInfoServer.h"

#include "core/Logger.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Serves each connection on a thread of its own, starting threads as connections arrive, up to a bound;
// past it connections wait for a free thread. A client that connects and sends nothing holds one thread
// until the read time-out, never the whole server.
class ConnectionPool : public httplib::TaskQueue {
public:
    explicit ConnectionPool(size_t maxThreads)
        : maxThreads_(maxThreads) {}

    void enqueue(std::function<void()> job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() <= idle_)
            wake_.notify_one();
        else if (threads_.size() < maxThreads_)
            threads_.emplace_back([this] { serve(); });
    }

    // Runs what is queued (each job closes its connection), then ends the threads.
    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_)
            t.join();
    }

private:
    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
            --idle_;
            if (jobs_.empty())
                return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const size_t maxThreads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    size_t idle_ = 0;
    bool stopping_ = false;
};

} // namespace

struct LanInfoServer::Impl {
    Handler handler;
    httplib::Server server;
    std::thread thread;
    std::mutex mutex;
};

LanInfoServer::LanInfoServer(Handler handler)
    : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    auto& server = impl_->server;
    server.new_task_queue = [] {
        return new ConnectionPool(kMaxThreads);
    };
    server.set_read_timeout(kTimeoutSeconds, 0);
    server.set_write_timeout(kTimeoutSeconds, 0);
    server.set_keep_alive_timeout(kTimeoutSeconds);
    server.set_keep_alive_max_count(20);
    server.set_payload_max_length(64 * 1024);
    server.Get(".*", [this](const httplib::Request&, httplib::Response& response) {
        const QByteArray body = impl_->handler();
        response.status = 200;
        response.set_content(body.constData(), size_t(body.size()), "text/json");
    });
}

LanInfoServer::~LanInfoServer() {
    stop();
}

bool LanInfoServer::start(quint16 port) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->thread.joinable())
        return true;
    if (!impl_->server.bind_to_port("0.0.0.0", port)) {
        LOG_ERROR("lan: the slide-information server cannot listen on port {}", port);
        return false;
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    impl_->thread = std::thread([this, ended] {
        impl_->server.listen_after_bind();
        *ended = true;
    });
    // stop() only reaches a server that is already listening: wait until it is.
    while (!impl_->server.is_running() && !*ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void LanInfoServer::stop() {
    std::lock_guard lock(impl_->mutex);
    impl_->server.stop();
    if (impl_->thread.joinable())
        impl_->thread.join();
}

bool LanInfoServer::isRunning() const {
    return impl_->thread.joinable() && impl_->server.is_running();
}
