#include "ProcessScriptRunner.h"

#include "Bundle.h"
#include "WaitedProcess.h"

#include <QByteArray>
#include <QFileInfo>

#include <cstring>
#include <sys/wait.h>

namespace platform {

ProcessScriptRunner::ProcessScriptRunner(QString resourcesPath, std::chrono::milliseconds timeout)
    : resourcesPath_(std::move(resourcesPath))
    , timeout_(timeout) {}

ScriptRunResult ProcessScriptRunner::run(const QString& name) {
    ScriptRunResult outcome;
    if (!Bundle::isPlainResourceName(name))
        return outcome;
    const QString path = resourcesPath_ + u'/' + name + QStringLiteral(".scpt");
    const QFileInfo info(path);
    if (!info.isFile())
        return outcome;
    if (!info.isExecutable()) {
        outcome.loadError = ScriptError{-1, QStringLiteral("%1 is not executable").arg(path)};
        return outcome;
    }

    WaitedProcess::Request request;
    request.program = QFile::encodeName(path);
    // A session of its own: a script that runs too long is ended with everything it started.
    request.ownSession = true;
    request.timeout = timeout_;
    const WaitedProcess::Result run = WaitedProcess::run(request);
    if (run.startError != 0) {
        outcome.loadError = ScriptError{-1, QString::fromLocal8Bit(std::strerror(run.startError))};
        return outcome;
    }
    if (run.timedOut) {
        outcome.runError =
            ScriptError{kTimeoutErrorNumber,
                        QStringLiteral("%1 did not end within %2 ms").arg(name).arg(timeout_.count())};
        return outcome;
    }
    if (run.terminated) { // whatever it printed, it may not have finished
        outcome.runError =
            ScriptError{kCancelledErrorNumber, QStringLiteral("%1 was ended as the program quit").arg(name)};
        return outcome;
    }
    const QString out = QString::fromUtf8(run.standardOutput);
    const QString err = QString::fromUtf8(run.standardError);
    const bool exited = WIFEXITED(run.status);
    if (exited && WEXITSTATUS(run.status) == 0) {
        if (!out.isEmpty())
            outcome.result = ScriptDescriptor(out.endsWith(u'\n') ? out.chopped(1) : out);
        return outcome;
    }
    bool ok = false;
    int number = err.section(u'\n', 0, 0).trimmed().toInt(&ok);
    if (!ok)
        number = exited ? WEXITSTATUS(run.status) : -1;
    outcome.runError = ScriptError{number, err.trimmed()};
    return outcome;
}

} // namespace platform
