// The cloud's date text (DateHelper::DateFromAPIValue), and the same bytes as a pattern for ParseToString.
#include "core/DateHelper.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    static const QTimeZone newYork("America/New_York"); // has daylight-saving gaps and folds
    static const QDateTime winter = QDateTime(QDate(2024, 1, 15), QTime(12, 0), Qt::UTC);

    const std::optional<QDateTime> local = DateHelper::DateFromAPIValue(text);
    const std::optional<QDateTime> inNewYork = DateHelper::DateFromAPIValue(text, newYork, winter);
    const std::optional<QDateTime> inUtc = DateHelper::DateFromAPIValue(text, QTimeZone(0), winter);
    for (const auto& date : {local, inNewYork, inUtc}) {
        if (date && !date->isValid())
            std::abort(); // a date, when there is one, is a real instant
    }

    // In UTC nothing shifts, so what was read writes back as the part of the text that was read.
    if (inUtc) {
        const bool withMilliseconds = text.size() > 22;
        const QString written =
            DateHelper::ParseToString(*inUtc, withMilliseconds ? QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.SSS")
                                                               : QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
        if (written != text.left(withMilliseconds ? 23 : 19))
            std::abort();
    }

    // The input as a pattern, on a read date if there is one.
    const QDateTime someDate = inNewYork.value_or(winter);
    (void)DateHelper::ParseToString(someDate, text);
    (void)DateHelper::ParseToComponents(someDate, newYork);
    return 0;
}
