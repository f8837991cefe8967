#include "platform/ui/PictureBoxWidget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

namespace tarnel {

PictureBoxWidget::PictureBoxWidget(PictureBox* model, QWidget* parent) : QWidget(parent), model_(model) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    syncSize();
}

void PictureBoxWidget::syncSize() {
    QSize size(model_->scaleWidth(), model_->scaleHeight());
    if (this->size() != size) resize(size);
    update();
}

void PictureBoxWidget::refresh() { update(); }

void PictureBoxWidget::refreshRect(const Rect& r) {
    if (r.isEmpty()) return;
    update(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

int PictureBoxWidget::buttonCode(Qt::MouseButtons buttons) {
    int code = 0;
    if (buttons & Qt::LeftButton) code |= kLeftButton;
    if (buttons & Qt::RightButton) code |= kRightButton;
    if (buttons & Qt::MiddleButton) code |= kMiddleButton;
    return code;
}

int PictureBoxWidget::shiftCode(Qt::KeyboardModifiers modifiers) {
    int code = 0;
    if (modifiers & Qt::ShiftModifier) code |= kShiftMask;
    if (modifiers & Qt::ControlModifier) code |= kCtrlMask;
    if (modifiers & Qt::AltModifier) code |= kAltMask;
    return code;
}

void PictureBoxWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const Bitmap& image = model_->image();
    QRect area = event->rect();
    if (image.empty() || image.bpp() != 32) {
        painter.fillRect(area, QColor(RedOf(model_->backColor), GreenOf(model_->backColor), BlueOf(model_->backColor)));
        return;
    }
    // The image is 32-bpp B,G,R,x top-down: Qt's RGB32 layout, shown without a copy.
    QImage view(image.bits(), image.width(), image.height(), image.stride(), QImage::Format_RGB32);
    QRect inside = area.intersected(view.rect());
    if (!inside.isEmpty()) painter.drawImage(inside.topLeft(), view, inside);
    QRegion rest = QRegion(area).subtracted(QRegion(view.rect()));
    for (const QRect& r : rest)
        painter.fillRect(r, QColor(RedOf(model_->backColor), GreenOf(model_->backColor), BlueOf(model_->backColor)));
    if (frameColor_.isValid()) {
        painter.setPen(frameColor_);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void PictureBoxWidget::mousePressEvent(QMouseEvent* event) {
    QPointF p = event->position();
    emit mouseDown(buttonCode(event->button()), shiftCode(event->modifiers()), float(p.x()), float(p.y()));
}

void PictureBoxWidget::mouseMoveEvent(QMouseEvent* event) {
    QPointF p = event->position();
    emit mouseMove(buttonCode(event->buttons()), shiftCode(event->modifiers()), float(p.x()), float(p.y()));
}

void PictureBoxWidget::mouseReleaseEvent(QMouseEvent* event) {
    QPointF p = event->position();
    emit mouseUp(buttonCode(event->button()), shiftCode(event->modifiers()), float(p.x()), float(p.y()));
}

}  // namespace tarnel
