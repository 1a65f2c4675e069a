#include "AppInfo.h"

#include "core/Coercion.h"
#include "core/DateHelper.h"

#include <algorithm>
#include <limits>

namespace {

qint32 int32Of(const QVariant& value) {
    return qint32(std::clamp<qint64>(Coercion::integerValue(value), std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

QString textOf(const QVariant& value) {
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

} // namespace

AppInfo AppInfo::ParseFromDictionary(const QVariantMap& dictionary) {
    AppInfo info;
    info.DownloadUrl = textOf(dictionary.value(QStringLiteral("DownloadUrl")));
    info.Id = int32Of(dictionary.value(QStringLiteral("Id")));
    info.SystemId = int32Of(dictionary.value(QStringLiteral("SystemId")));
    info.ChangeLog = textOf(dictionary.value(QStringLiteral("ChangeLog")));
    info.VersionNumber = int32Of(dictionary.value(QStringLiteral("VersionNumber")));
    const QVariant updated = dictionary.value(QStringLiteral("UpdatedTime"));
    if (updated.typeId() == QMetaType::QString)
        info.UpdatedTime = DateHelper::DateFromAPIValue(updated.toString());
    info.VersionName = textOf(dictionary.value(QStringLiteral("VersionName")));
    info.IsForceUpdate = Coercion::boolValue(dictionary.value(QStringLiteral("IsForceUpdate")));
    return info;
}
