#pragma once
// A spinner: a small pair of up and down arrows beside its value label. Up
// raises the value. Like a scroll bar it
// reports every change of its value, set by the user or by code.
#include <QTimer>
#include <QWidget>

namespace tarnel {

class Spinner : public QWidget {
    Q_OBJECT
public:
    Spinner(int minimum, int maximum, int value, QWidget* parent = nullptr);

    int value() const { return value_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    // A value outside the range is refused (false) and the spinner keeps its value.
    bool setValue(int value);
    void stepUp() { setValue(value_ + 1 <= max_ ? value_ + 1 : max_); }
    void stepDown() { setValue(value_ - 1 >= min_ ? value_ - 1 : min_); }

    QSize sizeHint() const override { return QSize(15, 20); }

signals:
    void changed(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Part { None, Up, Down };
    Part partAt(const QPoint& p) const;
    void repeat();

    int min_, max_, value_;
    Part pressed_ = Part::None;
    QTimer repeat_;
};

}  // namespace tarnel
