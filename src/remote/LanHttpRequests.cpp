#include "LanHttpRequests.h"

#include "core/Logger.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Parses one request without keeping it: the method and the version are all that is noted; fields are
// counted, not stored, and a body is read and dropped. A chunked body is refused: no request here needs
// a body, and Boost 1.74's parser asserts when the last chunk of one arrives a byte at a time.
class RequestParser : public http::basic_parser<true> {
public:
    explicit RequestParser(size_t maxFields)
        : maxFields_(maxFields) {}

    http::verb method() const { return method_; }
    int version() const { return version_; }

private:
    void on_request_impl(http::verb method, beast::string_view, beast::string_view, int version,
                         beast::error_code&) override {
        method_ = method;
        version_ = version;
    }
    void on_response_impl(int, beast::string_view, int, beast::error_code& ec) override {
        ec = http::error::bad_method; // a request parser never sees a status line
    }
    void on_field_impl(http::field, beast::string_view, beast::string_view, beast::error_code& ec) override {
        if (++fields_ > maxFields_)
            ec = http::error::header_limit;
    }
    void on_header_impl(beast::error_code& ec) override {
        if (chunked())
            ec = http::error::bad_transfer_encoding;
    }
    void on_body_init_impl(const boost::optional<std::uint64_t>&, beast::error_code&) override {}
    size_t on_body_impl(beast::string_view body, beast::error_code&) override { return body.size(); }
    void on_chunk_header_impl(std::uint64_t, beast::string_view, beast::error_code&) override {}
    size_t on_chunk_body_impl(std::uint64_t, beast::string_view body, beast::error_code&) override {
        return body.size();
    }
    void on_finish_impl(beast::error_code&) override {}

    const size_t maxFields_;
    size_t fields_ = 0;
    http::verb method_ = http::verb::unknown;
    int version_ = 11;
};

} // namespace

struct LanHttpRequests::Impl {
    explicit Impl(Limits l)
        : limits(l)
        , buffer(l.maxHeadBytes + kReadChunk) {}

    LanHttpRequests::Answer refusal(beast::error_code error) {
        LOG_DEBUG("lan: refused a request: {}", error.message());
        parser.reset();
        Answer answer;
        answer.refused = true;
        if (error == http::error::header_limit)
            answer.whole = head(431, "Request Header Fields Too Large", 0, false);
        else if (error == http::error::body_limit)
            answer.whole = head(413, "Payload Too Large", 0, false);
        else if (error == http::error::bad_transfer_encoding)
            answer.whole = head(411, "Length Required", 0, false);
        else
            answer.whole = head(400, "Bad Request", 0, false);
        return answer;
    }

    const Limits limits;
    beast::flat_buffer buffer;
    std::optional<RequestParser> parser;
};

LanHttpRequests::LanHttpRequests(Limits limits)
    : impl_(std::make_unique<Impl>(limits)) {}

LanHttpRequests::~LanHttpRequests() = default;

boost::asio::mutable_buffer LanHttpRequests::prepare() {
    const size_t room = impl_->buffer.max_size() - impl_->buffer.size();
    return impl_->buffer.prepare(std::min(room, kReadChunk));
}

void LanHttpRequests::commit(size_t size) {
    impl_->buffer.commit(size);
}

size_t LanHttpRequests::waiting() const {
    return impl_->buffer.size();
}

void LanHttpRequests::discard() {
    impl_->parser.reset();
    impl_->buffer.clear();
}

std::optional<LanHttpRequests::Answer> LanHttpRequests::next() {
    Impl& d = *impl_;
    if (!d.parser) {
        d.parser.emplace(d.limits.maxHeaderFields);
        d.parser->header_limit(std::uint32_t(d.limits.maxHeadBytes));
        d.parser->body_limit(std::uint64_t(d.limits.maxBodyBytes));
    }
    while (d.buffer.size() > 0 && !d.parser->is_done()) {
        beast::error_code error;
        const size_t used = d.parser->put(d.buffer.data(), error);
        d.buffer.consume(used);
        if (error == http::error::need_more)
            break;
        if (error)
            return d.refusal(error);
        if (used == 0)
            break;
    }
    if (!d.parser->is_done()) {
        // A head can never grow past its limit; the parser refuses it first. Never wait unbounded.
        if (d.buffer.size() >= d.buffer.max_size())
            return d.refusal(http::error::header_limit);
        return std::nullopt;
    }
    const http::verb method = d.parser->method();
    Answer answer;
    answer.keepAlive = d.parser->keep_alive();
    answer.version = d.parser->version();
    d.parser.reset(); // nothing of the request is kept
    if (d.buffer.size() == 0)
        d.buffer.shrink_to_fit(); // a connection between requests holds no buffer
    if (method == http::verb::get || method == http::verb::head) {
        answer.document = true;
        answer.withBody = method == http::verb::get;
    } else {
        answer.whole = head(405, "Method Not Allowed", 0, answer.keepAlive, answer.version);
    }
    return answer;
}

QByteArray LanHttpRequests::head(int status, const char* reason, qsizetype length, bool keepAlive,
                                 int version) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    if (status == 200)
        head += "Content-Type: text/json\r\n";
    if (status == 405)
        head += "Allow: GET, HEAD\r\n";
    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    // Where the client's version would not assume it: HTTP/1.1 stays open, 1.0 closes.
    if (!keepAlive)
        head += "Connection: close\r\n";
    else if (version < 11)
        head += "Connection: keep-alive\r\n";
    return head + "\r\n";
}
