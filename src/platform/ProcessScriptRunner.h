#pragma once

#include "ScriptRunner.h"

#include <chrono>

namespace platform {

// Runs "<resources>/<name>.scpt" as an executable: no arguments, no standard input.
// Exit status 0: the result is standard output less one trailing line feed (no output: no result).
// Another exit status: a run error numbered by the integer on the first line of standard error, or by
// the exit status when there is none. A run longer than the limit is killed and fails with -1712; one
// ended because the program quits fails with -128. Each script runs in a session of its own.
class ProcessScriptRunner : public ScriptRunner {
public:
    explicit ProcessScriptRunner(QString resourcesPath,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(120));

    ScriptRunResult run(const QString& name) override;

private:
    QString resourcesPath_;
    std::chrono::milliseconds timeout_;
};

} // namespace platform
