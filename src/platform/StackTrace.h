#pragma once

#include <QString>
#include <QStringList>

#include <exception>

namespace platform {

// What the C++ runtime can tell about the running program: its call stack and the exceptions in flight.
class StackTrace {
public:
    // The frames of the calling thread, innermost first, the caller's own frame included: one line each,
    // "<index> <module> <symbol>+<offset> [<address>]" as far as the symbols are known.
    static QStringList current(int skipFrames = 0);
    // The frames of the calling thread when it threw the exception being handled now, innermost first:
    // every throw records its stack in its thread. The current frames when this thread threw no
    // exception of that type last (one thrown on another thread and carried here, say).
    static QStringList ofCurrentException();
    // The type name of the exception, demangled ("std::runtime_error"); "unknown" when it has none.
    static QString typeNameOf(const std::exception_ptr& exception);
    // what() of a std::exception; empty for anything else.
    static QString reasonOf(const std::exception_ptr& exception);
};

} // namespace platform
