#include "AppDelegateSlideWand.h"

#include "core/Logger.h"

AppDelegateSlideWand::AppDelegateSlideWand(Collaborators collaborators)
    : AppDelegate(std::move(collaborators)) {}

int AppDelegateSlideWand::consoleLogLevel() const {
    return LogLevel::Debug;
}

QString AppDelegateSlideWand::logFolderName() const {
    return QStringLiteral("/slidewandlogfiles");
}
