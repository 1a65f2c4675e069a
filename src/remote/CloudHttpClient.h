#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>

// The HTTP client of the cloud service: the heartbeat, the command poll, the slide-information upload and
// the update check. HTTP/1.1 over plain TCP or TLS (the peer's certificate checked against the system's
// authorities and the address's host), one connection an exchange, served on a thread of its own.
//
// Every exchange is bounded in what the server can make it cost. The head of the answer may hold at most
// kMaxHeaderBytes and its body the caller's limit; the exchange fails the moment either is passed. One
// deadline covers the whole exchange, from the name lookup to the answer's last byte, so a server that
// trickles, never ends its head or its body, or says nothing fails at the deadline like one that cannot
// be reached. Redirects are not followed: a 3xx answer is a failed exchange.
class CloudHttpClient {
public:
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    struct Request {
        QByteArray method = "GET";
        QUrl url; // http or https, with a host
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body; // sent with its length when not empty, or for any method but GET
    };

    struct Result {
        bool transferred = false; // the whole answer arrived within the limits, without a transport error
        int status = 0;           // the HTTP status; 0 when no head arrived
        QByteArray body;          // only when transferred
        QString error;            // why it failed, when it did
        QString contentType;
        bool succeeded() const { return transferred && status >= 200 && status <= 299; }
    };
    using Completion = std::function<void(const Result&)>;

private:
    struct Run;
    struct Impl;

public:
    // An exchange under way, or ended.
    class Exchange {
    public:
        Exchange(std::weak_ptr<Run> run, std::shared_ptr<const bool> ended)
            : run_(std::move(run))
            , ended_(std::move(ended)) {}
        // Ends the exchange as a failure ("Operation canceled") unless it ended already. Main thread.
        void abort();
        // Whether its end reached the main thread: the completion ran, or was dropped with its context.
        // Main thread.
        bool ended() const { return *ended_; }

    private:
        std::weak_ptr<Run> run_;
        std::shared_ptr<const bool> ended_;
    };

    // Made on the main thread, where the completions run.
    CloudHttpClient();
    // Ends the exchanges under way; no completion runs after this.
    ~CloudHttpClient();
    CloudHttpClient(const CloudHttpClient&) = delete;
    CloudHttpClient& operator=(const CloudHttpClient&) = delete;

    // Starts the exchange and returns at once; main thread. The completion runs once, later, on the main
    // thread, unless the context (not null) is destroyed before.
    std::shared_ptr<Exchange> start(Request request, qint64 maxBodyBytes, std::chrono::milliseconds deadline,
                                    QObject* context, Completion completion);

private:
    std::unique_ptr<Impl> impl_;
};
