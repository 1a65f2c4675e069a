#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace platform {

// One entry of the system's interface list, in the list's order.
struct InterfaceAddress {
    enum class Family { IPv4, IPv6, Other };
    QString interfaceName;
    bool up = false;
    Family family = Family::Other;
    // Numeric text of the address; absent when it could not be converted.
    std::optional<QString> address;
};

class HostFacts {
public:
    virtual ~HostFacts() = default;
    virtual QString hostName() = 0;
    // Human-readable operating-system version text.
    virtual QString operatingSystemVersionString() = 0;
    // The interface list; nothing when the system could not be asked.
    virtual std::optional<std::vector<InterfaceAddress>> interfaceAddresses() = 0;
    // Absolute file URL texts of the entries of the installed-applications folder, hidden entries
    // skipped (folders end in "/"); nothing when the folder cannot be listed.
    virtual std::optional<QStringList> applicationsFolderEntries() = 0;
    // The login name of the user the process runs as.
    virtual QString userName() = 0;
    // The 16 bytes of this machine's own stable id, the one the init system and D-Bus share; nothing
    // when the host has none that can be read.
    virtual std::optional<QByteArray> machineId() { return std::nullopt; }
};

// Whether the process runs with the super-user's rights.
bool runsAsSuperUser();

class LinuxHostFacts : public HostFacts {
public:
    // The folder that lists the installed applications (their desktop entries), and the files that may
    // hold the machine id, the first one that holds a valid id counting.
    explicit LinuxHostFacts(QString applicationsFolder = QStringLiteral("/usr/share/applications"),
                            QStringList machineIdFiles = {QStringLiteral("/etc/machine-id"),
                                                          QStringLiteral("/var/lib/dbus/machine-id")});

    QString hostName() override;
    QString operatingSystemVersionString() override;
    std::optional<std::vector<InterfaceAddress>> interfaceAddresses() override;
    std::optional<QStringList> applicationsFolderEntries() override;
    QString userName() override;
    // Each file holds the id as 32 hexadecimal digits and a line feed; one that is missing, empty, all
    // zeros or otherwise (the "uninitialized" of a first boot) is passed over.
    std::optional<QByteArray> machineId() override;

private:
    QString applicationsFolder_;
    QStringList machineIdFiles_;
};

} // namespace platform
