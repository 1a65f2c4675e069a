#include "CustomComboBoxCell.h"

#include "core/Logger.h"

#include <QWidget>

void CustomComboBoxCell::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                            QPainter* painter, const QWidget* widget) const {
    if (control == CC_ComboBox) {
        LOG_INFO("custom draw with frame");
        // A widget that fills its own background is the one with a layer of its own: its background
        // becomes red from the next paint on. Setting the colour it has already changes nothing.
        if (widget && widget->autoFillBackground()) {
            auto* view = const_cast<QWidget*>(widget);
            QPalette palette = view->palette();
            const QColor red = QColor::fromRgbF(1, 0, 0, 1);
            if (palette.color(view->backgroundRole()) != red) {
                palette.setColor(view->backgroundRole(), red);
                view->setPalette(palette);
            }
        }
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}
