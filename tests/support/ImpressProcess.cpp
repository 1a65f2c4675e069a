#include "ImpressProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <csignal>
#include <unistd.h>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
constexpr int kStartLimitMs = 90000;

// LibreOffice keeps its pipes as local sockets named OSL_PIPE_<uid>_<name> in /tmp; the one that
// hands files from a second soffice to the running office is named after the profile.
QString pipePrefix() {
    return QStringLiteral("OSL_PIPE_%1_").arg(::getuid());
}

QStringList officeIpcPipes() {
    return QDir(QStringLiteral("/tmp"))
        .entryList({pipePrefix() + QStringLiteral("SingleOfficeIPC_*")}, QDir::System | QDir::Files);
}

void joinNewProcessGroup(pid_t group) {
    // Runs in the child between fork and exec: only async-signal-safe calls.
    ::setpgid(0, group);
}

} // namespace

std::optional<QString> ImpressProcess::unavailable() {
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        return QStringLiteral("LibreOffice (soffice) is not installed");
    QProcess probe;
    probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import uno")});
    if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return QStringLiteral("/usr/bin/python3 cannot import uno (python3-uno is missing)");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("no X display for LibreOffice Impress");
    return std::nullopt;
}

ImpressProcess::ImpressProcess(const QString& pipe) {
    static std::atomic<int> counter{0};
    pipe_ = !pipe.isEmpty()
                ? pipe
                : QStringLiteral("pctest%1_%2").arg(QCoreApplication::applicationPid()).arg(counter++);
}

ImpressProcess::~ImpressProcess() {
    stop();
}

QStringList ImpressProcess::launchArguments() const {
    return {QStringLiteral("-env:UserInstallation=") +
            QUrl::fromLocalFile(dir_.path() + "/profile").toString()};
}

bool ImpressProcess::start() {
    if (!dir_.isValid()) {
        log_ += "no temporary folder\n";
        return false;
    }
    pipesBefore_ = officeIpcPipes();
    // The office's own temporary files go with the test's folder, also after a kill.
    QDir().mkpath(dir_.path() + "/tmp");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), dir_.path() + "/tmp");
    process_.setProcessEnvironment(environment);
    userOpen_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setChildProcessModifier([] { joinNewProcessGroup(0); });
    process_.start(QStringLiteral("soffice"),
                   launchArguments() + QStringList{
                                           "--impress",
                                           "--norestore",
                                           "--nologo",
                                           "--nodefault",
                                           "--accept=pipe,name=" + pipe_ + ";urp;StarOffice.ComponentContext",
                                       });
    if (!process_.waitForStarted(30000)) {
        log_ += "soffice did not start: " + process_.errorString() + '\n';
        return false;
    }
    group_ = pid_t(process_.processId());
    // Should this process end without stop() (a test killed at its time limit), a watcher in the
    // office's group ends the group, so that no office outlives its test.
    const pid_t group = group_;
    watcher_.setChildProcessModifier([group] { joinNewProcessGroup(group); });
    watcher_.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "while kill -0 \"$1\" 2>/dev/null; do sleep 1; done; rm -f \"$3\"; kill -s KILL -- \"-$2\""),
         QStringLiteral("sh"), QString::number(QCoreApplication::applicationPid()), QString::number(group),
         QStringLiteral("/tmp/") + pipePrefix() + pipe_});
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStartLimitMs && isRunning()) {
        if (fixture({QStringLiteral("ping")}))
            return true;
        QThread::msleep(250);
    }
    log_ += "LibreOffice did not answer on its pipe\n";
    return false;
}

std::optional<QString> ImpressProcess::fixture(const QStringList& arguments, int limitMs) const {
    QProcess tool;
    tool.start(kPython, QStringList{QStringLiteral(PC_IMPRESS_FIXTURE), pipe_} + arguments);
    const bool ended = tool.waitForFinished(limitMs);
    if (!ended) {
        tool.kill();
        tool.waitForFinished(-1);
    }
    const QString out = QString::fromUtf8(tool.readAllStandardOutput());
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    if (!ended || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        // Ping fails until the office listens; its reasons would only fill the log.
        if (arguments.value(0) != u"ping")
            log_ += "fixture " + arguments.join(' ') + ": " +
                    (!ended ? QStringLiteral("no end")
                     : tool.exitStatus() != QProcess::NormalExit
                         ? QStringLiteral("crashed")
                         : QStringLiteral("exit status %1").arg(tool.exitCode())) +
                    ' ' + err.trimmed() + '\n';
        return std::nullopt;
    }
    return out.endsWith(u'\n') ? out.chopped(1) : out;
}

void ImpressProcess::openLikeAUser(const QString& path) {
    const pid_t group = group_;
    userOpen_.setChildProcessModifier([group] { joinNewProcessGroup(group); });
    userOpen_.start(QStringLiteral("soffice"), launchArguments() + QStringList{path});
    userOpen_.waitForStarted(30000);
}

void ImpressProcess::kill() {
    if (group_ > 0)
        ::kill(-group_, SIGKILL);
    process_.waitForFinished(30000);
    userOpen_.waitForFinished(30000);
    watcher_.waitForFinished(30000);
}

void ImpressProcess::stop() {
    if (isRunning()) {
        fixture({QStringLiteral("quit")});
        process_.waitForFinished(5000);
    }
    // Whatever did not end with the office: the splash process, a second soffice, a stuck office.
    kill();
    if (group_ > 0) {
        QFile::remove(QStringLiteral("/tmp/") + pipePrefix() + pipe_);
        for (const QString& name : officeIpcPipes())
            if (!pipesBefore_.contains(name))
                QFile::remove(QStringLiteral("/tmp/") + name);
    }
    group_ = 0;
}

QString ImpressProcess::log() {
    log_ += QString::fromUtf8(process_.readAll());
    return log_;
}
