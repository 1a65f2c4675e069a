#pragma once

#include "AppDelegate.h"
#include "MainWindowServices.h"
#include "WelcomeWindowServices.h"

#include "core/Flavour.h"

#include <QString>

#include <memory>

class CloudHttpClient;
class DebugViewController;
class HintViewController;
class QNetworkAccessManager;
class SWDWelcomeWindowController;
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
// their class accessors find them, builds the application menu, and hands the delegate and each window
// what they need.
class AppServices : public MainWindowServices, public WelcomeWindowServices {
public:
    explicit AppServices(std::shared_ptr<const platform::Bundle> bundle);
    ~AppServices() override;
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    Flavour flavour() const { return flavour_; }

    AppDelegate::Collaborators delegateCollaborators();
    // The application menu, named after the application: "Show Hint…", "Debug Info…", then at index 2
    // "Preferences…" under the Slide Wand delegate and a separator under any other, then "Quit".
    void buildApplicationMenu(AppDelegate& delegate);
    // Opens the window the bundle names as its first; false for a name no window has.
    bool openFirstWindow(const QString& name);
    // Makes and shows the window of the identifier ("SlideWandWindowController",
    // "PodiumCastWindowController"); nothing for any other identifier.
    QWidget* instantiateWindow(const QString& identifier) override;
    // A new hint or debug window, unless one is open already; shown in front.
    void showHint();
    void showDebugWindow() override;

    // What the main window reaches.
    const platform::Bundle& bundle() override { return *bundle_; }
    platform::Alerts& alerts() override;
    QNetworkAccessManager& http() override { return *http_; }
    QString hostName() override;
    QMenu* applicationMenu() override { return applicationMenu_.get(); }
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
    std::unique_ptr<QNetworkAccessManager> http_; // the template downloads
    std::shared_ptr<CloudHttpClient> cloud_;      // the cloud channel and the update check
    std::unique_ptr<QMenu> applicationMenu_;
    std::unique_ptr<SWDWelcomeWindowController> welcomeWindow_;
    std::vector<std::unique_ptr<QWidget>> windows_;
    std::unique_ptr<HintViewController> hint_;
    std::unique_ptr<DebugViewController> debug_;
    std::unique_ptr<ViewController> legacyWindow_;
};
