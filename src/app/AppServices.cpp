#include "AppServices.h"

#include "QtAlerts.h"
#include "SystemService.h"

#include "core/ApplicationRelaunch.h"
#include "core/GlobalQueue.h"
#include "platform/Accessibility.h"
#include "platform/Bundle.h"
#include "platform/Platform.h"
#include "presentation/PowerPointHelper.h"
#include "remote/SWDMacNetworkManager.h"

#include <QNetworkAccessManager>
#include <QStandardPaths>

AppServices::AppServices(std::shared_ptr<const platform::Bundle> bundle)
    : bundle_(std::move(bundle))
    , flavour_(Flavours::fromBundleIdentifier(bundle_->bundleIdentifier()))
    , http_(std::make_unique<QNetworkAccessManager>()) {
    platform::Platform::setAlerts(std::make_shared<QtAlerts>());
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
