#pragma once

#include "JSONModel.h"
#include "TapdeckPanelInfoDTO.h"

#include <QList>
#include <QString>

#include <optional>
#include <tuple>

// A report of this machine and its panels.
class TapdeckInfoDTO : public JSONModel<TapdeckInfoDTO> {
public:
    // A new report of the panels: the machine id, a new report id (32 upper-case hexadecimal digits), the
    // time of creation in seconds since 1970 UTC with fraction, the operating-system version text, the
    // bundle's "CFBundleVersion" and the installed-applications text. RunningProcesses stays unset.
    static TapdeckInfoDTO initWitPanelInfos(QList<TapdeckPanelInfoDTO> panelInfos);

    QString Id;
    QString InfoId;
    double CreateTime = 0.0;
    QList<TapdeckPanelInfoDTO> Panels;
    std::optional<QString> OsVersion;
    std::optional<QString> PcAppVersion;
    std::optional<QString> RunningProcesses;
    std::optional<QString> InstalledSoftwares;

    static constexpr auto jsonFields() {
        return std::tuple(requiredKey("Id", &TapdeckInfoDTO::Id),
                          requiredKey("InfoId", &TapdeckInfoDTO::InfoId),
                          requiredKey("CreateTime", &TapdeckInfoDTO::CreateTime),
                          requiredKey("Panels", &TapdeckInfoDTO::Panels),
                          optionalKey("OsVersion", &TapdeckInfoDTO::OsVersion),
                          optionalKey("PcAppVersion", &TapdeckInfoDTO::PcAppVersion),
                          optionalKey("RunningProcesses", &TapdeckInfoDTO::RunningProcesses),
                          optionalKey("InstalledSoftwares", &TapdeckInfoDTO::InstalledSoftwares));
    }

    bool operator==(const TapdeckInfoDTO&) const = default;
};
