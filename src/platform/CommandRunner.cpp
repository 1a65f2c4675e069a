#include "CommandRunner.h"

#include <QProcess>

namespace platform {

CommandResult ProcessCommandRunner::run(const QString& program, const QStringList& arguments,
                                        std::chrono::milliseconds timeout) {
    CommandResult result;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(int(timeout.count())))
        return result;
    result.started = true;
    if (!process.waitForFinished(int(timeout.count()))) {
        process.kill();
        process.waitForFinished(-1);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    result.standardError = QString::fromUtf8(process.readAllStandardError());
    return result;
}

bool ProcessCommandRunner::startDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

} // namespace platform
