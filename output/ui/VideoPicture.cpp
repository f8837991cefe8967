#include "output/ui/VideoPicture.h"

#include <QPainter>

namespace tarnel {

VideoPicture::VideoPicture(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
}

void VideoPicture::Place(const Rect& rect) {
    placed_ = QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    update();
}

void VideoPicture::ShowFrame(const Bitmap& frame) {
    if (frame.empty() || frame.bpp() != 32) return;
    // The device reuses its bitmap for the next frame: keep a copy.
    frame_ = QImage(frame.bits(), frame.width(), frame.height(), frame.stride(), QImage::Format_RGB32).copy();
    if (!frame.topDown()) frame_.mirror(false, true);
    ++framesShown_;
    update();
}

void VideoPicture::Clear() {
    if (holdOnClear_) return;
    frame_ = QImage();
    update();
}

void VideoPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (frame_.isNull()) return;
    const QRect target = placed_.isEmpty() ? rect() : placed_;
    // A video larger than the screen is drawn smaller: filtered, not dropped pixels.
    p.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != frame_.size());
    p.drawImage(target, frame_);
}

}  // namespace tarnel
