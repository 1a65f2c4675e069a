#pragma once

#include <QComboBox>

class CustomComboBoxCell;

// The legacy window's address list: a combo box drawn by a CustomComboBoxCell of its own.
class CustomComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CustomComboBox(QWidget* parent = nullptr);

    CustomComboBoxCell* cell() const { return cell_; }

private:
    CustomComboBoxCell* cell_;
};
