#pragma once

#include "platform/Alerts.h"

// Alerts as Qt message boxes and panels as Qt file dialogs.
class QtAlerts : public platform::Alerts {
public:
    int runModal(const platform::AlertRequest& request) override;
    void beginSheet(const platform::AlertRequest& request,
                    std::function<void(int response)> completion) override;
    void beginFolderPanel(std::function<void(std::optional<QString> folder)> completion) override;
    std::optional<QString> runSavePanel(const platform::SavePanelRequest& request) override;
};
