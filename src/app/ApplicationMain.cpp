#include "ApplicationMain.h"

#include "AppDelegate.h"
#include "AppServices.h"

#include "core/Logger.h"
#include "platform/Bundle.h"
#include "platform/ChildProcesses.h"
#include "platform/HostFacts.h"
#include "platform/TerminationSignals.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// What the children the program waits for (scripts, an export, commands) get to end after SIGTERM before
// they are killed; the program is to be gone within 2 s of the SIGTERM it got itself.
constexpr std::chrono::milliseconds kChildrenGrace(500);

} // namespace

int ApplicationMain(int argc, char* argv[]) {
    // The template browser's web engine shares its drawing contexts; as the super-user, its sandbox
    // cannot start and is switched off.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (platform::runsAsSuperUser())
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    const auto bundle = platform::Bundle::main();
    if (const QString name = bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleName")).toString();
        !name.isEmpty())
        QApplication::setApplicationName(name);

    AppServices services(bundle);
    const QString delegateName =
        bundle->objectForInfoDictionaryKey(QStringLiteral("AppDelegateClass")).toString();
    const std::unique_ptr<AppDelegate> delegate =
        AppDelegate::create(delegateName, services.delegateCollaborators());
    if (!delegate) {
        std::fprintf(
            stderr, "%s: the Info.plist of %s names no application delegate of this program (\"%s\")%s\n",
            argv[0], qUtf8Printable(bundle->bundlePath()), qUtf8Printable(delegateName),
            bundle->infoDictionaryError() ? qUtf8Printable(": " + *bundle->infoDictionaryError()) : "");
        return 1;
    }
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app,
                     [&delegate] { delegate->applicationWillTerminate(); });
    // SIGTERM and SIGINT end the loop whatever the windows say: quit() would ask them first, and the
    // main window refuses to close.
    platform::TerminationSignals::install([] { QCoreApplication::exit(0); });
    delegate->applicationDidFinishLaunching();
    services.buildApplicationMenu(*delegate);

    const QString window =
        bundle->objectForInfoDictionaryKey(QStringLiteral("FirstWindowController")).toString();
    if (!services.openFirstWindow(window)) {
        LOG_ERROR("The Info.plist names no window of this program as the first one (\"{}\").", window);
        platform::ChildProcesses::shared().terminateAll(kChildrenGrace);
        return 1;
    }
    const int status = QApplication::exec();
    // The delegate has stopped the services (on aboutToQuit), and the main thread takes no more work. Work
    // still under way on other threads (the presentation poll, a push, an export) may hold the objects a
    // teardown would destroy: the process ends here instead, as the system ends any process. The children
    // it waits for end first, with what they started in their groups; a script the presentation poll
    // starts from now on does not start at all. Children started detached (a browser) live on.
    platform::ChildProcesses::shared().terminateAll(kChildrenGrace);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
