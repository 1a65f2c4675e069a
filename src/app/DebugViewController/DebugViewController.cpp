#include "DebugViewController.h"

#include "ui_DebugViewController.h"

#include "core/UserDefaultHelper.h"

DebugViewController::DebugViewController(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui_(std::make_unique<Ui::DebugViewController>()) {
    ui_->setupUi(this);
    connect(ui_->okButton, &QPushButton::clicked, this, &DebugViewController::tapOkButton);
    connect(ui_->clearButton, &QPushButton::clicked, this, &DebugViewController::tapClearButton);
}

DebugViewController::~DebugViewController() = default;

void DebugViewController::tapOkButton() {
    QString text = ui_->infoTextField->text();
    text.remove(u'\n');
    text.remove(u' ');
    UserDefaultHelper::SaveDebugInfo(text);
}

void DebugViewController::tapClearButton() {
    ui_->infoTextField->setText(QString());
    UserDefaultHelper::SaveDebugInfo(QString());
}
