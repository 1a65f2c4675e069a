#include "SealedMemoryFile.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace platform {

namespace {

std::error_code lastError() {
    return {errno, std::system_category()};
}

// sendfile has no MSG_NOSIGNAL: into a connection the peer reset it raises SIGPIPE, which ends a
// process that does not ignore it, even when it returns the bytes it sent before the reset. While one
// lives, SIGPIPE is blocked on this thread, and one raised meanwhile is taken back before it is
// unblocked again; the send reports the broken connection as an error all the same.
class BrokenPipeHeld {
public:
    BrokenPipeHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pendingBefore_ = pending();
        blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
    }
    ~BrokenPipeHeld() {
        if (!blocked_)
            return;
        if (!pendingBefore_ && pending()) {
            const timespec now{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    BrokenPipeHeld(const BrokenPipeHeld&) = delete;
    BrokenPipeHeld& operator=(const BrokenPipeHeld&) = delete;

private:
    static bool pending() {
        sigset_t set;
        sigemptyset(&set);
        return sigpending(&set) == 0 && sigismember(&set, SIGPIPE) == 1;
    }

    sigset_t pipe_, previous_;
    bool pendingBefore_ = false, blocked_ = false;
};

} // namespace

std::unique_ptr<SealedMemoryFile> SealedMemoryFile::create(const QByteArray& bytes, std::error_code& error) {
    error.clear();
    const int descriptor = ::memfd_create("slide-information", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (descriptor < 0) {
        error = lastError();
        return nullptr;
    }
    // Owns the descriptor from here on, and closes it when the file is not made whole.
    std::unique_ptr<SealedMemoryFile> file(new SealedMemoryFile(descriptor, size_t(bytes.size())));
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = written < 0 ? lastError() : std::make_error_code(std::errc::io_error);
            return nullptr;
        }
        data += written;
        left -= size_t(written);
    }
    if (::fcntl(descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        error = lastError();
        return nullptr;
    }
    return file;
}

bool SealedMemoryFile::unsupported(const std::error_code& error) {
    // ENOSYS: no memfd_create in this kernel; EINVAL: one that knows no sealing.
    return error.category() == std::system_category() && (error.value() == ENOSYS || error.value() == EINVAL);
}

SealedMemoryFile::SealedMemoryFile(int descriptor, size_t size)
    : descriptor_(descriptor)
    , size_(size) {}

SealedMemoryFile::~SealedMemoryFile() {
    ::close(descriptor_);
}

SealedMemoryFile::Sent SealedMemoryFile::sendTo(int socket, size_t offset) const {
    if (offset >= size_)
        return {0, std::make_error_code(std::errc::invalid_argument)};
    off_t position = off_t(offset);
    const BrokenPipeHeld brokenPipe;
    while (true) {
        const ssize_t sent = ::sendfile(socket, descriptor_, &position, size_ - offset);
        if (sent > 0)
            return {size_t(sent), {}};
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return {};
        // 0: the file ended before its size, which its seals rule out.
        return {0, sent < 0 ? lastError() : std::make_error_code(std::errc::io_error)};
    }
}

} // namespace platform
