#pragma once
// The arithmetic of the zoomable canvas, free of any window: where the
// picture sits in the control (fitted, or zoomed per axis and centred), how
// far each axis can scroll, the transfer that paints the visible part with
// the partial pixels at the edges lined up, drag scrolling, the pointer, and
// control points turned into picture pixels. The canvas widget holds one and
// paints through PaintCanvas.
#include <cstdint>
#include <vector>

#include "imaging/GcDIB.h"
#include "platform/gdi.h"

namespace tarnel {

// Pointer types as the canvas asks for them.
enum CanvasPointer : int32_t { kPointerDefault = 0, kPointerSizeAll = 15, kPointerCustom = 99 };

// Application workspace: the default fill around the picture.
inline constexpr uint32_t kCanvasDefaultBackColor = 0x8000000Cu;

struct CanvasPoint {
    int32_t x = 0, y = 0;
    friend bool operator==(const CanvasPoint&, const CanvasPoint&) = default;
};

// One stretch transfer from the picture to the control: source rectangle
// (sx, sy, sw, sh) of the picture onto (dx, dy, dw, dh) of the control.
struct CanvasBlit {
    int32_t dx = 0, dy = 0, dw = 0, dh = 0;
    int32_t sx = 0, sy = 0, sw = 0, sh = 0;
    friend bool operator==(const CanvasBlit&, const CanvasBlit&) = default;
};

// What a pointer move did.
struct CanvasDrag {
    bool scrolled = false;  // the view moved: paint and raise Scroll
};

class CanvasLayout {
public:
    // Settings. Zoom below 1 is stored as 1; Zoom and FitMode take effect at
    // the next Resize.
    int32_t Zoom() const { return zoom_; }
    void SetZoom(int32_t zoom) { zoom_ = zoom < 1 ? 1 : zoom; }
    bool FitMode() const { return fitMode_; }
    void SetFitMode(bool fit) { fitMode_ = fit; }
    // 0: the left button drags the view; anything else: the container owns the mouse.
    int32_t WorkMode() const { return workMode_; }
    void SetWorkMode(int32_t mode) { workMode_ = mode; }
    bool HasUserIcon() const { return hasUserIcon_; }
    void SetHasUserIcon(bool has) { hasUserIcon_ = has; }

    // Lays dib (empty: no picture) out in a client area of clientWidth x
    // clientHeight and re-anchors the scroll position so that the same
    // relative point stays in view (the middle when the axis did not scroll).
    void Resize(int32_t clientWidth, int32_t clientHeight, const GcDIB& dib);

    int32_t ClientWidth() const { return clientW_; }
    int32_t ClientHeight() const { return clientH_; }
    // The shown picture in control pixels.
    int32_t PictureLeft() const { return left_; }
    int32_t PictureTop() const { return top_; }
    int32_t PictureWidth() const { return shownW_; }
    int32_t PictureHeight() const { return shownH_; }
    // Scroll offsets in zoomed pixels; a maximum of 0 means the axis does not scroll.
    int32_t ScrollX() const { return scrollX_; }
    int32_t ScrollY() const { return scrollY_; }
    int32_t ScrollMaxX() const { return maxX_; }
    int32_t ScrollMaxY() const { return maxY_; }
    // Moves the view (a scroll bar did); clamped to 0 .. maximum. True when it moved.
    bool SetScroll(int32_t x, int32_t y);

    CanvasPointer Pointer() const;

    // The transfer that paints a picture of the given size with the current
    // layout; dw or dh of 0 when there is nothing to draw.
    CanvasBlit PaintBlit(int32_t pictureWidth, int32_t pictureHeight) const;
    // The client area minus the picture rectangle, as disjoint rectangles.
    std::vector<Rect> BackgroundRects() const;

    // The control point (x, y) in picture pixels; (0, 0) without a picture.
    // Points outside the picture are passed on as computed.
    CanvasPoint ToPicture(float x, float y, int32_t pictureWidth, int32_t pictureHeight) const;

    // Mouse. leftButton: the pressed button is the left one.
    void MouseDown(bool leftButton, float x, float y);
    CanvasDrag MouseMove(float x, float y);
    void MouseUp() { dragging_ = false; }
    bool Dragging() const { return dragging_; }

    // The client area left for the picture when scroll bars of the given
    // thickness take their room on the axes that need them (a bar on one
    // axis can make the other axis scroll too).
    static void ViewportWithBars(int32_t clientWidth, int32_t clientHeight, int32_t pictureWidth,
                                 int32_t pictureHeight, int32_t zoom, bool fitMode, int32_t barThickness,
                                 int32_t& viewWidth, int32_t& viewHeight, bool& horizontalBar, bool& verticalBar);

private:
    int32_t zoom_ = 1;
    bool fitMode_ = false;
    int32_t workMode_ = 0;
    bool hasUserIcon_ = false;

    int32_t clientW_ = 0, clientH_ = 0;
    int32_t left_ = 0, top_ = 0, shownW_ = 0, shownH_ = 0;
    // The maxima only change in Resize, so they are also the previous ones
    // that the next Resize re-anchors from.
    int32_t scrollX_ = 0, scrollY_ = 0, maxX_ = 0, maxY_ = 0;

    bool dragging_ = false;
    int32_t lastX_ = 0, lastY_ = 0;
};

// Paints the canvas into target (a surface of the client size): the picture
// through dib.Stretch (nearest pixel) and the rest in backColor (an OLE
// colour). Only the visible part of the picture is read.
void PaintCanvas(const CanvasLayout& layout, const GcDIB& dib, uint32_t backColor, GcDIB& target);

}  // namespace tarnel
