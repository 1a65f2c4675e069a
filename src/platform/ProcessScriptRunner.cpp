#include "ProcessScriptRunner.h"

#include "Bundle.h"

#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <unistd.h>

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

    QProcess process;
    // In a session (and process group) of its own, so that a script that runs too long is ended with
    // everything it started. setsid execs the script in place: the process is the script.
    process.setProgram(QStringLiteral("/usr/bin/setsid"));
    process.setArguments({QStringLiteral("--wait"), path});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(int(timeout_.count()))) {
        outcome.loadError = ScriptError{-1, process.errorString()};
        return outcome;
    }
    if (!process.waitForFinished(int(timeout_.count()))) {
        if (const qint64 pid = process.processId(); pid > 0)
            ::kill(-pid_t(pid), SIGKILL);
        process.kill();
        process.waitForFinished(-1);
        outcome.runError =
            ScriptError{kTimeoutErrorNumber,
                        QStringLiteral("%1 did not end within %2 ms").arg(name).arg(timeout_.count())};
        return outcome;
    }

    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) {
        if (!out.isEmpty())
            outcome.result = ScriptDescriptor(out.endsWith(u'\n') ? out.chopped(1) : out);
        return outcome;
    }
    bool ok = false;
    int number = err.section(u'\n', 0, 0).trimmed().toInt(&ok);
    if (!ok)
        number = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.runError = ScriptError{number, err.trimmed()};
    return outcome;
}

} // namespace platform
