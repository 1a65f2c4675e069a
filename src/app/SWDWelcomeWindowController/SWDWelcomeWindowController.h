#pragma once

#include <QDialog>

class SWDWelcomeViewController;
class WelcomeWindowServices;

// The welcome window, the first window of a launch: it asks which main window to run. The same window
// serves as the settings window once it is told so, before it is first shown. OK is its default button,
// so Return confirms; the application menu sits above the content.
class SWDWelcomeWindowController : public QDialog {
    Q_OBJECT
public:
    explicit SWDWelcomeWindowController(WelcomeWindowServices& services, QWidget* parent = nullptr);
    ~SWDWelcomeWindowController() override;

    SWDWelcomeViewController* contentViewController() const { return controller_; }

    bool isSettingPage() const { return isSettingPage_; }
    // Stores the flag, loads the window if it was not loaded yet, and titles it "Setting".
    void setIsSettingPage(bool isSettingPage);

protected:
    // The window is loaded when it is first shown or told it is the settings window, whichever comes
    // first: the welcome window disables the application menu's third item, the settings window is
    // titled "Setting".
    void windowDidLoad();
    // Once the window is on the screen, its content appears.
    void showEvent(QShowEvent* event) override;

private:
    void loadWindow();

    WelcomeWindowServices& services_;
    SWDWelcomeViewController* controller_;
    bool isSettingPage_ = false;
    bool windowLoaded_ = false;
};
