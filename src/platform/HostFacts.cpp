#include "HostFacts.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <cctype>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>

namespace platform {

LinuxHostFacts::LinuxHostFacts(QString applicationsFolder, QStringList machineIdFiles)
    : applicationsFolder_(std::move(applicationsFolder))
    , machineIdFiles_(std::move(machineIdFiles)) {}

QString LinuxHostFacts::hostName() {
    return QSysInfo::machineHostName();
}

QString LinuxHostFacts::operatingSystemVersionString() {
    return QSysInfo::prettyProductName();
}

std::optional<std::vector<InterfaceAddress>> LinuxHostFacts::interfaceAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::vector<InterfaceAddress> entries;
    for (const ifaddrs* it = list; it; it = it->ifa_next) {
        InterfaceAddress entry;
        entry.interfaceName = QString::fromLocal8Bit(it->ifa_name);
        entry.up = (it->ifa_flags & IFF_UP) != 0;
        const sockaddr* sa = it->ifa_addr;
        if (sa && sa->sa_family == AF_INET) {
            entry.family = InterfaceAddress::Family::IPv4;
            char text[INET_ADDRSTRLEN];
            if (inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text))
                entry.address = QString::fromLatin1(text);
        } else if (sa && sa->sa_family == AF_INET6) {
            entry.family = InterfaceAddress::Family::IPv6;
            char text[INET6_ADDRSTRLEN];
            if (inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof text))
                entry.address = QString::fromLatin1(text);
        }
        entries.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return entries;
}

std::optional<QStringList> LinuxHostFacts::applicationsFolderEntries() {
    const QDir dir(applicationsFolder_);
    if (!dir.exists() || !dir.isReadable())
        return std::nullopt;
    QStringList urls;
    const auto entries = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : entries) {
        QString url = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
        if (info.isDir())
            url += u'/';
        urls.append(url);
    }
    return urls;
}

bool runsAsSuperUser() {
    return geteuid() == 0;
}

QString LinuxHostFacts::userName() {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return qEnvironmentVariable("USER");
}

std::optional<QByteArray> LinuxHostFacts::machineId() {
    for (const QString& path : std::as_const(machineIdFiles_)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // A longer text is no id: no more than that is read.
        const QByteArray text = file.read(64).trimmed();
        if (text.size() != 32 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(uchar(c)); }))
            continue;
        const QByteArray id = QByteArray::fromHex(text);
        if (id.count('\0') != id.size())
            return id;
    }
    return std::nullopt;
}

} // namespace platform
