#include "LocalUtils.h"

#include "Coercion.h"
#include "GetIPAddress.h"
#include "StringHelper.h"
#include "UserDefaultHelper.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"

#include "Logger.h"

#include <QUuid>

#include <mutex>

QString LocalUtils::GetMachineIndex() {
    // The id in use, kept for the life of the process: when the settings cannot hold it, it still does not
    // change from one call to the next.
    static std::mutex mutex;
    static std::optional<QString> inUse;
    std::lock_guard lock(mutex);
    if (const auto stored = UserDefaultHelper::MachineIndex(); !StringHelper::isNullOrEmpty(stored)) {
        inUse = stored;
        return *stored;
    }
    if (!inUse)
        inUse = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().remove(u'-');
    if (!UserDefaultHelper::SaveMachineIndex(inUse)) {
        static std::once_flag warned;
        std::call_once(warned, [] {
            LOG_WARNING(
                "The machine id cannot be stored in the user defaults; it holds until the program ends.");
        });
    }
    return *inUse;
}

QStringList LocalUtils::GetLanIpList() {
    return GetLanIpList(*platform::Platform::hostFacts());
}

QStringList LocalUtils::GetLanIpList(platform::HostFacts& host) {
    QStringList list;
    if (const auto table = GetIPAddress::getIPAddresses(host)) {
        for (const QString& address : *table) {
            if (address.contains(u'.'))
                list.append(address);
        }
    }
    return list;
}

bool LocalUtils::IsLanAddress(const std::optional<QString>& address) {
    if (StringHelper::isNullOrEmpty(address))
        return false;
    const QStringList parts = address->split(u'.');
    if (parts.size() != 4)
        return false;
    if (address->startsWith(QStringLiteral("10.")) || address->startsWith(QStringLiteral("192.168.")))
        return true;
    if (address->startsWith(QStringLiteral("172."))) {
        const qint64 second = Coercion::integerValue(parts[1]);
        return second >= 16 && second <= 31;
    }
    return false;
}

QString LocalUtils::InstalledSoftwareString() {
    return InstalledSoftwareString(*platform::Platform::hostFacts());
}

QString LocalUtils::InstalledSoftwareString(platform::HostFacts& host) {
    const QStringList entries = host.applicationsFolderEntries().value_or(QStringList());
    QStringList names;
    names.reserve(entries.size());
    for (const QString& url : entries) {
        qsizetype begin = 0, end = url.size();
        while (begin < end && url[begin] == u'/')
            ++begin;
        while (end > begin && url[end - 1] == u'/')
            --end;
        const QString trimmed = url.mid(begin, end - begin);
        names.append(trimmed.mid(trimmed.lastIndexOf(u'/') + 1));
    }
    return *StringHelper::removeEscapeCharacterOfString(names.join(u',').remove(u'"'));
}
