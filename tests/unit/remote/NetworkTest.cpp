// The network service on a recording transport, with the fake cloud on loopback: the machine-information
// document, discovery and pairing, the cloud channel and the LAN server of slide information.
#include "RemoteFixture.h"

#include "core/LocalUtils.h"

#include <QTcpSocket>

namespace {

using Role = UdpSocketRole;

// Answers each heartbeat with the status line and body it holds, all at once; other requests get no answer.
// Keeps the head of each request.
class RawCloud {
public:
    RawCloud() {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray head = socket->readAll();
                heads.push_back(head.left(head.indexOf("\r\n")));
                if (head.startsWith("GET /api/heartBeat"))
                    socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            });
        });
    }
    QString root() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QByteArray status, body;
    QByteArrayList heads;
};

class NetworkTest : public RemoteTest {
protected:
    // One heartbeat, and its answer handled: whether it counted as a success.
    bool heartbeat() {
        const size_t before = posts.size();
        network->sendApiHeartBeat();
        EXPECT_TRUE(waitUntil([&] { return posts.size() > before; }, 5000)) << "no heartbeat outcome";
        return posts.size() > before && posts.back() == "true";
    }
    // Datagrams the phone at the host got on its data port.
    int repliesTo(const QString& host) {
        int n = 0;
        for (const auto& s : transport->sent())
            n += s.socket == Role::Data && s.host == host && s.port == 51302 &&
                 s.data == network->machineInfoUdpMessage()->toUtf8();
        return n;
    }
};

} // namespace

TEST_F(NetworkTest, MachineInformationDocument) {
    const QString document = R"({"MachineName":"Anna's Mac","MachineId":")" + LocalUtils::GetMachineIndex() +
                             R"x(","PcAppVersion":"3 21","OsVersion":"macOS Version 14.1 (Build 23B74)",)x"
                             R"("OfficeVersion":"","IpAddressList":["192.168.1.20","10.0.0.7"]})";
    EXPECT_EQ(network->machineInfoQrCodeMessage(), document);
    EXPECT_EQ(network->machineInfoUdpMessage(), document);
    const QString none = QString(document).replace(R"("192.168.1.20","10.0.0.7")", "");
    facts->interfaces = std::vector{v4("lo", "127.0.0.1")}; // only addresses that are left out
    network->getSystemInfo();
    EXPECT_EQ(network->machineInfoUdpMessage(), none);
    facts->interfaces = std::vector{v4("eth0", "192.168.1.20"), v4("wlan0", "10.0.0.7")};
    network->getSystemInfo();
    facts->interfaces = std::nullopt; // no list at all: only the QR text changes
    network->getSystemInfo();
    EXPECT_EQ(network->machineInfoQrCodeMessage(), none);
    EXPECT_EQ(network->machineInfoUdpMessage(), document);
    // Before any address was found, discovery has nothing to send.
    SWDMacNetworkManager fresh{{transport, {}, {}, facts, std::make_shared<CloudHttpClient>()}};
    EXPECT_FALSE(fresh.machineInfoUdpMessage());
    fresh.startUdp();
    transport->deliver(Role::Check, "check", "192.168.1.9");
    EXPECT_TRUE(transport->sent().empty());
}

TEST_F(NetworkTest, SocketsDiscoveryAndPairing) {
    transport->refusedPorts = {51302};
    network->startUdp();
    network->startUdp();
    EXPECT_EQ(transport->listenCalls,
              (std::vector<std::pair<Role, quint16>>{
                  {Role::Command, 51304}, {Role::Data, 51302}, {Role::Check, 51303}}));
    EXPECT_EQ(transport->unbound, std::vector{Role::Confirm});
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].informativeText, "Error binding port 51302: Address already in use");

    // Not paired: "check" in any case is answered, "check:<id>" too; anything else goes to the executor.
    for (const char* text : {"check", "CHECK", "cHeCk", "check:Z"})
        transport->deliver(Role::Command, text, "192.168.1.9");
    EXPECT_EQ(repliesTo("192.168.1.9"), 4);
    for (const char* text : {"CHECK:abc", "chk", "", "checks"})
        transport->deliver(Role::Check, text, "192.168.1.9");
    transport->deliver(Role::Command, QByteArray("\xff\xfe bad", 6), "192.168.1.8"); // not UTF-8: no text
    EXPECT_EQ(executed, (std::vector<QString>{"CHECK:abc@192.168.1.9", "chk@192.168.1.9", "@192.168.1.9",
                                              "checks@192.168.1.9", "<none>@192.168.1.8"}));

    // Phone A pairs from .20 with a Confirm to its connect port; another phone is refused; A again from
    // the cloud keeps its address and gets no Confirm.
    transport->clearSent();
    network->acceptConnectFromDeviceId("A", "Phone A", QStringLiteral("192.168.1.20"));
    network->acceptConnectFromDeviceId("B", "Phone B", QStringLiteral("192.168.1.30"));
    network->acceptConnectFromDeviceId("A", "Phone A2", std::nullopt);
    ASSERT_EQ(transport->sent().size(), 1u);
    const auto confirm = transport->sent()[0];
    EXPECT_EQ(std::tuple(confirm.socket, confirm.host, confirm.port, confirm.data),
              std::tuple(Role::Confirm, QString("192.168.1.20"), quint16(51301), QByteArray("Confirm")));
    EXPECT_FALSE(network->isAcceptingNewConnection());
    const auto table = network->connectingDeviceDic();
    ASSERT_EQ(table.size(), 1);
    EXPECT_EQ(table["A"].deviceName, "Phone A2");
    EXPECT_EQ(table["A"].ipAddress, QStringLiteral("192.168.1.20"));

    // Paired: "check" only from the phone's address, "check:A" (and more after it) from anywhere.
    transport->clearSent();
    for (const char* host : {"192.168.1.20", "192.168.1.21"})
        transport->deliver(Role::Check, "check", host);
    transport->deliver(Role::Check, "check:A", "192.168.1.22");
    transport->deliver(Role::Check, "check:A:extra", "192.168.1.23");
    transport->deliver(Role::Check, "check:B", "192.168.1.24");
    for (const auto& [host, replies] : {std::pair{"192.168.1.20", 1},
                                        {"192.168.1.21", 0},
                                        {"192.168.1.22", 1},
                                        {"192.168.1.23", 1},
                                        {"192.168.1.24", 0}})
        EXPECT_EQ(repliesTo(host), replies) << host;

    network->disconnectWithDevice("nobody"); // posts nothing
    network->disconnectWithDevice("A");
    EXPECT_TRUE(network->isAcceptingNewConnection());
    network->acceptConnectFromDeviceId("C", "Cloud phone", std::nullopt);
    EXPECT_FALSE(network->connectingDeviceDic()["C"].ipAddress);
    network->disconnect();
    network->disconnect(); // posts "" even with nothing paired
    EXPECT_TRUE(network->isAcceptingNewConnection() && network->connectingDeviceDic().isEmpty());
    EXPECT_EQ(posts, (std::vector<QString>{"Phone A", "Phone A2", "", "Cloud phone", "", ""}));
    network.reset(); // stops listening
    EXPECT_EQ(transport->closed, 1);
}

// A port of Info.plist beyond 65535, negative, 0 or absent is refused with an alert that names its key:
// nothing listens on it and nothing is sent to it, while the other ports work as usual.
TEST_F(NetworkTest, PortsOutsideOneTo65535AreRefused) {
    const struct {
        const char* key;
        QVariant value; // none: the key is absent
        std::string seen;
    } cases[] = {
        {"CommandPort", 70000,
         "listen 51302, listen 51303, info to 51302, Confirm to 51301, heartBeat to 51302, Invalid port "
         "70000 "
         "for CommandPort in Info.plist: a port is a number from 1 to 65535, so nothing listens on it."},
        {"DataPort", -5,
         "listen 51304, listen 51303, Confirm to 51301, Invalid port -5 for DataPort in Info.plist: a port "
         "is "
         "a number from 1 to 65535, so nothing listens on it."},
        {"ConnectPort", QVariant(),
         "listen 51304, listen 51302, listen 51303, info to 51302, heartBeat to 51302, No port for "
         "ConnectPort in Info.plist, so no pairing is confirmed to it."},
        {"LanInfoPort", 0,
         "listen 51304, listen 51302, listen 51303, info to 51302, Confirm to 51301, heartBeat to 51302, "
         "Invalid port 0 for LanInfoPort in Info.plist: a port is a number from 1 to 65535, so the slide "
         "information is not served."},
        {"CheckPort", 65535,
         "listen 51304, listen 51302, listen 65535, info to 51302, Confirm to 51301, heartBeat to 51302"},
    };
    for (const auto& [key, value, expected] : cases) {
        QVariantMap changed = info;
        if (value.isValid())
            changed.insert(key, value);
        else
            changed.remove(key);
        const TestBundle plist(changed);
        plist.makeMain();
        const auto udp = std::make_shared<FakeDatagramTransport>();
        const size_t alertsBefore = alerts->shown().size();
        {
            SWDMacNetworkManager service(
                {udp, {}, [this]() -> PowerPointHelper& { return *presentation; }, facts,
                 std::make_shared<CloudHttpClient>()});
            service.startUdp();
            service.startHttpServer();
            udp->deliver(Role::Check, "check", "192.168.1.20");
            service.acceptConnectFromDeviceId("A", "Phone A", QStringLiteral("192.168.1.20"));
            service.sendLanHeartBeatToHost("192.168.1.20", "heartBeat|OK:1");
        }
        std::vector<std::string> seen;
        for (const auto& [role, port] : udp->listenCalls)
            seen.push_back(fmt::format("listen {}", port));
        for (const auto& sent : udp->sent())
            seen.push_back(fmt::format(
                "{} to {}", sent.data.startsWith('{') ? "info" : sent.data.split('|')[0].toStdString(),
                sent.port));
        const auto shown = alerts->shown();
        for (size_t i = alertsBefore; i < shown.size(); ++i)
            seen.push_back(shown[i].informativeText.toStdString());
        EXPECT_EQ(fmt::format("{}", fmt::join(seen, ", ")), expected) << key;
    }
}

TEST(CloudQuery, NamesInOrderAndOnlyUnreservedCharactersLeftAsTheyAre) {
    EXPECT_EQ(
        SWDMacNetworkManager::encodeQuery({{"osVersion", "a b"}, {"machineId", "AB12"}, {"appVersion", "1"}}),
        "appVersion=1&machineId=AB12&osVersion=a%20b");
    EXPECT_EQ(SWDMacNetworkManager::encodeQuery({{"id", ":#[]@!$&'()*+,;=/?-._~中"}}),
              "id=%3A%23%5B%5D%40%21%24%26%27%28%29%2A%2B%2C%3B%3D/?-._~%E4%B8%AD");
}

TEST_F(NetworkTest, HeartbeatSucceedsOnA2xxAnswerWithItsTokenAndPausesThePollOtherwise) {
    QTcpServer taken; // the LAN port is taken: the rest runs all the same
    ASSERT_TRUE(taken.listen(QHostAddress::Any, lanPort));
    network->startHttpServer();
    RawCloud raw;
    const TestBundle rawRoot({{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"},
                              {"CFBundleVersion", "3 21"},
                              {"ApiRoot", raw.root()}});
    rawRoot.makeMain();
    const struct {
        QByteArray status, body;
        bool success;
    } answers[] = {
        {"200 OK", "\"heartBeat|OK\"", true},
        {"500 Internal Server Error", "heartbeat|ok", false},
        {"299 Fine", "-HEARTBEAT|Ok-", true},
        {"300 Multiple Choices", "heartbeat|ok", false},
        {"200 OK", "all fine", false},
        {"404 Not Found", "heartbeat|ok", false},
        {"200 OK", QByteArray("\xff\x00heartbeat|ok", 14), false},          // not UTF-8
        {"200 OK", "heartbeat|ok" + QByteArray((1 << 20) - 12, ' '), true}, // 1 MiB: the most it reads
        {"200 OK", "heartbeat|ok" + QByteArray(3 << 20, ' '), false},       // past the cap
        {"200 OK", "heartbeat|ok", true},
    };
    const auto polls = [&] {
        return std::count_if(raw.heads.begin(), raw.heads.end(),
                             [](const QByteArray& head) { return head.startsWith("GET /api/Command"); });
    };
    int failures = 0;
    bool pauseWatched = false;
    for (const auto& answer : answers) {
        raw.status = answer.status;
        raw.body = answer.body;
        failures = answer.success ? 0 : failures + 1;
        const auto pollsBefore = polls();
        EXPECT_EQ(heartbeat(), answer.success)
            << answer.status.constData() << ' ' << answer.body.left(20).constData();
        EXPECT_EQ(network->apiHeartBeatFailureCount(), failures) << answer.status.constData();
        EXPECT_EQ(network->isPollingCommands(), answer.success) << answer.status.constData();
        if (answer.success && pollsBefore > 0) { // after a failure: polling again once the heartbeat is back
            EXPECT_TRUE(waitUntil([&] { return polls() == pollsBefore + 1; }, 5000)) << "no poll resumed";
        }
        if (failures == 1 && !pauseWatched) {
            // The poll the failure cut off stays paused past the retry delay of a failed poll.
            pauseWatched = true;
            const auto cutOff = polls();
            waitUntil([] { return false; }, SWDMacNetworkManager::kMinPollInterval * 3 / 2);
            EXPECT_EQ(polls(), cutOff) << "polled while the heartbeat failed";
            EXPECT_FALSE(network->isPollingCommands());
        }
    }
    EXPECT_EQ(raw.heads.first(),
              "GET /api/heartBeat?appVersion=321&machineId=" + LocalUtils::GetMachineIndex().toUtf8() +
                  "&osVersion=Version14.1%28Build23B74%29 HTTP/1.1");
    EXPECT_TRUE(
        raw.heads.contains("GET /api/Command?id=" + LocalUtils::GetMachineIndex().toUtf8() + " HTTP/1.1"));
    for (const char* root : {"", "not a url at all", "ftp://127.0.0.1:1", "http://127.0.0.1:1"}) {
        const TestBundle broken({{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}, {"ApiRoot", root}});
        broken.makeMain();
        EXPECT_FALSE(heartbeat()) << root;
    }
}

TEST_F(NetworkTest, CommandPollsChainAndUploadsCarryTheCloudDocument) {
    cloud.setPollHold(200);
    cloud.queueCommand("\"\"5|start\"\"");
    EXPECT_TRUE(heartbeat());
    // The queued command runs without its quotes; an empty answer runs as an empty command; polls chain.
    ASSERT_TRUE(waitUntil([&] { return executed.size() >= 2; }, 5000)) << "the polls did not chain";
    EXPECT_EQ(executed[0], "5|start@cloud");
    EXPECT_EQ(executed[1], "@cloud");
    // While connected, a failed poll is replaced, after a pause (no heartbeat is sent meanwhile).
    cloud.setMode(FakeCloud::Mode::Status500);
    const size_t failedBefore = cloud.requests("/api/Command").size();
    EXPECT_TRUE(waitUntil([&] { return cloud.requests("/api/Command").size() >= failedBefore + 2; }, 5000))
        << "failed polls were not replaced";
    cloud.setMode(FakeCloud::Mode::Up);

    // No presentation open: the upload still posts, with an empty body.
    network->sendSlideInfoToClient();
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Info").size() == 1; }, 5000)) << "no upload";
    auto uploads = cloud.requests("/api/Info");
    EXPECT_EQ(std::tuple(uploads[0].method, uploads[0].body, uploads[0].contentType, uploads[0].accept),
              std::tuple(QString("POST"), QByteArray(), QByteArray("application/json"),
                         QByteArray("application/json")));
    EXPECT_EQ(network->currentSlideInfoString(), QString(""));
    scripts->answerText("isPptOpenOrNot", "/deck.pptx");
    scripts->answerText("getPptWidth", "960");
    scripts->answerText("getPptHeight", "540");
    scripts->answerText("getPptCurrentPageNote", "note");
    network->sendSlideInfoToClient();
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Info").size() == 2; }, 5000))
        << "no second upload";
    uploads = cloud.requests("/api/Info");
    EXPECT_TRUE(uploads[1].body.contains("\"Note\":\"note\""));
    EXPECT_EQ(uploads[1].body, presentation->currentApiInfoString()->toUtf8());
    EXPECT_EQ(network->currentSlideInfoString(), presentation->currentLanInfoString());
    const auto time = [](const QByteArray& doc) {
        return doc.mid(doc.indexOf("CreatedTimeInterval"), 40);
    };
    EXPECT_EQ(time(uploads[1].body), time(network->currentSlideInfoString()->toUtf8())); // one time for both
}

TEST_F(NetworkTest, LanServerAnswersEveryPathAndIsNotStalledByIdleClients) {
    network->startHttpServer();
    const auto get = [&](const QByteArray& request) {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, lanPort);
        EXPECT_TRUE(client.waitForConnected(5000));
        client.write(request + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        while (client.waitForReadyRead(5000))
            answer += client.readAll();
        return answer;
    };
    QByteArray answer = get("GET /"); // nothing open: 200 and an empty body
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.constData();
    EXPECT_TRUE(answer.contains("Content-Type: text/json") && answer.contains("Content-Length: 0"));

    scripts->answerText("isPptOpenOrNot", "/deck.pptx");
    scripts->answerText("getPptWidth", "960");
    scripts->answerText("getPptHeight", "540");
    presentation->refresh();
    std::vector<std::unique_ptr<QTcpSocket>> idle(30);
    for (auto& socket : idle) {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, lanPort);
    }
    answer = get("GET /any/path.json?x=1");
    const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200") && body.startsWith("{\"Id\":")) << answer.constData();
    EXPECT_EQ(body, network->currentSlideInfoString()->toUtf8());
    EXPECT_TRUE(get("GET /other").endsWith(body));   // the stored copy, unchanged
    EXPECT_TRUE(get("HEAD /").endsWith("\r\n\r\n")); // no body
    EXPECT_TRUE(get("NONSENSE").startsWith("HTTP/1.1 4"));

    network->stopListening();
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, lanPort);
    EXPECT_FALSE(late.waitForConnected(2000));
}
