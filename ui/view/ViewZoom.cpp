#include "ui/view/ViewZoom.h"

#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

// Factors closer than this count as the same step.
constexpr double kSameFactor = 1e-9;

int clampScroll(double s, int maxScroll) {
    if (!std::isfinite(s)) return 0;
    return int(std::clamp(std::nearbyint(s), 0.0, double(std::max(0, maxScroll))));
}

}  // namespace

double FitZoom(int width, int height, int viewSize) { return FitZoom(width, height, viewSize, viewSize); }

double FitZoom(int width, int height, int viewWidth, int viewHeight) {
    if (width <= 0 || height <= 0 || viewWidth <= 0 || viewHeight <= 0) return 1.0;
    return std::min(double(viewWidth) / width, double(viewHeight) / height);
}

double ZoomFactor(const ZoomLevel& level, int width, int height, int viewSize) {
    return ZoomFactor(level, width, height, viewSize, viewSize);
}

double ZoomFactor(const ZoomLevel& level, int width, int height, int viewWidth, int viewHeight) {
    return level.fit ? FitZoom(width, height, viewWidth, viewHeight) : level.percent / 100.0;
}

ZoomLevel StepZoom(const ZoomLevel& level, int direction, int width, int height, int viewSize) {
    return StepZoom(level, direction, width, height, viewSize, viewSize);
}

ZoomLevel StepZoom(const ZoomLevel& level, int direction, int width, int height, int viewWidth, int viewHeight) {
    const double now = ZoomFactor(level, width, height, viewWidth, viewHeight);
    const double fit = FitZoom(width, height, viewWidth, viewHeight);
    ZoomLevel best = level;
    double bestFactor = now;
    auto consider = [&](const ZoomLevel& candidate, double factor) {
        const bool beyond = direction > 0 ? factor > now + kSameFactor : factor < now - kSameFactor;
        if (!beyond) return;
        const bool closer = best == level || (direction > 0 ? factor < bestFactor - kSameFactor
                                                            : factor > bestFactor + kSameFactor);
        if (closer) {
            best = candidate;
            bestFactor = factor;
        }
    };
    if (direction == 0) return level;
    for (int percent : kZoomPercents) consider(ZoomLevel{false, percent}, percent / 100.0);
    consider(ZoomLevel{true, 100}, fit);
    return best;
}

double ViewToImage(double view, int scroll, double zoom) { return ScreenToImage(view + scroll, zoom); }

double ImageToView(double image, int scroll, double zoom) { return ImageToScreen(image, zoom) - scroll; }

int ScrollKeepingAnchor(double anchor, int scroll, double oldZoom, double newZoom, int maxScroll) {
    const double image = ViewToImage(anchor, scroll, oldZoom);
    return clampScroll(ImageToScreen(image, newZoom) - anchor, maxScroll);
}

int ScrollToShow(double image, double margin, double zoom, const ViewAxis& axis) {
    const double at = ImageToScreen(image, zoom);
    double scroll = axis.scroll;
    if (2 * margin >= axis.visible) {
        scroll = at - axis.visible / 2.0;
    } else if (at - margin < axis.scroll) {
        scroll = std::floor(at - margin);
    } else if (at + margin > axis.scroll + axis.visible) {
        scroll = std::ceil(at + margin - axis.visible);
    } else {
        return std::clamp(axis.scroll, 0, std::max(0, axis.maxScroll));
    }
    return clampScroll(scroll, axis.maxScroll);
}

}  // namespace tarnel
