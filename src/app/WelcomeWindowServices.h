#pragma once

class QMenu;
class QString;
class QWidget;

namespace platform {
class Alerts;
class Bundle;
} // namespace platform

// What the welcome and settings window reaches: the bundle's pictures, the alerts, the application menu
// whose third item it hides, and the main windows it opens. The application's composition root gives the
// real ones; tests give recording ones.
class WelcomeWindowServices {
public:
    virtual ~WelcomeWindowServices() = default;

    virtual const platform::Bundle& bundle() = 0;
    virtual platform::Alerts& alerts() = 0;
    // The application menu; nothing where there is none.
    virtual QMenu* applicationMenu() = 0;
    // Makes and shows the main window of the identifier ("SlideWandWindowController",
    // "PodiumCastWindowController"); nothing for any other identifier.
    virtual QWidget* instantiateWindow(const QString& identifier) = 0;
};
