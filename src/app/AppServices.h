#pragma once

#include "AppDelegate.h"
#include "MainWindowServices.h"

#include "core/Flavour.h"

#include <QString>

#include <memory>

class QNetworkAccessManager;
class ViewController;

namespace platform {
class Bundle;
class CommandRunner;
class EventPoster;
class HostFacts;
class ScriptRunner;
} // namespace platform

// The application's composition root: made once at launch on the main thread, it builds the platform's
// implementations and installs the services (each made on first use, from what the root built) where
// their class accessors find them, and hands the delegate and each window what they need.
class AppServices : public MainWindowServices {
public:
    explicit AppServices(std::shared_ptr<const platform::Bundle> bundle);
    ~AppServices() override;
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    Flavour flavour() const { return flavour_; }

    AppDelegate::Collaborators delegateCollaborators() const;
    // Opens the window the bundle names as its first; false for a name no window has.
    bool openFirstWindow(const QString& name);
    // Makes and shows the window of the identifier ("SlideWandWindowController",
    // "PodiumCastWindowController"); nothing for any other identifier.
    QWidget* instantiateWindow(const QString& identifier);

    // What the main window reaches.
    const platform::Bundle& bundle() override { return *bundle_; }
    platform::Alerts& alerts() override;
    QNetworkAccessManager& http() override { return *http_; }
    QString hostName() override;
    QMenu* applicationMenu() override { return applicationMenu_; }
    TemplateWebView* createTemplateWebView(QWidget* parent) override;
    std::optional<QString> machineInfoQrCodeMessage() override;
    void startUdp() override;
    void startHttpServer() override;
    void startSendingApiHeartBeat() override;
    void disconnect() override;
    void checkNewVersion() override;
    void startPresentationBridge() override;
    void exportLogFiles() override;

private:
    void installServices();

    std::shared_ptr<const platform::Bundle> bundle_;
    Flavour flavour_;
    std::shared_ptr<platform::ScriptRunner> scripts_;
    std::shared_ptr<platform::CommandRunner> commands_;
    std::shared_ptr<platform::EventPoster> events_;
    std::shared_ptr<platform::HostFacts> host_;
    std::shared_ptr<platform::Alerts> alerts_;
    std::unique_ptr<QNetworkAccessManager> http_;
    QMenu* applicationMenu_ = nullptr;
    std::vector<std::unique_ptr<QWidget>> windows_;
    std::unique_ptr<ViewController> legacyWindow_;
};
