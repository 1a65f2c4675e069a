#include "OpenFileLimit.h"

#include <limits>
#include <sys/resource.h>

namespace platform {

namespace {

size_t asSize(rlim_t value) {
    return value == RLIM_INFINITY || value > std::numeric_limits<size_t>::max()
               ? std::numeric_limits<size_t>::max()
               : size_t(value);
}

} // namespace

size_t OpenFileLimit::raise() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur != RLIM_INFINITY &&
        (limit.rlim_max == RLIM_INFINITY || limit.rlim_cur < limit.rlim_max)) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        // An unlimited hard limit still ends at the kernel's fs.nr_open, which setrlimit refuses to pass;
        // the current soft limit stays then.
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return asSize(limit.rlim_cur);
}

} // namespace platform
