#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class DebugViewController;
}

// A small window in which a tester types a line of debug information and stores it, or clears it. It
// opens with its own initial text, not with what was stored.
class DebugViewController : public QWidget {
    Q_OBJECT
public:
    explicit DebugViewController(QWidget* parent = nullptr);
    ~DebugViewController() override;

    // Stores the field's text without its line feeds and spaces.
    void tapOkButton();
    // Empties the field and stores the empty text.
    void tapClearButton();

    Ui::DebugViewController& ui() const { return *ui_; }

private:
    std::unique_ptr<Ui::DebugViewController> ui_;
};
