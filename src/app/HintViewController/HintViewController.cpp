#include "HintViewController.h"

#include "ui_HintViewController.h"

#include "core/UserDefaultHelper.h"

#include <QCloseEvent>

HintViewController::HintViewController(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui_(std::make_unique<Ui::HintViewController>()) {
    ui_->setupUi(this);
    connect(ui_->confirmButton, &QPushButton::clicked, this, &HintViewController::tapConfirmButton);
}

HintViewController::~HintViewController() = default;

void HintViewController::tapConfirmButton() {
    close();
}

bool HintViewController::windowShouldClose() {
    if (ui_->noShowCheckBox->isChecked())
        UserDefaultHelper::SaveIsStoppedShowingHint(true);
    return true;
}

void HintViewController::closeEvent(QCloseEvent* event) {
    if (windowShouldClose())
        event->accept();
    else
        event->ignore();
}
