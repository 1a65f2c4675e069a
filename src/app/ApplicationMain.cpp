#include "ApplicationMain.h"

#include "AppDelegate.h"
#include "AppServices.h"

#include "core/Logger.h"
#include "platform/Bundle.h"
#include "platform/TerminationSignals.h"

#include <QApplication>

#include <cstdio>

int ApplicationMain(int argc, char* argv[]) {
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
    platform::TerminationSignals::install([] { QCoreApplication::quit(); });
    delegate->applicationDidFinishLaunching();

    const QString window =
        bundle->objectForInfoDictionaryKey(QStringLiteral("FirstWindowController")).toString();
    if (!services.openFirstWindow(window)) {
        LOG_ERROR("The Info.plist names no window of this program as the first one (\"{}\").", window);
        return 1;
    }
    return QApplication::exec();
}
