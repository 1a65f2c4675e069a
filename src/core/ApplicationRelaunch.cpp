#include "ApplicationRelaunch.h"

#include "Logger.h"
#include "ThreadHelper.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

#include <QCoreApplication>

void ApplicationRelaunch::relaunchAfterDelay(float seconds) {
    if (!platform::Platform::workspace()->relaunchAfterDelay(seconds))
        LOG_ERROR("The relaunch shell could not be started.");
    ThreadHelper::RunOnMainThread([] { QCoreApplication::exit(0); });
}
