#include "Alerts.h"

#include <cstdio>

namespace platform {

int LoggedAlerts::runModal(const AlertRequest& request) {
    std::fprintf(stderr, "alert: %s: %s\n", qUtf8Printable(request.messageText),
                 qUtf8Printable(request.informativeText));
    return 0;
}

void LoggedAlerts::beginSheet(const AlertRequest& request, std::function<void(int response)> completion) {
    completion(runModal(request));
}

void LoggedAlerts::beginFolderPanel(std::function<void(std::optional<QString> folder)> completion) {
    completion(std::nullopt);
}

std::optional<QString> LoggedAlerts::runSavePanel(const SavePanelRequest&) {
    return std::nullopt;
}

} // namespace platform
