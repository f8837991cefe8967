#pragma once
// A label that reports mouse presses: the clickable option images and their
// texts, and the title and exit images of the skinned windows.
#include <QLabel>

namespace tarnel {

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void mouseDown(int button, int shift, QPoint globalPos);
    void mouseMove(int button, int shift, QPoint globalPos);
    void mouseUp(int button, int shift, QPoint globalPos);
    // After the press that a double click also reports.
    void doubleClicked(int button);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace tarnel
