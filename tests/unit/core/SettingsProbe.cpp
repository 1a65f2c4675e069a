// A second process on the user defaults, for the tests that need one: runs the operations given as
// arguments in order and prints one line for each. "machine-id"; "read:KEY" (the value's text, or
// "(none)"); "write:KEY=VALUE" with a JSON value ("saved" or "not saved"). Log lines go to standard error.
#include "core/LocalUtils.h"
#include "core/Logger.h"
#include "core/UserDefaults.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

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
        } else {
            out << "unknown operation " << operation << '\n';
            return 2;
        }
        out.flush();
    }
    return 0;
}
