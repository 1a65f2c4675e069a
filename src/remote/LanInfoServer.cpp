#include "LanInfoServer.h"

#include "core/Logger.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

struct LanInfoServer::Impl {
    Handler handler;
    httplib::Server server;
    std::thread thread;
    std::mutex mutex;
};

LanInfoServer::LanInfoServer(Handler handler) : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    auto& server = impl_->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
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

LanInfoServer::~LanInfoServer() { stop(); }

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

bool LanInfoServer::isRunning() const { return impl_->thread.joinable() && impl_->server.is_running(); }
