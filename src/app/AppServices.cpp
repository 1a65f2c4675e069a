#include "AppServices.h"

#include "AppDelegateSlideWand.h"
#include "DebugViewController/DebugViewController.h"
#include "HintViewController/HintViewController.h"
#include "LogHelper.h"
#include "MainWindowController/PodiumCastWindowController.h"
#include "MainWindowController/SlideWandWindowController.h"
#include "QtAlerts.h"
#include "SWDWelcomeWindowController/SWDWelcomeWindowController.h"
#include "SlideWandViewController/WebEngineTemplateView.h"
#include "SystemService.h"

#include "core/ApplicationRelaunch.h"
#include "core/GlobalQueue.h"
#include "legacy/QtUdpSocket.h"
#include "legacy/ViewController/ViewController.h"
#include "platform/Bundle.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"
#include "platform/ProcessScriptRunner.h"
#include "platform/Workspace.h"
#include "presentation/PowerPointHelper.h"
#include "remote/AsioDatagramTransport.h"
#include "remote/CloudHttpClient.h"
#include "remote/ComputerControlManager.h"
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include <QApplication>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QStandardPaths>

AppServices::AppServices(std::shared_ptr<const platform::Bundle> bundle)
    : bundle_(std::move(bundle))
    , flavour_(Flavours::fromBundleIdentifier(bundle_->bundleIdentifier()))
    , scripts_(std::make_shared<platform::ProcessScriptRunner>(bundle_->resourcesPath()))
    , commands_(platform::Platform::commandRunner())
    , events_(platform::Platform::eventPoster())
    , host_(platform::Platform::hostFacts())
    , alerts_(std::make_shared<QtAlerts>())
    , http_(std::make_unique<QNetworkAccessManager>())
    , cloud_(std::make_shared<CloudHttpClient>()) {
    // A template download that is redirected fails rather than following the redirect.
    http_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    platform::Platform::setAlerts(alerts_);
    platform::Platform::setWorkspace(
        std::make_shared<platform::LinuxWorkspace>(commands_, bundle_->executablePath()));
    installServices();
}

// The factories hold copies of what they use: a service may be made after the root is gone.
void AppServices::installServices() {
    PowerPointHelper::install([scripts = scripts_, commands = commands_, host = host_, flavour = flavour_] {
        return PowerPointHelper::create({scripts, commands, host, flavour});
    });
    ComputerControlManager::install([c = ControlUtil::Collaborators{commands_, scripts_, events_, bundle_}] {
        return std::make_shared<ComputerControlManager>(c);
    });
    SWDMacNetworkManager::install([host = host_, cloud = cloud_] {
        return std::make_shared<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            std::make_shared<AsioDatagramTransport>(),
            [](const std::optional<QString>& command, const std::optional<QString>& fromIpAddr) {
                SWDMacCommandManager::SharedManager().executeCommand(command, fromIpAddr);
            },
            []() -> PowerPointHelper& { return PowerPointHelper::SharedHelper(); }, host, cloud});
    });
    SWDMacCommandManager::install([events = events_, flavour = flavour_] {
        return std::make_shared<SWDMacCommandManager>(SWDMacCommandManager::Collaborators{
            &SWDMacNetworkManager::SharedManager(),
            []() -> PowerPointHelper& { return PowerPointHelper::SharedHelper(); },
            [](bool slideMayMove) {
                SWDMacNetworkManager::SharedManager().sendSlideInfoToClient(slideMayMove);
            },
            events, &ComputerControlManager::SharedManager(), flavour});
    });
}

AppServices::~AppServices() = default;

AppDelegate::Collaborators AppServices::delegateCollaborators() {
    AppDelegate::Collaborators c;
    c.documentsFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    c.logFilePrefix = bundle_->bundleIdentifier().value_or(QStringLiteral("PodiumCast"));
    c.stopListening = [] {
        SWDMacNetworkManager::SharedManager().stopListening();
    };
    c.clearPdfOfWebFile = [] {
        PowerPointHelper::SharedHelper().clearPdfOfWebFile();
    };
    // Trusted when the event poster can post, on this host as on any other.
    c.isProcessTrusted = [events = events_] {
        return events->canPost();
    };
    c.relaunch = [] {
        ApplicationRelaunch::relaunchAfterDelay(0);
    };
    c.instantiateWelcomeWindowController = [this] {
        return std::make_unique<SWDWelcomeWindowController>(*this);
    };
    return c;
}

void AppServices::buildApplicationMenu(AppDelegate& delegate) {
    QString name = bundle_->objectForInfoDictionaryKey(QStringLiteral("CFBundleDisplayName")).toString();
    if (name.isEmpty())
        name = QApplication::applicationName();
    applicationMenu_ = std::make_unique<QMenu>(name);
    QMenu& menu = *applicationMenu_;
    menu.addAction(QStringLiteral("Show Hint…"), [this] { showHint(); });
    menu.addAction(QStringLiteral("Debug Info…"), [this] { showDebugWindow(); });
    // The third item is the one the welcome window hides and the main window shows again.
    if (auto* slideWand = dynamic_cast<AppDelegateSlideWand*>(&delegate)) {
        menu.addAction(QStringLiteral("Preferences…"), [slideWand] { slideWand->tapPreferences(); })
            ->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    }
    menu.addSeparator();
    // The main window refuses to close, so quitting ends the loop without asking the windows.
    menu.addAction(QStringLiteral("Quit ") + name, [] { QCoreApplication::exit(0); })
        ->setShortcut(QKeySequence::Quit);
}

bool AppServices::openFirstWindow(const QString& name) {
    // The legacy LAN window stands on its own: it starts none of the services.
    if (name == u"ViewController") {
        legacyWindow_ = std::make_unique<ViewController>(
            ViewController::Collaborators{events_, host_, alerts_, &QtUdpSocket::make});
        legacyWindow_->show();
        return true;
    }
    if (name == u"SWDWelcomeWindowController") {
        welcomeWindow_ = std::make_unique<SWDWelcomeWindowController>(*this);
        welcomeWindow_->show();
        return true;
    }
    return instantiateWindow(name);
}

QWidget* AppServices::instantiateWindow(const QString& identifier) {
    std::unique_ptr<QWidget> window;
    if (identifier == u"SlideWandWindowController")
        window = std::make_unique<SlideWandWindowController>(*this);
    else if (identifier == u"PodiumCastWindowController")
        window = std::make_unique<PodiumCastWindowController>(*this);
    if (!window)
        return nullptr;
    window->show();
    windows_.push_back(std::move(window));
    return windows_.back().get();
}

namespace {

// Each opening makes a new window, so it starts from its interface file's texts.
template <typename Window> void showAgainOrNew(std::unique_ptr<Window>& window) {
    if (!window || !window->isVisible())
        window = std::make_unique<Window>();
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void AppServices::showHint() {
    showAgainOrNew(hint_);
}

void AppServices::showDebugWindow() {
    showAgainOrNew(debug_);
}

platform::Alerts& AppServices::alerts() {
    return *alerts_;
}

QString AppServices::hostName() {
    return host_->hostName();
}

TemplateWebView* AppServices::createTemplateWebView(QWidget* parent) {
    return new WebEngineTemplateView(parent);
}

std::optional<QString> AppServices::machineInfoQrCodeMessage() {
    return SWDMacNetworkManager::SharedManager().machineInfoQrCodeMessage();
}

void AppServices::startUdp() {
    SWDMacNetworkManager::SharedManager().startUdp();
}

void AppServices::startHttpServer() {
    SWDMacNetworkManager::SharedManager().startHttpServer();
}

void AppServices::startSendingApiHeartBeat() {
    SWDMacNetworkManager::SharedManager().startSendingApiHeartBeat();
}

void AppServices::disconnect() {
    SWDMacNetworkManager::SharedManager().disconnect();
}

void AppServices::checkNewVersion() {
    SystemService::CheckNewVersion(*cloud_);
}

void AppServices::startPresentationBridge() {
    GlobalQueue::async([] { PowerPointHelper::SharedHelper(); });
}

void AppServices::exportLogFiles() {
    LogHelper::ExportLogFiles();
}
