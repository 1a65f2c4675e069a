#pragma once

#include <cstddef>

namespace platform {

// The process's limit of open files (descriptors: files, sockets, pipes).
class OpenFileLimit {
public:
    // Raises the soft limit to the hard limit, where it is lower, and gives the soft limit then in
    // effect. Desktop sessions often start programs with a soft limit of 1,024 and a much higher hard
    // one; a process that serves many connections and still runs helper processes needs more.
    static size_t raise();
};

} // namespace platform
