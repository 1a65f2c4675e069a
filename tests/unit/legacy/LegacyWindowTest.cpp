// The legacy LAN window on fake sockets (nothing reaches the network) and the recording event poster.
#include "legacy/ViewController/ViewController.h"

#include "Fakes.h"
#include "RecordingEventPoster.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

namespace {

class LegacyWindowTest : public ::testing::Test {
protected:
    struct Socket : UdpSocket {
        Socket(LegacyWindowTest& t, Delegate d)
            : test(t)
            , delegate(std::move(d)) {
            test.sockets.push_back(this);
        }
        ~Socket() override { std::erase(test.sockets, this); }
        std::optional<QString> bindToPort(quint16 p) override {
            port = p;
            return p == test.failPort ? std::optional(QStringLiteral("in use")) : std::nullopt;
        }
        void receiveOne() override { ++arms; }
        void sendData(const QByteArray& data, const QString& host, quint16 to) override {
            test.sent += fmt::format("{}>{}:{} {}; ", port, host.toStdString(), to, data.toStdString());
        }
        void close() override {}
        LegacyWindowTest& test;
        Delegate delegate;
        quint16 port = 0;
        int arms = 0;
    };

    // A window on a host with these addresses (IPv6 when they hold ":"), after an entry without one.
    void make(const QStringList& addresses) {
        using Family = platform::InterfaceAddress::Family;
        host->interfaces = {{QStringLiteral("lo"), true, Family::Other, {}}};
        for (const QString& a : addresses)
            host->interfaces->push_back({"en0", false, a.contains(u':') ? Family::IPv6 : Family::IPv4, a});
        window = std::make_unique<ViewController>(
            ViewController::Collaborators{poster, host, std::make_shared<RecordingAlerts>(), [this](auto d) {
                                              return std::make_unique<Socket>(*this, std::move(d));
                                          }});
    }
    // What the window did since the last call: its events, its cursor warps (how many, and where they
    // left the cursor that was at (100, 100)) and the datagrams it sent.
    std::string outcome() {
        std::string out;
        int warps = 0;
        for (const auto& e : poster->entries()) {
            if (e.warp)
                ++warps;
            else
                out += describeEvent(e.event) + "; ";
        }
        const QPointF at = poster->cursorLocation();
        if (warps)
            out += fmt::format("{} warps to ({},{}); ", warps, at.x(), at.y());
        poster->clear();
        poster->setCursor({100, 100});
        return out + std::exchange(sent, {});
    }

    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<FakeHostFacts> host = std::make_shared<FakeHostFacts>();
    std::vector<Socket*> sockets;
    std::string sent;
    quint16 failPort = 0;
    std::unique_ptr<ViewController> window;
};

TEST_F(LegacyWindowTest, AnswersEachDatagramAndStaysArmed) {
    make({QStringLiteral("192.168.1.7")});
    window->StartControl();
    const std::string hello = "Deckhop:192.168.1.7|||test-host; ";
    const std::string down =
        "type=10 key=125 flags=0xc source=combined tap=2; type=11 key=125 source=combined tap=2; ";
    const struct {
        QByteArray datagram;
        std::string expected;
        quint16 to = 4688, from = 5000;
    } rows[] = {
        {"connect", "4688>10.0.0.9:5000 confirm; "},
        {"CoNNect", "4690>10.0.0.9:6000 confirm; ", 4690, 6000},
        {"connect ", ""},
        {"connect\n", ""},
        {"", ""},
        {"check", "4689>10.0.0.9:4689 " + hello, 4688, 4690},
        {"CHECK", "44689>10.0.0.9:44689 " + hello, 44690, 44688},
        {"check", "", 4690, 5000},
        {"cmd|{down}", down},
        {"cmd|{DOWN}", down, 44690},
        {"cmd|{up}",
         "type=10 key=126 flags=0xc source=combined tap=2; type=11 key=126 source=combined tap=2; "},
        {"click", "type=1 button=0 at=(100,100) source=combined tap=0; type=2 button=0 at=(100,100) "
                  "source=combined tap=0; "},
        {"rightclick", "type=3 button=1 at=(100,100) source=combined tap=0; type=4 button=1 at=(100,100) "
                       "source=combined tap=0; "},
        {"move|{10,-20}", "4 warps to (110,80); "},
        {"move|{-450,0}", "6 warps to (-350,100); "},
        {"move|{0,601}", "8 warps to (100,701); "},
        {"MOVE|{400,400}", "4 warps to (500,500); "},
        {"move|{,5}", "4 warps to (100,105); "},
        {"move|{ +12.7 ,x}", "4 warps to (112,100); "},
        {"move|{99999999999,-99999999999}", "8 warps to (2147483747,-2147483548); "},
        {"move|{5}", ""},
        {"move|,{1,2}", ""},
        {"\xff\xfe", ""},
        {QByteArray(9216, 'a'), ""},
    };
    outcome();
    for (const auto& row : rows) {
        const auto socket =
            std::find_if(sockets.begin(), sockets.end(), [&](auto s) { return s->port == row.to; });
        ASSERT_NE(socket, sockets.end());
        const int arms = (*socket)->arms;
        (*socket)->delegate(**socket, row.datagram, QStringLiteral("10.0.0.9"), row.from);
        EXPECT_EQ(outcome(), row.expected) << row.datagram.left(40).toStdString();
        EXPECT_EQ((*socket)->arms, arms + 1) << row.datagram.left(40).toStdString();
    }
}

TEST_F(LegacyWindowTest, StartEndStartListensAndAnnouncesEveryFiveSeconds) {
    make({QStringLiteral("192.168.1.7")});
    window->show();
    failPort = 44688; // a port that cannot be bound stops nothing else
    const auto state = [&] {
        std::vector<quint16> open, armed;
        for (const Socket* s : sockets)
            (s->arms ? armed : open).push_back(s->port);
        return fmt::format("{} list={:d} start={:d} end={:d} timer={:d} armed={} not={}",
                           window->windowTitle().toStdString(), window->IPAddressComboBox()->isEnabled(),
                           window->startButton()->isEnabled(), window->endButton()->isEnabled(),
                           window->sendIPTimer() != nullptr, fmt::join(armed, ","), fmt::join(open, ","));
    };
    // PC_SCREENSHOTS_DIR: where scripts/screenshots wants the pictures of the window.
    const auto screenshot = [&](const QString& name) {
        if (const QString dir = qEnvironmentVariable("PC_SCREENSHOTS_DIR"); !dir.isEmpty()) {
            EXPECT_TRUE(QDir().mkpath(dir) && window->grab().save(dir + "/legacy-" + name + ".png"));
        }
    };
    std::string announcement;
    for (int port : {4689, 44689, 54689})
        announcement += fmt::format("{0}>255.255.255.255:{0} Deckhop:192.168.1.7|||test-host; ", port);
    EXPECT_EQ(state(), "Slide Wand list=1 start=1 end=0 timer=0 armed= not=");
    for (int round = 0; round < 2; ++round) {
        window->startButton()->click();
        EXPECT_EQ(state(),
                  "Slide Wand Status: ON list=0 start=0 end=1 timer=1 armed=4688,4690,44690,54688,54690 "
                  "not=4689,44688,44689,54689");
        QTimer* timer = window->sendIPTimer();
        EXPECT_TRUE(timer->isActive() && !timer->isSingleShot() && timer->interval() == 5000);
        QCoreApplication::processEvents();
        EXPECT_EQ(outcome(), "") << "nothing goes out before the timer fires";
        for (int tick = 0; tick < 2; ++tick) {
            ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
            EXPECT_EQ(outcome(), announcement);
        }
        screenshot("listening");
        window->endButton()->click();
        EXPECT_EQ(state(), "Slide Wand Status: OFF list=1 start=1 end=0 timer=0 armed= not=");
        screenshot("stopped");
    }
}

TEST_F(LegacyWindowTest, ListsEveryAddressAndSelectsTheLastPrivateOne) {
    const std::pair<QStringList, QString> rows[] = {
        {{"10.0.0.5", "192.168.1.7", "fe80::1"}, "192.168.1.7"},
        {{"10.1.2.3"}, ""},
        {{"127.0.0.1", "172.16.4.4", "::1", "10.0.9.9", "172.17.0.1", "192.169.0.1"}, "10.0.9.9"},
        {{}, ""},
    };
    for (const auto& [addresses, selected] : rows) {
        make(addresses);
        QStringList items;
        for (int i = 0; i < window->IPAddressComboBox()->count(); ++i)
            items << window->IPAddressComboBox()->itemText(i);
        EXPECT_EQ(items, addresses);
        EXPECT_EQ(window->getIPInfoMessage(), "Deckhop:" + selected + "|||test-host");
    }
}

} // namespace
