#include "WaitedProcess.h"

#include "ChildProcesses.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

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

// Whether the child has ended, leaving it to be reaped.
bool hasEnded(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Starts the child. posix_spawn makes it without running any of this program's code in it before exec:
// no lock, handler or sanitizer hook of the parent runs in a child that shares its memory.
int spawn(const WaitedProcess::Request& request, int outWrite, int errWrite, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, outWrite, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, errWrite, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Nothing else this process has open reaches the child, also what was opened without close-on-exec.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    // Signals start as a new program's would, whatever this process blocks or ignores.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (request.ownSession) {
        flags |= POSIX_SPAWN_SETSID;
    } else {
        flags |= POSIX_SPAWN_SETPGROUP;
        ::posix_spawnattr_setpgroup(&attributes, 0);
    }
    ::posix_spawnattr_setflags(&attributes, flags);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(request.program.constData()));
    for (const QByteArray& argument : request.arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    const int error =
        request.searchPath
            ? ::posix_spawnp(&pid, request.program.constData(), &actions, &attributes, argv.data(), environ)
            : ::posix_spawn(&pid, request.program.constData(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    return error;
}

} // namespace

WaitedProcess::Result WaitedProcess::run(const Request& request) {
    return run(request, ChildProcesses::shared());
}

WaitedProcess::Result WaitedProcess::run(const Request& request, ChildProcesses& children) {
    Result run;
    if (request.program.isEmpty()) {
        run.startError = ENOENT;
        return run;
    }
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

    pid_t pid = -1;
    run.startError = children.start([&](qint64& started) {
        const int error = spawn(request, outWrite.get(), errWrite.get(), pid);
        started = pid;
        return error;
    });
    outWrite.reset();
    errWrite.reset();
    if (run.startError != 0)
        return run;

    // Both streams are read as they come, so that a child that writes much never blocks on a full pipe,
    // until the child ends: what it started may keep the pipes open (the bridge a script starts).
    const Descriptor ended(int(::syscall(SYS_pidfd_open, pid, 0)));
    ::fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(errRead.get(), F_SETFL, O_NONBLOCK);
    std::array<QByteArray*, 2> into{&run.standardOutput, &run.standardError};
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
    const qint64 deadline = nowMs() + request.timeout.count();
    for (;;) {
        const qint64 left = deadline - nowMs();
        if (left <= 0) {
            run.timedOut = true;
            break;
        }
        // Without a process descriptor (an old kernel) the child is looked at every 50 ms.
        const int step = int(std::min<qint64>(left, ended.get() < 0 ? 50 : 1000));
        if (::poll(watched.data(), watched.size(), step) < 0) // interrupted, or short of memory for now
            for (pollfd& w : watched)
                w.revents = 0;
        for (size_t i = 0; i < 2; ++i)
            if (watched[i].fd >= 0 && (watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                drain(i);
        const bool over = ended.get() >= 0 ? (watched[2].revents & POLLIN) != 0 : hasEnded(pid);
        if (over) { // the child ended: take what it left
            for (size_t i = 0; i < 2; ++i)
                if (watched[i].fd >= 0)
                    drain(i);
            break;
        }
    }
    if (run.timedOut)
        ::kill(-pid, SIGKILL); // the child's whole process group; not reaped yet, so still the child's
    run.status = children.reap(pid, run.terminated);
    return run;
}

} // namespace platform
