#include "output/ui/FrameView.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

namespace tarnel {

namespace {
const QColor kBackground(16, 18, 36);
}

FrameView::FrameView(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void FrameView::setFrame(const StdPicture& frame) {
    frame_ = frame;
    update();
}

void FrameView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    QRegion rest(area);
    if (frame_.isBitmap() && frame_.bitmap->bpp() == 32 && frame_.bitmap->topDown()) {
        const Bitmap& b = *frame_.bitmap;
        // 32-bpp B,G,R,x rows from the top: Qt's RGB32 layout as it is.
        const QImage view(b.bits(), b.width(), b.height(), b.stride(), QImage::Format_RGB32);
        if (fitted_) {
            // A frame larger than the screen fills the view, filtered so that
            // fine detail does not break up; the frame itself stays as decoded.
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(rect(), view);
            rest = QRegion();
        } else {
            const QRect shown = area.intersected(view.rect());
            if (!shown.isEmpty()) painter.drawImage(shown.topLeft(), view, shown);
            rest -= QRegion(view.rect());
        }
    }
    for (const QRect& r : rest) painter.fillRect(r, kBackground);
}

}  // namespace tarnel
