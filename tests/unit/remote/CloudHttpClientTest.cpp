// The cloud's HTTP client on its own: what goes on the wire, TLS with a certificate the system trusts or
// not, an exchange aborted or outlived by its context, and addresses it cannot use.
#include "remote/CloudHttpClient.h"

#include "Wait.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

namespace {

// Runs one exchange to its end; the result, or nothing when the completion did not run.
std::optional<CloudHttpClient::Result> exchange(CloudHttpClient& client, CloudHttpClient::Request request,
                                                QObject* context = QCoreApplication::instance(),
                                                int deadlineMs = 5000) {
    std::optional<CloudHttpClient::Result> outcome;
    const auto run = client.start(std::move(request), 1024, std::chrono::milliseconds(deadlineMs), context,
                                  [&](const CloudHttpClient::Result& r) { outcome = r; });
    EXPECT_TRUE(waitUntil([&] { return run->ended(); }, deadlineMs + 2000)) << "the exchange never ended";
    return outcome;
}

} // namespace

TEST(CloudHttpClientTest, SendsOneRequestAConnectionAndReadsItsAnswer) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QByteArray seen;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&seen, socket] {
            seen += socket->readAll();
            if (seen.contains("\r\n\r\n") && seen.endsWith("{}"))
                socket->write("HTTP/1.1 201 Created\r\nContent-Type: text/json; charset=utf-8\r\n"
                              "Transfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n");
        });
    });
    CloudHttpClient client;
    const QString root = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    const auto posted =
        exchange(client, {"POST",
                          QUrl::fromEncoded((root + "/api/Info?id=a%2Fb&x=%E4%B8%AD").toUtf8()),
                          {{"Content-Type", "application/json"}},
                          "{}"});
    ASSERT_TRUE(posted);
    EXPECT_TRUE(posted->succeeded()) << posted->error.toStdString();
    EXPECT_EQ(posted->status, 201);
    EXPECT_EQ(posted->body, "ok");
    EXPECT_EQ(posted->contentType, "text/json; charset=utf-8");
    EXPECT_EQ(seen.toStdString(),
              QStringLiteral("POST /api/Info?id=a%2Fb&x=%E4%B8%AD HTTP/1.1\r\n"
                             "Host: 127.0.0.1:%1\r\nConnection: close\r\n"
                             "Content-Type: application/json\r\nContent-Length: 2\r\n\r\n{}")
                  .arg(server.serverPort())
                  .toStdString());

    // Aborted, or its context gone: the completion says so, or does not run at all.
    CloudHttpClient::Request held{"GET", QUrl(root + "/held"), {}, {}};
    std::optional<CloudHttpClient::Result> aborted;
    const auto run = client.start(held, 1024, std::chrono::seconds(30), QCoreApplication::instance(),
                                  [&](const CloudHttpClient::Result& r) { aborted = r; });
    run->abort();
    ASSERT_TRUE(waitUntil([&] { return run->ended(); }, 5000));
    ASSERT_TRUE(aborted);
    EXPECT_FALSE(aborted->transferred);
    EXPECT_EQ(aborted->error, "Operation canceled");
    auto context = std::make_unique<QObject>();
    bool ran = false;
    const auto orphan = client.start(held, 1024, std::chrono::milliseconds(100), context.get(),
                                     [&](const CloudHttpClient::Result&) { ran = true; });
    context.reset();
    ASSERT_TRUE(waitUntil([&] { return orphan->ended(); }, 5000));
    EXPECT_FALSE(ran);

    for (const char* address : {"ftp://127.0.0.1/x", "http:///nohost", "not an address"}) {
        const auto refused = exchange(client, {"GET", QUrl(address), {}, {}});
        ASSERT_TRUE(refused) << address;
        EXPECT_FALSE(refused->transferred);
        EXPECT_EQ(refused->status, 0);
        EXPECT_EQ(refused->error, "not an http or https address with a host") << address;
    }
}

// TLS: refused while the system does not trust the server's certificate, spoken once it does (OpenSSL
// takes the system's authorities from SSL_CERT_FILE when it is set).
TEST(CloudHttpClientTest, SpeaksTlsOnlyToAServerItsSystemTrusts) {
    // Both made before the test starts processes: the thread sanitizer loses track of threads started
    // after Qt has started a process. Each reads the authorities at its first https address.
    CloudHttpClient untrusting, trusting;
    const QTemporaryDir folder;
    const QString key = folder.filePath("key.pem"), certificate = folder.filePath("certificate.pem");
    QProcess openssl; // its progress dots stay out of the test's output
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                              "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                              "-keyout", key, "-out", certificate});
    ASSERT_TRUE(openssl.waitForFinished(30000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    QProcess server;
    server.start("python3", {"-c", R"(
import ctypes, http.server, signal, ssl, sys
ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG: ends with the test, however it ends
class Answer(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200); self.send_header("Content-Length", "14"); self.end_headers()
        self.wfile.write(b'"heartBeat|OK"')
    def log_message(self, *arguments): pass
httpd = http.server.HTTPServer(("127.0.0.1", 0), Answer)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); context.load_cert_chain(sys.argv[1], sys.argv[2])
httpd.socket = context.wrap_socket(httpd.socket, server_side=True)
print(httpd.server_address[1], flush=True)
httpd.serve_forever()
)",
                             certificate, key});
    const std::shared_ptr<void> stop(nullptr, [&](void*) {
        server.kill();
        server.waitForFinished(5000);
    });
    ASSERT_TRUE(server.waitForReadyRead(10000)) << "no TLS server";
    const QString port = QString::fromLatin1(server.readLine().trimmed());
    {
        const auto refused = exchange(untrusting, {"GET", QUrl("https://127.0.0.1:" + port + "/"), {}, {}});
        ASSERT_TRUE(refused);
        EXPECT_FALSE(refused->transferred);
        EXPECT_TRUE(refused->error.startsWith("TLS: ")) << refused->error.toStdString();
    }
    qputenv("SSL_CERT_FILE", certificate.toLocal8Bit());
    const std::shared_ptr<void> forget(nullptr, [](void*) { qunsetenv("SSL_CERT_FILE"); });
    for (const char* host : {"127.0.0.1", "localhost"}) {
        const auto answered =
            exchange(trusting, {"GET", QUrl("https://" + QString(host) + ':' + port + "/"), {}, {}});
        ASSERT_TRUE(answered) << host;
        EXPECT_TRUE(answered->succeeded()) << host << ": " << answered->error.toStdString();
        EXPECT_EQ(answered->body, "\"heartBeat|OK\"");
    }
}
