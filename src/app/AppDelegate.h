#pragma once

#include <QString>

#include <functional>
#include <memory>

class SWDWelcomeWindowController;

// What the two application delegates share: the start-up that sets up logging and the crash log, and the
// shutdown that stops the network service. The bundle's Info.plist names the delegate a build runs.
class AppDelegate {
public:
    struct Collaborators {
        // The user's Documents folder, where the log folder goes.
        QString documentsFolder;
        // The name the log files start with.
        QString logFilePrefix;
        // The network service: closes the UDP sockets and stops the LAN web server.
        std::function<void()> stopListening;
        // The presentation bridge: deletes the cached PDFs of web documents.
        std::function<void()> clearPdfOfWebFile;
        // Accessibility: whether the process may post input, and the relaunch when that is lost.
        std::function<bool()> isProcessTrusted;
        std::function<void()> relaunch;
        // A new welcome window controller, for the settings window.
        std::function<std::unique_ptr<SWDWelcomeWindowController>()> instantiateWelcomeWindowController = {};
    };

    // The delegate the name stands for ("AppDelegateSlideWand" or "AppDelegatePodiumCast"); nothing for
    // any other name.
    static std::unique_ptr<AppDelegate> create(const QString& className, Collaborators collaborators);

    virtual ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Console logger, log folder, rolling file logger (added last), crash handler; then the delegate's own.
    void applicationDidFinishLaunching();
    // The delegate's own shutdown, then the network service stops listening.
    void applicationWillTerminate();

    // The log folder inside the Documents folder.
    QString logsDirectory() const;

    bool shouldTerminate = true;
    bool launchOnLogin = false;

protected:
    explicit AppDelegate(Collaborators collaborators);
    virtual int consoleLogLevel() const = 0;
    virtual QString logFolderName() const = 0;
    virtual void didFinishLaunching() {}
    virtual void willTerminate() {}

    Collaborators collaborators_;
};
