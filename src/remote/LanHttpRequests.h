#pragma once

#include <QByteArray>

#include <boost/asio/buffer.hpp>

#include <memory>
#include <optional>

// The requests of one connection of the LAN HTTP server, taken as their bytes arrive: each is parsed
// in turn within limits of head size, header fields and body, and turned into what to answer. Nothing
// of a request is kept once its answer was given; the bytes of a pipelined request wait their turn.
class LanHttpRequests {
public:
    struct Limits {
        size_t maxHeadBytes = 8192;
        size_t maxHeaderFields = 64;
        size_t maxBodyBytes = 64 * 1024;
    };
    // The most bytes that wait to be parsed: a whole head and one read more.
    static constexpr size_t kReadChunk = 4096;

    struct Answer {
        // A GET or a HEAD: answered 200 with the document (its body only for a GET).
        bool document = false;
        bool withBody = false;
        bool keepAlive = false;
        int version = 11;
        // Any other answer, whole; refused: the connection ends after it.
        QByteArray whole;
        bool refused = false;
    };

    explicit LanHttpRequests(Limits limits);
    ~LanHttpRequests();
    LanHttpRequests(const LanHttpRequests&) = delete;
    LanHttpRequests& operator=(const LanHttpRequests&) = delete;

    // Room for bytes that arrive (empty when no more may wait), and how many did.
    boost::asio::mutable_buffer prepare();
    void commit(size_t size);
    size_t waiting() const;
    // The answer to the next request once it arrived whole (or was refused); nothing while its bytes
    // are still to come.
    std::optional<Answer> next();
    // Drops what waits (after a refusal nothing more is parsed).
    void discard();

    // The head of a 200 answer with the document, of a 405 and of the refusals.
    static QByteArray head(int status, const char* reason, qsizetype length, bool keepAlive,
                           int version = 11);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
