#include "ui/widgets/RaisingScrollBar.h"

namespace tarnel {

RaisingScrollBar::RaisingScrollBar(int bottom, int top, QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
    setRange(-top, -bottom);
    setSingleStep(1);
    setPageStep(1);
    setValue(-bottom);
    // The wheel and the keys follow the arrows: up raises.
    connect(this, &QScrollBar::valueChanged, this, [this](int v) { emit countChanged(-v); });
}

}  // namespace tarnel
