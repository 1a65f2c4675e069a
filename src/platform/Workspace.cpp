#include "Workspace.h"

#include "CommandRunner.h"

#include <QDesktopServices>

namespace platform {

LinuxWorkspace::LinuxWorkspace(std::shared_ptr<CommandRunner> runner, QString executablePath)
    : runner_(std::move(runner))
    , executablePath_(std::move(executablePath)) {}

bool LinuxWorkspace::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QString LinuxWorkspace::relaunchCommand(float seconds, const QString& executablePath) {
    // Inside double quotes the shell still expands $, ` and \, and a " would end the quote:
    // escape those so that any path names the file it names.
    QString quoted;
    for (const QChar c : executablePath) {
        if (c == u'\\' || c == u'"' || c == u'$' || c == u'`')
            quoted += u'\\';
        quoted += c;
    }
    return QString::asprintf("sleep %f; exec \"", double(seconds)) + quoted + u'"';
}

bool LinuxWorkspace::relaunchAfterDelay(float seconds) {
    const QString command = relaunchCommand(seconds, executablePath_);
    return runner_->startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
}

} // namespace platform
