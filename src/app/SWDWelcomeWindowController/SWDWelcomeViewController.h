#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QAbstractButton;
class WelcomeWindowServices;

namespace Ui {
class SWDWelcomeViewController;
}

// The welcome window's content: three version boxes that behave as radio buttons (their tags 1, 2 and 3
// are the versions), the box that remembers the choice, and OK. The chosen version is stored at once.
// As the settings window's content it only changes the stored version, for the next launch.
class SWDWelcomeViewController : public QWidget {
    Q_OBJECT
public:
    explicit SWDWelcomeViewController(WelcomeWindowServices& services, QWidget* parent = nullptr);
    ~SWDWelcomeViewController() override;

    // The main window a stored version opens: versions 1 and 3 the Slide Wand one, anything else the
    // PodiumCast one.
    static QString mainWindowIdentifier(qint64 version);

    // Frames the three pictures; the window controller calls it once, right after making the controller.
    void viewDidLoad();
    // Pre-selects the stored version (version 2 when none is); in the welcome window, then either opens
    // the remembered main window and closes, or hides the application menu's third item.
    void viewDidAppear();
    // Radio behaviour: only the sender stays on, and its tag is stored; no sender stores 0.
    void tapCheckBox(QAbstractButton* sender);
    void tapOkButton();

    bool isSettingPage() const { return isSettingPage_; }
    void setIsSettingPage(bool isSettingPage) { isSettingPage_ = isSettingPage; }

    Ui::SWDWelcomeViewController& ui() const { return *ui_; }

private:
    QAbstractButton* viewWithTag(qint64 tag) const;

    WelcomeWindowServices& services_;
    std::unique_ptr<Ui::SWDWelcomeViewController> ui_;
    bool isSettingPage_ = false;
};
