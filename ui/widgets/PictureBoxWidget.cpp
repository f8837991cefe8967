#include "ui/widgets/PictureBoxWidget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/view/ZoomMapping.h"

namespace tarnel {

PictureBoxWidget::PictureBoxWidget(PictureBox* model, QWidget* parent) : QWidget(parent), model_(model) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    syncSize();
}

void PictureBoxWidget::syncSize() {
    reduced_ = QImage();
    QSize size(ZoomedLength(model_->scaleWidth(), zoom_), ZoomedLength(model_->scaleHeight(), zoom_));
    if (this->size() != size) resize(size);
    update();
}

void PictureBoxWidget::setZoom(double zoom) {
    if (!(zoom > 0) || !std::isfinite(zoom)) return;
    zoom_ = zoom;
    syncSize();
}

void PictureBoxWidget::refresh() { update(); }

QPointF PictureBoxWidget::toModel(const QPointF& p) const {
    return QPointF(ScreenToImage(p.x(), zoom_), ScreenToImage(p.y(), zoom_));
}

QRect PictureBoxWidget::widgetRect(const Rect& r) const {
    if (r.isEmpty()) return QRect();
    if (zoom_ == 1.0) return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    const int left = int(std::floor(r.left * zoom_)) - overlayMargin_;
    const int top = int(std::floor(r.top * zoom_)) - overlayMargin_;
    const int right = int(std::ceil(r.right * zoom_)) + overlayMargin_;
    const int bottom = int(std::ceil(r.bottom * zoom_)) + overlayMargin_;
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)).intersected(rect());
}

void PictureBoxWidget::refreshRect(const Rect& r) {
    QRect area = widgetRect(r);
    if (!area.isEmpty()) update(area);
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
    if (zoom_ != 1.0) {
        paintScaled(painter, area);
        return;
    }
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

const QImage& PictureBoxWidget::pictureImage() {
    const std::shared_ptr<Bitmap>& picture = model_->picture().bitmap;
    // The same bitmap, not re-created in place since it was wrapped.
    if (cachedPicture_.lock() == picture && !pictureImage_.isNull() && picture &&
        pictureImage_.size() == QSize(picture->width(), picture->height()) &&
        (pictureImage_.constBits() == picture->bits() || !(picture->bpp() == 32 && picture->topDown())))
        return pictureImage_;
    cachedPicture_ = picture;
    reduced_ = QImage();
    pictureImage_ = QImage();
    if (!model_->hasPicture()) return pictureImage_;
    const Bitmap& b = *picture;
    if (b.bpp() == 32 && b.topDown()) {
        // B,G,R,x top-down is Qt's RGB32: shown without a copy.
        pictureImage_ = QImage(b.bits(), b.width(), b.height(), b.stride(), QImage::Format_RGB32);
        return pictureImage_;
    }
    QImage copy(b.width(), b.height(), QImage::Format_RGB32);
    if (copy.isNull()) return pictureImage_;
    for (int y = 0; y < b.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(copy.scanLine(y));
        for (int x = 0; x < b.width(); ++x) {
            RGBQuad c = b.pixelColor(x, y);
            row[x] = qRgb(c.red, c.green, c.blue);
        }
    }
    pictureImage_ = copy;
    return pictureImage_;
}

void PictureBoxWidget::paintScaled(QPainter& painter, const QRect& area) {
    const QColor back(RedOf(model_->backColor), GreenOf(model_->backColor), BlueOf(model_->backColor));
    const QImage& source = pictureImage();
    if (source.isNull()) {
        painter.fillRect(area, back);
    } else if (zoom_ < 1.0) {
        // Reduced once with area averaging; each paint copies only the exposed part.
        if (reduced_.size() != size())
            reduced_ = source.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(area.topLeft(), reduced_, area);
    } else {
        // Whole source pixels that touch the area, each drawn as a block.
        const int x0 = std::max(0, int(std::floor(area.left() / zoom_)));
        const int y0 = std::max(0, int(std::floor(area.top() / zoom_)));
        const int x1 = std::min(source.width(), int(std::ceil((area.right() + 1) / zoom_)));
        const int y1 = std::min(source.height(), int(std::ceil((area.bottom() + 1) / zoom_)));
        if (x1 > x0 && y1 > y0) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(QRectF(x0 * zoom_, y0 * zoom_, (x1 - x0) * zoom_, (y1 - y0) * zoom_), source,
                              QRectF(x0, y0, x1 - x0, y1 - y0));
        }
    }
    if (overlay_) {
        painter.save();
        const QPointF from = toModel(area.topLeft()), to = toModel(area.bottomRight() + QPoint(1, 1));
        overlay_(painter, QRectF(from, to), zoom_);
        painter.restore();
    }
}

void PictureBoxWidget::mousePressEvent(QMouseEvent* event) {
    QPointF p = toModel(event->position());
    emit mouseDown(buttonCode(event->button()), shiftCode(event->modifiers()), float(p.x()), float(p.y()));
}

void PictureBoxWidget::mouseMoveEvent(QMouseEvent* event) {
    QPointF p = toModel(event->position());
    emit mouseMove(buttonCode(event->buttons()), shiftCode(event->modifiers()), float(p.x()), float(p.y()));
}

void PictureBoxWidget::mouseReleaseEvent(QMouseEvent* event) {
    QPointF p = toModel(event->position());
    emit mouseUp(buttonCode(event->button()), shiftCode(event->modifiers()), float(p.x()), float(p.y()));
}

}  // namespace tarnel
