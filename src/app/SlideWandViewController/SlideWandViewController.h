#pragma once

#include "core/NotificationCenter.h"

#include <QPointer>
#include <QRect>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>

class ButtonImageView;
class MainWindowServices;
class NetworkStatusView;
class QLabel;
class QNetworkReply;
class QSystemTrayIcon;
class TemplateWebView;

namespace Ui {
class SlideWandViewController;
}

// The main window's content: loading it starts the remote-control service; afterwards it shows which
// presentation program is open, whether a phone is paired (the QR code or the phone's name), the template
// browser in its expanded layout, the help and the log export.
class SlideWandViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFoldedWidth = 410;
    static constexpr int kExpandedWidth = 797;

    explicit SlideWandViewController(MainWindowServices& services, QWidget* parent = nullptr);
    ~SlideWandViewController() override;

    // The start-up sequence; the window controller calls it once, right after making the controller.
    void viewDidLoad();
    // The window appeared: the application menu's third item shows again.
    void viewDidAppear();

    void tapHelpButton();
    void modifyPptStatusLabelWithStatus(qint64 status);
    void updatePptStatusLabel(int status);
    void modifyConnectionStatusWithDeviceName(const std::optional<QString>& deviceName);
    void updateConnectionStatus(const std::optional<QString>& deviceName);
    void disconnect();
    void onStatusItemClicked();
    void tapLogButton();
    void tapFoldButton();
    void tapExpandButton();

    // The template browser.
    void tapBackButton();
    void tapRefreshButton();
    void webViewDidFinishNavigation(bool ok);
    // Whether a page or frame of this address may be shown: only the template site's.
    bool decidePolicyForNavigationResponse(const QUrl& url) const;
    // Every navigation goes ahead; a link to a template file is also saved where the user chooses.
    bool decidePolicyForNavigationAction(const QUrl& url);

    // The template site from the bundle's Info.plist: its root address and its host name.
    QUrl templateSiteRoot() const;
    QString templateSiteHost() const;

    // The parts the start-up sequence makes, for the window controllers and tests.
    QLabel* qrCodeImageView() const;
    QWidget* connectedInfoView() const;
    QLabel* phoneNameLabel() const;
    QLabel* pptStatusLabel() const;
    QLabel* hostNameLabel() const;
    TemplateWebView* webView() const { return webView_; }
    ButtonImageView* expandButtonImageView() const { return expandButtonImageView_; }
    NetworkStatusView* networkStatusView() const { return networkStatusView_; }
    QWidget* progressLine() const { return progressLine_; }
    QLabel* loadingTextField() const { return loadingTextField_; }
    QWidget* loadingPageIndicator() const { return loadingPageIndicator_; }
    QSystemTrayIcon* statusItem() const { return statusItem_; }
    Ui::SlideWandViewController& ui() const { return *ui_; }

private:
    void createTemplateBrowser();
    void createProgressLine();
    void downloadTemplate(const QUrl& url, const QString& path);
    void setWindowWidth(int width);
    QPixmap image(const QString& name) const;

    MainWindowServices& services_;
    std::unique_ptr<Ui::SlideWandViewController> ui_;
    QSystemTrayIcon* statusItem_ = nullptr;
    TemplateWebView* webView_ = nullptr;
    QWidget* webViewShadow_ = nullptr;
    ButtonImageView* expandButtonImageView_ = nullptr;
    NetworkStatusView* networkStatusView_ = nullptr;
    QWidget* progressLine_ = nullptr;
    QWidget* loadingPageIndicator_ = nullptr;
    QLabel* loadingTextField_ = nullptr;
    QRect loadingTextFrame_;
    bool loadingShown_ = true;
    std::vector<NotificationCenter::Token> observers_;
};
