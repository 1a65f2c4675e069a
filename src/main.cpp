#include "core/Logger.h"
#include "platform/Bundle.h"

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
    LOG_INFO("Bundle {} ({}) loaded; no window yet.", bundle->bundlePath(),
             bundle->bundleIdentifier().value_or(QStringLiteral("no identifier")));
    return QApplication::exec();
}
