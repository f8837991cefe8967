#include "ui/widgets/ucProgress.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include "ui/widgets/PictureBoxWidget.h"

namespace tarnel {

namespace {

QColor qColor(uint32_t oleColor) {
    const ColorRef c = TranslateColor(oleColor);
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

QRect qRect(const Rect& r, int offset) {
    return QRect(r.left + offset, r.top + offset, r.right - r.left, r.bottom - r.top);
}

}  // namespace

ucProgress::ucProgress(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    model_.SetControlSize(width(), height());
}

bool ucProgress::syncSize() {
    if (model_.ControlWidth() == width() && model_.ControlHeight() == height()) return false;
    return model_.SetControlSize(width(), height());
}

void ucProgress::SetBorderStyle(int32_t style) {
    syncSize();
    if (model_.SetBorderStyle(style)) requestRepaint();
}

void ucProgress::SetOrientation(int32_t orientation) {
    syncSize();
    model_.SetOrientation(orientation);
    if (model_.ControlWidth() != width() || model_.ControlHeight() != height())
        resize(model_.ControlWidth(), model_.ControlHeight());
    requestRepaint();
}

void ucProgress::SetBackColor(uint32_t color) {
    syncSize();
    if (model_.SetBackColor(color)) requestRepaint();
}

void ucProgress::SetForeColor(uint32_t color) {
    syncSize();
    if (model_.SetForeColor(color)) requestRepaint();
}

void ucProgress::SetMax(int32_t max) {
    const bool resized = syncSize();
    if (model_.SetMax(max) || resized) requestRepaint();
}

void ucProgress::SetValue(int32_t value) {
    const bool changed = value != model_.Value();
    const bool resized = syncSize();
    if (model_.SetValue(value) || resized) requestRepaint();
    if (changed) letWindowPaint();
}

void ucProgress::requestRepaint() {
    ++repaintRequests_;
    update();
}

void ucProgress::letWindowPaint() {
    if (pumping_) return;
    if (sincePump_.isValid() && sincePump_.elapsed() < pumpIntervalMs_) return;
    pumping_ = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    pumping_ = false;
    sincePump_.start();
}

void ucProgress::paintEvent(QPaintEvent*) {
    syncSize();
    QPainter p(this);
    const int border = model_.BorderWidth();
    p.fillRect(qRect(model_.Bar(), border), qColor(model_.ForeColor()));
    p.fillRect(qRect(model_.Rest(), border), qColor(model_.BackColor()));
    if (border == 0) return;
    const int right = width() - 1, bottom = height() - 1;
    auto edge = [&](int inset, uint32_t topLeft, uint32_t bottomRight) {
        p.setPen(qColor(topLeft));
        p.drawLine(inset, inset, right - inset, inset);
        p.drawLine(inset, inset, inset, bottom - inset);
        p.setPen(qColor(bottomRight));
        p.drawLine(inset, bottom - inset, right - inset, bottom - inset);
        p.drawLine(right - inset, inset, right - inset, bottom - inset);
    };
    // System colours: button shadow, highlight, dark shadow and light.
    if (model_.BorderStyle() == kProgressBorderThin) {
        edge(0, 0x80000010u, 0x80000010u);
    } else {
        edge(0, 0x80000010u, 0x80000014u);
        edge(1, 0x80000015u, 0x80000016u);
    }
}

void ucProgress::resizeEvent(QResizeEvent*) {
    syncSize();
    requestRepaint();
}

void ucProgress::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    emit MouseDown(PictureBoxWidget::buttonCode(event->button()), PictureBoxWidget::shiftCode(event->modifiers()),
                   float(at.x()), float(at.y()));
}

void ucProgress::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    emit MouseMove(PictureBoxWidget::buttonCode(event->buttons()), PictureBoxWidget::shiftCode(event->modifiers()),
                   float(at.x()), float(at.y()));
}

void ucProgress::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    emit MouseUp(PictureBoxWidget::buttonCode(event->button()), PictureBoxWidget::shiftCode(event->modifiers()),
                 float(at.x()), float(at.y()));
    if (rect().contains(at.toPoint())) emit Click();
}

}  // namespace tarnel
