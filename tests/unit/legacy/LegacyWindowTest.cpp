// The legacy LAN window on fake sockets (nothing reaches the network) and the recording event poster.
#include "legacy/ViewController/ViewController.h"

#include "Fakes.h"
#include "RecordingEventPoster.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <fmt/format.h>
#include <gtest/gtest.h>

namespace {

const QString kSender = QStringLiteral("10.0.0.9");

class LegacyWindowTest : public ::testing::Test {
protected:
    struct Socket {
        quint16 port = 0;
        int arms = 0;
        bool closed = false;
        UdpSocket* alive = nullptr;
        UdpSocket::Delegate delegate;
    };
    class FakeSocket : public UdpSocket {
    public:
        FakeSocket(LegacyWindowTest& test, Socket& socket)
            : t(test)
            , s(socket) {
            s.alive = this;
        }
        ~FakeSocket() override { s.alive = nullptr; }
        std::optional<QString> bindToPort(quint16 port) override {
            s.port = port;
            return port == t.failPort ? std::optional(QStringLiteral("in use")) : std::nullopt;
        }
        void receiveOne() override { ++s.arms; }
        void sendData(const QByteArray& data, const QString& host, quint16 port) override {
            t.sent.push_back(
                fmt::format("{}>{}:{} {}", s.port, host.toStdString(), port, data.toStdString()));
        }
        void close() override { s.closed = true; }
        LegacyWindowTest& t;
        Socket& s;
    };

    // A window on a host with these addresses (a text with ":" is IPv6).
    void make(const QStringList& addresses) {
        host->interfaces.emplace();
        host->interfaces->push_back(
            {QStringLiteral("lo"), true, platform::InterfaceAddress::Family::Other, {}});
        for (const QString& a : addresses)
            host->interfaces->push_back({QStringLiteral("en0"), false,
                                         a.contains(u':') ? platform::InterfaceAddress::Family::IPv6
                                                          : platform::InterfaceAddress::Family::IPv4,
                                         a});
        window = std::make_unique<ViewController>(
            ViewController::Collaborators{poster, host, alerts, [this](UdpSocket::Delegate delegate) {
                                              sockets.push_back({.delegate = std::move(delegate)});
                                              return std::make_unique<FakeSocket>(*this, sockets.back());
                                          }});
    }
    Socket* open(quint16 port) {
        for (Socket& s : sockets)
            if (s.alive && s.port == port)
                return &s;
        return nullptr;
    }
    std::vector<quint16> ports(bool armed) const {
        std::vector<quint16> out;
        for (const Socket& s : sockets)
            if (s.alive && (!armed || s.arms > 0))
                out.push_back(s.port);
        return out;
    }
    // What the window did since the last call: events, the cursor warps (as their count and step) and the
    // datagrams it sent.
    std::string outcome() {
        std::string out;
        QPointF at(100, 100), step;
        int warps = 0;
        bool even = true;
        for (const auto& e : poster->entries()) {
            if (!e.warp) {
                out += describeEvent(e.event) + "; ";
                continue;
            }
            even = even && (warps == 0 || e.point - at == step);
            step = e.point - at;
            at = e.point;
            ++warps;
        }
        if (warps)
            out += fmt::format("{} warps of ({},{}){}; ", warps, step.x(), step.y(), even ? "" : " uneven");
        for (const std::string& s : sent)
            out += s + "; ";
        poster->clear();
        poster->setCursor({100, 100});
        sent.clear();
        return out;
    }

    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<FakeHostFacts> host = std::make_shared<FakeHostFacts>();
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    std::deque<Socket> sockets;
    std::vector<std::string> sent;
    quint16 failPort = 0;
    std::unique_ptr<ViewController> window;
};

TEST_F(LegacyWindowTest, AnswersEachDatagramAndStaysArmed) {
    make({QStringLiteral("10.0.0.5"), QStringLiteral("192.168.1.7"), QStringLiteral("fe80::1")});
    window->StartControl();
    const std::string hello = "Deckhop:192.168.1.7|||test-host";
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
        {"check", "4689>10.0.0.9:4689 " + hello + "; ", 4688, 4690},
        {"CHECK", "44689>10.0.0.9:44689 " + hello + "; ", 44690, 44688},
        {"check", "54689>10.0.0.9:54689 " + hello + "; ", 54690, 54689},
        {"check", "", 4690, 5000},
        {"cmd|{down}", down},
        {"cmd|{DOWN}", down, 44690},
        {"cmd|{up}",
         "type=10 key=126 flags=0xc source=combined tap=2; type=11 key=126 source=combined tap=2; "},
        {"cmd|{down} ", ""},
        {"click", "type=1 button=0 at=(100,100) source=combined tap=0; type=2 button=0 at=(100,100) "
                  "source=combined tap=0; "},
        {"RightClick", "type=3 button=1 at=(100,100) source=combined tap=0; type=4 button=1 at=(100,100) "
                       "source=combined tap=0; "},
        {"move|{10,-20}", "4 warps of (2.5,-5); "},
        {"move|{-450,0}", "6 warps of (-75,0); "},
        {"move|{0,601}", "8 warps of (0,75.125); "},
        {"MOVE|{400,400}", "4 warps of (100,100); "},
        {"move|{,5}", "4 warps of (0,1.25); "},
        {"move|{ +12.7 ,x}", "4 warps of (3,0); "},
        {"move|{99999999999,-99999999999}", "8 warps of (268435455.875,-268435456); "},
        {"move|{5}", ""},
        {"move|,{1,2}", ""},
        {"move|}1,2{", ""},
        {"move|", ""},
        {"\xff\xfe\x63heck", ""},
        {"", ""},
        {QByteArray(9216, 'a'), ""},
    };
    outcome();
    for (const auto& row : rows) {
        Socket* socket = open(row.to);
        ASSERT_TRUE(socket) << row.to;
        const int arms = socket->arms;
        static_cast<FakeSocket*>(socket->alive)->s.delegate(*socket->alive, row.datagram, kSender, row.from);
        EXPECT_EQ(outcome(), row.expected) << row.datagram.left(40).toStdString();
        EXPECT_EQ(socket->arms, arms + 1) << row.datagram.left(40).toStdString();
    }
}

// Writes the window as a PNG when PC_SCREENSHOTS_DIR names a folder (scripts/screenshots).
void screenshot(QWidget& window, const QString& name) {
    if (const QString dir = qEnvironmentVariable("PC_SCREENSHOTS_DIR"); !dir.isEmpty()) {
        ASSERT_TRUE(QDir().mkpath(dir) && window.grab().save(dir + u'/' + name + u".png"))
            << name.toStdString();
    }
}

TEST_F(LegacyWindowTest, StartEndStartListensAndAnnouncesEveryFiveSeconds) {
    make({QStringLiteral("192.168.1.7")});
    window->show();
    failPort = 44688; // a port that cannot be bound stops nothing else
    std::string announcement;
    for (int port : {4689, 44689, 54689})
        announcement += fmt::format("{0}>255.255.255.255:{0} Deckhop:192.168.1.7|||test-host; ", port);
    EXPECT_EQ(window->sendIPTimer(), nullptr);
    for (int round = 0; round < 2; ++round) {
        window->startButton()->click();
        EXPECT_EQ(ports(false),
                  (std::vector<quint16>{4688, 4689, 4690, 44688, 44689, 44690, 54688, 54689, 54690}));
        EXPECT_EQ(ports(true), (std::vector<quint16>{4688, 4690, 44690, 54688, 54690}));
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Slide Wand Status: ON"));
        EXPECT_FALSE(window->IPAddressComboBox()->isEnabled() || window->startButton()->isEnabled());
        EXPECT_TRUE(window->endButton()->isEnabled());
        QTimer* timer = window->sendIPTimer();
        ASSERT_TRUE(timer && timer->isActive() && !timer->isSingleShot());
        EXPECT_EQ(timer->interval(), 5000);
        QCoreApplication::processEvents();
        EXPECT_EQ(outcome(), "") << "nothing goes out before the timer fires";
        for (int tick = 0; tick < 2; ++tick) {
            ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
            EXPECT_EQ(outcome(), announcement);
        }
        screenshot(*window, QStringLiteral("legacy-listening"));

        window->endButton()->click();
        EXPECT_TRUE(ports(false).empty());
        EXPECT_TRUE(std::all_of(sockets.begin(), sockets.end(), [](const Socket& s) { return s.closed; }));
        EXPECT_EQ(window->sendIPTimer(), nullptr);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Slide Wand Status: OFF"));
        EXPECT_TRUE(window->IPAddressComboBox()->isEnabled() && window->startButton()->isEnabled());
        EXPECT_FALSE(window->endButton()->isEnabled());
        screenshot(*window, QStringLiteral("legacy-stopped"));
    }
}

TEST_F(LegacyWindowTest, ListsEveryAddressAndSelectsTheLastPrivateOne) {
    const struct {
        QStringList addresses;
        QString selected;
    } rows[] = {
        {{"10.0.0.5", "192.168.1.7", "fe80::1"}, "192.168.1.7"},
        {{"10.1.2.3"}, ""},
        {{"127.0.0.1", "172.16.4.4", "::1", "10.0.9.9", "172.17.0.1", "192.169.0.1"}, "10.0.9.9"},
        {{}, ""},
    };
    for (const auto& row : rows) {
        make(row.addresses);
        QStringList items;
        for (int i = 0; i < window->IPAddressComboBox()->count(); ++i)
            items << window->IPAddressComboBox()->itemText(i);
        EXPECT_EQ(items, row.addresses);
        EXPECT_EQ(window->getIPInfoMessage(), "Deckhop:" + row.selected + "|||test-host");
    }
    EXPECT_EQ(window->hostNameLabel()->text(), QStringLiteral("Host name: test-host"));
    window->helpButton()->click();
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_TRUE(alerts->shown()[0].messageText.startsWith(QStringLiteral("How to use\n1. The cellphone")));
    // The list's cell turns a background of the list's own red.
    QComboBox* list = window->IPAddressComboBox();
    list->setAutoFillBackground(true);
    list->grab();
    EXPECT_EQ(list->palette().color(list->backgroundRole()), QColor(Qt::red));
}

} // namespace
