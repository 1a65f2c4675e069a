#include "SlideWandViewController.h"

#include "ButtonImageView.h"
#include "LoadingSpinner.h"
#include "TemplateWebView.h"
#include "ui_SlideWandViewController.h"

#include "app/MainWindowServices.h"
#include "app/NetworkStatusView/NetworkStatusView.h"
#include "core/ErrorHelper.h"
#include "core/Logger.h"
#include "core/Notifications.h"
#include "core/StringHelper.h"
#include "core/ThreadHelper.h"
#include "core/Utils.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"

#include <QGraphicsDropShadowEffect>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QSystemTrayIcon>

namespace {

const QColor kAccentColour(0, 118, 186);
const QColor kWarningColour(238, 110, 87);
constexpr int kViewHeight = 600;

const char* const kHelpText = "How to use?\n\n1. Your iPhone and Mac are able to connect with each other via "
                              "LAN and Internet simultaneously. To "
                              "control the PowerPoint or Keynote with iPhone, you have to first launch this "
                              "Mac application, and then select "
                              "your Mac's name on the iPhone app.\n\n2. If your iPhone fails to find this "
                              "Mac, try to scan the QR code with the "
                              "iPhone app.\n\n 3. With the correct settings, you can control your slide by "
                              "swiping left and right or just "
                              "easily tapping the screen of your iPhone.\n\nNotice: It is possible that this "
                              "Mac application would be blocked "
                              "by some security and firewall softwares.";

// The extension of a template file the lower-cased address names, or nothing.
std::optional<QString> templateExtension(const QString& lowered) {
    if (lowered.size() < 5)
        return std::nullopt;
    for (const char* extension : {".pptx", ".ppt", ".key"}) {
        const QString e = QString::fromLatin1(extension);
        if (lowered.right(e.size()) == e)
            return e;
    }
    return std::nullopt;
}

// A light grey shadow all round the widget, blurred over 3 pixels.
void castShadow(QWidget* widget) {
    auto* shadow = new QGraphicsDropShadowEffect(widget);
    shadow->setColor(Qt::lightGray);
    shadow->setOffset(0, 0);
    shadow->setBlurRadius(3);
    widget->setGraphicsEffect(shadow);
}

} // namespace

SlideWandViewController::SlideWandViewController(MainWindowServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , ui_(std::make_unique<Ui::SlideWandViewController>()) {
    ui_->setupUi(this);
    setFixedSize(kExpandedWidth, kViewHeight);
    ui_->backgroundImageView->setPixmap(image(QStringLiteral("background")));
    connect(ui_->helpButton, &QPushButton::clicked, this, &SlideWandViewController::tapHelpButton);
    connect(ui_->disconnectButton, &QPushButton::clicked, this, &SlideWandViewController::disconnect);
    connect(ui_->logButton, &QPushButton::clicked, this, &SlideWandViewController::tapLogButton);
    connect(ui_->foldButton, &QPushButton::clicked, this, &SlideWandViewController::tapFoldButton);
    connect(ui_->backButton, &QPushButton::clicked, this, &SlideWandViewController::tapBackButton);
    connect(ui_->refreshButton, &QPushButton::clicked, this, &SlideWandViewController::tapRefreshButton);
    connect(ui_->debugButton, &QPushButton::clicked, this, [this] { services_.showDebugWindow(); });
    for (QWidget* button : {ui_->foldButton, ui_->backButton, ui_->refreshButton})
        button->hide();
}

SlideWandViewController::~SlideWandViewController() {
    for (const auto token : observers_)
        NotificationCenter::defaultCenter().removeObserver(token);
}

QPixmap SlideWandViewController::image(const QString& name) const {
    return QPixmap(services_.bundle().pathForResource(name, QStringLiteral("png")).value_or(QString()));
}

void SlideWandViewController::viewDidLoad() {
    ui_->hostNameLabel->setText(services_.hostName().remove(u'"'));
    const std::optional<QString> message = services_.machineInfoQrCodeMessage();
    services_.startUdp();
    services_.startHttpServer();
    services_.startSendingApiHeartBeat();
    services_.checkNewVersion();
    ui_->qrCodeImageView->setPixmap(QPixmap::fromImage(Utils::GenerateQRCode(message, 200, 200)));

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        statusItem_ = new QSystemTrayIcon(QIcon(image(QStringLiteral("statusIcon"))), this);
        connect(statusItem_, &QSystemTrayIcon::activated, this,
                &SlideWandViewController::onStatusItemClicked);
        statusItem_->show();
    } else {
        LOG_INFO("This desktop shows no status-bar items: the status item is left out.");
    }

    castShadow(ui_->connectBackgroundView);
    ui_->macNameView->setStyleSheet(
        QStringLiteral("#macNameView { background: rgb(0, 118, 186); "
                       "border-top-left-radius: 10px; border-top-right-radius: 10px; }"));

    observers_.push_back(
        observe(Notifications::kUpdatePptStatus, [this](int status) { updatePptStatusLabel(status); }));
    observers_.push_back(
        observe(Notifications::kUpdateConnectionStatus,
                [this](const std::optional<QString>& name) { updateConnectionStatus(name); }));
    observers_.push_back(observe(Notifications::kTapExpandButtonSignal, [this](const Signal&) {
        ThreadHelper::RunOnMainThread([this] { tapExpandButton(); });
    }));
    ui_->connectedInfoView->hide();

    createTemplateBrowser();

    expandButtonImageView_ = new ButtonImageView(this);
    expandButtonImageView_->setGeometry(360, kViewHeight - 51 - 466, 37, 466);
    expandButtonImageView_->setPixmap(image(QStringLiteral("expandButton")));
    expandButtonImageView_->setCursor(Qt::PointingHandCursor);
    expandButtonImageView_->stackUnder(ui_->connectBackgroundView); // above the background only
    expandButtonImageView_->show();

    services_.startPresentationBridge();
    ui_->debugButton->hide();
    createProgressLine();

    networkStatusView_ = new NetworkStatusView(services_.bundle(), this);
    const QRect background = ui_->backgroundImageView->geometry();
    networkStatusView_->move(background.center().x() + 1 - networkStatusView_->width() / 2,
                             background.bottom() + 1 - 2 - networkStatusView_->height());
    networkStatusView_->show();
}

void SlideWandViewController::viewDidAppear() {
    // The welcome window hid and disabled the item while it was up.
    if (QMenu* menu = services_.applicationMenu(); menu && menu->actions().size() > 2) {
        menu->actions()[2]->setVisible(true);
        menu->actions()[2]->setEnabled(true);
    }
}

void SlideWandViewController::tapHelpButton() {
    services_.alerts().runModal({QString::fromUtf8(kHelpText), {}, {QStringLiteral("OK")}});
}

void SlideWandViewController::modifyPptStatusLabelWithStatus(qint64 status) {
    QLabel* label = ui_->pptStatusLabel;
    if (status == 1)
        label->setText(QStringLiteral("PowerPoint is opened."));
    else if (status == 2)
        label->setText(QStringLiteral("Keynote is opened."));
    else
        label->setText(QStringLiteral("Neither PowerPoint nor Keynote is opened."));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, status == 1 || status == 2 ? kAccentColour : kWarningColour);
    label->setPalette(palette);
}

void SlideWandViewController::updatePptStatusLabel(int status) {
    ThreadHelper::RunOnMainThread([this, status] { modifyPptStatusLabelWithStatus(status); });
}

void SlideWandViewController::modifyConnectionStatusWithDeviceName(const std::optional<QString>& deviceName) {
    const bool paired = !StringHelper::isNullOrEmpty(deviceName);
    if (paired)
        ui_->phoneNameLabel->setText(*deviceName);
    ui_->connectedInfoView->setVisible(paired);
    ui_->qrCodeImageView->setVisible(!paired);
    ui_->scanLabel->setVisible(!paired);
}

void SlideWandViewController::updateConnectionStatus(const std::optional<QString>& deviceName) {
    ThreadHelper::RunOnMainThread([this, &deviceName] { modifyConnectionStatusWithDeviceName(deviceName); });
}

void SlideWandViewController::disconnect() {
    services_.disconnect();
}

void SlideWandViewController::onStatusItemClicked() {
    QWidget* main = window();
    main->showNormal();
    main->raise();
    main->activateWindow();
}

void SlideWandViewController::tapLogButton() {
    services_.alerts().beginSheet({QStringLiteral("Confirm"),
                                   QStringLiteral("This will export the log file to Desktop. Continue?"),
                                   {QStringLiteral("Confirm"), QStringLiteral("Cancel")},
                                   platform::AlertStyle::Warning},
                                  [this](int response) {
                                      if (response == 0) {
                                          LOG_INFO("Exporting log file.");
                                          services_.exportLogFiles();
                                      } else if (response == 1) {
                                          LOG_INFO("Cancel exporting log file.");
                                      }
                                  });
}

void SlideWandViewController::setWindowWidth(int width) {
    QWidget* main = window();
    main->setFixedSize(width, main->height()); // the origin stays where it is
}

void SlideWandViewController::tapFoldButton() {
    if (window() != this)
        setWindowWidth(kFoldedWidth);
    expandButtonImageView_->show();
    for (QWidget* hidden :
         {static_cast<QWidget*>(ui_->foldButton), static_cast<QWidget*>(ui_->backButton),
          static_cast<QWidget*>(webView_), webViewShadow_, static_cast<QWidget*>(ui_->refreshButton)})
        hidden->hide();
}

void SlideWandViewController::tapExpandButton() {
    if (window() == this || window()->height() == 0) {
        LOG_DEBUG("Error getting mainWindow's height");
        return;
    }
    setWindowWidth(kExpandedWidth);
    expandButtonImageView_->hide();
    for (QWidget* shown :
         {static_cast<QWidget*>(ui_->foldButton), static_cast<QWidget*>(ui_->backButton),
          static_cast<QWidget*>(ui_->refreshButton), webViewShadow_, static_cast<QWidget*>(webView_)})
        shown->show();
}

// ---- Template browser ------------------------------------------------------------------------------

QUrl SlideWandViewController::templateSiteRoot() const {
    return QUrl(services_.bundle().objectForInfoDictionaryKey(QStringLiteral("TemplateSiteRoot")).toString());
}

QString SlideWandViewController::templateSiteHost() const {
    return services_.bundle()
        .objectForInfoDictionaryKey(QStringLiteral("TemplateSiteHost"))
        .toString()
        .toLower();
}

void SlideWandViewController::createTemplateBrowser() {
    webView_ = services_.createTemplateWebView(this);
    webView_->setGeometry(380, kViewHeight - 17 - 533, 403, 533);
    webView_->decideNavigation = [this](const QUrl& url, bool) {
        return decidePolicyForNavigationAction(url) && decidePolicyForNavigationResponse(url);
    };
    connect(webView_, &TemplateWebView::navigationFinished, this,
            &SlideWandViewController::webViewDidFinishNavigation);
    const bool siteSet = templateSiteRoot().isValid() && !templateSiteRoot().isEmpty();
    if (siteSet)
        webView_->load(templateSiteRoot());
    // The web view draws through the GPU, which a graphics effect on it would break: a plain card of
    // its size under it casts its shadow.
    webViewShadow_ = new QWidget(this);
    webViewShadow_->setAttribute(Qt::WA_StyledBackground);
    webViewShadow_->setStyleSheet(QStringLiteral("background: white;"));
    webViewShadow_->setGeometry(webView_->geometry());
    castShadow(webViewShadow_);
    webViewShadow_->stackUnder(webView_);
    webView_->hide();
    webViewShadow_->hide();

    const QRectF web = webView_->geometry();
    auto* spinner = new LoadingSpinner(this);
    const QPointF spinnerAt(float(web.x() + web.width() / 2 - 10), float(web.y() + web.height() / 2 - 10));
    spinner->setGeometry(QRectF(spinnerAt, QSizeF(20, 20)).toRect());
    spinner->startAnimation();
    loadingPageIndicator_ = spinner;

    loadingTextField_ = new QLabel(QStringLiteral("Loading free templates..."), this);
    loadingTextField_->setAlignment(Qt::AlignCenter);
    loadingTextField_->setWordWrap(true);
    loadingTextFrame_ = QRectF(web.x(), spinnerAt.y() + 20 + 5, web.width(), 20).toRect();
    loadingTextField_->setGeometry(loadingTextFrame_);
    loadingTextField_->show();
    if (!siteSet) { // a bundle without a template site: nothing to load, and the panel says so
        spinner->stopAnimation();
        loadingTextField_->setText(QStringLiteral("No template site is set for this program."));
        loadingShown_ = false;
    }
}

void SlideWandViewController::createProgressLine() {
    progressLine_ = new QWidget(this);
    progressLine_->setGeometry(0, 0, 0, 2);
    progressLine_->setStyleSheet(QStringLiteral("background: rgb(0, 118, 186);"));
    progressLine_->show();
}

void SlideWandViewController::tapBackButton() {
    webView_->goBack();
}

void SlideWandViewController::tapRefreshButton() {
    webView_->reloadFromOrigin();
}

void SlideWandViewController::webViewDidFinishNavigation(bool ok) {
    if (!loadingShown_)
        return;
    static_cast<LoadingSpinner*>(loadingPageIndicator_)->stopAnimation();
    if (ok) {
        loadingTextField_->hide();
        loadingShown_ = false;
        return;
    }
    // Until a page of the site has shown once, say why nothing shows.
    loadingTextField_->setText(
        QStringLiteral("The template site cannot be reached. Check the network, then press Reload."));
    loadingTextField_->setGeometry(loadingTextFrame_.adjusted(0, -20, 0, 20)); // room for two lines
}

bool SlideWandViewController::decidePolicyForNavigationResponse(const QUrl& url) const {
    return url.host().toLower() == templateSiteHost();
}

bool SlideWandViewController::decidePolicyForNavigationAction(const QUrl& url) {
    const QString address = url.toString(QUrl::FullyEncoded);
    const std::optional<QString> extension = templateExtension(address.toLower());
    if (!extension) {
        LOG_VERBOSE("不是ppt or key文件，取消下载");
        return true;
    }
    // The navigation is answered first; the save panel runs after it, on the main thread.
    QMetaObject::invokeMethod(
        this,
        [this, url, address, extension = *extension] {
            std::optional<QString> path = services_.alerts().runSavePanel({QStringLiteral("Save template to"),
                                                                           address.split(u'/').last(),
                                                                           QStringLiteral("File type: "),
                                                                           {extension}});
            if (!path) {
                LOG_INFO("User canceled saving");
                return;
            }
            if (extension == u".pptx" && path->right(5) != u".pptx")
                path->append(QStringLiteral(".pptx"));
            else if (extension == u".ppt" && path->right(4) != u".ppt")
                path->append(QStringLiteral(".ppt"));
            LOG_DEBUG("Full file path: {}", *path);
            downloadTemplate(url, *path);
        },
        Qt::QueuedConnection);
    return true;
}

// The bytes go to a temporary file beside the chosen one, which takes its place only once the download
// is complete: a failed download leaves nothing at the chosen path.
void SlideWandViewController::downloadTemplate(const QUrl& url, const QString& path) {
    auto file = std::make_shared<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        ErrorHelper::ShowErrorMessage(QStringLiteral("Error saving file: %1").arg(file->errorString()),
                                      services_.alerts());
        return;
    }
    QNetworkReply* reply = services_.http().get(QNetworkRequest(url));
    QPointer<QWidget> line = progressLine_;
    connect(reply, &QNetworkReply::readyRead, reply, [reply, file] {
        if (file->write(reply->readAll()) < 0)
            reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, line](qint64 received, qint64 total) {
        if (total <= 0 || !line) // no size sent: the line waits for the end
            return;
        line->show();
        line->setGeometry(line->x(), line->y(), int(double(width()) * double(received) / double(total)), 2);
        LOG_INFO("Downloading template: {:f}", double(received) / double(total));
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, file, line] {
        reply->deleteLater();
        if (line)
            line->hide();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool received = reply->error() == QNetworkReply::NoError && status >= 200 && status <= 299;
        if (received)
            file->write(reply->readAll());
        if (!received || !file->commit()) {
            const QString why = !received ? reply->errorString() : file->errorString();
            file->cancelWriting();
            ErrorHelper::ShowErrorMessage(QStringLiteral("Error saving file: %1").arg(why),
                                          services_.alerts());
            return;
        }
        LOG_INFO("Succeed saving file to {}", QUrl::fromLocalFile(file->fileName()).toString());
        services_.alerts().runModal(
            {QStringLiteral("Succeed"), QStringLiteral("Succeed saving template."), {QStringLiteral("OK")}});
    });
}

QLabel* SlideWandViewController::qrCodeImageView() const {
    return ui_->qrCodeImageView;
}

QWidget* SlideWandViewController::connectedInfoView() const {
    return ui_->connectedInfoView;
}

QLabel* SlideWandViewController::phoneNameLabel() const {
    return ui_->phoneNameLabel;
}

QLabel* SlideWandViewController::pptStatusLabel() const {
    return ui_->pptStatusLabel;
}

QLabel* SlideWandViewController::hostNameLabel() const {
    return ui_->hostNameLabel;
}
