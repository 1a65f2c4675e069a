#include "AppDelegatePodiumCast.h"

#include "AccessibilityPermissionWindowController/AccessibilityPermissionWindowController.h"
#include "AccessibilityWatch.h"

#include "core/GlobalQueue.h"
#include "core/Logger.h"
#include "core/Notifications.h"
#include "core/ThreadHelper.h"

#include <QApplication>

AppDelegatePodiumCast::AppDelegatePodiumCast(Collaborators collaborators)
    : AppDelegate(std::move(collaborators)) {}

AppDelegatePodiumCast::~AppDelegatePodiumCast() {
    if (observer_)
        NotificationCenter::defaultCenter().removeObserver(observer_);
    if (watch_)
        watch_->stop();
}

int AppDelegatePodiumCast::consoleLogLevel() const {
    return LogLevel::Verbose;
}

QString AppDelegatePodiumCast::logFolderName() const {
    return QStringLiteral("/podiumcastlogfiles");
}

void AppDelegatePodiumCast::didFinishLaunching() {
    registerObservers();
    checkAccessbilityPermission();
}

void AppDelegatePodiumCast::willTerminate() {
    if (watch_)
        watch_->stop();
    if (collaborators_.clearPdfOfWebFile)
        collaborators_.clearPdfOfWebFile();
}

void AppDelegatePodiumCast::registerObservers() {
    observer_ =
        observe(Notifications::kAccessibilityFailed, [this](const Signal&) { handleAccessibilityFailed(); });
}

void AppDelegatePodiumCast::checkAccessbilityPermission() {
    watch_ = std::make_shared<AccessibilityWatch>(
        AccessibilityWatch::Collaborators{collaborators_.isProcessTrusted, collaborators_.relaunch, {}});
    GlobalQueue::detach([watch = watch_] { watch->run(); });
}

void AppDelegatePodiumCast::handleAccessibilityFailed() {
    ThreadHelper::RunOnMainThread([this] {
        accessibilityWC_ = std::make_unique<AccessibilityPermissionWindowController>();
        accessibilityWC_->show();
        accessibilityWC_->raise();
        accessibilityWC_->activateWindow();
    });
}
