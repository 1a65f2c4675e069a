#include "SWDWelcomeWindowController.h"

#include "SWDWelcomeViewController.h"

#include "app/WelcomeWindowServices.h"
#include "core/Logger.h"

#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QVBoxLayout>

SWDWelcomeWindowController::SWDWelcomeWindowController(WelcomeWindowServices& services, QWidget* parent)
    : QDialog(parent)
    , services_(services)
    , controller_(new SWDWelcomeViewController(services, this)) {
    setObjectName(QStringLiteral("SWDWelcomeWindowController"));
    setWindowTitle(QStringLiteral("Welcome"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (QMenu* menu = services.applicationMenu()) {
        auto* bar = new QMenuBar(this);
        bar->addMenu(menu);
        layout->setMenuBar(bar);
    }
    layout->addWidget(controller_);
    controller_->viewDidLoad();
}

SWDWelcomeWindowController::~SWDWelcomeWindowController() = default;

void SWDWelcomeWindowController::setIsSettingPage(bool isSettingPage) {
    isSettingPage_ = isSettingPage;
    loadWindow();
    if (isSettingPage_)
        setWindowTitle(QStringLiteral("Setting"));
}

void SWDWelcomeWindowController::loadWindow() {
    if (windowLoaded_)
        return;
    windowLoaded_ = true;
    windowDidLoad();
}

void SWDWelcomeWindowController::windowDidLoad() {
    LOG_INFO("window loaded");
    if (isSettingPage_) {
        setWindowTitle(QStringLiteral("Setting"));
    } else if (QMenu* menu = services_.applicationMenu(); menu && menu->actions().size() > 2) {
        menu->actions()[2]->setEnabled(false);
    }
}

void SWDWelcomeWindowController::showEvent(QShowEvent* event) {
    loadWindow();
    QDialog::showEvent(event);
    if (event->spontaneous()) // back from being minimised
        return;
    // Later, not here: the remembered choice closes the window, which must be on the screen by then.
    QMetaObject::invokeMethod(
        controller_,
        [this] {
            if (isVisible())
                controller_->viewDidAppear();
        },
        Qt::QueuedConnection);
}
