#pragma once

#include <QByteArray>
#include <QString>

#include <fmt/format.h>
#include <spdlog/sinks/sink.h>

#include <memory>
#include <optional>

class RollingFileSink;

// Level flags; a logger takes the messages whose flag is in its mask.
enum class LogFlag : int { Error = 1, Warning = 2, Info = 4, Debug = 8, Verbose = 16 };

namespace LogLevel {
constexpr int Error = 1;
constexpr int Warning = 3;
constexpr int Info = 7;
constexpr int Debug = 15;   // everything but verbose
constexpr int Verbose = 31; // everything
} // namespace LogLevel

// The process's leveled logger: a list of sinks, each with its level mask. Every message carries the
// source file, function and line it was written from. Writing is synchronous and thread-safe.
class Logger {
public:
    // Adds a sink that takes the messages whose flag is in levelMask. logsDirectory is the folder the
    // sink writes its files to, if it writes any.
    static void addLogger(std::shared_ptr<spdlog::sinks::sink> sink, int levelMask,
                          std::optional<QString> logsDirectory = std::nullopt);
    // The console logger: lines on standard error.
    static std::shared_ptr<spdlog::sinks::sink> addConsoleLogger(int levelMask);
    // A rolling file logger in folder (made when missing) with the standard limits, its files named after
    // prefix. Its folder becomes the logs directory, so add it last when the crash log and the log export
    // are to find it.
    static std::shared_ptr<RollingFileSink> addFileLogger(const QString& folder, const QString& prefix,
                                                          int levelMask);
    static void removeAllLoggers();
    // The logs directory of the last logger added; the crash log and the log export use it.
    static std::optional<QString> lastLogsDirectory();

    static bool isEnabled(LogFlag flag);
    static void log(LogFlag flag, const char* file, const char* function, int line, std::string_view message);

    // The platform's plain console log, outside the levels: a time-stamped line on standard error.
    static void plain(const QString& message);

    // The pattern of the lines the console and file loggers write.
    static std::unique_ptr<spdlog::formatter> makeFormatter();

    // Text as it goes into a log line: every control character (C0, DEL, C1, and the line and paragraph
    // separators) written as an escape ("\n", "\r", "\t", "\x1b", "\u2028"), so that no text from
    // outside can begin a line of its own or drive a terminal. Text without any comes back unchanged.
    static QString escapeControlCharacters(const QString& text);
    // The same for bytes, read as UTF-8 (an invalid sequence becomes U+FFFD).
    static QByteArray escapeControlCharacters(const QByteArray& utf8);
};

// QString and QByteArray values in log lines carry text from outside (datagrams, answers, names): they
// are written with their control characters escaped.
template <> struct fmt::formatter<QString> : fmt::formatter<std::string_view> {
    template <typename Context> auto format(const QString& s, Context& ctx) const {
        const QByteArray utf8 = Logger::escapeControlCharacters(s).toUtf8();
        return fmt::formatter<std::string_view>::format(
            std::string_view(utf8.constData(), size_t(utf8.size())), ctx);
    }
};

template <> struct fmt::formatter<QByteArray> : fmt::formatter<std::string_view> {
    template <typename Context> auto format(const QByteArray& s, Context& ctx) const {
        const QByteArray escaped = Logger::escapeControlCharacters(s);
        return fmt::formatter<std::string_view>::format(
            std::string_view(escaped.constData(), size_t(escaped.size())), ctx);
    }
};

#define PC_LOG(flag, ...)                                                                                    \
    do {                                                                                                     \
        if (Logger::isEnabled(flag))                                                                         \
            Logger::log(flag, __FILE__, __func__, __LINE__, fmt::format(__VA_ARGS__));                       \
    } while (false)

#define LOG_ERROR(...) PC_LOG(LogFlag::Error, __VA_ARGS__)
#define LOG_WARNING(...) PC_LOG(LogFlag::Warning, __VA_ARGS__)
#define LOG_INFO(...) PC_LOG(LogFlag::Info, __VA_ARGS__)
#define LOG_DEBUG(...) PC_LOG(LogFlag::Debug, __VA_ARGS__)
#define LOG_VERBOSE(...) PC_LOG(LogFlag::Verbose, __VA_ARGS__)
