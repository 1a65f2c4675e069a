#pragma once

#include <QString>

#include <optional>

class QMenu;
class QNetworkAccessManager;
class QWidget;
class TemplateWebView;

namespace platform {
class Alerts;
class Bundle;
} // namespace platform

// What the main window reaches: the network service it starts, the update check, the presentation bridge,
// the log export, the bundle's pictures and settings, and the platform's alerts. The application's
// composition root gives the real ones; tests give recording ones.
class MainWindowServices {
public:
    virtual ~MainWindowServices() = default;

    virtual const platform::Bundle& bundle() = 0;
    virtual platform::Alerts& alerts() = 0;
    // The HTTP client of the template downloads, on the main thread.
    virtual QNetworkAccessManager& http() = 0;
    // The computer's name as the user knows it.
    virtual QString hostName() = 0;
    // The application menu, whose third item the main window shows; nothing where there is none.
    virtual QMenu* applicationMenu() = 0;
    // A web view for the template site, a child of parent.
    virtual TemplateWebView* createTemplateWebView(QWidget* parent) = 0;

    // The network service, made on first use: its machine-information message, and its start.
    virtual std::optional<QString> machineInfoQrCodeMessage() = 0;
    virtual void startUdp() = 0;
    virtual void startHttpServer() = 0;
    virtual void startSendingApiHeartBeat() = 0;
    // Drops the paired phone.
    virtual void disconnect() = 0;
    virtual void checkNewVersion() = 0;
    // Makes the presentation bridge, which starts its poll, without waiting for it.
    virtual void startPresentationBridge() = 0;
    virtual void exportLogFiles() = 0;
    // Opens the debug window, for testers.
    virtual void showDebugWindow() = 0;
};
