#pragma once

#include <QString>
#include <QUrl>

#include <memory>

namespace platform {

class CommandRunner;

class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens the address in the user's default browser.
    virtual bool openUrl(const QUrl& url) = 0;
    // Starts a shell that waits the delay and then starts the application again; it outlives this
    // process. Ending this process is the caller's part.
    virtual bool relaunchAfterDelay(float seconds) = 0;
};

class LinuxWorkspace : public Workspace {
public:
    // executablePath: the program a relaunch starts.
    LinuxWorkspace(std::shared_ptr<CommandRunner> runner, QString executablePath);

    bool openUrl(const QUrl& url) override;
    bool relaunchAfterDelay(float seconds) override;

    // "sleep <seconds with six decimals>; exec \"<executable>\"", the path quoted for the shell.
    static QString relaunchCommand(float seconds, const QString& executablePath);

private:
    std::shared_ptr<CommandRunner> runner_;
    QString executablePath_;
};

} // namespace platform
