#include "StackTrace.h"

#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <memory>
#include <typeinfo>

namespace {

// The stack of this thread's last throw, recorded by the throw hook below.
struct ThrownStack {
    const std::type_info* type = nullptr;
    int count = 0;
    void* frames[128];
};
thread_local ThrownStack lastThrow;

} // namespace

// Every throw of the program goes through the C++ runtime's __cxa_throw; this definition comes first in
// the symbol look-up, records the stack and hands the throw on to the runtime's own.
namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
    lastThrow.type = type;
    lastThrow.count = ::backtrace(lastThrow.frames, 128);
    using Throw = void (*)(void*, std::type_info*, void (*)(void*));
    static const auto next = reinterpret_cast<Throw>(::dlsym(RTLD_NEXT, "__cxa_throw"));
    if (!next)
        std::abort();
    next(object, type, destructor);
    __builtin_unreachable();
}
} // namespace __cxxabiv1

namespace platform {

namespace {

QString demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                         &std::free);
    return QString::fromUtf8(status == 0 && readable ? readable.get() : name);
}

// backtrace_symbols gives "<module>(<mangled>+<offset>) [<address>]": the symbol is made readable.
QString describeFrame(int index, const char* symbol) {
    QString text = QString::fromUtf8(symbol);
    const qsizetype open = text.indexOf(u'(');
    const qsizetype plus = text.indexOf(u'+', open);
    if (open >= 0 && plus > open + 1) {
        const QByteArray mangled = text.mid(open + 1, plus - open - 1).toUtf8();
        text = text.left(open) + u' ' + demangled(mangled.constData()) + text.mid(plus);
        text.remove(u')');
    }
    return QString::number(index).leftJustified(4) + text;
}

QStringList describeFrames(void* const* frames, int count, int first) {
    QStringList lines;
    std::unique_ptr<char*, decltype(&std::free)> symbols(::backtrace_symbols(frames, count), &std::free);
    if (!symbols)
        return lines;
    for (int i = first; i < count; ++i)
        lines << describeFrame(i - first, symbols.get()[i]);
    return lines;
}

} // namespace

QStringList StackTrace::current(int skipFrames) {
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    return describeFrames(frames, count, skipFrames + 1); // frame 0 is this function
}

QStringList StackTrace::ofCurrentException() {
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type && lastThrow.type && *type == *lastThrow.type)
        return describeFrames(lastThrow.frames, lastThrow.count, 1); // frame 0 is the hook
    return current(1);
}

QString StackTrace::typeNameOf(const std::exception_ptr& exception) {
    if (!exception)
        return QStringLiteral("unknown");
    try {
        std::rethrow_exception(exception);
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return type ? demangled(type->name()) : QStringLiteral("unknown");
    }
}

QString StackTrace::reasonOf(const std::exception_ptr& exception) {
    if (!exception)
        return {};
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return {};
    }
}

} // namespace platform
