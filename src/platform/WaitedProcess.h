#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <chrono>

namespace platform {

class ChildProcesses;

// A child process run to its end: started with posix_spawn as the leader of a process group of its own,
// standard input from /dev/null, both output streams read through pipes, recorded in ChildProcesses from
// its start until it is reaped. The one way the program runs a child it waits for.
class WaitedProcess {
public:
    struct Request {
        QByteArray program; // a path, or a name looked up on PATH when searchPath is set
        QByteArrayList arguments;
        bool searchPath = false;
        // A session of its own (no controlling terminal) rather than only a process group of its own.
        bool ownSession = false;
        std::chrono::milliseconds timeout{120000};
    };

    struct Result {
        int startError = 0;      // the error number of a start that failed; ECANCELED once the program quits
        int status = 0;          // as waitpid gives it
        bool timedOut = false;   // killed with its group at the timeout
        bool terminated = false; // ended because the program quits
        QByteArray standardOutput, standardError;
    };

    // Runs the child until it ends, or until the timeout, when its whole group is killed. The run ends
    // when the child does, even when what it started still holds its output streams open; what the
    // streams held by then is in the result.
    static Result run(const Request& request, ChildProcesses& children);
    // The same with the record of this process.
    static Result run(const Request& request);
};

} // namespace platform
