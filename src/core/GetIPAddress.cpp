#include "GetIPAddress.h"

#include "Logger.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"

#include <QStringList>

std::optional<QMap<QString, QString>> GetIPAddress::getIPAddresses() {
    return getIPAddresses(*platform::Platform::hostFacts());
}

std::optional<QMap<QString, QString>> GetIPAddress::getIPAddresses(platform::HostFacts& host) {
    using Family = platform::InterfaceAddress::Family;
    const auto interfaces = host.interfaceAddresses();
    if (!interfaces)
        return std::nullopt;
    QMap<QString, QString> table;
    for (const platform::InterfaceAddress& entry : *interfaces) {
        if (!entry.up || entry.family == Family::Other || !entry.address)
            continue;
        const QString family = entry.family == Family::IPv4 ? QStringLiteral("ipv4") : QStringLiteral("ipv6");
        table.insert(entry.interfaceName + u'/' + family, *entry.address);
    }
    if (table.isEmpty())
        return std::nullopt;
    return table;
}

QString GetIPAddress::getIPAddress(bool preferIPv4) {
    const QStringList interfaces{QStringLiteral("utun0"), QStringLiteral("en0"), QStringLiteral("pdp_ip0")};
    const QString first = preferIPv4 ? QStringLiteral("ipv4") : QStringLiteral("ipv6");
    const QString second = preferIPv4 ? QStringLiteral("ipv6") : QStringLiteral("ipv4");
    const auto table = getIPAddresses();
    QStringList logged;
    if (table) {
        for (auto it = table->begin(); it != table->end(); ++it)
            logged.append(it.key() + QStringLiteral(" = ") + it.value());
    }
    LOG_INFO("addresses: {}",
             table ? u'{' + logged.join(QStringLiteral("; ")) + u'}' : QStringLiteral("(null)"));
    if (!table)
        return QStringLiteral("0.0.0.0");
    for (const QString& name : interfaces) {
        for (const QString& family : {first, second}) {
            const auto it = table->constFind(name + u'/' + family);
            if (it != table->cend())
                return *it;
        }
    }
    return QStringLiteral("0.0.0.0");
}
