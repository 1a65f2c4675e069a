#pragma once

#include <QString>
#include <QStringList>

namespace platform {
class HostFacts;
}

// The machine's identity and addresses.
class LocalUtils {
public:
    // The persistent machine id: 32 upper-case hexadecimal digits, made once and kept in "MachineIndex".
    // Where the user defaults cannot store it, it is derived from the host's machine id and the bundle
    // identifier, so that it is the same at every launch (random, for this run, on a host without one),
    // and stored as soon as they can.
    static QString GetMachineIndex();
    static QString GetMachineIndex(platform::HostFacts& host);
    // Every IPv4 address of the interfaces that are up (127.0.0.1 included), in the table's order.
    static QStringList GetLanIpList();
    static QStringList GetLanIpList(platform::HostFacts& host);
    // Whether the text is a private IPv4 address (10/8, 172.16/12, 192.168/16).
    static bool IsLanAddress(const std::optional<QString>& address);
    // The entries of the installed-applications folder joined by ",", escaped for a JSON value.
    static QString InstalledSoftwareString();
    static QString InstalledSoftwareString(platform::HostFacts& host);
};
