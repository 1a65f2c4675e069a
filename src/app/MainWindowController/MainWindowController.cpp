#include "MainWindowController.h"

#include "app/MainWindowServices.h"
#include "app/SlideWandViewController/SlideWandViewController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>

MainWindowController::MainWindowController(const QString& identifier, MainWindowServices& services, QWidget* parent)
    : QMainWindow(parent)
    , controller_(new SlideWandViewController(services, this)) {
    setObjectName(identifier);
    setWindowTitle(QApplication::applicationDisplayName());
    setCentralWidget(controller_);
    int menuHeight = 0;
    if (QMenu* menu = services.applicationMenu()) {
        menuBar()->addMenu(menu);
        menuHeight = menuBar()->sizeHint().height();
    }
    setFixedSize(SlideWandViewController::kFoldedWidth, controller_->height() + menuHeight);
    controller_->viewDidLoad();
}

MainWindowController::~MainWindowController() = default;

void MainWindowController::closeEvent(QCloseEvent* event) {
    event->ignore();
    showMinimized();
}

void MainWindowController::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    controller_->viewDidAppear();
}
