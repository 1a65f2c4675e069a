// The cloud channel against a cloud that misbehaves: answers too large or endless, a trickle, polls that
// come back at once, and an old heartbeat's answer that comes after a newer one.
#include "presentation/PowerPointHelper.h"
#include "remote/SWDMacNetworkManager.h"

#include "FakeCloud.h"
#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "LogRecorder.h"
#include "NotificationRecorder.h"
#include "TestBundle.h"
#include "Wait.h"
#include "core/Notifications.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <string_view>

namespace {

// The resident memory of this process, in MiB.
qint64 residentMiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() / 1024;
    return 0;
}

class CloudFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cloud.start());
        bundle =
            std::make_unique<TestBundle>(QVariantMap{{"ApiRoot", cloud.root()}, {"CFBundleVersion", "1"}});
        bundle->makeMain();
        scripts->answerText("getPdfPath", cache.path() + "/");
        presentation = PowerPointHelper::create(
            {scripts, std::make_shared<RecordingCommandRunner>(), facts, Flavour::SlideWand, 1e6});
        makeNetwork();
    }
    void makeNetwork() {
        network.reset();
        network = std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            std::make_shared<FakeDatagramTransport>(),
            [this](const std::optional<QString>&, const std::optional<QString>&) { ++executed; },
            [this]() -> PowerPointHelper& { return *presentation; }, facts,
            std::make_shared<CloudHttpClient>()});
    }
    // Sends one heartbeat and waits for its end: the connection state it posted.
    int heartbeat() {
        const size_t posts = apiPosts().size();
        network->sendApiHeartBeat();
        if (!waitUntil([&] { return apiPosts().size() > posts; }, 8000)) {
            ADD_FAILURE() << "no end of the heartbeat";
            return -1;
        }
        return apiPosts().back();
    }
    void TearDown() override {
        cloud.setMode(FakeCloud::Mode::Up);
        network.reset();
        releaseAndWait(presentation);
    }
    std::vector<int> apiPosts() const {
        return api.values(Notifications::kApiConnectionStatusChanged.qname());
    }

    FakeCloud cloud;
    std::unique_ptr<TestBundle> bundle;
    QTemporaryDir cache;
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<FakeHostFacts> facts = std::make_shared<FakeHostFacts>();
    std::shared_ptr<PowerPointHelper> presentation;
    std::unique_ptr<SWDMacNetworkManager> network;
    NotificationRecorder api{{Notifications::kApiConnectionStatusChanged.qname()}};
    int executed = 0;
};

} // namespace

TEST_F(CloudFaultsTest, EveryAnswerIsBoundedInSizeAndTime) {
    // A heartbeat fails within its 5 s (and a little for a loaded machine), however the answer comes.
    QTcpServer notHttp; // answers every request with bytes that are no HTTP, and keeps the line open
    ASSERT_TRUE(notHttp.listen(QHostAddress::LocalHost));
    QObject::connect(&notHttp, &QTcpServer::newConnection, [&] {
        QTcpSocket* client = notHttp.nextPendingConnection();
        QObject::connect(client, &QTcpSocket::readyRead, client, [client] {
            client->write(QByteArrayLiteral("\x16\x03\x01 no HTTP at all\r\n\r\n"));
        });
    });
    const TestBundle notHttpRoot(
        {{"ApiRoot", QString("http://127.0.0.1:%1").arg(notHttp.serverPort())}, {"CFBundleVersion", "1"}});
    for (const auto mode : {FakeCloud::Mode::Huge, FakeCloud::Mode::Endless, FakeCloud::Mode::Trickle,
                            FakeCloud::Mode::Garbage, FakeCloud::Mode::Down}) {
        SCOPED_TRACE(int(mode));
        if (mode == FakeCloud::Mode::Down) // the last row: the other server
            notHttpRoot.makeMain();
        else
            cloud.setMode(mode);
        QElapsedTimer took;
        took.start();
        EXPECT_EQ(heartbeat(), 0);
        EXPECT_LT(took.elapsed(), 5500) << "ms until a failing heartbeat was counted";
        cloud.setMode(FakeCloud::Mode::Up);
    }
    // Memory, with the endless answer coming from another process (the fake cloud's own buffers would
    // count here).
    QProcess endless;
    endless.start("python3", {"-c", R"(
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(4); print(s.getsockname()[1], flush=True)
while True:
    c, _ = s.accept(); c.recv(65536)
    c.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
    try:
        while True: c.sendall(b"10000\r\n" + b"e" * 65536 + b"\r\n")
    except OSError: c.close()
)"});
    ASSERT_TRUE(endless.waitForReadyRead(5000)) << "no endless server";
    const QString root = "http://127.0.0.1:" + QString::fromLatin1(endless.readLine().trimmed());
    const TestBundle far({{"ApiRoot", root}, {"CFBundleVersion", "1"}});
    far.makeMain();
    const qint64 before = residentMiB();
    const size_t posts = apiPosts().size();
    network->sendApiHeartBeat();
    ASSERT_TRUE(waitUntil([&] { return apiPosts().size() > posts; }, 8000)) << "no end of the heartbeat";
#if !defined(__SANITIZE_ADDRESS__) // the address sanitizer keeps freed memory aside, which counts here
    EXPECT_LT(residentMiB() - before, 8) << "MiB kept for one endless answer";
#else
    (void)before;
#endif
    endless.kill();
    endless.waitForFinished(5000);
}

// Heads that never end, are huge, hold one huge line or trickle: each exchange fails within its deadline or
// sooner, holding no more than the head's limit, and the cloud works again once the server is well.
TEST_F(CloudFaultsTest, AnswerHeadsWithoutEndFailWithinTheDeadlineAndCostNoMemory) {
    QProcess hostile; // another process, so that its buffers do not count here
    hostile.start("python3", {PC_HOSTILE_CLOUD});
    ASSERT_TRUE(hostile.waitForReadyRead(5000)) << "no hostile server";
    const QString root = "http://127.0.0.1:" + QString::fromLatin1(hostile.readLine().trimmed());
    const std::shared_ptr<void> stop(nullptr, [&](void*) {
        hostile.kill();
        hostile.waitForFinished(5000);
    });
    const LogRecorder log;
    const qint64 before = residentMiB();
    for (const char* mode : {"endless", "block", "line", "trickle"}) {
        SCOPED_TRACE(mode);
        const TestBundle hostileRoot({{"ApiRoot", QString(root + '/' + mode)}, {"CFBundleVersion", "1"}});
        hostileRoot.makeMain();
        QElapsedTimer took;
        took.start();
        EXPECT_EQ(heartbeat(), 0);
        EXPECT_LT(took.elapsed(), SWDMacNetworkManager::kApiHeartBeatInterval + 500) << "ms to fail";
        if (std::string_view(mode) == "endless") { // the upload as well
            network->postSlideInfoToApi("{}");
            EXPECT_TRUE(waitUntil(
                [&] {
                    return log.count(spdlog::level::err,
                                     "POST Failed " + root.toStdString() +
                                         "/endless/api/Info: "
                                         "{\nStatus code = 0\nError = the answer's head is "
                                         "larger than 65536 bytes\n}") == 1;
                },
                SWDMacNetworkManager::kApiUploadTimeout + 500))
                << fmt::format("{}", fmt::join(log.at(spdlog::level::err), "\n"));
        }
    }
#if !defined(__SANITIZE_ADDRESS__) // the address sanitizer keeps freed memory aside, which counts here
    EXPECT_LT(residentMiB() - before, 10) << "MiB kept after the hostile heads";
#else
    (void)before;
#endif
    const TestBundle well({{"ApiRoot", QString(root + "/ok")}, {"CFBundleVersion", "1"}});
    well.makeMain();
    EXPECT_EQ(heartbeat(), 1);
}

TEST_F(CloudFaultsTest, PollsThatComeBackEmptyOrFailArePacedAndAnOldHeartbeatChangesNothing) {
    cloud.setPollHold(0); // every poll answered at once, with nothing
    ASSERT_EQ(heartbeat(), 1);
    QElapsedTimer clock;
    clock.start();
    // Good heartbeats meanwhile do not hurry a poll that waits out its pause.
    for (int beat = 0; beat < 6; ++beat) {
        waitUntil([] { return false; }, 500);
        EXPECT_EQ(heartbeat(), 1);
    }
    const size_t polls = cloud.requests("/api/Command").size();
    EXPECT_GE(polls, 2u);
    EXPECT_LE(double(polls), double(clock.elapsed()) / 1000.0 + 1) << "polls a second";

    // Failing polls back off: 1, 2, 4 ... seconds between them, up to 30.
    EXPECT_EQ(SWDMacNetworkManager::pollPause(0, 0), 1000);
    EXPECT_EQ(SWDMacNetworkManager::pollPause(1500, 0), 0);
    EXPECT_EQ(SWDMacNetworkManager::pollPause(1500, 1), 1000);
    EXPECT_EQ(SWDMacNetworkManager::pollPause(0, 3), 4000);
    EXPECT_EQ(SWDMacNetworkManager::pollPause(0, 40), 30000);

    // An answer of an older heartbeat that comes after a newer one's: not counted, and the poll the newer
    // one started goes on.
    cloud.setPollHold(10000);
    const size_t pollsBeforeHold = cloud.requests("/api/Command").size();
    ASSERT_TRUE(waitUntil(
        [&] {
            return cloud.requests("/api/Command").size() > pollsBeforeHold && network->isPollingCommands();
        },
        5000))
        << "no poll held";
    cloud.setMode(FakeCloud::Mode::Status500);
    cloud.setDelay(1500);
    network->sendApiHeartBeat(); // fails, late
    waitUntil([] { return false; }, 300);
    cloud.setMode(FakeCloud::Mode::Up);
    cloud.setDelay(0);
    const size_t before = apiPosts().size();
    network->sendApiHeartBeat(); // succeeds first
    ASSERT_TRUE(waitUntil([&] { return apiPosts().size() > before; }, 5000));
    waitUntil([] { return false; }, 2000); // the old answer arrives meanwhile
    EXPECT_EQ(apiPosts().size(), before + 1);
    EXPECT_EQ(network->apiHeartBeatFailureCount(), 0);
    EXPECT_TRUE(network->isPollingCommands()) << "the late failure cancelled the live poll";
}

// The cloud API does not redirect: a 3xx answer is one failed request, paced like the other failures,
// and nothing goes where its Location names, whether it loops back (302) or points elsewhere (307).
TEST_F(CloudFaultsTest, ARedirectIsAFailedRequestThatIsNotFollowed) {
    const LogRecorder log;
    for (const int status : {302, 307}) {
        SCOPED_TRACE(status);
        makeNetwork(); // polls start without failures behind them
        cloud.clearRequests();
        cloud.setRedirect("/api/heartBeat", status);
        EXPECT_EQ(heartbeat(), 0);
        EXPECT_EQ(cloud.requests("/api/heartBeat").size(), 1u);
        cloud.setRedirect("/api/heartBeat", 0);

        // Polls while heartbeats succeed: each fails, and the next waits 1 s, then 2 s.
        cloud.setRedirect("/api/Command", status);
        EXPECT_EQ(heartbeat(), 1);
        waitUntil([] { return false; }, 3500);
        const size_t polls = cloud.requests("/api/Command").size();
        EXPECT_GE(polls, 2u);
        EXPECT_LE(polls, 3u);

        cloud.setRedirect("/api/Info", status);
        network->postSlideInfoToApi("{}");
        const auto uploadFailed = [&] {
            for (const std::string& line : log.at(spdlog::level::err))
                if (line.rfind("POST Failed", 0) == 0 &&
                    line.find("Status code = " + std::to_string(status)) != std::string::npos)
                    return true;
            return false;
        };
        EXPECT_TRUE(waitUntil(uploadFailed, 5000)) << "the upload did not fail";
        EXPECT_EQ(cloud.requests("/api/Info").size(), 1u);
        for (const FakeCloud::Request& request : cloud.requests())
            EXPECT_FALSE(request.path.startsWith("/moved"))
                << request.method.toStdString() << " " << request.path.toStdString();
        cloud.setRedirect("/api/Command", 0);
        cloud.setRedirect("/api/Info", 0);
    }
}
