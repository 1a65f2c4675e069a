#pragma once

#include "JSONModel.h"
#include "TapdeckIcon.h"

#include <QList>
#include <QString>

#include <tuple>

// A panel in a panel report.
class TapdeckPanelInfoDTO : public JSONModel<TapdeckPanelInfoDTO> {
public:
    TapdeckPanelInfoDTO() = default;
    TapdeckPanelInfoDTO(QString panelName, QList<TapdeckIcon> icons);

    QString PanelName;
    QList<TapdeckIcon> Icons;

    static constexpr auto jsonFields() {
        return std::tuple(requiredKey("PanelName", &TapdeckPanelInfoDTO::PanelName),
                          requiredKey("Icons", &TapdeckPanelInfoDTO::Icons));
    }

    bool operator==(const TapdeckPanelInfoDTO&) const = default;
};
