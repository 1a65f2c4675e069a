#pragma once

#include "AppDelegate.h"

#include "core/NotificationCenter.h"

#include <memory>

class AccessibilityPermissionWindowController;
class AccessibilityWatch;

// The delegate of the PodiumCast and Steerlynx builds: besides logging and the crash log, it watches for
// the whole life of the process whether the program may drive the keyboard and the pointer, and on quit
// deletes the cached PDFs of web documents before the network service stops.
class AppDelegatePodiumCast : public AppDelegate {
public:
    explicit AppDelegatePodiumCast(Collaborators collaborators);
    ~AppDelegatePodiumCast() override;

    void registerObservers();
    // Starts the watch on a thread of its own and returns at once.
    void checkAccessbilityPermission();
    // Opens the permission dialog, on the main thread.
    void handleAccessibilityFailed();

    AccessibilityPermissionWindowController* accessibilityWC() const { return accessibilityWC_.get(); }

protected:
    int consoleLogLevel() const override;
    QString logFolderName() const override;
    void didFinishLaunching() override;
    void willTerminate() override;

private:
    std::unique_ptr<AccessibilityPermissionWindowController> accessibilityWC_;
    std::shared_ptr<AccessibilityWatch> watch_;
    NotificationCenter::Token observer_ = 0;
};
