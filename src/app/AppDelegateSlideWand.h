#pragma once

#include "AppDelegate.h"

// The delegate of the Slide Wand build: logging, the crash log, and the network service stopped on quit.
class AppDelegateSlideWand : public AppDelegate {
public:
    explicit AppDelegateSlideWand(Collaborators collaborators);

protected:
    int consoleLogLevel() const override;
    QString logFolderName() const override;
};
