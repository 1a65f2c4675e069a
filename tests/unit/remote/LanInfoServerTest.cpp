#include "remote/LanInfoServer.h"

#include "LogRecorder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <stdexcept>
#include <sys/resource.h>
#include <vector>

namespace {

// Larger than one read of a client and than a socket's first send buffer, so that an answer takes
// several writes.
const QByteArray kDocument = "{\"Note\":\"" + QByteArray(300 * 1024, 'n') + "\"}";

LanInfoServer::Limits smallLimits() {
    LanInfoServer::Limits limits;
    limits.maxHeadBytes = 1024;
    limits.maxHeaderFields = 64;
    limits.maxBodyBytes = 256;
    limits.maxConnections = 2;
    limits.serviceThreads = 2;
    return limits;
}

std::unique_ptr<LanInfoServer> startServer(LanInfoServer::Handler stored, LanInfoServer::Handler build,
                                           LanInfoServer::Limits limits = smallLimits()) {
    auto server = std::make_unique<LanInfoServer>(std::move(stored), std::move(build), limits);
    const std::optional<QString> failure = server->start(0);
    EXPECT_FALSE(failure) << failure->toStdString();
    return server;
}

std::unique_ptr<LanInfoServer> startServer() {
    return startServer([] { return kDocument; }, [] { return QByteArray("built"); });
}

// Polls until the condition holds, for 5 s at most.
template <typename Condition> bool eventually(Condition condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000)
            return false;
        QThread::msleep(5);
    }
    return true;
}

struct Answer {
    int status = 0;
    QByteArray head, body;
};

// A client on one connection; every wait ends after 5 s.
class Client {
public:
    explicit Client(quint16 port) {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(socket_.waitForConnected(5000)) << "cannot connect";
    }
    // The client takes what arrives in small reads, as a slow phone would.
    void readInSmallPieces() { socket_.setReadBufferSize(64 * 1024); }
    void send(const QByteArray& bytes) {
        socket_.write(bytes);
        socket_.waitForBytesWritten(5000);
    }
    // The next answers, in order, each with a body when the flag says so (a HEAD's answer has none).
    // Stops at the first that does not arrive whole.
    std::vector<Answer> answers(const std::vector<bool>& withBodies) {
        std::vector<Answer> out;
        for (const bool withBody : withBodies) {
            qsizetype end;
            while ((end = pending_.indexOf("\r\n\r\n")) < 0)
                if (!readMore())
                    return out;
            Answer answer;
            answer.head = pending_.left(end + 4);
            answer.status = answer.head.mid(9, 3).toInt();
            const qsizetype field = answer.head.indexOf("\r\nContent-Length: ");
            const qsizetype length =
                withBody && field >= 0 ? answer.head.mid(field + 18).split('\r').first().toLongLong() : 0;
            while (pending_.size() < end + 4 + length)
                if (!readMore())
                    return out;
            answer.body = pending_.mid(end + 4, length);
            pending_.remove(0, end + 4 + length);
            out.push_back(answer);
        }
        return out;
    }
    // True when the server ends the connection within 5 s; what still arrives is kept.
    bool closedByServer() {
        while (socket_.state() == QAbstractSocket::ConnectedState)
            if (!readMore())
                break;
        return socket_.state() != QAbstractSocket::ConnectedState;
    }
    // What arrived and was not taken as an answer.
    const QByteArray& rest() const { return pending_; }

private:
    bool readMore() {
        if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(5000)) {
            pending_ += socket_.readAll();
            return false;
        }
        pending_ += socket_.readAll();
        return true;
    }

    QTcpSocket socket_;
    QByteArray pending_;
};

// Bytes that differ from those at any other offset of a window, so that a piece sent twice, lost or
// taken from the wrong place shows.
QByteArray patterned(qsizetype size, char first) {
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(first + i % 251);
    return out;
}

QByteArray fields(int count) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "X-Field-" + QByteArray::number(i) + ": v\r\n";
    return out;
}

} // namespace

// The bytes of one write, and the answers to them in order: pipelined requests, request bodies read
// and dropped, the ways a connection ends, and every refusal with its limit.
TEST(LanInfoServer, AnswersEachRequestOfAWriteInOrderAndRefusesPastItsLimits) {
    struct Case {
        const char* name;
        QByteArray sent;
        std::vector<std::pair<int, bool>> answers; // status, and whether the request asked for a body
        bool closes;
    };
    const QByteArray get = "GET / HTTP/1.1\r\nHost: computer\r\n\r\n";
    const std::vector<Case> cases{
        {"GET, HEAD and GET in one write",
         "GET /a HTTP/1.1\r\nHost: c\r\n\r\nHEAD /b?x=1 HTTP/1.1\r\nHost: c\r\n\r\nGET /c.json "
         "HTTP/1.1\r\n\r\n",
         {{200, true}, {200, false}, {200, true}},
         false},
        {"a body is read and dropped, the method refused and the next request answered",
         "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nGET /" + get,
         {{405, false}, {200, true}},
         false},
        {"Connection: close ends the connection, and what follows is not answered",
         "GET / HTTP/1.1\r\nConnection: close\r\n\r\n" + get,
         {{200, true}},
         true},
        {"HTTP/1.0 ends the connection", "GET / HTTP/1.0\r\n\r\n", {{200, true}}, true},
        {"64 header fields", "GET / HTTP/1.1\r\n" + fields(64) + "\r\n", {{200, true}}, false},
        {"65 header fields", "GET / HTTP/1.1\r\n" + fields(65) + "\r\n", {{431, false}}, true},
        {"a head over 1 KB, with more still coming",
         "GET / HTTP/1.1\r\nX-Long: " + QByteArray(64 * 1024, 'v') + "\r\n\r\n",
         {{431, false}},
         true},
        {"a body over its limit",
         "POST / HTTP/1.1\r\nContent-Length: 257\r\n\r\n" + QByteArray(257, 'b'),
         {{413, false}},
         true},
        {"a chunked body",
         "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         {{411, false}},
         true},
        {"not HTTP after an answered request", get + "HELLO\r\n\r\n", {{200, true}, {400, false}}, true},
    };
    const QByteArray documentLength = "\r\nContent-Length: " + QByteArray::number(kDocument.size()) + "\r\n";
    const auto server = startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Client client(server->port());
        client.send(c.sent);
        std::vector<bool> withBodies;
        for (const auto& [status, withBody] : c.answers)
            withBodies.push_back(withBody);
        const std::vector<Answer> answers = client.answers(withBodies);
        ASSERT_EQ(answers.size(), c.answers.size()) << client.rest().left(200).constData();
        for (size_t i = 0; i < answers.size(); ++i) {
            const auto [status, withBody] = c.answers[i];
            EXPECT_EQ(answers[i].status, status) << answers[i].head.constData();
            if (status != 200) {
                EXPECT_TRUE(answers[i].head.contains("\r\nContent-Length: 0\r\n"))
                    << answers[i].head.constData();
                continue;
            }
            EXPECT_TRUE(answers[i].head.contains("\r\nContent-Type: text/json\r\n"));
            EXPECT_TRUE(answers[i].head.contains(documentLength)) << answers[i].head.constData();
            EXPECT_EQ(answers[i].body, withBody ? kDocument : QByteArray()) << i;
        }
        if (c.closes) {
            EXPECT_TRUE(client.closedByServer());
            EXPECT_TRUE(client.rest().isEmpty()) << client.rest().left(200).constData();
        } else {
            client.send(get); // still open, and nothing more was answered
            const std::vector<Answer> next = client.answers({true});
            ASSERT_EQ(next.size(), 1u);
            EXPECT_EQ(next[0].body, kDocument);
            EXPECT_TRUE(client.rest().isEmpty());
        }
    }
}

// Where the stored document comes from: the stored one when there is one, otherwise one built on the
// handler threads; a build that fails answers 500 and ends the connection.
TEST(LanInfoServer, BuildsTheDocumentWhenNoneIsStored) {
    struct Case {
        const char* name;
        LanInfoServer::Handler stored, build;
        int status;
        QByteArray body;
        int builds;
    };
    std::atomic<int> builds{0};
    const auto built = [&builds] {
        ++builds;
        return QByteArray("built");
    };
    const std::vector<Case> cases{
        {"stored", [] { return QByteArray("stored"); }, built, 200, "stored", 0},
        {"none stored", [] { return QByteArray(); }, built, 200, "built", 2},
        {"the stored one fails", []() -> QByteArray { throw std::runtime_error("no"); }, built, 200, "built",
         2},
        {"the build fails", [] { return QByteArray(); },
         []() -> QByteArray { throw std::runtime_error("no"); }, 500, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        builds = 0;
        const auto server = startServer(c.stored, c.build);
        Client client(server->port());
        client.send("GET / HTTP/1.1\r\n\r\nGET /again HTTP/1.1\r\n\r\n");
        const std::vector<Answer> answers = client.answers({true, true});
        ASSERT_EQ(answers.size(), c.status == 200 ? 2u : 1u);
        for (const Answer& answer : answers) {
            EXPECT_EQ(answer.status, c.status);
            EXPECT_EQ(answer.body, c.body);
        }
        if (c.status != 200) {
            EXPECT_TRUE(client.closedByServer());
        }
        EXPECT_EQ(builds, c.builds);
    }
}

// At the cap, a newcomer takes the place of the connection idle the longest; the others are served on.
TEST(LanInfoServer, AtTheCapTheIdlestConnectionMakesRoom) {
    const auto server = startServer();
    Client a(server->port());
    Client b(server->port());
    ASSERT_TRUE(eventually([&] { return server->openConnections() == 2; })) << server->openConnections();
    a.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_EQ(a.answers({true}).size(), 1u);
    a.send("G"); // a request begun on A: it is answered once whole, after C came
    Client c(server->port());
    EXPECT_TRUE(b.closedByServer()) << "the idlest connection stays open";
    EXPECT_TRUE(b.rest().isEmpty());
    a.send("ET / HTTP/1.1\r\n\r\n");
    c.send("GET / HTTP/1.1\r\n\r\n");
    for (Client* client : {&a, &c}) {
        const std::vector<Answer> answers = client->answers({true});
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].body, kDocument);
    }
    EXPECT_EQ(server->openConnections(), 2u);
}

// Out of descriptors, a connection waits in the listen queue, and is served once one is free again.
TEST(LanInfoServer, AcceptsAgainWhenDescriptorsAreFreeAgain) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own checks open descriptors (a pipe to probe memory), which this test uses up.
    GTEST_SKIP() << "the sanitizers need descriptors of their own";
#endif
    LogRecorder log(LogLevel::Info);
    const auto server = startServer();
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    QFile probe(QStringLiteral("/dev/null"));
    ASSERT_TRUE(probe.open(QIODevice::ReadOnly));
    const int lowestFree = probe.handle();
    probe.close();
    rlimit lowered = original;
    lowered.rlim_cur = rlim_t(lowestFree) + 1; // one descriptor left: the client's socket takes it
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    Client client(server->port());
    client.send("GET / HTTP/1.1\r\n\r\n");
    const bool failed = eventually([&] { return !log.at(spdlog::level::warn).empty(); });
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);
    ASSERT_TRUE(failed) << "accepting did not fail";
    const std::vector<Answer> answers = client.answers({true});
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].body, kDocument);
    EXPECT_EQ(log.at(spdlog::level::warn).size(), 1u) << "one warning for one run of failures";
    EXPECT_EQ(log.count(spdlog::level::info, "lan: accepting connections again"), 1);
}

// Stopping while a document is being built and connections are open: stop waits for the build, closes
// every connection and answers nothing more.
TEST(LanInfoServer, StopClosesEveryConnectionWhileADocumentIsBuilt) {
    std::atomic<bool> building{false};
    const auto server = startServer([] { return QByteArray(); },
                                    [&building] {
                                        building = true;
                                        QThread::msleep(300);
                                        return QByteArray("late");
                                    });
    Client waiting(server->port());
    Client idle(server->port());
    waiting.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(eventually([&] { return building.load(); })) << "the build did not start";
    server->stop();
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(server->openConnections(), 0u);
    for (Client* client : {&waiting, &idle}) {
        EXPECT_TRUE(client->closedByServer());
        EXPECT_TRUE(client->rest().isEmpty()) << client->rest().constData();
    }
}

// An answer larger than the sockets hold, to a client that starts reading late and reads in small
// pieces, arrives whole; meanwhile the stored document is replaced: another client gets the new one at
// once, the answer under way still ends with the old one, and the next answer on its connection has the
// new one.
TEST(LanInfoServer, SendsALargeAnswerWholeWhileTheDocumentIsReplaced) {
    const QByteArray large = patterned(12 * 1024 * 1024, 'a'), replacement = patterned(100 * 1000, 'A');
    std::atomic<int> calls{0};
    const auto server =
        startServer([&] { return calls++ == 0 ? large : replacement; }, [] { return QByteArray("built"); });
    Client slow(server->port());
    slow.readInSmallPieces();
    slow.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(eventually([&] { return calls == 1; })) << "the first request was not answered";
    Client other(server->port());
    other.send("GET / HTTP/1.1\r\n\r\n");
    const std::vector<Answer> replaced = other.answers({true});
    ASSERT_EQ(replaced.size(), 1u);
    EXPECT_TRUE(replaced[0].body == replacement) << "another document than the replacement";
    slow.send("GET /again HTTP/1.1\r\n\r\n");
    const std::vector<Answer> answers = slow.answers({true, true});
    ASSERT_EQ(answers.size(), 2u) << slow.rest().size() << " bytes of an incomplete answer";
    EXPECT_TRUE(answers[0].head.contains("\r\nContent-Length: 12582912\r\n")) << answers[0].head.constData();
    EXPECT_TRUE(answers[0].body == large) << "the answer under way changed";
    EXPECT_TRUE(answers[1].head.contains("\r\nContent-Length: 100000\r\n")) << answers[1].head.constData();
    EXPECT_TRUE(answers[1].body == replacement) << "the next answer has not the new document";
}

// A client that stops reading in the middle of an answer is closed at the write deadline, whether the
// answer is the stored document (sent from its file) or one built for the request (copied).
TEST(LanInfoServer, ClosesAClientThatStopsReadingAtTheWriteDeadline) {
    LanInfoServer::Limits limits = smallLimits();
    limits.writeDeadline = std::chrono::milliseconds(300);
    limits.requestDeadline = std::chrono::minutes(1); // only the write deadline can close it in time
    const QByteArray large = patterned(12 * 1024 * 1024, 'a');
    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "stored document" : "built document");
        const auto server =
            startServer([&] { return stored ? large : QByteArray(); }, [&] { return large; }, limits);
        Client client(server->port());
        client.readInSmallPieces();
        client.send("GET / HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(eventually([&] { return server->openConnections() == 1; }));
        EXPECT_TRUE(eventually([&] { return server->openConnections() == 0; }))
            << "a client that reads nothing is kept past the deadline";
    }
}

// Clients that reset their connections in the middle of large answers: the server carries on, and
// serves the next client. A send into a reset connection may raise SIGPIPE, which ends a process that
// does not ignore it. Qt ignores it from its first write to a socket on, which the application need not
// have made yet; here it is taken as the default does, after that write.
TEST(LanInfoServer, OutlivesClientsThatResetTheirConnectionsMidAnswer) {
    LanInfoServer::Limits limits = smallLimits();
    limits.maxConnections = 64; // the client waiting for its turn stays
    const QByteArray large = patterned(12 * 1024 * 1024, 'a');
    const auto server = startServer([&] { return large; }, [] { return QByteArray("built"); }, limits);
    Client client(server->port());
    client.send("GET / HTTP/1.1\r\n\r\n"); // Qt's first write, after which it ignores SIGPIPE
    ASSERT_EQ(client.answers({true}).size(), 1u);
    struct DefaultBrokenPipe {
        void (*const previous)(int) = std::signal(SIGPIPE, SIG_DFL);
        ~DefaultBrokenPipe() { std::signal(SIGPIPE, previous); }
    } brokenPipe;
    for (int i = 0; i < 20; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server->port());
        ASSERT_TRUE(socket.waitForConnected(5000)) << "cannot connect";
        socket.write("GET / HTTP/1.1\r\n\r\n");
        qint64 received = 0;
        while (received < (i + 1) * 256 * 1024 && socket.waitForReadyRead(5000))
            received += socket.readAll().size();
        socket.abort(); // unread bytes wait: the system resets the connection
    }
    client.send("GET / HTTP/1.1\r\n\r\n");
    const std::vector<Answer> answers = client.answers({true});
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(answers[0].body == large);
}
