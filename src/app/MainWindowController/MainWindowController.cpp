#include "MainWindowController.h"

#include "app/SlideWandViewController/SlideWandViewController.h"

#include <QApplication>
#include <QCloseEvent>

MainWindowController::MainWindowController(const QString& identifier, MainWindowServices& services, QWidget* parent)
    : QMainWindow(parent)
    , controller_(new SlideWandViewController(services, this)) {
    setObjectName(identifier);
    setWindowTitle(QApplication::applicationDisplayName());
    setCentralWidget(controller_);
    setFixedSize(SlideWandViewController::kFoldedWidth, controller_->height());
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
