// A second process on the user defaults, for the tests that need one: runs the operations given as
// arguments in order and prints one line for each. "machine-id"; "read:KEY" (the value's text, or
// "(none)"); "write:KEY=VALUE" with a JSON value ("saved" or "not saved"); "machine-id-files:A,B" (the
// host's machine id is read from these files from then on: "host"); "wait-for:FILE" (waits 20 s at most
// for the file to exist: "found" or "not found"). Log lines go to standard error.
#include "core/LocalUtils.h"
#include "core/Logger.h"
#include "core/UserDefaults.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QTimer>

int main(int argc, char** argv) {
    const QCoreApplication app(argc, argv);
    Logger::addConsoleLogger(LogLevel::Info);
    QTextStream out(stdout);
    for (const QString& operation : QCoreApplication::arguments().mid(1)) {
        const QString argument = operation.section(u':', 1);
        if (operation == u"machine-id") {
            out << LocalUtils::GetMachineIndex() << '\n';
        } else if (operation.startsWith(u"read:")) {
            const auto value = UserDefaults::read(argument);
            out << (value ? value->toString() : QStringLiteral("(none)")) << '\n';
        } else if (operation.startsWith(u"write:")) {
            const QJsonArray parsed =
                QJsonDocument::fromJson('[' + argument.section(u'=', 1).toUtf8() + ']').array();
            const QVariant value = parsed.isEmpty() ? QVariant() : parsed.first().toVariant();
            out << (UserDefaults::write(argument.section(u'=', 0, 0), value) ? "saved" : "not saved") << '\n';
        } else if (operation.startsWith(u"machine-id-files:")) {
            platform::Platform::setHostFacts(std::make_shared<platform::LinuxHostFacts>(
                QStringLiteral("/usr/share/applications"), argument.split(u',', Qt::SkipEmptyParts)));
            out << "host\n";
        } else if (operation.startsWith(u"wait-for:")) {
            QFileSystemWatcher watcher({QFileInfo(argument).absolutePath()});
            QEventLoop loop;
            QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
                if (QFileInfo::exists(argument))
                    loop.quit();
            });
            QTimer::singleShot(20000, &loop, &QEventLoop::quit);
            if (!QFileInfo::exists(argument))
                loop.exec();
            out << (QFileInfo::exists(argument) ? "found" : "not found") << '\n';
        } else {
            out << "unknown operation " << operation << '\n';
            return 2;
        }
        out.flush();
    }
    return 0;
}
