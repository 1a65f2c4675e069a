#include "AccessibilityPermissionWindowController.h"

#include "ui_AccessibilityPermissionWindowController.h"

AccessibilityPermissionWindowController::AccessibilityPermissionWindowController(QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::AccessibilityPermissionWindowController>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("AccessibilityPermissionWindowController"));
    setAttribute(Qt::WA_DeleteOnClose, false);
}

AccessibilityPermissionWindowController::~AccessibilityPermissionWindowController() = default;
