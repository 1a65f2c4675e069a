#pragma once

#include <QMainWindow>

class MainWindowServices;
class SlideWandViewController;

// The main window: it holds the main view controller, folded at first, and its close button only
// minimises it, so the services it started live until the application quits.
class MainWindowController : public QMainWindow {
    Q_OBJECT
public:
    // identifier: "SlideWandWindowController" or "PodiumCastWindowController".
    MainWindowController(const QString& identifier, MainWindowServices& services, QWidget* parent = nullptr);
    ~MainWindowController() override;

    SlideWandViewController* contentViewController() const { return controller_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    SlideWandViewController* controller_;
};
