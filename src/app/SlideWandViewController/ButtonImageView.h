#pragma once

#include <QLabel>

// A picture that acts as a button: a press posts "kTapExpandButtonSignal" and goes no further.
class ButtonImageView : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
