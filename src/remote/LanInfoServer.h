#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

// The LAN HTTP server of slide information: every GET (and HEAD) on any path and query answers 200,
// "text/json", with the body the handler gives. Slow and idle clients are cut off by read and write
// timeouts, and a bounded pool of threads, grown as connections arrive, serves them.
class LanInfoServer {
public:
    using Handler = std::function<QByteArray()>;

    static constexpr size_t kMaxThreads = 64;
    static constexpr int kTimeoutSeconds = 2;

    explicit LanInfoServer(Handler handler);
    ~LanInfoServer();

    // Listens on every interface; false when the port cannot be bound.
    bool start(quint16 port);
    void stop();
    bool isRunning() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
