#pragma once
// The zoomable canvas: shows its surface DIB fitted into the control or at
// an integer zoom, scrolls it by dragging with the left button (and, when
// switched on, by scroll bars), and reports the mouse in picture pixels.
//
// Use: draw into DIB() (create it, copy frames into it), then call Resize()
// after the surface changed size and Repaint() after its pixels changed.
// Zoom and FitMode take effect at the next Resize(). The layout, the
// painting and the coordinates follow CanvasLayout (imaging/). Enabled is
// the widget's own enabled state.
#include <QCursor>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "ui/view/CanvasLayout.h"
#include "imaging/GcDIB.h"

class QScrollBar;

namespace tarnel {

class ucCanvas : public QWidget {
    Q_OBJECT
public:
    explicit ucCanvas(QWidget* parent = nullptr);

    // Schedules a paint of the picture as DIB now holds it; nothing while hidden.
    void Repaint();
    // Recomputes the layout for the current size, zoom and surface, without painting.
    void Resize();

    bool FitMode() const { return layout_.FitMode(); }
    void SetFitMode(bool fit) { layout_.SetFitMode(fit); }
    // The pointer while WorkMode is not 0 (for example a colour picker).
    const std::optional<QCursor>& UserIcon() const { return userIcon_; }
    void SetUserIcon(const QCursor& icon);
    void ClearUserIcon();
    // 0: the left button drags the view; anything else: the container owns
    // the mouse and the UserIcon shows.
    int32_t WorkMode() const { return layout_.WorkMode(); }
    void SetWorkMode(int32_t mode);
    // At least 1; values below are stored as 1.
    int32_t Zoom() const { return layout_.Zoom(); }
    void SetZoom(int32_t zoom) { layout_.SetZoom(zoom); }
    // An OLE colour (system colours allowed) around the picture; repaints.
    uint32_t BackColor() const { return backColor_; }
    void SetBackColor(uint32_t color);
    // The picture shown, 32 bpp by the container's choice.
    GcDIB& DIB() { return DIB_; }
    const GcDIB& DIB() const { return DIB_; }

    // Scroll bars on the axes that scroll; off by default, when the whole
    // control shows the picture and only dragging scrolls.
    bool ScrollBars() const { return scrollBars_; }
    void SetScrollBars(bool on);
    QScrollBar* horizontalBar() const { return hbar_; }
    QScrollBar* verticalBar() const { return vbar_; }

    const CanvasLayout& layout() const { return layout_; }

signals:
    // Button and Shift as PictureBoxWidget codes them; X, Y in picture pixels.
    void MouseDown(int Button, int Shift, int X, int Y);
    void MouseMove(int Button, int Shift, int X, int Y);
    void MouseUp(int Button, int Shift, int X, int Y);
    // Dragging or a scroll bar moved the view.
    void Scroll();
    // The control itself changed size (after its own layout and paint).
    void Resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void updatePointer();
    int barThickness() const;
    void placeScrollBars(bool horizontal, bool vertical);
    void showScrollPosition();
    void scrollBarMoved();

    GcDIB DIB_;
    // What the control shows, composed at client size and drawn without a copy.
    GcDIB frame_;
    CanvasLayout layout_;
    uint32_t backColor_ = kCanvasDefaultBackColor;
    std::optional<QCursor> userIcon_;
    bool scrollBars_ = false;
    QScrollBar* hbar_ = nullptr;
    QScrollBar* vbar_ = nullptr;
    bool syncingBars_ = false;
};

}  // namespace tarnel
