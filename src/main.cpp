#include "core/Logger.h"
#include "legacy/QtUdpSocket.h"
#include "legacy/ViewController/ViewController.h"
#include "platform/Bundle.h"
#include "platform/Platform.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const auto bundle = platform::Bundle::main();
    if (const auto name = bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleName")).toString();
        !name.isEmpty())
        QApplication::setApplicationName(name);

    Logger::addConsoleLogger(LogLevel::Verbose);
    if (const auto& error = bundle->infoDictionaryError())
        LOG_ERROR("{}", *error);
    LOG_INFO("Bundle {} ({}) loaded.", bundle->bundlePath(),
             bundle->bundleIdentifier().value_or(QStringLiteral("no identifier")));

    // The bundle names its first window; the legacy LAN window is the one that exists so far.
    std::unique_ptr<ViewController> legacyWindow;
    if (bundle->objectForInfoDictionaryKey(QStringLiteral("FirstWindowController")).toString() ==
        u"ViewController") {
        using platform::Platform;
        legacyWindow = std::make_unique<ViewController>(ViewController::Collaborators{
            Platform::eventPoster(), Platform::hostFacts(), Platform::alerts(), &QtUdpSocket::make});
        legacyWindow->show();
    }
    return QApplication::exec();
}
