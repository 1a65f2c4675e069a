#pragma once

#include <QMap>
#include <QString>

#include <optional>

namespace platform {
class HostFacts;
}

// The machine's addresses by interface, from the system's interface list.
class GetIPAddress {
public:
    // "<interface>/ipv4" or "<interface>/ipv6" -> numeric address text, for the interfaces that are up.
    // When an interface has several addresses of one family, the last in the system's list wins.
    // Nothing when no address was found or the list could not be read.
    static std::optional<QMap<QString, QString>> getIPAddresses();
    // The same from the host's interface list.
    static std::optional<QMap<QString, QString>> getIPAddresses(platform::HostFacts& host);

    // The first address found among utun0, en0 and pdp_ip0, each with the preferred family first;
    // "0.0.0.0" when there is none.
    static QString getIPAddress(bool preferIPv4);
};
