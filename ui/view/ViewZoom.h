#pragma once
// Zoom and scroll of an image inside a fixed square view: the zoom steps, the
// factor that shows the whole image, the zoomed size, and the scroll offsets
// that keep a point under an anchor or bring a point into view. Scroll
// offsets and view coordinates are screen pixels; image coordinates are the
// image's own pixels.
#include <array>

#include "ui/view/ZoomMapping.h"

namespace tarnel {

inline constexpr std::array<int, 11> kZoomPercents{25, 33, 50, 67, 100, 150, 200, 300, 400, 600, 800};

// A canvas's zoom: the whole image in the view ("fit"), or a fixed percentage.
struct ZoomLevel {
    bool fit = false;
    int percent = 100;
    friend bool operator==(const ZoomLevel&, const ZoomLevel&) = default;
};

// The largest factor that shows all of a width x height image in the view
// (square, or viewWidth x viewHeight in a window that has grown).
double FitZoom(int width, int height, int viewSize);
double FitZoom(int width, int height, int viewWidth, int viewHeight);
double ZoomFactor(const ZoomLevel& level, int width, int height, int viewSize);
double ZoomFactor(const ZoomLevel& level, int width, int height, int viewWidth, int viewHeight);
// The next larger (direction > 0) or smaller (direction < 0) level; "fit"
// takes its place among the fixed steps by its factor (a fixed step of the
// same factor stands for it). At either end the level stays.
ZoomLevel StepZoom(const ZoomLevel& level, int direction, int width, int height, int viewSize);
ZoomLevel StepZoom(const ZoomLevel& level, int direction, int width, int height, int viewWidth, int viewHeight);

// One axis of a view: the scroll offset (a scroll bar's value), its largest
// value and the length of the view that is not covered by the other bar.
struct ViewAxis {
    int scroll = 0;
    int maxScroll = 0;
    int visible = 0;
};

// ImageToScreen and ScreenToImage inside a view scrolled by `scroll` screen pixels.
double ViewToImage(double view, int scroll, double zoom);
double ImageToView(double image, int scroll, double zoom);
// The scroll offset after a change of zoom that keeps the image point under
// `anchor` (a view coordinate) under it, within [0, maxScroll] of the new zoom.
int ScrollKeepingAnchor(double anchor, int scroll, double oldZoom, double newZoom, int maxScroll);
// The smallest change of the scroll offset that shows the image coordinate
// with `margin` screen pixels on both sides; centred when the view is too
// short for that; within [0, maxScroll].
int ScrollToShow(double image, double margin, double zoom, const ViewAxis& axis);

}  // namespace tarnel
