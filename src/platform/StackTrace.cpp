#include "StackTrace.h"

#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <memory>
#include <typeinfo>

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

} // namespace

QStringList StackTrace::current(int skipFrames) {
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    QStringList lines;
    std::unique_ptr<char*, decltype(&std::free)> symbols(::backtrace_symbols(frames, count), &std::free);
    if (!symbols)
        return lines;
    for (int i = skipFrames + 1; i < count; ++i) // frame 0 is this function
        lines << describeFrame(i - skipFrames - 1, symbols.get()[i]);
    return lines;
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
