#pragma once

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
};

// Whether the process runs with the super-user's rights.
bool runsAsSuperUser();

class LinuxHostFacts : public HostFacts {
public:
    // The folder that lists the installed applications (their desktop entries).
    explicit LinuxHostFacts(QString applicationsFolder = QStringLiteral("/usr/share/applications"));

    QString hostName() override;
    QString operatingSystemVersionString() override;
    std::optional<std::vector<InterfaceAddress>> interfaceAddresses() override;
    std::optional<QStringList> applicationsFolderEntries() override;
    QString userName() override;

private:
    QString applicationsFolder_;
};

} // namespace platform
