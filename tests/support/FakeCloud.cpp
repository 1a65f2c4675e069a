#include "FakeCloud.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

struct FakeCloud::Impl {
    mutable std::mutex mutex;
    std::condition_variable commandQueued;
    Mode mode = Mode::Up;
    QByteArray heartbeatBody = "\"heartBeat|OK\"";
    int pollHoldMs = 2000;
    int delayMs = 0;
    std::deque<QByteArray> commands;
    std::pair<QByteArray, QByteArray> appVersions{"{}", "application/json"};
    std::map<std::string, int> redirects; // path to status
    std::vector<Request> requests;
    quint16 port = 0;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;

    void record(const httplib::Request& r) {
        const auto header = [&](const char* name) {
            return QByteArray::fromStdString(r.get_header_value(name));
        };
        const QByteArray target = QByteArray::fromStdString(r.target);
        const qsizetype q = target.indexOf('?');
        std::lock_guard lock(mutex);
        requests.push_back({QString::fromStdString(r.method), QString::fromStdString(r.path),
                            q < 0 ? QByteArray() : target.mid(q + 1), QByteArray::fromStdString(r.body),
                            header("Content-Type"), header("Accept")});
    }

    // Applies the redirects and the failure modes; true when the request was answered by one of them.
    bool failed(const httplib::Request& request, httplib::Response& response) {
        Mode now;
        int delay;
        int redirect = 0;
        {
            std::lock_guard lock(mutex);
            now = mode;
            delay = delayMs;
            if (const auto it = redirects.find(request.path); it != redirects.end())
                redirect = it->second;
        }
        if (redirect) {
            response.status = redirect;
            response.set_header("Location", (redirect == 307 ? "/moved" : "") + request.target);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        switch (now) {
        case Mode::Status500:
            response.status = 500;
            response.set_content("server error", "text/plain");
            return true;
        case Mode::Garbage:
            response.set_content(std::string("\xff\x00<html>nonsense", 16), "text/html");
            return true;
        case Mode::Slow:
            std::this_thread::sleep_for(std::chrono::seconds(2));
            return false;
        case Mode::Huge:
            response.set_content_provider(size_t(100) << 20, "text/plain",
                                          [](size_t, size_t length, httplib::DataSink& sink) {
                                              static const std::string block(64 * 1024, 'h');
                                              return sink.write(block.data(), std::min(length, block.size()));
                                          });
            return true;
        case Mode::Endless:
        case Mode::Trickle:
            response.set_chunked_content_provider("text/plain", [this, now](size_t, httplib::DataSink& sink) {
                static const std::string block(64 * 1024, 'e');
                if (now == Mode::Trickle)
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                const bool written = sink.write(block.data(), now == Mode::Trickle ? 12 : block.size());
                std::lock_guard lock(mutex);
                return written && mode == now;
            });
            return true;
        default:
            return false;
        }
    }

    void serve() {
        auto s = std::make_unique<httplib::Server>();
        s->new_task_queue = [] {
            return new httplib::ThreadPool(16);
        };
        s->Get("/api/heartBeat", [this](const httplib::Request& r, httplib::Response& response) {
            record(r);
            if (failed(r, response))
                return;
            std::lock_guard lock(mutex);
            response.set_content(heartbeatBody.toStdString(), "application/json");
        });
        s->Get("/api/Command", [this](const httplib::Request& r, httplib::Response& response) {
            record(r);
            if (failed(r, response))
                return;
            std::unique_lock lock(mutex);
            commandQueued.wait_for(lock, std::chrono::milliseconds(pollHoldMs),
                                   [this] { return !commands.empty() || mode == Mode::Down; });
            QByteArray body;
            if (!commands.empty()) {
                body = commands.front();
                commands.pop_front();
            }
            response.set_content(body.toStdString(), "application/json");
        });
        s->Get("/api/AppVersions", [this](const httplib::Request& r, httplib::Response& response) {
            record(r);
            if (failed(r, response))
                return;
            std::lock_guard lock(mutex);
            response.set_content(appVersions.first.toStdString(), appVersions.second.toStdString());
        });
        s->Post("/api/Info", [this](const httplib::Request& r, httplib::Response& response) {
            record(r);
            if (failed(r, response))
                return;
            response.set_content("true", "application/json");
        });
        // Where a 307 sends its requests: answered as the cloud would answer them.
        const auto moved = [this](const httplib::Request& r, httplib::Response& response) {
            record(r);
            std::lock_guard lock(mutex);
            response.set_content(heartbeatBody.toStdString(), "application/json");
        };
        s->Get("/moved/.*", moved);
        s->Post("/moved/.*", moved);
        if (port == 0)
            port = quint16(s->bind_to_any_port("127.0.0.1"));
        else if (!s->bind_to_port("127.0.0.1", port))
            return;
        httplib::Server* raw = s.get();
        server = std::move(s);
        thread = std::thread([raw] { raw->listen_after_bind(); });
        while (!raw->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void halt() {
        if (!server)
            return;
        {
            std::lock_guard lock(mutex);
            commandQueued.notify_all();
        }
        server->stop();
        if (thread.joinable())
            thread.join();
        server.reset();
    }
};

FakeCloud::FakeCloud()
    : impl_(std::make_unique<Impl>()) {}

FakeCloud::~FakeCloud() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->mode = Mode::Down;
    }
    impl_->halt();
}

bool FakeCloud::start(quint16 port) {
    impl_->port = port;
    impl_->serve();
    return impl_->server != nullptr;
}

quint16 FakeCloud::port() const {
    return impl_->port;
}

QString FakeCloud::root() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(impl_->port);
}

void FakeCloud::setMode(Mode mode) {
    Mode before;
    {
        std::lock_guard lock(impl_->mutex);
        before = impl_->mode;
        impl_->mode = mode;
    }
    if (mode == Mode::Down && before != Mode::Down)
        impl_->halt();
    else if (mode != Mode::Down && before == Mode::Down)
        impl_->serve();
}

void FakeCloud::setHeartbeatBody(const QByteArray& body) {
    std::lock_guard lock(impl_->mutex);
    impl_->heartbeatBody = body;
}

void FakeCloud::setPollHold(int milliseconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->pollHoldMs = milliseconds;
}

void FakeCloud::setDelay(int milliseconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->delayMs = milliseconds;
}

void FakeCloud::queueCommand(const QByteArray& body) {
    std::lock_guard lock(impl_->mutex);
    impl_->commands.push_back(body);
    impl_->commandQueued.notify_all();
}

void FakeCloud::setAppVersions(const QByteArray& body, const QByteArray& contentType) {
    std::lock_guard lock(impl_->mutex);
    impl_->appVersions = {body, contentType};
}

void FakeCloud::setRedirect(const QString& path, int status) {
    std::lock_guard lock(impl_->mutex);
    if (status)
        impl_->redirects[path.toStdString()] = status;
    else
        impl_->redirects.erase(path.toStdString());
}

std::vector<FakeCloud::Request> FakeCloud::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<FakeCloud::Request> FakeCloud::requests(const QString& path) const {
    std::vector<Request> out;
    for (const Request& r : requests())
        if (r.path == path)
            out.push_back(r);
    return out;
}

void FakeCloud::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}
