#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class HintViewController;
}

// A window of advice on presenting from the phone, with a box for not showing it again: the choice is
// stored when the window closes, by OK or by its close button.
class HintViewController : public QWidget {
    Q_OBJECT
public:
    explicit HintViewController(QWidget* parent = nullptr);
    ~HintViewController() override;

    // Closes the window as its close button does.
    void tapConfirmButton();
    // Stores that the hint is not to be shown again when the box is on (a box that is off stores
    // nothing); the window always closes.
    bool windowShouldClose();

    Ui::HintViewController& ui() const { return *ui_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::HintViewController> ui_;
};
