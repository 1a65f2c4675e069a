#include "CloudHttpClient.h"

#include <QPointer>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/rfc2818_verification.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <openssl/ssl.h>

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

namespace {

// Where a request goes, taken apart from its address.
struct Target {
    bool secure = false;
    std::string host; // a name, or an address without brackets
    std::string port;
    std::string hostField; // the Host header: the host, bracketed when IPv6, and a port that is not the usual
    std::string path;      // path and query as the address encodes them
};

std::optional<Target> targetOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return std::nullopt;
    Target target;
    target.secure = scheme == u"https";
    const int usual = target.secure ? 443 : 80;
    const int port = url.port(usual);
    target.host = url.host(QUrl::FullyEncoded).toStdString();
    target.port = std::to_string(port);
    const bool v6 = target.host.find(':') != std::string::npos;
    target.hostField = v6 ? '[' + target.host + ']' : target.host;
    if (port != usual)
        target.hostField += ':' + target.port;
    QByteArray path = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!path.startsWith('/'))
        path.prepend('/');
    target.path = path.toStdString();
    return target;
}

http::request<http::string_body> messageOf(const CloudHttpClient::Request& request, const Target& target) {
    http::request<http::string_body> message;
    const std::string method = request.method.toStdString();
    if (const http::verb verb = http::string_to_verb(method); verb != http::verb::unknown)
        message.method(verb);
    else
        message.method_string(method);
    message.target(target.path);
    message.version(11);
    message.set(http::field::host, target.hostField);
    message.set(http::field::connection, "close");
    for (const auto& [name, value] : request.headers)
        message.set(name.toStdString(), value.toStdString());
    if (!request.body.isEmpty() || request.method != "GET") {
        message.body() = request.body.toStdString();
        message.prepare_payload();
    }
    return message;
}

std::unique_ptr<ssl::context> makeTlsContext() {
    auto context = std::make_unique<ssl::context>(ssl::context::tls_client);
    context->set_default_verify_paths();
    context->set_verify_mode(ssl::verify_peer);
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
    return context;
}

QString textOf(const ErrorCode& error) {
    return QString::fromStdString(error.message());
}

// Takes the completions to the main thread: they travel under a mutex of ours, and Qt's event loop
// carries only the call to run them.
class Completions : public QObject {
    Q_OBJECT
public:
    void hand(std::function<void()> completion) {
        {
            std::lock_guard lock(mutex_);
            waiting_.push_back(std::move(completion));
        }
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    }

    Q_INVOKABLE void deliver() {
        std::deque<std::function<void()>> taken;
        {
            std::lock_guard lock(mutex_);
            taken.swap(waiting_);
        }
        for (const auto& completion : taken)
            completion();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> waiting_;
};

} // namespace

struct CloudHttpClient::Impl {
    std::unique_ptr<ssl::context> tls; // made for the first https address; outlives every stream
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
    Completions completions; // made on the main thread, whose event loop runs them
    std::thread thread;
};

// One exchange, on the client's thread from begin() on: each step starts the next from its handler, and
// the first of the answer, the deadline and an abort to end it decides the result.
struct CloudHttpClient::Run : std::enable_shared_from_this<Run> {
    Run(Impl& owner, std::optional<Target> where, http::request<http::string_body> message, qint64 maxBody,
        std::chrono::milliseconds limit, QObject* completionContext, Completion then)
        : client(owner)
        , target(std::move(where))
        , request(std::move(message))
        , maxBodyBytes(std::max<qint64>(maxBody, 0))
        , deadline(limit)
        , context(completionContext)
        , completion(std::move(then)) {
        if (target && target->secure)
            secure.emplace(client.io, *client.tls);
        else
            plain.emplace(client.io);
        parser.header_limit(std::uint32_t(kMaxHeaderBytes));
        parser.body_limit(std::uint64_t(this->maxBodyBytes));
    }

    beast::tcp_stream& lowest() { return secure ? beast::get_lowest_layer(*secure) : *plain; }
    template <typename Step> void onStream(Step&& step) {
        if (secure)
            step(*secure);
        else
            step(*plain);
    }

    void begin() {
        if (!target) {
            fail(QStringLiteral("not an http or https address with a host"));
            return;
        }
        timer.expires_after(deadline);
        timer.async_wait([self = shared_from_this()](const ErrorCode& error) {
            if (!error)
                self->fail(QStringLiteral("no whole answer within %1 ms").arg(self->deadline.count()));
        });
        resolver.async_resolve(
            target->host, target->port,
            [self = shared_from_this()](const ErrorCode& error, tcp::resolver::results_type found) {
                self->resolved(error, std::move(found));
            });
    }

    // Whether the exchange is over when a step ends: ended before (by the deadline or an abort), or
    // failed now by the step's error, told after the prefix.
    bool over(const ErrorCode& error, const QString& prefix = {}) {
        if (finished)
            return true;
        if (error)
            fail(prefix + textOf(error));
        return bool(error);
    }

    void resolved(const ErrorCode& error, const tcp::resolver::results_type& found) {
        if (over(error, QString::fromStdString(target->host) + QStringLiteral(" cannot be found: ")))
            return;
        lowest().async_connect(found, [self = shared_from_this()](const ErrorCode& e, const tcp::endpoint&) {
            self->connected(e);
        });
    }

    void connected(const ErrorCode& error) {
        if (over(error))
            return;
        if (!secure) {
            send();
            return;
        }
        ErrorCode notAnAddress;
        asio::ip::make_address(target->host, notAnAddress);
        if (notAnAddress) // the server's name, for servers that serve several
            SSL_set_tlsext_host_name(secure->native_handle(), target->host.c_str());
        secure->set_verify_callback(ssl::rfc2818_verification(target->host));
        secure->async_handshake(ssl::stream_base::client, [self = shared_from_this()](const ErrorCode& e) {
            if (!self->over(e, QStringLiteral("TLS: ")))
                self->send();
        });
    }

    void send() {
        onStream([this](auto& stream) {
            http::async_write(
                stream, request,
                [self = shared_from_this()](const ErrorCode& error, std::size_t) { self->sent(error); });
        });
    }

    void sent(const ErrorCode& error) {
        if (over(error))
            return;
        // The head first, alone: a read of the whole answer lets a body longer than the limit through when
        // it comes in the same piece as the head.
        onStream([this](auto& stream) {
            http::async_read_header(
                stream, buffer, parser,
                [self = shared_from_this()](const ErrorCode& e, std::size_t) { self->headReceived(e); });
        });
    }

    void headReceived(ErrorCode error) {
        if (finished)
            return;
        if (!error && parser.content_length().value_or(0) > std::uint64_t(maxBodyBytes))
            error = http::error::body_limit;
        if (error || parser.is_done()) {
            received(error);
            return;
        }
        onStream([this](auto& stream) {
            http::async_read(
                stream, buffer, parser,
                [self = shared_from_this()](const ErrorCode& e, std::size_t) { self->received(e); });
        });
    }

    void received(const ErrorCode& error) {
        if (finished)
            return;
        Result result;
        if (parser.is_header_done()) {
            result.status = int(parser.get().result_int());
            const auto type = parser.get()[http::field::content_type];
            result.contentType = QString::fromUtf8(type.data(), qsizetype(type.size()));
        }
        if (error == http::error::header_limit)
            result.error = QStringLiteral("the answer's head is larger than %1 bytes").arg(kMaxHeaderBytes);
        else if (error == http::error::body_limit)
            result.error = QStringLiteral("the answer is larger than %1 bytes").arg(maxBodyBytes);
        else if (error)
            result.error = textOf(error);
        else {
            result.transferred = true;
            const std::string& body = parser.get().body();
            result.body = QByteArray(body.data(), qsizetype(body.size()));
        }
        finish(std::move(result));
    }

    void fail(QString error) {
        Result result;
        result.error = std::move(error);
        finish(std::move(result));
    }

    // Ends the exchange with its result, once: the connection closes and the completion goes to the main
    // thread.
    void finish(Result result) {
        if (finished)
            return;
        finished = true;
        timer.cancel();
        resolver.cancel();
        ErrorCode ignored;
        lowest().socket().close(ignored);
        client.completions.hand([context = context, completion = std::move(completion),
                                 result = std::move(result), ended = ended] {
            *ended = true;
            if (context)
                completion(result);
        });
    }

    Impl& client;
    const std::optional<Target> target;
    http::request<http::string_body> request;
    const qint64 maxBodyBytes;
    const std::chrono::milliseconds deadline;
    const QPointer<QObject> context;
    Completion completion;
    const std::shared_ptr<bool> ended = std::make_shared<bool>(false); // main thread only
    tcp::resolver resolver{client.io};
    asio::steady_timer timer{client.io};
    std::optional<beast::tcp_stream> plain;
    std::optional<beast::ssl_stream<beast::tcp_stream>> secure;
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    bool finished = false;
};

void CloudHttpClient::Exchange::abort() {
    if (const std::shared_ptr<Run> run = run_.lock())
        asio::post(run->client.io, [run] { run->fail(QStringLiteral("Operation canceled")); });
}

CloudHttpClient::CloudHttpClient()
    : impl_(std::make_unique<Impl>()) {
    // The exchanges' objects are made on the main thread while the client's thread runs: the services
    // behind them are made now, before it runs, so that later ones only look them up.
    {
        const asio::steady_timer timer(impl_->io);
        const tcp::resolver resolver(impl_->io);
        const tcp::socket socket(impl_->io);
    }
    impl_->thread = std::thread([io = &impl_->io] { io->run(); });
}

CloudHttpClient::~CloudHttpClient() {
    impl_->work.reset();
    impl_->io.stop();
    impl_->thread.join();
}

std::shared_ptr<CloudHttpClient::Exchange> CloudHttpClient::start(Request request, qint64 maxBodyBytes,
                                                                  std::chrono::milliseconds deadline,
                                                                  QObject* context, Completion completion) {
    std::optional<Target> target = targetOf(request.url);
    if (target && target->secure && !impl_->tls)
        impl_->tls = makeTlsContext();
    auto message = target ? messageOf(request, *target) : http::request<http::string_body>();
    auto run = std::make_shared<Run>(*impl_, std::move(target), std::move(message), maxBodyBytes, deadline,
                                     context, std::move(completion));
    asio::post(impl_->io, [run] { run->begin(); });
    return std::make_shared<Exchange>(run, run->ended);
}

#include "CloudHttpClient.moc"
