#pragma once

#include "DictionaryRecord.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

// One platform's entry of the cloud's application-versions answer.
struct AppInfo : DictionaryRecord<AppInfo> {
    QString DownloadUrl;
    qint32 Id = 0;
    qint32 SystemId = 0;
    QString ChangeLog;
    qint32 VersionNumber = 0;
    std::optional<QDateTime> UpdatedTime;
    QString VersionName;
    bool IsForceUpdate = false;

    // Always a record: an absent or null key leaves its field at 0, empty or false. Integers take a
    // number's or a numeric text's integer part (clamped to 32 bits), the flag the truth of a boolean,
    // number or text, the time the service's date form.
    static AppInfo ParseFromDictionary(const QVariantMap& dictionary);
};
