#include "CommandRunner.h"

#include "WaitedProcess.h"

#include <QFile>
#include <QProcess>

#include <sys/wait.h>

namespace platform {

CommandResult ProcessCommandRunner::run(const QString& program, const QStringList& arguments,
                                        std::chrono::milliseconds timeout) {
    WaitedProcess::Request request;
    request.program = QFile::encodeName(program);
    for (const QString& argument : arguments)
        request.arguments.append(QFile::encodeName(argument));
    // A name without a slash is looked up on PATH, as a shell would.
    request.searchPath = true;
    request.timeout = timeout;
    const WaitedProcess::Result run = WaitedProcess::run(request);

    CommandResult result;
    if (run.startError != 0)
        return result;
    result.started = true;
    const bool exited = !run.timedOut && !run.terminated && WIFEXITED(run.status);
    result.exitCode = exited ? WEXITSTATUS(run.status) : -1;
    result.standardOutput = QString::fromUtf8(run.standardOutput);
    result.standardError = QString::fromUtf8(run.standardError);
    return result;
}

bool ProcessCommandRunner::startDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

} // namespace platform
