// A millisecond count in parentheses (DateHelper::DateFromJsonValue), and what the other operations make of
// the instant it gives, the extreme ones included. The first eight bytes also serve as a duration in seconds,
// the next eight as a second instant in milliseconds.
#include "core/DateHelper.h"
#include "core/Logger.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <spdlog/sinks/null_sink.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The count is logged at info level: a sink that drops everything still runs the formatting.
    static const bool logging = [] {
        Logger::addLogger(std::make_shared<spdlog::sinks::null_sink_mt>(), LogLevel::Info);
        return true;
    }();
    (void)logging;

    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QDateTime date = DateHelper::DateFromJsonValue(text);
    if (!date.isValid() || date.toMSecsSinceEpoch() < 0)
        std::abort(); // always an instant at or after the epoch

    static const QDateTime now = QDateTime(QDate(2024, 5, 1), QTime(0, 0), Qt::UTC);
    (void)DateHelper::ParseDateToReadableText(date, now);
    (void)DateHelper::ParseDateToReadableText(now, date);
    (void)DateHelper::ParseToComponents(date, QTimeZone(14 * 3600));
    (void)DateHelper::ParseToString(date, QStringLiteral("EEEE yyyy-MM-dd'T'HH:mm:ss.SSS a"));

    if (size >= sizeof(double)) {
        double seconds = 0;
        std::memcpy(&seconds, data, sizeof seconds);
        (void)DateHelper::ParseSecondToTimeText(seconds);
    }
    // Any instant QDateTime holds, from before the epoch too, as the other end of the difference.
    if (size >= 2 * sizeof(qint64)) {
        qint64 milliseconds = 0;
        std::memcpy(&milliseconds, data + sizeof(qint64), sizeof milliseconds);
        const QDateTime other = QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
        (void)DateHelper::ParseDateToReadableText(date, other);
        (void)DateHelper::ParseDateToReadableText(other, date);
        (void)DateHelper::ParseToComponents(other, QTimeZone(-12 * 3600));
        (void)DateHelper::ParseToString(other, QStringLiteral("y-M-d H:m:s.S"));
    }
    return 0;
}
