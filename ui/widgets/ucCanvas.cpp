#include "ui/widgets/ucCanvas.h"

#include <algorithm>

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "ui/widgets/PictureBoxWidget.h"

namespace tarnel {

ucCanvas::ucCanvas(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The container hears every move, with or without a button held.
    setMouseTracking(true);
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    vbar_ = new QScrollBar(Qt::Vertical, this);
    hbar_->hide();
    vbar_->hide();
    connect(hbar_, &QScrollBar::valueChanged, this, &ucCanvas::scrollBarMoved);
    connect(vbar_, &QScrollBar::valueChanged, this, &ucCanvas::scrollBarMoved);
}

void ucCanvas::Repaint() {
    if (!isVisible()) return;
    update();
}

void ucCanvas::Resize() {
    int32_t viewW = width(), viewH = height();
    bool horizontal = false, vertical = false;
    if (scrollBars_)
        CanvasLayout::ViewportWithBars(width(), height(), DIB_.Width(), DIB_.Height(), layout_.Zoom(),
                                       layout_.FitMode(), barThickness(), viewW, viewH, horizontal, vertical);
    layout_.Resize(viewW, viewH, DIB_);
    placeScrollBars(horizontal, vertical);
    updatePointer();
}

void ucCanvas::SetUserIcon(const QCursor& icon) {
    userIcon_ = icon;
    layout_.SetHasUserIcon(true);
    updatePointer();
}

void ucCanvas::ClearUserIcon() {
    userIcon_.reset();
    layout_.SetHasUserIcon(false);
    updatePointer();
}

void ucCanvas::SetWorkMode(int32_t mode) {
    layout_.SetWorkMode(mode);
    updatePointer();
}

void ucCanvas::SetBackColor(uint32_t color) {
    backColor_ = color;
    Repaint();
}

void ucCanvas::SetScrollBars(bool on) {
    scrollBars_ = on;
    Resize();
    Repaint();
}

void ucCanvas::updatePointer() {
    switch (layout_.Pointer()) {
        case kPointerCustom:
            if (userIcon_) setCursor(*userIcon_);
            break;
        case kPointerSizeAll: setCursor(Qt::SizeAllCursor); break;
        case kPointerDefault: unsetCursor(); break;
    }
}

int ucCanvas::barThickness() const {
    // The bars' own size hint follows any style sheet the window sets.
    return std::max(vbar_->sizeHint().width(), 1);
}

void ucCanvas::placeScrollBars(bool horizontal, bool vertical) {
    const int viewW = layout_.ClientWidth(), viewH = layout_.ClientHeight();
    const int thickness = barThickness();
    syncingBars_ = true;
    hbar_->setGeometry(0, viewH, viewW, thickness);
    hbar_->setRange(0, layout_.ScrollMaxX());
    hbar_->setPageStep(std::max(viewW, 1));
    hbar_->setSingleStep(layout_.Zoom());
    vbar_->setGeometry(viewW, 0, thickness, viewH);
    vbar_->setRange(0, layout_.ScrollMaxY());
    vbar_->setPageStep(std::max(viewH, 1));
    vbar_->setSingleStep(layout_.Zoom());
    syncingBars_ = false;
    showScrollPosition();
    hbar_->setVisible(horizontal);
    vbar_->setVisible(vertical);
}

void ucCanvas::showScrollPosition() {
    syncingBars_ = true;
    hbar_->setValue(layout_.ScrollX());
    vbar_->setValue(layout_.ScrollY());
    syncingBars_ = false;
}

void ucCanvas::scrollBarMoved() {
    if (syncingBars_) return;
    if (!layout_.SetScroll(hbar_->value(), vbar_->value())) return;
    Repaint();
    emit Scroll();
}

void ucCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = layout_.ClientWidth(), h = layout_.ClientHeight();
    if (Bitmap::sizeAllowed(w, h)) {
        if (frame_.Width() != w || frame_.Height() != h) frame_.Create(w, h, 32);
        if (!frame_.empty()) {
            PaintCanvas(layout_, DIB_, backColor_, frame_);
            // 32-bpp B,G,R,x top-down rows are Qt's RGB32 layout: shown in place.
            const QImage view(frame_.lpBits(), w, h, frame_.BytesPerScanline(), QImage::Format_RGB32);
            painter.drawImage(0, 0, view);
        }
    }
    // Whatever the layout does not cover: the corner between two scroll bars,
    // or a control that grew before its next Resize.
    const ColorRef back = TranslateColor(backColor_);
    const QRegion rest = QRegion(rect()).subtracted(QRegion(0, 0, w, h));
    for (const QRect& r : rest) painter.fillRect(r, QColor(RedOf(back), GreenOf(back), BlueOf(back)));
}

void ucCanvas::resizeEvent(QResizeEvent*) {
    Resize();
    Repaint();
    emit Resized();
}

void ucCanvas::mousePressEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    layout_.MouseDown(event->button() == Qt::LeftButton, float(p.x()), float(p.y()));
    const CanvasPoint at = layout_.ToPicture(float(p.x()), float(p.y()), DIB_.Width(), DIB_.Height());
    emit MouseDown(PictureBoxWidget::buttonCode(event->button()), PictureBoxWidget::shiftCode(event->modifiers()),
                   at.x, at.y);
}

void ucCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    if (layout_.MouseMove(float(p.x()), float(p.y())).scrolled) {
        showScrollPosition();
        Repaint();
        emit Scroll();
    }
    const CanvasPoint at = layout_.ToPicture(float(p.x()), float(p.y()), DIB_.Width(), DIB_.Height());
    emit MouseMove(PictureBoxWidget::buttonCode(event->buttons()), PictureBoxWidget::shiftCode(event->modifiers()),
                   at.x, at.y);
}

void ucCanvas::mouseReleaseEvent(QMouseEvent* event) {
    layout_.MouseUp();
    const QPointF p = event->position();
    const CanvasPoint at = layout_.ToPicture(float(p.x()), float(p.y()), DIB_.Width(), DIB_.Height());
    emit MouseUp(PictureBoxWidget::buttonCode(event->button()), PictureBoxWidget::shiftCode(event->modifiers()), at.x,
                 at.y);
}

}  // namespace tarnel
