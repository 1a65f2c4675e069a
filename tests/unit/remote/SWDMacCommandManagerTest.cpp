#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "core/NotificationCenter.h"
#include "core/UserDefaults.h"
#include "presentation/PowerPointHelper.h"

#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "TestBundle.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class ExecutorTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
        scripts->answerText("getPdfPath", cache.path() + "/");
        lanToken = NotificationCenter::defaultCenter().addObserver("kLanConnectionStatusChanged", [this](const QVariant& v) {
            lanPosts.push_back(v.toBool());
        });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(lanToken);
        QFile::remove(UserDefaults::filePath());
    }

    void pair() { executor.executeCommand(QStringLiteral("|connect|A,Phone A"), QStringLiteral("192.168.1.20")); }
    bool sent(const QByteArray& data) {
        for (const auto& s : transport->sent())
            if (s.data == data)
                return true;
        return false;
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}, {"DataPort", 51302}, {"ConnectPort", 51301}}};
    QTemporaryDir cache;
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    SWDMacNetworkManager network{{transport, {}, {}}};
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<PowerPointHelper> presentation =
        PowerPointHelper::create({scripts, std::make_shared<RecordingCommandRunner>(), std::nullopt, 1e6});
    int pushes = 0;
    SWDMacCommandManager executor{{&network, [this]() -> PowerPointHelper& { return *presentation; }, [this] { ++pushes; }}};
    std::vector<bool> lanPosts;
    NotificationCenter::Token lanToken = 0;
};

} // namespace

TEST_F(ExecutorTest, ParsingAndTheSeenIdTable) {
    executor.executeCommand(std::nullopt, std::nullopt);
    executor.executeCommand(QString(""), std::nullopt);
    executor.executeCommand(QStringLiteral("no bar here"), std::nullopt);
    EXPECT_TRUE(executor.executedCommandDic().isEmpty());

    // Refused by the gate, but recorded: the same string after pairing is still dropped.
    executor.executeCommand(QStringLiteral("ID9|start"), std::nullopt);
    EXPECT_EQ(executor.executedCommandDic().value("id9"), "ID9|start");
    pair();
    scripts->clearRuns();
    presentation->setIsAllowGeneratePDF(false);
    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    presentation->refresh();
    executor.executeCommand(QStringLiteral("ID9|start"), std::nullopt);
    EXPECT_EQ(pushes, 1); // the connect's push only

    // Id "0" runs every time and overwrites; an empty id runs every time and is never recorded.
    executor.executeCommand(QStringLiteral("0|START"), std::nullopt);
    executor.executeCommand(QStringLiteral("0|start|x"), std::nullopt);
    executor.executeCommand(QStringLiteral("|start"), std::nullopt);
    executor.executeCommand(QStringLiteral("|start"), std::nullopt);
    EXPECT_EQ(pushes, 5);
    EXPECT_EQ(executor.executedCommandDic().value("0"), "0|start|x");
    EXPECT_FALSE(executor.executedCommandDic().contains(""));

    // Nothing is trimmed: " start" is no type, but its id is recorded.
    executor.executeCommand(QStringLiteral("11| start"), std::nullopt);
    EXPECT_EQ(pushes, 5);
    EXPECT_TRUE(executor.executedCommandDic().contains("11"));
}

TEST_F(ExecutorTest, ConnectAndDisconnectArguments) {
    executor.executeCommand(QStringLiteral("1|connect|onlyone"), QStringLiteral("192.168.1.20"));
    EXPECT_TRUE(network.isAcceptingNewConnection());
    executor.executeCommand(QStringLiteral("2|connect|"), QStringLiteral("192.168.1.20"));
    EXPECT_TRUE(network.isAcceptingNewConnection());
    executor.executeCommand(QStringLiteral("3|connect|A,Anna,extra"), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(network.connectingDeviceDic().value("A").deviceName, "Anna");
    EXPECT_TRUE(sent("Confirm"));
    executor.executeCommand(QStringLiteral("4|disconnect|A"), std::nullopt); // one item: ignored
    EXPECT_FALSE(network.isAcceptingNewConnection());
    executor.executeCommand(QStringLiteral("5|disconnect|A,"), std::nullopt);
    EXPECT_TRUE(network.isAcceptingNewConnection());
    EXPECT_EQ(pushes, 3); // every connect pushes, disconnect does not
}

TEST_F(ExecutorTest, HeartbeatAnswersOnlyPairedLanPhonesWithAToken) {
    executor.executeCommand(QStringLiteral("|heartbeat|1"), QStringLiteral("192.168.1.20"));
    EXPECT_FALSE(sent("heartBeat|OK:1")); // unpaired
    pair();
    executor.executeCommand(QStringLiteral("|heartbeat|42"), QStringLiteral("192.168.1.20"));
    executor.executeCommand(QStringLiteral("|heartbeat|"), QStringLiteral("192.168.1.20"));
    executor.executeCommand(QStringLiteral("|heartbeat"), QStringLiteral("192.168.1.20"));
    executor.executeCommand(QStringLiteral("|heartbeat|7"), std::nullopt); // from the cloud
    EXPECT_TRUE(sent("heartBeat|OK:42"));
    EXPECT_FALSE(sent("heartBeat|OK:7"));
    EXPECT_EQ(lanPosts, std::vector<bool>{true});
    const auto all = transport->sent();
    EXPECT_EQ(all.back().socket, UdpSocketRole::Data);
    EXPECT_EQ(all.back().host, "192.168.1.20");
}

TEST_F(ExecutorTest, StartModeAndTheFlavourPush) {
    pair();
    const int afterPair = pushes;
    executor.executeCommand(QStringLiteral("|start"), std::nullopt); // nothing open: fails, still pushes
    EXPECT_EQ(pushes, afterPair + 1);
    executor.executeCommand(QStringLiteral("|mode|Presentation"), std::nullopt);
    EXPECT_FALSE(presentation->isAllowGeneratePDF());
    executor.executeCommand(QStringLiteral("|mode|presentation"), std::nullopt);
    EXPECT_TRUE(presentation->isAllowGeneratePDF());
    executor.executeCommand(QStringLiteral("|mode"), std::nullopt);
    EXPECT_FALSE(presentation->isAllowGeneratePDF());
    executor.executeCommand(QStringLiteral("|qcmd|anything"), std::nullopt);
    EXPECT_EQ(pushes, afterPair + 1);

    const TestBundle slideWand({{"CFBundleIdentifier", "com.brisvane.SlideWandForMac"}});
    slideWand.makeMain();
    executor.executeCommand(QStringLiteral("|start"), std::nullopt);
    EXPECT_EQ(pushes, afterPair + 1);
    const TestBundle steerlynx({{"CFBundleIdentifier", "com.brisvane.SteerlynxForMac"}});
    steerlynx.makeMain();
    executor.executeCommand(QStringLiteral("|start"), std::nullopt);
    EXPECT_EQ(pushes, afterPair + 2);
}

TEST_F(ExecutorTest, SameIdFromManyThreadsRunsOnce) {
    pair();
    const int before = pushes;
    std::vector<std::thread> threads;
    std::atomic<int> dummy{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            executor.executeCommand(QStringLiteral("77|start"), std::nullopt);
            ++dummy;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(pushes, before + 1);
}
