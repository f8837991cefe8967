#pragma once
// A picture box on screen: paints the persistent image of a PictureBox model
// at one image pixel per pixel and reports the mouse in the model's pixels.
#include <QColor>
#include <QWidget>

#include "platform/PictureBox.h"

namespace tarnel {

// Button and shift codes as the handlers receive them.
enum MouseButtonCode { kLeftButton = 1, kRightButton = 2, kMiddleButton = 4 };
enum ShiftCode { kShiftMask = 1, kCtrlMask = 2, kAltMask = 4 };

class PictureBoxWidget : public QWidget {
    Q_OBJECT
public:
    explicit PictureBoxWidget(PictureBox* model, QWidget* parent = nullptr);

    PictureBox* model() const { return model_; }
    // The widget takes the model's scale size.
    void syncSize();
    // Repaint all of the image, or only a part of it (model pixels).
    void refresh();
    void refreshRect(const Rect& r);

    // A one-pixel outline painted over the image's edge (the progress box).
    void setFrameColor(const QColor& color) { frameColor_ = color; update(); }

    static int buttonCode(Qt::MouseButtons buttons);
    static int shiftCode(Qt::KeyboardModifiers modifiers);

signals:
    void mouseDown(int button, int shift, float x, float y);
    void mouseMove(int button, int shift, float x, float y);
    void mouseUp(int button, int shift, float x, float y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    PictureBox* model_;
    QColor frameColor_;  // invalid: no outline
};

}  // namespace tarnel
