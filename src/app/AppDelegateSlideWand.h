#pragma once

#include "AppDelegate.h"

// The delegate of the Slide Wand build: logging, the crash log, the network service stopped on quit, and
// the settings window opened from the application menu.
class AppDelegateSlideWand : public AppDelegate {
public:
    explicit AppDelegateSlideWand(Collaborators collaborators);
    ~AppDelegateSlideWand() override;

    // Shows the settings window: the welcome window as a settings page, made on the first call and shown
    // again on later ones.
    void tapPreferences();

    SWDWelcomeWindowController* settingWindowController() const { return settingWindowController_.get(); }

protected:
    int consoleLogLevel() const override;
    QString logFolderName() const override;

private:
    std::unique_ptr<SWDWelcomeWindowController> settingWindowController_;
};
