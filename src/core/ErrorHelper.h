#pragma once

#include <QString>

namespace platform {
class Alerts;
}

class ErrorHelper {
public:
    // Logs the message as an error and shows it in a modal alert titled "Error" with one "OK" button
    // (both through the bundle's localisation table), on the main thread. Returns when the alert is
    // closed. The message is shown as it is: placeholders in it are not filled.
    static void ShowErrorMessage(const QString& message);
    // The same through the given alerts.
    static void ShowErrorMessage(const QString& message, platform::Alerts& alerts);
};
