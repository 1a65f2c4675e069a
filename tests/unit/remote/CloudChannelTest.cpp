// The cloud channel and the LAN server of slide information, against the fake cloud on loopback.
#include "remote/SWDMacNetworkManager.h"

#include "core/LocalUtils.h"
#include "core/NotificationCenter.h"
#include "core/UserDefaults.h"
#include "presentation/PowerPointHelper.h"

#include "FakeCloud.h"
#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

quint16 freeTcpPort() {
    QTcpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

class CloudTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cloud.start());
        bundle =
            std::make_unique<TestBundle>(QVariantMap{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"},
                                                     {"CFBundleVersion", "3 21"},
                                                     {"ApiRoot", cloud.root()},
                                                     {"LanInfoPort", lanPort}});
        bundle->makeMain();
        QFile::remove(UserDefaults::filePath());
        facts->osVersion = "Version 14.1 (Build 23B74)";
        platform::Platform::setHostFacts(facts);
        scripts->answerText("getPdfPath", cache.path() + "/");
        presentation = PowerPointHelper::create({scripts, std::make_shared<RecordingCommandRunner>(),
                                                 std::make_shared<FakeHostFacts>(), Flavour::SlideWand, 1e6});
        presentation->setIsAllowGeneratePDF(false);
        network = std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            transport,
            [this](const std::optional<QString>& command, const std::optional<QString>& from) {
                EXPECT_FALSE(from);
                executed.push_back(command.value_or("<none>"));
            },
            [this]() -> PowerPointHelper& { return *presentation; }, facts});
        token = NotificationCenter::defaultCenter().addObserver(
            "kApiConnectionStatusChanged", [this](const QVariant& v) { api.push_back(v.toBool()); });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token);
        network.reset();
        releaseAndWait(presentation);
        platform::Platform::setHostFacts(nullptr);
    }

    // One heartbeat, and its answer handled.
    void heartbeat() {
        const size_t before = api.size();
        network->sendApiHeartBeat();
        ASSERT_TRUE(waitUntil([&] { return api.size() > before; }));
    }

    FakeCloud cloud;
    quint16 lanPort = freeTcpPort();
    std::unique_ptr<TestBundle> bundle;
    QTemporaryDir cache;
    std::shared_ptr<FakeHostFacts> facts = std::make_shared<FakeHostFacts>();
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<PowerPointHelper> presentation;
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    std::unique_ptr<SWDMacNetworkManager> network;
    std::vector<QString> executed;
    std::vector<bool> api;
    NotificationCenter::Token token = 0;
};

} // namespace

TEST(CloudQuery, NamesInOrderAndOnlyUnreservedCharactersLeftAsTheyAre) {
    EXPECT_EQ(SWDMacNetworkManager::encodeQuery(
                  {{"osVersion", "a b"}, {"machineId", "AB12"}, {"appVersion", "1.0"}}),
              "appVersion=1.0&machineId=AB12&osVersion=a%20b");
    EXPECT_EQ(SWDMacNetworkManager::encodeQuery({{"id", ":#[]@!$&'()*+,;=/?-._~中"}}),
              "id=%3A%23%5B%5D%40%21%24%26%27%28%29%2A%2B%2C%3B%3D/?-._~%E4%B8%AD");
}

TEST_F(CloudTest, HeartbeatQueryAndTheCommandPollChain) {
    cloud.setPollHold(200);
    cloud.queueCommand("\"\"5|start\"\"");
    heartbeat();
    EXPECT_EQ(api, std::vector<bool>{true});
    const auto beats = cloud.requests("/api/heartBeat");
    ASSERT_EQ(beats.size(), 1u);
    EXPECT_EQ(beats[0].rawQuery, "appVersion=321&machineId=" + LocalUtils::GetMachineIndex().toUtf8() +
                                     "&osVersion=Version14.1%28Build23B74%29");
    // The queued command is executed without its quotes, then an empty answer executes nothing and the
    // polls go on chaining.
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Command").size() >= 3; }));
    ASSERT_FALSE(executed.empty());
    EXPECT_EQ(executed[0], "5|start");
    EXPECT_EQ(cloud.requests("/api/Command")[0].rawQuery, "id=" + LocalUtils::GetMachineIndex().toUtf8());
    EXPECT_TRUE(network->isPollingCommands());
}

TEST_F(CloudTest, FailuresCountUpPauseThePollAndRecover) {
    cloud.setPollHold(5000);
    heartbeat();
    ASSERT_TRUE(waitUntil([&] { return network->isPollingCommands(); }));
    for (const auto mode : {FakeCloud::Mode::Status500, FakeCloud::Mode::Garbage, FakeCloud::Mode::Down}) {
        cloud.setMode(mode);
        heartbeat();
        EXPECT_FALSE(network->isPollingCommands());
    }
    EXPECT_EQ(network->apiHeartBeatFailureCount(), 3);
    EXPECT_EQ(api, (std::vector<bool>{true, false, false, false}));

    // A 200 answer without the token is a failure too; with it in any case, a success.
    cloud.setMode(FakeCloud::Mode::Up);
    cloud.setHeartbeatBody("all fine");
    heartbeat();
    EXPECT_EQ(network->apiHeartBeatFailureCount(), 4);
    cloud.setHeartbeatBody("HEARTBEAT|Ok");
    const size_t pollsBefore = cloud.requests("/api/Command").size();
    heartbeat();
    EXPECT_EQ(network->apiHeartBeatFailureCount(), 0);
    EXPECT_EQ(api.back(), true);
    EXPECT_TRUE(waitUntil([&] { return cloud.requests("/api/Command").size() > pollsBefore; }));
}

TEST_F(CloudTest, HugeAnswersAndAnUnusableRootAreFailures) {
    cloud.setHeartbeatBody("heartbeat|ok" + QByteArray(3 * 1024 * 1024, ' '));
    heartbeat();
    EXPECT_EQ(api.back(), false);
    EXPECT_EQ(network->apiHeartBeatFailureCount(), 1);

    for (const char* root : {"", "not a url at all", "ftp://127.0.0.1:1"}) {
        const TestBundle broken({{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}, {"ApiRoot", root}});
        broken.makeMain();
        heartbeat();
        EXPECT_EQ(api.back(), false) << root;
    }
    EXPECT_FALSE(network->isPollingCommands());
}

TEST_F(CloudTest, AFailedPollWhileConnectedIsReplacedAtOnce) {
    cloud.setPollHold(100);
    heartbeat();
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Command").size() >= 1; }));
    cloud.setMode(FakeCloud::Mode::Status500); // polls fail, no heartbeat is sent meanwhile
    const size_t before = cloud.requests("/api/Command").size();
    EXPECT_TRUE(waitUntil([&] { return cloud.requests("/api/Command").size() >= before + 3; }));
    cloud.setMode(FakeCloud::Mode::Up);
}

TEST_F(CloudTest, UploadPostsTheCloudDocumentWithJsonHeadersAndRefreshesTheLanCopy) {
    // No presentation open: the upload still posts, with an empty body.
    network->sendSlideInfoToClient();
    ASSERT_TRUE(waitUntil([&] { return !cloud.requests("/api/Info").empty(); }));
    auto posts = cloud.requests("/api/Info");
    EXPECT_EQ(posts[0].method, "POST");
    EXPECT_EQ(posts[0].body, "");
    EXPECT_EQ(posts[0].contentType, "application/json");
    EXPECT_EQ(posts[0].accept, "application/json");
    EXPECT_EQ(network->currentSlideInfoString(), QString(""));

    scripts->answerText("isPptOpenOrNot", "/deck.pptx");
    scripts->answerText("getPptWidth", "960");
    scripts->answerText("getPptHeight", "540");
    scripts->answerText("getPptCurrentPageNote", "note");
    network->sendSlideInfoToClient();
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Info").size() == 2; }));
    posts = cloud.requests("/api/Info");
    EXPECT_TRUE(posts[1].body.contains("\"Note\":\"note\""));
    EXPECT_EQ(posts[1].body, presentation->currentApiInfoString()->toUtf8());
    EXPECT_EQ(network->currentSlideInfoString(), presentation->currentLanInfoString());
    // Both kinds carry the one time.
    const auto time = [](const QByteArray& doc) {
        return doc.mid(doc.indexOf("CreatedTimeInterval"), 40);
    };
    EXPECT_EQ(time(posts[1].body), time(network->currentSlideInfoString()->toUtf8()));
}

TEST_F(CloudTest, LanServerAnswersEveryPathAndIsNotStalledByIdleClients) {
    network->startHttpServer();
    const auto get = [&](const QByteArray& request) {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, lanPort);
        EXPECT_TRUE(client.waitForConnected(5000));
        client.write(request);
        QByteArray answer;
        while (client.waitForReadyRead(5000))
            answer += client.readAll();
        return answer;
    };
    // Nothing open: 200 with an empty body, every time.
    QByteArray answer = get("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.constData();
    EXPECT_TRUE(answer.contains("Content-Type: text/json"));
    EXPECT_TRUE(answer.contains("Content-Length: 0"));

    scripts->answerText("isPptOpenOrNot", "/deck.pptx");
    scripts->answerText("getPptWidth", "960");
    scripts->answerText("getPptHeight", "540");
    presentation->refresh();
    // Idle clients that connect and send nothing hold no answer back.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 30; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, lanPort);
    }
    answer = get("GET /any/path.json?x=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200"));
    const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    EXPECT_EQ(body, network->currentSlideInfoString()->toUtf8());
    EXPECT_TRUE(body.startsWith("{\"Id\":"));
    // The stored copy serves the next request unchanged.
    const QByteArray again = get("GET /other HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(again.mid(again.indexOf("\r\n\r\n") + 4), body);

    answer = get("HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(answer.endsWith("\r\n\r\n")); // no body
    answer = get("NONSENSE\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 4")) << answer.constData();

    network->stopListening();
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, lanPort);
    EXPECT_FALSE(late.waitForConnected(2000));
}

TEST_F(CloudTest, AnUnbindableLanPortLeavesTheRestRunning) {
    auto server = std::make_unique<QTcpServer>();
    ASSERT_TRUE(server->listen(QHostAddress::Any, lanPort));
    network->startHttpServer();
    heartbeat();
    EXPECT_EQ(api.back(), true);
}
