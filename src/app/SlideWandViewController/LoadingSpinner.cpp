#include "LoadingSpinner.h"

#include <QPainter>
#include <QTimer>

LoadingSpinner::LoadingSpinner(QWidget* parent)
    : QWidget(parent)
    , timer_(new QTimer(this)) {
    timer_->setInterval(50);
    connect(timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
    hide();
}

void LoadingSpinner::startAnimation() {
    timer_->start();
    show();
}

void LoadingSpinner::stopAnimation() {
    timer_->stop();
    hide();
}

bool LoadingSpinner::isAnimating() const {
    return timer_->isActive();
}

void LoadingSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(120, 120, 120), 2.5, Qt::SolidLine, Qt::RoundCap));
    const QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
    painter.drawArc(box, -angle_ * 16, 270 * 16);
}
