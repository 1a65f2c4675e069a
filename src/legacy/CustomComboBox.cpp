#include "CustomComboBox.h"

#include "CustomComboBoxCell.h"

CustomComboBox::CustomComboBox(QWidget* parent)
    : QComboBox(parent)
    , cell_(new CustomComboBoxCell) {
    // A widget does not own its style: the cell goes with the combo box.
    cell_->setParent(this);
    setStyle(cell_);
}
