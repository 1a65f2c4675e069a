#pragma once

#include <QString>
#include <QStringList>

namespace platform {

struct AlertRequest {
    QString messageText;
    QString informativeText;
    QStringList buttons;
};

// Modal alerts. Callers are on the main thread.
class Alerts {
public:
    virtual ~Alerts() = default;
    // Shows the alert and returns the index of the button the user pressed.
    virtual int runModal(const AlertRequest& request) = 0;
};

class QtAlerts : public Alerts {
public:
    int runModal(const AlertRequest& request) override;
};

} // namespace platform
