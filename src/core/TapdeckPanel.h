#pragma once

#include "JSONModel.h"
#include "TapdeckCommand.h"

#include <QList>
#include <QString>

#include <tuple>

// A named quick-command panel; stored in the user defaults under "TapdeckPanel:<panelName>".
class TapdeckPanel : public JSONModel<TapdeckPanel> {
public:
    QString panelName;
    // In display order.
    QList<TapdeckCommand> tapdeckCommands;

    static constexpr auto jsonFields() {
        return std::tuple(requiredKey("panelName", &TapdeckPanel::panelName),
                          requiredKey("tapdeckCommands", &TapdeckPanel::tapdeckCommands));
    }

    bool operator==(const TapdeckPanel&) const = default;
};
