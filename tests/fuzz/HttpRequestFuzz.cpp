// Bytes from a client of the LAN slide-information server: each input is sent on a new loopback
// connection, which then ends its sending side; the answers must be well-formed, with a status the
// server gives, a refusal must be the last answer, and the server must take the next connection.
#include "remote/LanInfoServer.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

const QByteArray kDocument = R"({"Note":"fuzz"})";

LanInfoServer& server() {
    static LanInfoServer* running = [] {
        LanInfoServer::Limits limits;
        limits.serviceThreads = 2;
        limits.maxConnections = 64;
        auto* s = new LanInfoServer([] { return kDocument; }, [] { return kDocument; }, limits);
        if (!s->start(0))
            std::abort();
        return s;
    }();
    return *running;
}

// Checks the answers to one connection; aborts on the first fault.
void check(const QByteArray& answers) {
    qsizetype at = 0;
    bool refused = false;
    while (at < answers.size()) {
        if (refused)
            std::abort(); // nothing may follow a refusal
        const qsizetype end = answers.indexOf("\r\n\r\n", at);
        if (end < 0 || !answers.mid(at).startsWith("HTTP/1.1 "))
            std::abort();
        const QByteArray head = answers.mid(at, end - at);
        const int status = head.mid(9, 3).toInt();
        if (status != 200 && status != 400 && status != 405 && status != 413 && status != 431)
            std::abort();
        refused = status >= 400 && status != 405;
        at = end + 4;
        if (status == 200 && answers.mid(at).startsWith(kDocument)) // a GET; a HEAD has no body
            at += kDocument.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const quint16 port = server().port();
    asio::io_context io;
    tcp::socket socket(io);
    boost::system::error_code error;
    socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), error);
    if (error)
        std::abort();
    asio::write(socket, asio::buffer(data, size), error);
    socket.shutdown(tcp::socket::shutdown_send, error);
    std::string answers;
    asio::read(socket, asio::dynamic_buffer(answers), error); // until the server closes
    check(QByteArray::fromStdString(answers));
    return 0;
}
