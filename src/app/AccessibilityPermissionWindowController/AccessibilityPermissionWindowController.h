#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AccessibilityPermissionWindowController;
}

// Tells the user what this system needs before the phone can drive the keyboard and the pointer.
class AccessibilityPermissionWindowController : public QDialog {
    Q_OBJECT
public:
    explicit AccessibilityPermissionWindowController(QWidget* parent = nullptr);
    ~AccessibilityPermissionWindowController() override;

private:
    std::unique_ptr<Ui::AccessibilityPermissionWindowController> ui_;
};
