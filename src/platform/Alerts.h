#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace platform {

enum class AlertStyle { Warning, Informational, Critical };

struct AlertRequest {
    QString messageText;
    QString informativeText;
    QStringList buttons;
    AlertStyle style = AlertStyle::Warning;
};

// A save panel: its title, the name it proposes, and an accessory line (a label and a list of items, the
// first one chosen) below the name.
struct SavePanelRequest {
    QString title;
    QString nameFieldValue;
    QString accessoryLabel;
    QStringList accessoryItems;
};

// Modal alerts and panels. Callers are on the main thread.
class Alerts {
public:
    virtual ~Alerts() = default;
    // Shows the alert and returns the index of the button the user pressed.
    virtual int runModal(const AlertRequest& request) = 0;
    // Shows the alert as a sheet of the active window (modal to that window only) and returns at once;
    // the completion gets the index of the button the user pressed.
    virtual void beginSheet(const AlertRequest& request, std::function<void(int response)> completion) = 0;
    // A folder chooser (folders only, one choice, new folders allowed) attached to the active window;
    // the completion gets the chosen folder's path, or nothing when the user cancels.
    virtual void beginFolderPanel(std::function<void(std::optional<QString> folder)> completion) = 0;
    // A modal save panel; the chosen path, or nothing when the user cancels.
    virtual std::optional<QString> runSavePanel(const SavePanelRequest& request) = 0;
};

// Alerts where nobody is there to answer: each alert goes to the log and is answered with its first
// button; a panel is cancelled.
class LoggedAlerts : public Alerts {
public:
    int runModal(const AlertRequest& request) override;
    void beginSheet(const AlertRequest& request, std::function<void(int response)> completion) override;
    void beginFolderPanel(std::function<void(std::optional<QString> folder)> completion) override;
    std::optional<QString> runSavePanel(const SavePanelRequest& request) override;
};

} // namespace platform
