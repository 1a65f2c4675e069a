#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The LAN HTTP server of slide information: every GET (and HEAD) on any path and query answers 200,
// "text/json", with the body the handler gives; other methods get 405. Asynchronous: a few threads
// serve every connection, so slow or idle clients cost memory, not threads. Each request head must
// arrive whole within a deadline and within limits of size and field count; the open connections are
// capped, and past the cap the one idle the longest is closed for the newcomer. Pipelined requests are
// answered one after another in their order; nothing of a request is kept once it was answered.
class LanInfoServer {
public:
    // Gives the document to serve.
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
        // Lowered, when the process's open-file limit is low, so that 128 descriptors stay free for
        // the rest of the process.
        size_t maxConnections = 1024;
        // 0: one for each core the process may run on, at least 2 and at most 16. The kernel's work of
        // sending the answers runs on these threads; more threads than cores only take turns.
        int serviceThreads = 0;
        int handlerThreads = 2;
    };

    // storedDocument gives the document at hand without blocking, or an empty one when there is none;
    // it runs on the threads that serve the connections. buildDocument gives the document when
    // storedDocument had none; it may block (it may run presentation scripts), so it runs on threads of
    // its own.
    LanInfoServer(Handler storedDocument, Handler buildDocument);
    LanInfoServer(Handler storedDocument, Handler buildDocument, Limits limits);
    ~LanInfoServer();
    LanInfoServer(const LanInfoServer&) = delete;
    LanInfoServer& operator=(const LanInfoServer&) = delete;

    // Listens on every interface (port 0: a port the system chooses); why not, when the port cannot be
    // bound. The port is this server's alone: another process listening there makes the bind fail. A
    // server starts once; a second call while it runs changes nothing. Starting raises the process's
    // open-file limit to its hard limit.
    std::optional<QString> start(quint16 port);
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
