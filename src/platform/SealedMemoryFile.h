#pragma once

#include <QByteArray>

#include <cstddef>
#include <memory>
#include <system_error>

namespace platform {

// A file that lives in memory only and holds a copy of some bytes, sealed once written: neither its
// bytes nor its size can change any more, through this descriptor or any other. The kernel sends it
// into sockets straight from its pages, so an answer served from it is not copied out of the process
// again for every client.
class SealedMemoryFile {
public:
    // A file with a copy of the bytes, or nothing, with the system's error, where the system has no
    // such files or one cannot be made now (out of descriptors or memory).
    static std::unique_ptr<SealedMemoryFile> create(const QByteArray& bytes, std::error_code& error);
    // The system error create gives where the system has no sealed memory files at all.
    static bool unsupported(const std::error_code& error);

    ~SealedMemoryFile();
    SealedMemoryFile(const SealedMemoryFile&) = delete;
    SealedMemoryFile& operator=(const SealedMemoryFile&) = delete;

    size_t size() const { return size_; }

    struct Sent {
        size_t bytes = 0; // 0 without an error: the socket takes nothing now
        std::error_code error;
    };
    // Sends the bytes from offset to the end into a non-blocking socket, as many as it takes now. Safe
    // from several threads at once: the file's own position is never used.
    Sent sendTo(int socket, size_t offset) const;

private:
    SealedMemoryFile(int descriptor, size_t size);

    const int descriptor_;
    const size_t size_;
};

} // namespace platform
