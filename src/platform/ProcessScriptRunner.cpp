#include "ProcessScriptRunner.h"

#include "Bundle.h"

#include <QByteArray>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// A file descriptor closed with its owner.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

qint64 nowMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// A script's process and what it wrote, or why it did not start.
struct Run {
    pid_t pid = -1;
    int startError = 0;
    int status = 0;
    bool timedOut = false;
    QByteArray out, err;
};

// Starts the script with posix_spawn, in a session (and process group) of its own so that a script that
// runs too long is ended with everything it started, with standard input from /dev/null and both output
// streams read through pipes. posix_spawn makes the child without running any of this program's code in
// it before exec: no lock, handler or sanitizer hook of the parent runs in a child that shares its memory.
Run spawnAndWait(const QByteArray& path, std::chrono::milliseconds timeout) {
    Run run;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        run.startError = errno;
        return run;
    }
    Descriptor outRead(out[0]), outWrite(out[1]);
    if (::pipe2(err, O_CLOEXEC) != 0) {
        run.startError = errno;
        return run;
    }
    Descriptor errRead(err[0]), errWrite(err[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    // Signals start as a new program's would, whatever this process blocks or ignores.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* const argv[] = {const_cast<char*>(path.constData()), nullptr};
    run.startError = ::posix_spawn(&run.pid, path.constData(), &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    outWrite.reset();
    errWrite.reset();
    if (run.startError != 0)
        return run;

    // Both streams are read as they come, so that a script that writes much never blocks on a full pipe,
    // until the script ends: what it started may keep the pipes open (the bridge a script starts).
    const Descriptor ended(int(::syscall(SYS_pidfd_open, run.pid, 0)));
    ::fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(errRead.get(), F_SETFL, O_NONBLOCK);
    std::array<QByteArray*, 2> into{&run.out, &run.err};
    std::array<pollfd, 3> watched{pollfd{outRead.get(), POLLIN, 0}, pollfd{errRead.get(), POLLIN, 0},
                                  pollfd{ended.get(), POLLIN, 0}};
    const auto drain = [&](size_t i) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(watched[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, n);
                continue;
            }
            if (n == 0 || (errno != EINTR && errno != EAGAIN))
                watched[i].fd = -1; // the end of that stream
            if (n == 0 || errno != EINTR)
                return;
        }
    };
    const qint64 deadline = nowMs() + timeout.count();
    for (;;) {
        const qint64 left = deadline - nowMs();
        if (left <= 0) {
            run.timedOut = true;
            break;
        }
        // Without a process descriptor (an old kernel) the wait is for the ends of both streams.
        if (ended.get() < 0 && watched[0].fd < 0 && watched[1].fd < 0)
            break;
        if (::poll(watched.data(), watched.size(), int(std::min<qint64>(left, 1000))) < 0 && errno != EINTR)
            break;
        for (size_t i = 0; i < 2; ++i)
            if (watched[i].fd >= 0 && (watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                drain(i);
        if (watched[2].fd >= 0 && (watched[2].revents & POLLIN)) { // the script ended: take what it left
            for (size_t i = 0; i < 2; ++i)
                if (watched[i].fd >= 0)
                    drain(i);
            break;
        }
    }
    if (run.timedOut)
        ::kill(-run.pid, SIGKILL); // the script's whole process group
    while (::waitpid(run.pid, &run.status, 0) < 0 && errno == EINTR) {
    }
    return run;
}

} // namespace

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

    const Run run = spawnAndWait(QFile::encodeName(path), timeout_);
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
    const QString out = QString::fromUtf8(run.out);
    const QString err = QString::fromUtf8(run.err);
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
