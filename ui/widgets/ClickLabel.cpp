#include "ui/widgets/ClickLabel.h"

#include <QMouseEvent>

#include "ui/widgets/PictureBoxWidget.h"

namespace tarnel {

void ClickLabel::mousePressEvent(QMouseEvent* event) {
    emit mouseDown(PictureBoxWidget::buttonCode(event->button()), PictureBoxWidget::shiftCode(event->modifiers()),
                   event->globalPosition().toPoint());
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
    emit doubleClicked(PictureBoxWidget::buttonCode(event->button()));
}

void ClickLabel::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMove(PictureBoxWidget::buttonCode(event->buttons()), PictureBoxWidget::shiftCode(event->modifiers()),
                   event->globalPosition().toPoint());
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseUp(PictureBoxWidget::buttonCode(event->button()), PictureBoxWidget::shiftCode(event->modifiers()),
                 event->globalPosition().toPoint());
}

}  // namespace tarnel
