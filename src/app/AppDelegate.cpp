#include "AppDelegate.h"

#include "AppDelegatePodiumCast.h"
#include "AppDelegateSlideWand.h"
#include "CatchCrash.h"

#include "core/Logger.h"

std::unique_ptr<AppDelegate> AppDelegate::create(const QString& className, Collaborators collaborators) {
    if (className == u"AppDelegateSlideWand")
        return std::make_unique<AppDelegateSlideWand>(std::move(collaborators));
    if (className == u"AppDelegatePodiumCast")
        return std::make_unique<AppDelegatePodiumCast>(std::move(collaborators));
    return nullptr;
}

AppDelegate::AppDelegate(Collaborators collaborators)
    : collaborators_(std::move(collaborators)) {}

AppDelegate::~AppDelegate() = default;

QString AppDelegate::logsDirectory() const {
    return collaborators_.documentsFolder + logFolderName();
}

void AppDelegate::applicationDidFinishLaunching() {
    shouldTerminate = false;
    Logger::addConsoleLogger(consoleLogLevel());
    // The crash log and the log export find the folder as the last logger's: this one stays last.
    Logger::addFileLogger(logsDirectory(), collaborators_.logFilePrefix, LogLevel::Verbose);
    CatchCrash::install();
    didFinishLaunching();
}

void AppDelegate::applicationWillTerminate() {
    willTerminate();
    if (collaborators_.stopListening)
        collaborators_.stopListening();
}
