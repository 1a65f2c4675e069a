#pragma once

#include <QProxyStyle>

// How the legacy window's address list draws its face: as the application's style does, after a log
// line and, when the list paints a background of its own, after making that background opaque red.
class CustomComboBoxCell : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};
