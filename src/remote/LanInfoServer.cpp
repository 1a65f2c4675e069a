#include "LanInfoServer.h"

#include "LanHttpRequests.h"

#include "core/Logger.h"
#include "platform/OpenFileLimit.h"
#include "platform/SealedMemoryFile.h"

#include <QThread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace {

class Connection;

} // namespace

struct LanInfoServer::Impl {
    Impl(Handler stored, Handler build, Limits l)
        : storedDocument(std::move(stored))
        , buildDocument(std::move(build))
        , limits(l) {}

    const Handler storedDocument;
    const Handler buildDocument;
    const Limits limits;

    std::mutex lifecycle; // start and stop
    bool started = false;
    std::atomic<bool> running{false};
    std::atomic<quint16> boundPort{0};
    // The most connections kept open: the limits' maxConnections, lowered where the open-file limit
    // would leave too few descriptors for everything else the process opens.
    size_t connectionCap = 0;
    // One context a thread, each serving the connections given to it, so a connection's steps never
    // run at the same time and need no strand.
    using Work = asio::executor_work_guard<asio::io_context::executor_type>;
    std::vector<std::unique_ptr<asio::io_context>> contexts;
    std::vector<Work> work;
    size_t nextContext = 0;
    std::optional<tcp::acceptor> acceptor;
    std::optional<asio::steady_timer> acceptPause;
    bool acceptFailing = false; // on the acceptor's thread
    std::optional<asio::thread_pool> handlerPool;
    std::vector<std::thread> threads;

    // The open connections, the one idle the longest first.
    mutable std::mutex connectionsMutex;
    std::list<std::weak_ptr<Connection>> connections;

    static constexpr std::chrono::milliseconds kAcceptPause{50};
    // Descriptors the connections leave to the rest of the process: scripts, files, the UDP sockets.
    static constexpr size_t kReservedDescriptors = 128;

    // The stored document once more, as a sealed memory file that the kernel sends into the sockets
    // itself: one for each document, shared by every answer sent from it, and kept by the last of
    // them. A new one is made when the stored document is no longer the same bytes (another array).
    std::mutex fileMutex;
    QByteArray fileDocument;
    std::shared_ptr<const platform::SealedMemoryFile> file;
    bool fileFailing = false;
    // Where the system has no such files, answers are copied into the sockets.
    std::atomic<bool> filesUnsupported{false};

    // The file of the stored document; none when it cannot be made.
    std::shared_ptr<const platform::SealedMemoryFile> fileOf(const QByteArray& document);
    void accept();
    // The connections that leave the reserve free under the open-file limit (0: unknown).
    static size_t connectionsWithin(size_t openFiles) {
        if (openFiles == 0)
            return SIZE_MAX;
        return openFiles > 2 * kReservedDescriptors ? openFiles - kReservedDescriptors : openFiles / 2 + 1;
    }
    void admit(const std::shared_ptr<Connection>& connection);
    void touch(Connection& connection);
    void forget(Connection& connection);

    // The document, or nothing when the handler failed.
    static std::optional<QByteArray> document(const Handler& handler) {
        try {
            return handler();
        } catch (const std::exception& e) {
            LOG_ERROR("lan: the slide-information document failed: {}", e.what());
        } catch (...) {
            LOG_ERROR("lan: the slide-information document failed");
        }
        return std::nullopt;
    }
};

namespace {

// One client connection. Every step runs on the thread of the connection's context; a document that
// must be built is built in the server's handler pool and handed back to that thread.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(LanInfoServer::Impl& server, tcp::socket socket)
        : server_(server)
        , stream_(std::move(socket))
        , requests_({server.limits.maxHeadBytes, server.limits.maxHeaderFields, server.limits.maxBodyBytes}) {
        // The send buffer is left to the kernel, which sizes it to the connection's pace: a fixed size
        // would hold a whole answer in kernel memory on every connection at once. An answer larger than
        // what the socket takes is written on as the client reads; its bytes are shared, not copied.
        beast::error_code ignored;
        stream_.socket().set_option(tcp::no_delay(true), ignored);
        // A file is sent without blocking: as much as the socket takes, then after waiting for room.
        // Asio's own operations are unaffected.
        stream_.socket().non_blocking(true, ignored);
    }
    ~Connection() { server_.forget(*this); }

    // Kept by the server's list, under its mutex.
    std::list<std::weak_ptr<Connection>>::iterator place;
    bool listed = false;

    void start() {
        asio::post(stream_.get_executor(), [self = shared_from_this()] { self->waitForRequest(); });
    }
    // From any thread: closes the connection on its own thread.
    void closeSoon() {
        asio::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
    }

private:
    static constexpr std::chrono::seconds kLingerTime{1};
    static constexpr int kLingerReads = 16;

    void waitForRequest() {
        // One deadline for the whole request, however many reads it takes.
        stream_.expires_after(server_.limits.requestDeadline);
        parse();
    }

    // Answers the next request when it is all here (a pipelined one may be already), or reads more.
    void parse() {
        if (auto answer = requests_.next())
            respond(*answer);
        else
            stream_.async_read_some(requests_.prepare(),
                                    [self = shared_from_this()](beast::error_code error, size_t size) {
                                        self->received(error, size);
                                    });
    }

    void received(beast::error_code error, size_t size) {
        if (error) {
            if (error == beast::error::timeout)
                LOG_DEBUG("lan: a request did not arrive in time; connection closed");
            close();
            return;
        }
        requests_.commit(size);
        server_.touch(*this);
        parse();
    }

    void respond(const LanHttpRequests::Answer& answer) {
        if (!answer.document) {
            refused_ = answer.refused;
            if (refused_)
                requests_.discard();
            write(answer.whole, {}, answer.keepAlive && !answer.refused);
            return;
        }
        const bool keepAlive = answer.keepAlive, withBody = answer.withBody;
        const int version = answer.version;
        if (server_.storedDocument) {
            const std::optional<QByteArray> stored = LanInfoServer::Impl::document(server_.storedDocument);
            if (stored && !stored->isEmpty()) {
                if (withBody) {
                    if (auto file = server_.fileOf(*stored)) {
                        writeFile(LanHttpRequests::head(200, "OK", stored->size(), keepAlive, version),
                                  std::move(file), keepAlive);
                        return;
                    }
                }
                write(LanHttpRequests::head(200, "OK", stored->size(), keepAlive, version),
                      withBody ? *stored : QByteArray(), keepAlive);
                return;
            }
        }
        asio::post(*server_.handlerPool, [self = shared_from_this(), keepAlive, version, withBody] {
            std::optional<QByteArray> body = LanInfoServer::Impl::document(self->server_.buildDocument);
            asio::post(
                self->stream_.get_executor(), [self, body = std::move(body), keepAlive, version, withBody] {
                    if (!body)
                        self->write(LanHttpRequests::head(500, "Internal Server Error", 0, false), {}, false);
                    else
                        self->write(LanHttpRequests::head(200, "OK", body->size(), keepAlive, version),
                                    withBody ? *body : QByteArray(), keepAlive);
                });
        });
    }

    void write(QByteArray head, QByteArray body, bool keepAlive) {
        head_ = std::move(head);
        body_ = std::move(body);
        const std::array<asio::const_buffer, 2> buffers{
            asio::buffer(head_.constData(), size_t(head_.size())),
            asio::buffer(body_.constData(), size_t(body_.size()))};
        stream_.expires_after(server_.limits.writeDeadline);
        asio::async_write(stream_, buffers,
                          [self = shared_from_this(), keepAlive](beast::error_code error, size_t) {
                              self->written(error, keepAlive);
                          });
    }

    // The head as any answer's, then the body from the file, sent by the kernel. One deadline for the
    // whole answer: the stream's covers the head, the connection's timer the body.
    void writeFile(QByteArray head, std::shared_ptr<const platform::SealedMemoryFile> file, bool keepAlive) {
        head_ = std::move(head);
        file_ = std::move(file);
        fileSent_ = 0;
        fileDeadline_.expires_after(server_.limits.writeDeadline);
        fileDeadlineArmed_ = false;
        stream_.expires_at(fileDeadline_.expiry());
        asio::async_write(stream_, asio::buffer(head_.constData(), size_t(head_.size())),
                          [self = shared_from_this(), keepAlive](beast::error_code error, size_t) {
                              if (error)
                                  self->written(error, keepAlive);
                              else
                                  self->sendFile(keepAlive);
                          });
    }

    // Sends what the socket takes now, and waits for room for the rest.
    void sendFile(bool keepAlive) {
        if (!stream_.socket().is_open()) {
            fileWritten(asio::error::operation_aborted, keepAlive);
            return;
        }
        const auto sent = file_->sendTo(stream_.socket().native_handle(), fileSent_);
        if (sent.error) {
            fileWritten(beast::error_code(sent.error.value(), beast::system_category()), keepAlive);
            return;
        }
        fileSent_ += sent.bytes;
        if (fileSent_ == file_->size()) {
            fileWritten({}, keepAlive);
            return;
        }
        // The socket took less than all: it is full. Closing it on the deadline ends this wait. The
        // deadline's timer only runs for an answer that waits, which most never do.
        if (!fileDeadlineArmed_) {
            fileDeadlineArmed_ = true;
            fileDeadline_.async_wait([self = shared_from_this(), answer = answers_](beast::error_code error) {
                if (error || answer != self->answers_)
                    return; // the answer was sent, or ended otherwise
                LOG_DEBUG("lan: an answer was not read in time; connection closed");
                self->close();
            });
        }
        stream_.socket().async_wait(tcp::socket::wait_write,
                                    [self = shared_from_this(), keepAlive](beast::error_code error) {
                                        if (error)
                                            self->fileWritten(error, keepAlive);
                                        else
                                            self->sendFile(keepAlive);
                                    });
    }

    void fileWritten(beast::error_code error, bool keepAlive) {
        ++answers_;
        file_.reset();
        if (fileDeadlineArmed_)
            fileDeadline_.cancel();
        fileDeadlineArmed_ = false;
        written(error, keepAlive);
    }

    void written(beast::error_code error, bool keepAlive) {
        head_ = QByteArray();
        body_ = QByteArray();
        if (error || !keepAlive) {
            if (!error && refused_)
                linger();
            else
                close();
            return;
        }
        server_.touch(*this);
        waitForRequest();
    }

    // After a refusal the client may still be sending: closing at once would reset the connection and
    // could destroy the refusal before the client read it. So the sending side ends first, and what
    // still arrives is read and dropped until the client ends too, for a short time and a few reads at
    // most.
    void linger() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kLingerTime);
        drain();
    }
    void drain() {
        requests_.discard();
        stream_.async_read_some(requests_.prepare(),
                                [self = shared_from_this()](beast::error_code error, size_t) {
                                    if (error || ++self->drained_ >= kLingerReads)
                                        self->close();
                                    else
                                        self->drain();
                                });
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    LanInfoServer::Impl& server_;
    beast::tcp_stream stream_;
    LanHttpRequests requests_;
    QByteArray head_, body_;
    // The answer sent from a file: the file, how much of it went, and the answer's deadline, which
    // closes the connection unless the answer counted by answers_ was sent by then.
    std::shared_ptr<const platform::SealedMemoryFile> file_;
    size_t fileSent_ = 0;
    asio::steady_timer fileDeadline_{stream_.get_executor()};
    bool fileDeadlineArmed_ = false;
    unsigned answers_ = 0;
    bool refused_ = false;
    int drained_ = 0;
};

} // namespace

std::shared_ptr<const platform::SealedMemoryFile> LanInfoServer::Impl::fileOf(const QByteArray& document) {
    if (filesUnsupported)
        return nullptr;
    std::lock_guard lock(fileMutex);
    if (filesUnsupported)
        return nullptr;
    // Held here, the array's bytes cannot be freed and reused for another document.
    if (file && document.isSharedWith(fileDocument))
        return file;
    std::error_code error;
    std::shared_ptr<const platform::SealedMemoryFile> made =
        platform::SealedMemoryFile::create(document, error);
    if (!made) {
        if (platform::SealedMemoryFile::unsupported(error)) {
            LOG_INFO("lan: no sealed memory files here ({}); answers are copied into the sockets",
                     error.message());
            filesUnsupported = true;
        } else if (!fileFailing) {
            LOG_WARNING(
                "lan: the document cannot be put in a memory file: {}; answers are copied until it can",
                error.message());
        }
        fileFailing = true;
        return nullptr;
    }
    fileFailing = false;
    fileDocument = document;
    file = std::move(made);
    return file;
}

void LanInfoServer::Impl::accept() {
    asio::io_context& context = *contexts[nextContext++ % contexts.size()];
    acceptor->async_accept(context, [this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor->is_open())
            return;
        if (error) {
            // Out of descriptors or memory, mostly: the connection waits in the listen queue, and
            // accepting again at once would fail again at once. The connections cannot have used the
            // descriptors up (they are capped below the limit): what holds them is the rest of the
            // process, which needs them more than a newcomer does. So no connection is closed for it;
            // accepting pauses a little and tries again.
            if (!acceptFailing)
                LOG_WARNING("lan: accepting a connection failed: {}; trying again every {} ms",
                            error.message(), kAcceptPause.count());
            acceptFailing = true;
            acceptPause->expires_after(kAcceptPause);
            acceptPause->async_wait([this](beast::error_code waited) {
                if (!waited)
                    accept();
            });
            return;
        }
        if (acceptFailing)
            LOG_INFO("lan: accepting connections again");
        acceptFailing = false;
        auto connection = std::make_shared<Connection>(*this, std::move(socket));
        admit(connection);
        connection->start();
        accept();
    });
}

void LanInfoServer::Impl::admit(const std::shared_ptr<Connection>& connection) {
    std::shared_ptr<Connection> idlest;
    {
        std::lock_guard lock(connectionsMutex);
        // A connection that is being destroyed right now cannot be locked: it takes itself off the list.
        for (auto it = connections.begin(); connections.size() >= connectionCap && it != connections.end();
             ++it) {
            if ((idlest = it->lock())) {
                idlest->listed = false;
                connections.erase(it);
                break;
            }
        }
        connection->place = connections.insert(connections.end(), connection);
        connection->listed = true;
    }
    if (idlest)
        idlest->closeSoon();
}

void LanInfoServer::Impl::touch(Connection& connection) {
    std::lock_guard lock(connectionsMutex);
    if (connection.listed)
        connections.splice(connections.end(), connections, connection.place);
}

void LanInfoServer::Impl::forget(Connection& connection) {
    std::lock_guard lock(connectionsMutex);
    if (connection.listed)
        connections.erase(connection.place);
    connection.listed = false;
}

LanInfoServer::LanInfoServer(Handler storedDocument, Handler buildDocument)
    : LanInfoServer(std::move(storedDocument), std::move(buildDocument), Limits{}) {}

LanInfoServer::LanInfoServer(Handler storedDocument, Handler buildDocument, Limits limits)
    : impl_(std::make_unique<Impl>(std::move(storedDocument), std::move(buildDocument), limits)) {}

LanInfoServer::~LanInfoServer() {
    stop();
}

std::optional<QString> LanInfoServer::start(quint16 port) {
    Impl& d = *impl_;
    std::lock_guard lock(d.lifecycle);
    if (d.started)
        return std::nullopt;
    const int threads = d.limits.serviceThreads > 0 ? d.limits.serviceThreads
                                                    : std::clamp(QThread::idealThreadCount(), 2, 16);
    for (int i = 0; i < threads; ++i) {
        d.contexts.push_back(std::make_unique<asio::io_context>(1));
        d.work.emplace_back(d.contexts.back()->get_executor());
    }
    d.acceptor.emplace(*d.contexts.front());
    beast::error_code error;
    const tcp::endpoint endpoint(asio::ip::address_v4::any(), port);
    d.acceptor->open(endpoint.protocol(), error);
    if (!error)
        d.acceptor->set_option(asio::socket_base::reuse_address(true), error);
    if (!error)
        d.acceptor->bind(endpoint, error);
    if (!error)
        d.acceptor->listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        LOG_ERROR("lan: the slide-information server cannot listen on port {}: {}", port, error.message());
        d.acceptor.reset();
        d.work.clear();
        d.contexts.clear();
        return QString::fromStdString(error.message());
    }
    d.boundPort = d.acceptor->local_endpoint().port();
    const size_t openFiles = platform::OpenFileLimit::raise();
    d.connectionCap = std::min(d.limits.maxConnections, Impl::connectionsWithin(openFiles));
    LOG_DEBUG("lan: slide-information server on port {}, at most {} connections (open-file limit {})",
              d.boundPort.load(), d.connectionCap, openFiles);
    d.acceptPause.emplace(*d.contexts.front());
    d.handlerPool.emplace(size_t(std::max(1, d.limits.handlerThreads)));
    d.started = true;
    d.running = true;
    d.accept();
    for (auto& context : d.contexts)
        d.threads.emplace_back([&context = *context] { context.run(); });
    return std::nullopt;
}

void LanInfoServer::stop() {
    Impl& d = *impl_;
    std::lock_guard lock(d.lifecycle);
    if (!d.running)
        return;
    d.running = false;
    for (auto& context : d.contexts)
        context->stop();
    for (auto& t : d.threads)
        t.join();
    d.threads.clear();
    // A handler that runs finishes; what it hands back is never run, and queued ones are dropped.
    d.handlerPool->stop();
    d.handlerPool->join();
    beast::error_code ignored;
    d.acceptor->close(ignored);
    d.acceptPause.reset();
    d.acceptor.reset();
    // Destroys what was still queued, and with it every connection, while their sockets' context lives.
    d.handlerPool.reset();
    d.work.clear();
    d.contexts.clear();
    d.boundPort = 0;
}

bool LanInfoServer::isRunning() const {
    return impl_->running;
}

quint16 LanInfoServer::port() const {
    return impl_->boundPort;
}

size_t LanInfoServer::openConnections() const {
    std::lock_guard lock(impl_->connectionsMutex);
    return impl_->connections.size();
}
