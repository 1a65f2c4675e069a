#include "Logger.h"

#include "RollingFileSink.h"

#include <QCoreApplication>
#include <QDateTime>

#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

struct Entry {
    std::shared_ptr<spdlog::sinks::sink> sink;
    int mask;
    std::optional<QString> logsDirectory;
};

// The list is replaced as a whole on every change, so writers take a copy and log without a lock.
struct Registry {
    std::mutex mutex;
    std::shared_ptr<const std::vector<Entry>> entries = std::make_shared<const std::vector<Entry>>();
    std::atomic<int> unionMask{0};
};

Registry& registry() {
    static Registry* r = new Registry; // outlives static destruction, so late log calls are safe
    return *r;
}

std::shared_ptr<const std::vector<Entry>> snapshot() {
    std::lock_guard lock(registry().mutex);
    return registry().entries;
}

spdlog::level::level_enum levelOf(LogFlag flag) {
    switch (flag) {
    case LogFlag::Error:
        return spdlog::level::err;
    case LogFlag::Warning:
        return spdlog::level::warn;
    case LogFlag::Info:
        return spdlog::level::info;
    case LogFlag::Debug:
        return spdlog::level::debug;
    case LogFlag::Verbose:
        break;
    }
    return spdlog::level::trace;
}

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029;
}

const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/')
            base = p + 1;
    return base;
}

} // namespace

void Logger::addLogger(std::shared_ptr<spdlog::sinks::sink> sink, int levelMask,
                       std::optional<QString> logsDirectory) {
    sink->set_level(spdlog::level::trace);
    std::lock_guard lock(registry().mutex);
    auto entries = std::make_shared<std::vector<Entry>>(*registry().entries);
    entries->push_back({std::move(sink), levelMask, std::move(logsDirectory)});
    int mask = 0;
    for (const Entry& e : *entries)
        mask |= e.mask;
    registry().entries = std::move(entries);
    registry().unionMask = mask;
}

std::shared_ptr<spdlog::sinks::sink> Logger::addConsoleLogger(int levelMask) {
    auto sink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
    sink->set_formatter(makeFormatter());
    addLogger(sink, levelMask);
    return sink;
}

std::shared_ptr<RollingFileSink> Logger::addFileLogger(const QString& folder, const QString& prefix,
                                                       int levelMask) {
    auto sink = std::make_shared<RollingFileSink>(folder, prefix);
    addLogger(sink, levelMask, sink->logsDirectory());
    return sink;
}

void Logger::removeAllLoggers() {
    std::lock_guard lock(registry().mutex);
    registry().entries = std::make_shared<const std::vector<Entry>>();
    registry().unionMask = 0;
}

std::optional<QString> Logger::lastLogsDirectory() {
    const auto entries = snapshot();
    if (entries->empty())
        return std::nullopt;
    return entries->back().logsDirectory;
}

bool Logger::isEnabled(LogFlag flag) {
    return (registry().unionMask.load(std::memory_order_relaxed) & int(flag)) != 0;
}

void Logger::log(LogFlag flag, const char* file, const char* function, int line, std::string_view message) {
    const auto entries = snapshot();
    const spdlog::details::log_msg msg(spdlog::source_loc{baseName(file), line, function}, "pc",
                                       levelOf(flag), message);
    for (const Entry& e : *entries) {
        if (!(e.mask & int(flag)))
            continue;
        try {
            e.sink->log(msg);
            if (flag == LogFlag::Error)
                e.sink->flush();
        } catch (...) {
            // A sink that fails loses this line; the caller and the other sinks go on.
        }
    }
}

void Logger::plain(const QString& message) {
    const QByteArray line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8() +
        QCoreApplication::applicationName().toUtf8() + '[' +
        QByteArray::number(QCoreApplication::applicationPid()) + "] " + escapeControlCharacters(message).toUtf8() +
        '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

std::unique_ptr<spdlog::formatter> Logger::makeFormatter() {
    return std::make_unique<spdlog::pattern_formatter>("%Y/%m/%d %H:%M:%S:%e [%L] %s:%# %!: %v");
}

QString Logger::escapeControlCharacters(const QString& text) {
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return isControl(c.unicode()); }))
        return text;
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!isControl(u))
            escaped += c;
        else if (u == u'\n')
            escaped += QLatin1String("\\n");
        else if (u == u'\r')
            escaped += QLatin1String("\\r");
        else if (u == u'\t')
            escaped += QLatin1String("\\t");
        else if (u < 0x100)
            escaped += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            escaped += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
    }
    return escaped;
}

QByteArray Logger::escapeControlCharacters(const QByteArray& utf8) {
    // Plain printable ASCII, the common case, needs no decoding.
    if (std::all_of(utf8.cbegin(), utf8.cend(), [](char c) { return c >= 0x20 && c < 0x7f; }))
        return utf8;
    return escapeControlCharacters(QString::fromUtf8(utf8)).toUtf8();
}
