#include "ButtonImageView.h"

#include "core/Notifications.h"

void ButtonImageView::mousePressEvent(QMouseEvent*) {
    post(Notifications::kTapExpandButtonSignal);
}
