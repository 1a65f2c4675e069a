// The main window with recording services: its start-up, the displays that follow the notifications, fold
// and expand, help and log export, the indicator strip's countdown, and the template browser's rules and
// downloads against an HTTP server of the test's own.
#include "app/MainWindowController/PodiumCastWindowController.h"
#include "app/MainWindowServices.h"
#include "app/NetworkStatusView/NetworkStatusView.h"
#include "app/SlideWandViewController/ButtonImageView.h"
#include "app/SlideWandViewController/SlideWandViewController.h"
#include "app/SlideWandViewController/TemplateWebView.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "NotificationRecorder.h"
#include "Wait.h"
#include "core/Notifications.h"
#include "platform/Bundle.h"
#include "ui_SlideWandViewController.h"

#include <QDir>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {

class FakeWebView : public TemplateWebView {
public:
    using TemplateWebView::TemplateWebView;
    void load(const QUrl& url) override { loaded << url; }
    void goBack() override { loaded << QUrl("back:"); }
    void reloadFromOrigin() override { loaded << QUrl("reload:"); }
    QList<QUrl> loaded;
};

class RecordingServices : public MainWindowServices {
public:
    const platform::Bundle& bundle() override { return bundle_; }
    platform::Alerts& alerts() override { return alerts_; }
    QNetworkAccessManager& http() override { return http_; }
    QString hostName() override { return "Ann's \"Laptop\""; }
    QMenu* applicationMenu() override { return nullptr; }
    TemplateWebView* createTemplateWebView(QWidget* parent) override {
        calls << "createTemplateWebView";
        return web = new FakeWebView(parent);
    }
    std::optional<QString> machineInfoQrCodeMessage() override {
        calls << "machineInfoQrCodeMessage";
        return "{}";
    }
    void startUdp() override { calls << "startUdp"; }
    void startHttpServer() override { calls << "startHttpServer"; }
    void startSendingApiHeartBeat() override { calls << "startSendingApiHeartBeat"; }
    void disconnect() override { calls << "disconnect"; }
    void checkNewVersion() override { calls << "checkNewVersion"; }
    void startPresentationBridge() override { calls << "startPresentationBridge"; }
    void exportLogFiles() override { calls << "exportLogFiles"; }
    void showDebugWindow() override { calls << "showDebugWindow"; }

    platform::Bundle bundle_{QString(PC_BUNDLES_DIR) + "/PodiumCast.app"};
    RecordingAlerts alerts_;
    QNetworkAccessManager http_;
    QStringList calls;
    FakeWebView* web = nullptr;
};

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

// PC_SCREENSHOTS_DIR: where scripts/screenshots wants the pictures of the window.
void picture(QWidget& window, const char* name) {
    if (const QString dir = qEnvironmentVariable("PC_SCREENSHOTS_DIR"); !dir.isEmpty()) {
        EXPECT_TRUE(QDir().mkpath(dir) && window.grab().save(dir + "/main-" + name + ".png"));
    }
}

class MainWindowTest : public ::testing::Test {
protected:
    LogRecorder log;
    RecordingServices services;
    PodiumCastWindowController window{services};
    SlideWandViewController& view = *window.contentViewController();
};

} // namespace

TEST_F(MainWindowTest, StartUpThenStatusAndPairingFollowTheNotificationsFromAnyThread) {
    EXPECT_EQ(services.calls, QStringList({"machineInfoQrCodeMessage", "startUdp", "startHttpServer",
                                           "startSendingApiHeartBeat", "checkNewVersion",
                                           "createTemplateWebView", "startPresentationBridge"}));
    EXPECT_EQ(view.hostNameLabel()->text(), "Ann's Laptop");
    EXPECT_EQ(view.qrCodeImageView()->pixmap().size(), QSize(200, 200));
    EXPECT_FALSE(view.ui().debugButton->isVisibleTo(&view));
    EXPECT_EQ(services.web->loaded, QList<QUrl>{QUrl("http://127.0.0.1:51390")});
    const QRect strip = view.networkStatusView()->geometry(),
                background = view.ui().backgroundImageView->geometry();
    EXPECT_EQ(strip.bottom(), background.bottom() - 2);
    EXPECT_LE(std::abs(strip.center().x() - background.center().x()), 1);
    window.show();

    // Posts from a thread of their own, as the poll and the network do: the display has changed by the
    // time the post returns.
    const auto postFromAnotherThread = [&](const std::function<void()>& postIt) {
        std::atomic<bool> returned{false};
        std::thread poster([&] {
            postIt();
            returned = true;
        });
        EXPECT_TRUE(waitUntil([&] { return returned.load(); }, 5000)) << "the post never returned";
        poster.join();
    };
    struct Status {
        int posted;
        const char* text;
        QColor colour;
        const char* picture;
    };
    for (const Status& s :
         {Status{1, "PowerPoint is opened.", QColor(0, 118, 186), "status-powerpoint"},
          Status{2, "Keynote is opened.", QColor(0, 118, 186), "status-keynote"},
          Status{7, "Neither PowerPoint nor Keynote is opened.", QColor(238, 110, 87), nullptr},
          Status{0, "Neither PowerPoint nor Keynote is opened.", QColor(238, 110, 87), "status-neither"}}) {
        QString seen; // read by the posting thread once its post returned
        postFromAnotherThread([&] {
            post(Notifications::kUpdatePptStatus, s.posted);
            seen = view.pptStatusLabel()->text();
        });
        EXPECT_EQ(seen, s.text);
        EXPECT_EQ(view.pptStatusLabel()->palette().color(QPalette::WindowText), s.colour) << s.posted;
        if (s.picture)
            picture(window, s.picture);
    }
    picture(window, "unpaired");
    for (const std::optional<QString>& name : {std::optional<QString>("Phone A"), std::optional<QString>(""),
                                               std::optional<QString>("Phone B"), std::optional<QString>()}) {
        bool qrShown = true;
        postFromAnotherThread([&] {
            post(Notifications::kUpdateConnectionStatus, name);
            qrShown = view.qrCodeImageView()->isVisible();
        });
        const bool paired = name && !name->isEmpty();
        EXPECT_EQ(qrShown, !paired);
        EXPECT_EQ(view.connectedInfoView()->isVisible(), paired);
        if (paired) {
            EXPECT_EQ(view.phoneNameLabel()->text(), *name);
        }
        if (name == "Phone A")
            picture(window, "paired");
    }
    view.ui().disconnectButton->click();
    EXPECT_EQ(services.calls.last(), "disconnect");
}

TEST_F(MainWindowTest, FoldAndExpandKeepOriginAndHeightCloseMinimisesHelpAndLogExport) {
    window.show();
    window.move(40, 30);
    const QPoint origin = window.pos();
    for (int round = 0; round < 2; ++round) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.expandButtonImageView(), &press);
        EXPECT_EQ(window.size(), QSize(797, 600));
        EXPECT_TRUE(view.webView()->isVisible() && view.ui().foldButton->isVisible() &&
                    !view.expandButtonImageView()->isVisible());
    }
    picture(window, "expanded");
    for (int round = 0; round < 2; ++round) {
        view.ui().foldButton->click();
        EXPECT_EQ(window.size(), QSize(410, 600));
        EXPECT_TRUE(!view.webView()->isVisible() && !view.ui().backButton->isVisible() &&
                    view.expandButtonImageView()->isVisible());
    }
    EXPECT_EQ(window.pos(), origin);

    window.close();
    EXPECT_TRUE(window.isMinimized()) << "the close button only minimises";

    view.ui().helpButton->click();
    ASSERT_EQ(services.alerts_.shown().size(), 1u);
    EXPECT_TRUE(services.alerts_.shown()[0].messageText.startsWith("How to use?\n\n1. Your iPhone and Mac"));
    EXPECT_TRUE(services.alerts_.shown()[0].messageText.contains(".\n\n 3. With the correct settings"));
    for (const int answer : {1, 0}) {
        services.alerts_.answer = answer;
        view.ui().logButton->click();
    }
    EXPECT_EQ(services.alerts_.sheets, 2) << "the confirmation is a sheet of the window";
    EXPECT_EQ(services.alerts_.shown().back().informativeText,
              "This will export the log file to Desktop. Continue?");
    EXPECT_EQ(services.alerts_.shown().back().buttons, QStringList({"Confirm", "Cancel"}));
    EXPECT_EQ(services.calls.filter("exportLogFiles").size(), 1);
    EXPECT_EQ(log.count(spdlog::level::info, "Cancel exporting log file."), 1);
    EXPECT_EQ(log.count(spdlog::level::info, "Exporting log file."), 1);
}

TEST_F(MainWindowTest, StripCountsDownToRedAndAnyThreadsHeartbeatResetsIt) {
    NetworkStatusView& strip = *view.networkStatusView();
    strip.lanHeartbeatCountDownTimer->stop(); // the test ticks
    NotificationRecorder lan({Notifications::kLanConnectionStatusChanged.qname()});
    EXPECT_EQ(strip.lanLight(), "redLight");
    EXPECT_EQ(strip.apiLight(), "redLight");
    for (int tick = 1; tick <= 7; ++tick) {
        strip.checkTimeLeft();
        EXPECT_EQ(lan.values(Notifications::kLanConnectionStatusChanged.qname()).size(),
                  size_t(std::max(0, tick - 4)));
    }
    int afterReset = 0;
    std::thread([&] {
        post(Notifications::kLanConnectionStatusChanged, true);
        afterReset = strip.timeLeft();
    }).join();
    EXPECT_EQ(afterReset, 5);
    ASSERT_TRUE(waitUntil([&] { return strip.lanLight() == "greenLight"; }, 5000));
    for (int tick = 0; tick < 6; ++tick)
        strip.checkTimeLeft();
    ASSERT_TRUE(waitUntil([&] { return strip.lanLight() == "redLight"; }, 5000));
    // Every later tick posts "off" again, and the light, red already, is not painted again.
    window.show();
    waitUntil([] { return false; }, 50); // the first paint of the window
    const PaintCounter light(strip.lanIndicatorImageView);
    const size_t offs = lan.values(Notifications::kLanConnectionStatusChanged.qname()).size();
    for (int tick = 0; tick < 3; ++tick)
        strip.checkTimeLeft();
    waitUntil([] { return false; }, 50);
    EXPECT_EQ(lan.values(Notifications::kLanConnectionStatusChanged.qname()).size(), offs + 3);
    EXPECT_EQ(light.paints, 0) << "the red light was repainted";
    post(Notifications::kLanConnectionStatusChanged, true);
    post(Notifications::kApiConnectionStatusChanged, true);
    ASSERT_TRUE(waitUntil(
        [&] { return strip.lanLight() == "greenLight" && strip.apiLight() == "greenLight"; }, 5000));
    picture(window, "strip-both-green");
    for (int tick = 0; tick < 5; ++tick)
        strip.checkTimeLeft();
    for (const bool api : {true, false})
        post(Notifications::kApiConnectionStatusChanged, api);
    ASSERT_TRUE(
        waitUntil([&] { return log.count("api: turning apiConnectionStatusLight to redLight") == 1; }, 5000));
    ASSERT_TRUE(waitUntil([&] { return strip.lanLight() == "redLight"; }, 5000));
    EXPECT_EQ(log.count("lan: turning lanConnectionStatusLight to greenLight"), 2);
    EXPECT_EQ(log.count("lan: turning lanConnectionStatusLight to redLight"), 2);
    EXPECT_EQ(log.count("api: turning apiConnectionStatusLight to greenLight"), 1);
    picture(window, "strip-after-lan-timeout");
}

TEST_F(MainWindowTest, TemplateLinksAreSavedWhereChosenAndOnlyTheSitesPagesShow) {
    for (const auto& [address, shown] :
         std::vector<std::pair<const char*, bool>>{{"http://127.0.0.1:51390/list", true},
                                                   {"http://127.0.0.1/x", true},
                                                   {"http://sub.127.0.0.1/", false},
                                                   {"https://example.org/", false}}) {
        EXPECT_EQ(view.decidePolicyForNavigationResponse(QUrl(address)), shown) << address;
    }
    // A server of the test's own: a whole file, a missing one, and one cut off half-way.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QByteArray deck(200000, 'd');
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* client = server.nextPendingConnection();
        QObject::connect(client, &QTcpSocket::readyRead, client, [client, &deck] {
            const QByteArray request = client->readAll();
            if (request.contains("GET /missing"))
                client->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            else if (request.contains("GET /cut"))
                client->write("HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n" + deck.left(1000));
            else
                client->write("HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n" + deck);
            client->disconnectFromHost();
        });
    });
    const QString site = QString("http://127.0.0.1:%1/").arg(server.serverPort());
    QTemporaryDir folder;
    struct Case {
        const char* link;
        const char* chosen; // nothing: the user cancels
        const char* saved;  // nothing: no file is left
        const char* alert;
    };
    const Case cases[] = {
        {"Talk.PPTX", "talk", "talk.pptx", "Succeed"}, {"old.ppt", "old.pptx", "old.pptx.ppt", "Succeed"},
        {"deck.key", "deck", "deck", "Succeed"},       {"page.html", nullptr, nullptr, nullptr},
        {"again.pptx", nullptr, nullptr, nullptr},     {"missing.pptx", "missing.pptx", nullptr, "Error"},
        {"cut.pptx", "cut.pptx", nullptr, "Error"},
    };
    qsizetype saved = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        const size_t panels = services.alerts_.savePanels.size(), alerts = services.alerts_.shown().size();
        services.alerts_.saveAnswer =
            c.chosen ? std::optional<QString>(folder.filePath(c.chosen)) : std::nullopt;
        EXPECT_TRUE(
            view.decidePolicyForNavigationAction(QUrl(site + c.link))); // the page itself always goes ahead
        const bool template_ = QString(c.link) != "page.html";
        if (template_) {
            ASSERT_TRUE(waitUntil([&] { return services.alerts_.savePanels.size() > panels; }, 5000));
        }
        if (c.alert) {
            ASSERT_TRUE(waitUntil([&] { return services.alerts_.shown().size() > alerts; }, 5000))
                << "no end of the download";
            EXPECT_EQ(services.alerts_.shown().back().messageText, c.alert);
            EXPECT_FALSE(view.progressLine()->isVisible());
        }
        if (template_) {
            const platform::SavePanelRequest& panel = services.alerts_.savePanels.back();
            EXPECT_EQ(panel.title, "Save template to");
            EXPECT_EQ(panel.nameFieldValue, c.link);
            EXPECT_EQ(panel.accessoryItems, QStringList{"." + QString(c.link).section('.', -1).toLower()});
        }
        if (c.saved) {
            QFile file(folder.filePath(c.saved));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll(), deck);
        }
        saved += c.saved ? 1 : 0;
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), saved)
            << "a failed download leaves nothing behind";
    }
    EXPECT_EQ(log.count(spdlog::level::info, "User canceled saving"), 1);
    EXPECT_EQ(log.count(spdlog::level::trace, "不是ppt or key文件，取消下载"), 1);
}

TEST_F(MainWindowTest, TheLoadingLabelSaysWhyNothingShowsUntilTheFirstPageAndNeverComesBack) {
    QLabel& label = *view.loadingTextField();
    EXPECT_EQ(label.text(), "Loading free templates...");
    const QRect loading = label.geometry();
    for (int failure = 0; failure < 3; ++failure) { // Reload pressed while the site cannot be reached
        Q_EMIT services.web->navigationFinished(false);
        EXPECT_TRUE(label.text().startsWith("The template site cannot be reached."))
            << label.text().toStdString();
        EXPECT_EQ(label.geometry(), loading.adjusted(0, -20, 0, 20)) << "the label keeps its place";
    }
    Q_EMIT services.web->navigationFinished(true);
    EXPECT_FALSE(label.isVisibleTo(&view));
    EXPECT_FALSE(view.loadingPageIndicator()->isVisibleTo(&view));
    Q_EMIT services.web->navigationFinished(false); // a later failure: the page shows Chromium's own
    view.tapRefreshButton();
    view.tapBackButton();
    EXPECT_FALSE(label.isVisibleTo(&view));
    EXPECT_EQ(services.web->loaded.mid(1), QList<QUrl>({QUrl("reload:"), QUrl("back:")}));
}
