#include "LocalUtils.h"

#include "Coercion.h"
#include "GetIPAddress.h"
#include "StringHelper.h"
#include "UserDefaultHelper.h"
#include "UserDefaults.h"
#include "platform/Bundle.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"

#include "Logger.h"

#include <QMessageAuthenticationCode>
#include <QUuid>

#include <mutex>

namespace {

const QString kMachineIndex = QStringLiteral("MachineIndex");

// The id of this program on this machine, the same at every launch: the first 16 bytes of HMAC-SHA256
// keyed by the machine's own id, over the bundle identifier (systemd derives its application-specific
// ids so), as 32 upper-case hexadecimal digits. The machine's id cannot be recovered from it.
std::optional<QString> derivedMachineIndex(platform::HostFacts& host) {
    const auto machineId = host.machineId();
    if (!machineId)
        return std::nullopt;
    const QByteArray identifier = platform::Bundle::main()->bundleIdentifier().value_or(QString()).toUtf8();
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(identifier, *machineId, QCryptographicHash::Sha256)
            .left(16)
            .toHex()
            .toUpper());
}

} // namespace

QString LocalUtils::GetMachineIndex() {
    return GetMachineIndex(*platform::Platform::hostFacts());
}

QString LocalUtils::GetMachineIndex(platform::HostFacts& host) {
    // The id in use, kept for the life of the process: when the settings cannot hold it, it still does not
    // change from one call to the next.
    static std::mutex mutex;
    static std::optional<QString> inUse;
    static bool warned = false;
    std::lock_guard lock(mutex);
    if (const auto stored = UserDefaultHelper::MachineIndex(); !StringHelper::isNullOrEmpty(stored)) {
        inUse = stored;
        return *stored;
    }
    QString whyNot;
    bool derived = false, stored = false;
    if (!inUse) {
        // A new id, made at random where it can be stored: one that cannot be stored is derived from
        // the machine's id instead, so that the next launch, which cannot read it either, comes to the
        // same one.
        inUse = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().remove(u'-');
        stored = UserDefaults::write(kMachineIndex, *inUse, &whyNot);
        if (const auto fromMachine = stored ? std::nullopt : derivedMachineIndex(host)) {
            inUse = fromMachine;
            derived = true;
            stored = UserDefaults::write(kMachineIndex, *inUse, &whyNot);
        }
    } else {
        stored = UserDefaults::write(kMachineIndex, *inUse, &whyNot);
    }
    // One that is not stored is held by the store, which saves it as soon as its file can be written.
    if (stored || warned)
        return *inUse;
    warned = true;
    if (derived)
        LOG_WARNING("The machine id cannot be stored in the user defaults ({}); it is derived from this "
                    "machine's id, the same at every launch, and stored once the user defaults can be saved.",
                    whyNot);
    else
        LOG_WARNING("The machine id cannot be stored in the user defaults ({}); it holds until the program "
                    "ends, or is stored once the user defaults can be saved.",
                    whyNot);
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
