#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

namespace platform {

struct CommandResult {
    bool started = false;
    int exitCode = -1;
    QString standardOutput;
    QString standardError;
};

// Starts child processes. The one place the program runs other programs, so tests can record instead.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Runs the program to its end (or until the timeout, when it is killed) and collects its output.
    virtual CommandResult run(const QString& program, const QStringList& arguments,
                              std::chrono::milliseconds timeout = std::chrono::seconds(120)) = 0;
    // Starts the program without waiting for it; it may outlive this process.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
};

// Runs each program in a process group of its own, which is killed at the timeout and when the program
// quits (ChildProcesses); detached programs are left alone.
class ProcessCommandRunner : public CommandRunner {
public:
    CommandResult run(const QString& program, const QStringList& arguments,
                      std::chrono::milliseconds timeout) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
};

} // namespace platform
