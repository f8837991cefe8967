#include "ui/view/CanvasLayout.h"

#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

int32_t saturate(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int32_t saturate(double v) {
    if (std::isnan(v)) return 0;
    return int32_t(std::clamp(v, double(INT32_MIN), double(INT32_MAX)));
}

// One axis of the zoomed layout: a picture that fits is centred, one that
// does not fills the axis and scrolls by the excess.
void zoomAxis(int32_t zoom, int32_t pictureLength, int32_t clientLength, int32_t& start, int32_t& shown,
              int32_t& maximum) {
    int64_t zoomed = int64_t(zoom) * pictureLength;
    if (clientLength >= zoomed) {
        maximum = 0;
        shown = int32_t(zoomed);
    } else {
        maximum = saturate(zoomed - clientLength);
        shown = clientLength;
    }
    start = (clientLength - shown) / 2;
}

// The position that keeps the same relative point in view, or the middle.
int32_t reanchor(int32_t oldPosition, int32_t oldMaximum, int32_t newMaximum) {
    if (oldMaximum == 0) return newMaximum / 2;
    int64_t moved = (int64_t(oldPosition) * newMaximum) / oldMaximum;
    return int32_t(std::clamp<int64_t>(moved, 0, newMaximum));
}

// One axis of the paint transfer. Scrolled at a zoom, whole source pixels
// are drawn from the one cut by the edge, shifted left by the part of it
// scrolled away, plus one spare pixel at the far end.
void blitAxis(bool whole, int32_t zoom, int32_t start, int32_t shown, int32_t scroll, int32_t pictureLength,
              int32_t& d, int32_t& dl, int32_t& s, int32_t& sl) {
    if (whole) {
        d = start;
        dl = shown;
        s = 0;
        sl = pictureLength;
        return;
    }
    s = scroll / zoom;
    sl = shown / zoom + 2;
    d = start - scroll % zoom;
    dl = saturate(int64_t(sl) * zoom);
}

int32_t roundToLong(double v) { return saturate(std::nearbyint(v)); }

}  // namespace

void CanvasLayout::Resize(int32_t clientWidth, int32_t clientHeight, const GcDIB& dib) {
    clientW_ = std::max(clientWidth, 0);
    clientH_ = std::max(clientHeight, 0);
    const int32_t oldMaxX = maxX_, oldMaxY = maxY_;
    if (dib.empty()) {
        left_ = top_ = shownW_ = shownH_ = 0;
        maxX_ = maxY_ = 0;
    } else if (fitMode_) {
        dib.GetBestFitInfo(clientW_, clientH_, left_, top_, shownW_, shownH_, false);
        maxX_ = maxY_ = 0;
    } else {
        zoomAxis(zoom_, dib.Width(), clientW_, left_, shownW_, maxX_);
        zoomAxis(zoom_, dib.Height(), clientH_, top_, shownH_, maxY_);
    }
    scrollX_ = reanchor(scrollX_, oldMaxX, maxX_);
    scrollY_ = reanchor(scrollY_, oldMaxY, maxY_);
}

bool CanvasLayout::SetScroll(int32_t x, int32_t y) {
    x = std::clamp(x, 0, maxX_);
    y = std::clamp(y, 0, maxY_);
    if (x == scrollX_ && y == scrollY_) return false;
    scrollX_ = x;
    scrollY_ = y;
    return true;
}

CanvasPointer CanvasLayout::Pointer() const {
    if (workMode_ != 0) return hasUserIcon_ ? kPointerCustom : kPointerDefault;
    return !fitMode_ && (maxX_ != 0 || maxY_ != 0) ? kPointerSizeAll : kPointerDefault;
}

CanvasBlit CanvasLayout::PaintBlit(int32_t pictureWidth, int32_t pictureHeight) const {
    CanvasBlit b;
    if (pictureWidth <= 0 || pictureHeight <= 0 || shownW_ <= 0 || shownH_ <= 0) return b;
    blitAxis(fitMode_ || maxX_ == 0, zoom_, left_, shownW_, scrollX_, pictureWidth, b.dx, b.dw, b.sx, b.sw);
    blitAxis(fitMode_ || maxY_ == 0, zoom_, top_, shownH_, scrollY_, pictureHeight, b.dy, b.dh, b.sy, b.sh);
    return b;
}

std::vector<Rect> CanvasLayout::BackgroundRects() const {
    std::vector<Rect> rects;
    const int W = clientW_, H = clientH_;
    if (W <= 0 || H <= 0) return rects;
    Rect picture{std::clamp(left_, 0, W), std::clamp(top_, 0, H),
                 int(std::clamp<int64_t>(int64_t(left_) + shownW_, 0, W)),
                 int(std::clamp<int64_t>(int64_t(top_) + shownH_, 0, H))};
    if (picture.isEmpty()) {
        rects.push_back(Rect{0, 0, W, H});
        return rects;
    }
    for (const Rect& r : {Rect{0, 0, W, picture.top}, Rect{0, picture.top, picture.left, picture.bottom},
                          Rect{picture.right, picture.top, W, picture.bottom}, Rect{0, picture.bottom, W, H}})
        if (!r.isEmpty()) rects.push_back(r);
    return rects;
}

CanvasPoint CanvasLayout::ToPicture(float x, float y, int32_t pictureWidth, int32_t pictureHeight) const {
    CanvasPoint p;
    if (pictureWidth <= 0 || pictureHeight <= 0) return p;
    if (fitMode_) {
        // A fitted picture squeezed to nothing has no pixel under the pointer.
        if (shownW_ > 0) p.x = saturate(std::floor((double(x) - left_) / (double(shownW_) / pictureWidth)));
        if (shownH_ > 0) p.y = saturate(std::floor((double(y) - top_) / (double(shownH_) / pictureHeight)));
    } else {
        p.x = saturate(std::floor((double(x) + scrollX_ - left_) / zoom_));
        p.y = saturate(std::floor((double(y) + scrollY_ - top_) / zoom_));
    }
    return p;
}

void CanvasLayout::MouseDown(bool leftButton, float x, float y) {
    dragging_ = leftButton;
    lastX_ = roundToLong(x);
    lastY_ = roundToLong(y);
}

CanvasDrag CanvasLayout::MouseMove(float x, float y) {
    CanvasDrag result;
    if (!dragging_ || workMode_ != 0) return result;
    int32_t nx = std::clamp(roundToLong(double(lastX_) - x + scrollX_), 0, maxX_);
    int32_t ny = std::clamp(roundToLong(double(lastY_) - y + scrollY_), 0, maxY_);
    lastX_ = roundToLong(x);
    lastY_ = roundToLong(y);
    result.scrolled = SetScroll(nx, ny);
    return result;
}

void CanvasLayout::ViewportWithBars(int32_t clientWidth, int32_t clientHeight, int32_t pictureWidth,
                                    int32_t pictureHeight, int32_t zoom, bool fitMode, int32_t barThickness,
                                    int32_t& viewWidth, int32_t& viewHeight, bool& horizontalBar, bool& verticalBar) {
    viewWidth = std::max(clientWidth, 0);
    viewHeight = std::max(clientHeight, 0);
    horizontalBar = verticalBar = false;
    if (fitMode || pictureWidth <= 0 || pictureHeight <= 0) return;
    zoom = std::max(zoom, 1);
    // Bars are only ever added, so this settles within two rounds.
    for (int round = 0; round < 3; ++round) {
        bool needH = int64_t(zoom) * pictureWidth > viewWidth;
        bool needV = int64_t(zoom) * pictureHeight > viewHeight;
        if (needH == horizontalBar && needV == verticalBar) break;
        horizontalBar = needH;
        verticalBar = needV;
        viewWidth = std::max(clientWidth - (verticalBar ? barThickness : 0), 0);
        viewHeight = std::max(clientHeight - (horizontalBar ? barThickness : 0), 0);
    }
}

void PaintCanvas(const CanvasLayout& layout, const GcDIB& dib, uint32_t backColor, GcDIB& target) {
    if (target.empty()) return;
    const Brush back = Brush::solid(TranslateColor(backColor));
    for (const Rect& r : layout.BackgroundRects()) FillRect(target.hDIBDC(), r, back);
    const CanvasBlit b = layout.PaintBlit(dib.Width(), dib.Height());
    if (b.dw > 0 && b.dh > 0)
        dib.Stretch(target.hDIBDC(), b.dx, b.dy, b.dw, b.dh, b.sx, b.sy, b.sw, b.sh, SRCCOPY);
}

}  // namespace tarnel
