#include "TapdeckPanelInfoDTO.h"

#include <utility>

TapdeckPanelInfoDTO::TapdeckPanelInfoDTO(QString panelName, QList<TapdeckIcon> icons)
    : PanelName(std::move(panelName))
    , Icons(std::move(icons)) {}
