#include "AppDelegateSlideWand.h"

#include "SWDWelcomeWindowController/SWDWelcomeViewController.h"
#include "SWDWelcomeWindowController/SWDWelcomeWindowController.h"

#include "core/Logger.h"

AppDelegateSlideWand::AppDelegateSlideWand(Collaborators collaborators)
    : AppDelegate(std::move(collaborators)) {}

AppDelegateSlideWand::~AppDelegateSlideWand() = default;

int AppDelegateSlideWand::consoleLogLevel() const {
    return LogLevel::Debug;
}

QString AppDelegateSlideWand::logFolderName() const {
    return QStringLiteral("/slidewandlogfiles");
}

void AppDelegateSlideWand::tapPreferences() {
    if (!settingWindowController_) {
        if (!collaborators_.instantiateWelcomeWindowController)
            return;
        settingWindowController_ = collaborators_.instantiateWelcomeWindowController();
        settingWindowController_->setIsSettingPage(true);
        settingWindowController_->contentViewController()->setIsSettingPage(true);
    }
    settingWindowController_->show();
    settingWindowController_->raise();
    settingWindowController_->activateWindow();
}
