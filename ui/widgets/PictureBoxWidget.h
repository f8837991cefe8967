#pragma once
// A picture box on screen: paints the persistent image of a PictureBox model
// at one image pixel per pixel and reports the mouse in the model's pixels.
// Zoomed, it paints the box's picture scaled (smooth when smaller, whole
// pixel blocks when larger) and leaves what lies over it to an overlay,
// since thin lines drawn into the image would vanish or thicken.
#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/PictureBox.h"

class QPainter;

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

    // Screen pixels per model pixel; the widget takes the zoomed size.
    void setZoom(double zoom);
    double zoom() const { return zoom_; }
    // Painted over the scaled picture while zoomed: the painter is in widget
    // pixels, the rectangle is the exposed part in model pixels. `margin` is
    // how far (screen pixels) the overlay reaches beyond a damaged model
    // rectangle, so that a partial repaint covers it.
    using Overlay = std::function<void(QPainter& painter, const QRectF& exposed, double zoom)>;
    void setOverlay(Overlay overlay) { overlay_ = std::move(overlay); }
    void setOverlayMargin(int pixels) { overlayMargin_ = pixels; }
    // The widget rectangle that shows a model rectangle (with the margin when zoomed).
    QRect widgetRect(const Rect& r) const;

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
    void paintScaled(QPainter& painter, const QRect& area);
    const QImage& pictureImage();
    QPointF toModel(const QPointF& p) const;

    PictureBox* model_;
    QColor frameColor_;  // invalid: no outline
    double zoom_ = 1.0;
    Overlay overlay_;
    int overlayMargin_ = 0;
    // The picture as Qt sees it, and its smoothly reduced copy, both made
    // when first needed and dropped when the picture or the zoom changes.
    std::weak_ptr<Bitmap> cachedPicture_;
    QImage pictureImage_, reduced_;
};

}  // namespace tarnel
