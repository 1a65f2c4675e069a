#pragma once

#include "ControlUtil.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// Runs the computer-control strings of the "ccmd" command: items joined by ",", the first an action
// name of ControlUtil (each ":" of the name counting one argument), the rest its arguments.
class ComputerControlManager {
public:
    explicit ComputerControlManager(ControlUtil::Collaborators collaborators);
    // The process-wide instance the application installed, made on first use from any thread.
    static ComputerControlManager& SharedManager();
    static void install(std::function<std::shared_ptr<ComputerControlManager>()> factory);

    ControlUtil& cu() const { return *cu_; }

    // Runs the action the string names before it returns. An absent string logs "Invalid ccmd."; a
    // name that is no action is ignored. "runAppleScript:" is refused here (a computer-control string
    // comes from the network), and "runAppleScriptWithPath:" runs only a script of the bundle. False when
    // the string names no action.
    bool executeCommandString(const std::optional<QString>& command);

    // The names a computer-control string can name.
    static QStringList actionNames();

private:
    std::shared_ptr<ControlUtil> cu_;
};
