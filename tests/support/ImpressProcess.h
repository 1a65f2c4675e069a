#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>
#include <sys/types.h>

// LibreOffice Impress of a test's own, on the test's X display: a fresh profile, a UNO pipe of its
// own name for the bundle's scripts, and a process group of its own, so that whatever the office
// starts ends with it. impress_fixture.py drives it over the same pipe.
class ImpressProcess {
public:
    // Why Impress cannot run here (no soffice, no python3-uno, no X display), or nothing.
    static std::optional<QString> unavailable();

    // pipe: the UNO pipe to accept on, one of its own when empty (an office started again takes the
    // pipe of the one before).
    explicit ImpressProcess(const QString& pipe = {});
    // Asks the office to end, kills what is left of its process group and removes its pipe files.
    ~ImpressProcess();
    ImpressProcess(const ImpressProcess&) = delete;
    ImpressProcess& operator=(const ImpressProcess&) = delete;

    // Starts the office and waits, within a bound, until it answers on its pipe.
    bool start();
    // The pipe name the scripts are to use (PODIUMCAST_IMPRESS_PIPE).
    const QString& pipeName() const { return pipe_; }
    // Runs impress_fixture.py with a command on this office's pipe: its standard output less the
    // trailing line end, or nothing when the command failed or did not end within limitMs (the reason is
    // in log()).
    std::optional<QString> fixture(const QStringList& arguments, int limitMs = 60000) const;
    // Opens a file the way a user does, a second soffice handing it to the running office; that
    // process waits while the office asks the user anything, and ends with the office.
    void openLikeAUser(const QString& path);
    // Ends the office at once, as a crash would.
    void kill();
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    // The office's process group, 0 before it starts.
    pid_t processGroup() const { return group_; }
    // What went wrong, and what the office printed.
    QString log();

private:
    QStringList launchArguments() const;
    void stop();

    QTemporaryDir dir_;
    QString pipe_;
    QProcess process_;
    QProcess userOpen_;
    QProcess watcher_;
    pid_t group_ = 0;
    QStringList pipesBefore_;
    mutable QString log_;
};
