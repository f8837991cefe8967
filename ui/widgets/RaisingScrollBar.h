#pragma once
// A vertical scroll bar with its largest value at the top, so that the up
// arrow raises it. QScrollBar keeps its minimum at the top (inverting the
// appearance would turn the arrows against the thumb), so the bar runs over
// the negated range and shows the value as count().
#include <QScrollBar>

namespace tarnel {

class RaisingScrollBar : public QScrollBar {
    Q_OBJECT
public:
    RaisingScrollBar(int bottom, int top, QWidget* parent = nullptr);

    int count() const { return -value(); }
    void setCount(int count) { setValue(-count); }

signals:
    void countChanged(int count);
};

}  // namespace tarnel
