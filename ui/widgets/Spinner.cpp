#include "ui/widgets/Spinner.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

namespace tarnel {

Spinner::Spinner(int minimum, int maximum, int value, QWidget* parent)
    : QWidget(parent), min_(minimum), max_(maximum), value_(value < minimum ? minimum : value > maximum ? maximum : value) {
    setFixedSize(sizeHint());
    repeat_.setInterval(80);
    connect(&repeat_, &QTimer::timeout, this, &Spinner::repeat);
}

bool Spinner::setValue(int value) {
    if (value < min_ || value > max_) return false;
    if (value == value_) return true;
    value_ = value;
    update();
    emit changed(value_);
    return true;
}

Spinner::Part Spinner::partAt(const QPoint& p) const {
    if (!rect().contains(p)) return Part::None;
    return p.y() < height() / 2 ? Part::Up : Part::Down;
}

void Spinner::repeat() {
    repeat_.setInterval(60);
    if (pressed_ == Part::Up) stepUp();
    if (pressed_ == Part::Down) stepDown();
}

void Spinner::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = partAt(event->position().toPoint());
    update();
    if (pressed_ == Part::Up) stepUp();
    if (pressed_ == Part::Down) stepDown();
    repeat_.setInterval(400);
    repeat_.start();
}

void Spinner::mouseReleaseEvent(QMouseEvent*) {
    repeat_.stop();
    pressed_ = Part::None;
    update();
}

void Spinner::wheelEvent(QWheelEvent* event) {
    if (!isEnabled()) return;
    int dy = event->angleDelta().y();
    if (dy > 0) stepUp();
    if (dy < 0) stepDown();
    event->accept();
}

void Spinner::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        repeat_.stop();
        pressed_ = Part::None;
    }
    QWidget::changeEvent(event);
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool on = isEnabled();
    const int h = height() / 2;
    auto drawHalf = [&](QRectF r, bool up, bool down) {
        QColor face = on ? QColor(192, 192, 255) : QColor(200, 200, 214);
        if (down) face = face.darker(118);
        QPainterPath box;
        box.addRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
        p.fillPath(box, face);
        p.setPen(QPen(on ? QColor(70, 74, 130) : QColor(150, 150, 168), 1));
        p.drawPath(box);
        // Arrow head.
        QPointF c = r.center();
        qreal w = 3.5, hh = 2.2;
        QPainterPath arrow;
        if (up) {
            arrow.moveTo(c.x() - w, c.y() + hh);
            arrow.lineTo(c.x() + w, c.y() + hh);
            arrow.lineTo(c.x(), c.y() - hh);
        } else {
            arrow.moveTo(c.x() - w, c.y() - hh);
            arrow.lineTo(c.x() + w, c.y() - hh);
            arrow.lineTo(c.x(), c.y() + hh);
        }
        arrow.closeSubpath();
        p.fillPath(arrow, on ? QColor(28, 32, 80) : QColor(150, 150, 168));
    };
    drawHalf(QRectF(0, 0, width(), h), true, pressed_ == Part::Up);
    drawHalf(QRectF(0, h, width(), height() - h), false, pressed_ == Part::Down);
}

}  // namespace tarnel
