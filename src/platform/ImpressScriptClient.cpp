// The bundle's PowerPoint scripts on Linux. Each "<name>.scpt" among them is a copy of this program: it
// asks the resident bridge to LibreOffice Impress (impress_bridge.py beside it, one per user and UNO pipe)
// to run the script of its name, and answers by the script runner's protocol: exit status 0 with the
// result on standard output, or 1 with the error number on the first line of standard error.
//
// The bridge listens on a Unix socket in the user's runtime folder:
//   $XDG_RUNTIME_DIR/podiumcast/impress-<pipe>.sock
// both folders closed to everyone else, the socket itself 0600. A script that finds no bridge starts one
// and asks it. Without a runtime folder that is the user's own (XDG_RUNTIME_DIR unset, relative, or open
// to others) there is no place for a socket nobody else can take, and the script runs in a Python of its
// own, connecting to LibreOffice for this one run, which is slower.
//
// The exchange, one per connection: the bridge writes "H" as it takes the connection; the client writes
// the script name and its temporary folder ($TMPDIR, for exports), each ended by a NUL; the bridge writes
// "0" and the standard output, or "1" and the standard error, and closes. A connection closed before the
// "H" was never taken, and is made again; one closed after it means the bridge ended during the run.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const kPython = "/usr/bin/python3";
const char* const kDefaultPipe = "podiumcast";
// Error numbers of the runner protocol, as the bridge numbers them.
constexpr int kNotRunning = -600;
constexpr int kConnectionLost = -609;
constexpr int kTimedOut = -1712;
constexpr int kScriptError = -2700;
// The bridge's exit status when another bridge serves the socket already.
constexpr int kAnotherBridge = 3;
// Seconds the bridge gives a script before it ends the run itself, and a margin for the exchange.
constexpr int kQueryLimit = 15;
constexpr int kExportLimit = 110;
constexpr int kMargin = 5;
// Seconds a bridge may take to start listening (Python and its UNO module loading on a busy machine).
constexpr int kStartLimit = 15;

const char* scriptName = "impress";

[[noreturn]] void fail(int number, const char* format, ...) {
    char message[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%d\n%s: %s\n", number, scriptName, message);
    std::exit(1);
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// "<folder>/<name>.scpt" gives "<name>".
void takeScriptName(const char* path) {
    static char name[NAME_MAX + 1];
    const char* slash = std::strrchr(path, '/');
    std::snprintf(name, sizeof name, "%s", slash ? slash + 1 : path);
    const size_t length = std::strlen(name);
    if (length > 5 && std::strcmp(name + length - 5, ".scpt") == 0)
        name[length - 5] = '\0';
    scriptName = name;
}

// The folder this program lies in, where the bridge lies too.
void ownFolder(char* folder, size_t size) {
    const ssize_t length = readlink("/proc/self/exe", folder, size - 1);
    if (length <= 0)
        fail(kScriptError, "cannot find the bundle's Resources folder: %s", std::strerror(errno));
    folder[length] = '\0';
    *std::strrchr(folder, '/') = '\0';
}

bool closedToOthers(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

// The bridge's socket for the UNO pipe, or false when there is no runtime folder that is the user's own.
bool socketPathFor(const char* pipe, char* path, size_t size) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (!runtime || runtime[0] != '/' || stat(runtime, &info) != 0 || !closedToOthers(info))
        return false;
    char folder[PATH_MAX];
    if (std::snprintf(folder, sizeof folder, "%s/podiumcast", runtime) >= int(sizeof folder))
        return false;
    if (mkdir(folder, 0700) != 0 && errno != EEXIST)
        return false;
    if (lstat(folder, &info) != 0 || !closedToOthers(info))
        return false;
    // Pipe names of letters, digits, dots, dashes and underscores name the socket as they are; others by
    // a digest, so that no name reaches outside the folder.
    char part[64];
    const size_t length = std::strlen(pipe);
    if (length > 0 && length <= 40 &&
        std::strspn(pipe, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                          "0123456789._-") == length) {
        std::snprintf(part, sizeof part, "%s", pipe);
    } else {
        uint64_t digest = 14695981039346656037ull;
        for (const char* c = pipe; *c; ++c)
            digest = (digest ^ uint8_t(*c)) * 1099511628211ull;
        std::snprintf(part, sizeof part, "x%016llx", static_cast<unsigned long long>(digest));
    }
    const int written = std::snprintf(path, size, "%s/impress-%s.sock", folder, part);
    return written > 0 && size_t(written) < size;
}

// Connects to the socket; -1 with errno set when nothing listens there.
int connectTo(const char* path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail(kScriptError, "no socket: %s", std::strerror(errno));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != getuid())
        fail(kNotRunning, "the bridge's socket %s is not the user's own", path);
    return fd;
}

// Starts a bridge in a session of its own, with nothing of this process's open files.
pid_t startBridge(const char* bridge, const char* socketPath) {
    const pid_t child = fork();
    if (child < 0)
        fail(kNotRunning, "cannot start the bridge: %s", std::strerror(errno));
    if (child == 0) {
        setsid();
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd)
            dup2(null, fd);
        close_range(3, ~0U, 0);
        execl(kPython, "python3", "-EsB", bridge, "serve", socketPath, static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

// A connection to the bridge, starting one when none listens.
int connectOrStart(const char* bridge, const char* socketPath) {
    const double deadline = now() + kStartLimit;
    pid_t child = 0;
    for (;;) {
        const int fd = connectTo(socketPath);
        if (fd >= 0)
            return fd;
        if (errno != ENOENT && errno != ECONNREFUSED)
            fail(kNotRunning, "cannot reach the bridge at %s: %s", socketPath, std::strerror(errno));
        int status = 0;
        if (child == 0) {
            child = startBridge(bridge, socketPath);
        } else if (waitpid(child, &status, WNOHANG) == child) {
            // A bridge that was leaving held the socket: start another once it is gone.
            if (!WIFEXITED(status) || WEXITSTATUS(status) != kAnotherBridge)
                fail(kNotRunning, "the bridge to LibreOffice did not start (%s %s)", kPython, bridge);
            child = 0;
        }
        if (now() > deadline)
            fail(kNotRunning, "the bridge to LibreOffice did not start within %d s", kStartLimit);
        usleep(5000);
    }
}

// Waits until the connection has something to read; false at the deadline.
bool readable(int fd, double deadline) {
    for (;;) {
        const double left = deadline - now();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, int(left * 1000) + 1);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            fail(kConnectionLost, "lost the bridge: %s", std::strerror(errno));
    }
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= size_t(written);
    }
}

// Runs the script through the bridge and exits with its answer; returns only when the bridge let the
// connection go before taking it.
void ask(int fd, int limit) {
    const double deadline = now() + limit + kMargin;
    char byte = 0;
    if (!readable(fd, deadline))
        fail(kTimedOut, "the bridge did not answer within %d s", limit + kMargin);
    if (read(fd, &byte, 1) != 1)
        return;
    if (byte != 'H')
        fail(kScriptError, "the bridge answered something else");

    const char* folder = std::getenv("TMPDIR");
    char request[NAME_MAX + PATH_MAX + 2];
    const int length = std::snprintf(request, sizeof request, "%s%c%s%c", scriptName, '\0',
                                     folder && std::strlen(folder) < PATH_MAX ? folder : "", '\0');
    // A bridge gone already shows in the answer that does not come.
    (void)send(fd, request, size_t(length), MSG_NOSIGNAL);

    int status = -1;
    char buffer[65536];
    for (;;) {
        if (!readable(fd, deadline))
            fail(kTimedOut, "the bridge did not answer within %d s", limit + kMargin);
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        size_t skip = 0;
        if (status < 0) {
            status = buffer[0] == '0' ? 0 : 1;
            skip = 1;
        }
        writeAll(status == 0 ? 1 : 2, buffer + skip, size_t(got) - skip);
    }
    if (status < 0)
        fail(kConnectionLost, "the bridge to LibreOffice ended during the run");
    std::exit(status);
}

} // namespace

int main(int, char** argv) {
    takeScriptName(argv[0]);
    char folder[PATH_MAX];
    ownFolder(folder, sizeof folder);
    char bridge[PATH_MAX + 32];
    std::snprintf(bridge, sizeof bridge, "%s/impress_bridge.py", folder);

    const char* pipe = std::getenv("PODIUMCAST_IMPRESS_PIPE");
    char socketPath[sizeof(sockaddr_un::sun_path)];
    if (!socketPathFor(pipe && *pipe ? pipe : kDefaultPipe, socketPath, sizeof socketPath)) {
        execl(kPython, "python3", "-EsB", bridge, "run", scriptName, static_cast<char*>(nullptr));
        fail(kNotRunning, "cannot run %s: %s", kPython, std::strerror(errno));
    }
    const int limit = std::strcmp(scriptName, "ppt2Pdf") == 0 ? kExportLimit : kQueryLimit;
    // A bridge that leaves lets go of the connections it had not taken yet; ask the next one.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = connectOrStart(bridge, socketPath);
        ask(fd, limit);
        close(fd);
    }
    fail(kNotRunning, "the bridge to LibreOffice let go of the request");
}
