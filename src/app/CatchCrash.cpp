#include "CatchCrash.h"

#include "core/Logger.h"
#include "platform/StackTrace.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>

#include <atomic>

namespace {

std::terminate_handler previousHandler = nullptr;
std::atomic<bool> handling{false};

[[noreturn]] void onTerminate() {
    // Only the first thread to get here writes; a second crash meanwhile ends as it would have.
    if (!handling.exchange(true)) {
        if (const std::exception_ptr exception = std::current_exception())
            uncaughtExceptionHandler(
                UncaughtException::from(exception, platform::StackTrace::ofCurrentException()));
    }
    if (previousHandler)
        previousHandler();
    std::abort();
}

bool isPlainWord(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.unicode() > 127 || !c.isLetterOrNumber())
            return false;
    }
    return true;
}

} // namespace

UncaughtException UncaughtException::from(const std::exception_ptr& exception, QStringList callStackSymbols) {
    return {platform::StackTrace::typeNameOf(exception), platform::StackTrace::reasonOf(exception),
            std::move(callStackSymbols)};
}

void CatchCrash::install() {
    const std::terminate_handler previous = std::set_terminate(onTerminate);
    if (previous != onTerminate)
        previousHandler = previous;
}

QString CatchCrash::describeList(const QStringList& entries) {
    QStringList lines;
    for (const QString& entry : entries) {
        if (isPlainWord(entry)) {
            lines << QStringLiteral("    ") + entry;
            continue;
        }
        QString quoted = entry;
        quoted.replace(u'\\', QStringLiteral("\\\\"))
            .replace(u'"', QStringLiteral("\\\""))
            .replace(u'\n', QStringLiteral("\\n"));
        lines << QStringLiteral("    \"") + quoted + u'"';
    }
    return QStringLiteral("(\n") + lines.join(QStringLiteral(",\n")) +
           (lines.isEmpty() ? QString() : QStringLiteral("\n")) + u')';
}

QString CatchCrash::crashLogText(const UncaughtException& exception, const QString& crashTime) {
    return QStringLiteral("crashTime: %1 Exception reason: %2\nException name: %3\nException stack:%4")
        .arg(crashTime, exception.reason, exception.name, describeList(exception.callStackSymbols));
}

void uncaughtExceptionHandler(const UncaughtException& exception) {
    const QString crashTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString content = CatchCrash::crashLogText(exception, crashTime);
    const QString fileName =
        QStringLiteral("crash-%1.log")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")));
    const std::optional<QString> folder = Logger::lastLogsDirectory();
    if (!folder) {
        LOG_ERROR("将crash信息保存到本地失败: {{\n    NSFilePath = \"{}\";\n}}", fileName);
        return;
    }
    QSaveFile file(QDir(*folder).filePath(fileName));
    const QByteArray bytes = content.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        LOG_ERROR(
            "将crash信息保存到本地失败: {{\n    NSFilePath = \"{}\";\n    NSUnderlyingError = \"{}\";\n}}",
            file.fileName(), file.errorString());
}
