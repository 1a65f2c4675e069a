#pragma once

#include <QByteArray>

#include <chrono>
#include <functional>
#include <memory>

// The LAN HTTP server of slide information: every GET (and HEAD) on any path and query answers 200,
// "text/json", with the body the handler gives; other methods get 405. Asynchronous: a few threads
// serve every connection, so slow or idle clients cost memory, not threads. Each request head must
// arrive whole within a deadline and within limits of size and field count; the open connections are
// capped, and past the cap the one idle the longest is closed for the newcomer. Pipelined requests are
// answered one after another in their order; nothing of a request is kept once it was answered.
class LanInfoServer {
public:
    // Gives the document to serve. It may block (it may run presentation scripts): it is called on
    // threads of its own, never on those that serve the connections.
    using Handler = std::function<QByteArray()>;

    struct Limits {
        // From the moment a connection waits for a request (accepted, or its last answer written) until
        // the request has arrived whole, head and body.
        std::chrono::milliseconds requestDeadline{5000};
        // To write one answer.
        std::chrono::milliseconds writeDeadline{10000};
        size_t maxHeadBytes = 8192;
        size_t maxHeaderFields = 64;
        size_t maxBodyBytes = 64 * 1024;
        size_t maxConnections = 1024;
        int serviceThreads = 4;
        int handlerThreads = 2;
    };

    explicit LanInfoServer(Handler handler);
    LanInfoServer(Handler handler, Limits limits);
    ~LanInfoServer();
    LanInfoServer(const LanInfoServer&) = delete;
    LanInfoServer& operator=(const LanInfoServer&) = delete;

    // Listens on every interface (port 0: a port the system chooses); false when the port cannot be
    // bound. A server starts once; a second call while it runs changes nothing.
    bool start(quint16 port);
    // Closes the listener and every connection and ends the threads. Waits for a handler that runs.
    void stop();
    bool isRunning() const;
    // The port listened on, 0 when not running.
    quint16 port() const;
    size_t openConnections() const;

    struct Impl; // the server's state, shared with its connections

private:
    std::unique_ptr<Impl> impl_;
};
