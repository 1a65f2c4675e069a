#include "AppServices.h"

#include "QtAlerts.h"
#include "SystemService.h"

#include "core/ApplicationRelaunch.h"
#include "core/GlobalQueue.h"
#include "platform/Accessibility.h"
#include "platform/Bundle.h"
#include "platform/Platform.h"
#include "platform/ProcessScriptRunner.h"
#include "platform/Workspace.h"
#include "presentation/PowerPointHelper.h"
#include "remote/AsioDatagramTransport.h"
#include "remote/ComputerControlManager.h"
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include <QNetworkAccessManager>
#include <QStandardPaths>

AppServices::AppServices(std::shared_ptr<const platform::Bundle> bundle)
    : bundle_(std::move(bundle))
    , flavour_(Flavours::fromBundleIdentifier(bundle_->bundleIdentifier()))
    , scripts_(std::make_shared<platform::ProcessScriptRunner>(bundle_->resourcesPath()))
    , commands_(platform::Platform::commandRunner())
    , events_(platform::Platform::eventPoster())
    , host_(platform::Platform::hostFacts())
    , http_(std::make_unique<QNetworkAccessManager>()) {
    platform::Platform::setAlerts(std::make_shared<QtAlerts>());
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
    SWDMacNetworkManager::install([host = host_] {
        return std::make_shared<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            std::make_shared<AsioDatagramTransport>(),
            [](const std::optional<QString>& command, const std::optional<QString>& fromIpAddr) {
                SWDMacCommandManager::SharedManager().executeCommand(command, fromIpAddr);
            },
            []() -> PowerPointHelper& { return PowerPointHelper::SharedHelper(); }, host});
    });
    SWDMacCommandManager::install([events = events_, flavour = flavour_] {
        return std::make_shared<SWDMacCommandManager>(SWDMacCommandManager::Collaborators{
            &SWDMacNetworkManager::SharedManager(),
            []() -> PowerPointHelper& { return PowerPointHelper::SharedHelper(); },
            [] { SWDMacNetworkManager::SharedManager().sendSlideInfoToClient(); }, events,
            &ComputerControlManager::SharedManager(), flavour});
    });
}

AppServices::~AppServices() = default;

AppDelegate::Collaborators AppServices::delegateCollaborators() const {
    AppDelegate::Collaborators c;
    c.documentsFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    c.logFilePrefix = bundle_->bundleIdentifier().value_or(QStringLiteral("PodiumCast"));
    c.stopListening = [] {
        SWDMacNetworkManager::SharedManager().stopListening();
    };
    c.clearPdfOfWebFile = [] {
        PowerPointHelper::SharedHelper().clearPdfOfWebFile();
    };
    c.isProcessTrusted = &platform::Accessibility::isProcessTrusted;
    c.relaunch = [] {
        ApplicationRelaunch::relaunchAfterDelay(0);
    };
    return c;
}

bool AppServices::openFirstWindow(const QString& name) {
    if (name != u"SWDWelcomeWindowController" && name != u"SlideWandWindowController" &&
        name != u"PodiumCastWindowController")
        return false;
    startServices();
    return true;
}

// What the main window starts when it loads: the network service with its sockets, the LAN server and the
// cloud heartbeat, the update check, and the presentation bridge on a background thread.
void AppServices::startServices() {
    SWDMacNetworkManager& network = SWDMacNetworkManager::SharedManager();
    network.startUdp();
    network.startHttpServer();
    network.startSendingApiHeartBeat();
    SystemService::CheckNewVersion(*http_);
    GlobalQueue::async([] { PowerPointHelper::SharedHelper(); });
}
