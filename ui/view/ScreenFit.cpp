#include "ui/view/ScreenFit.h"

#include <algorithm>
#include <cstdint>

namespace tarnel {

namespace {

// The first coordinate of a span of `size` inside [from, from + room): as
// given where it fits, pulled in where it does not, `from` when it cannot.
int keepInside(int position, int size, int from, int room) {
    position = std::min(position, from + room - size);
    return std::max(position, from);
}

ScreenRect windowAround(int pictureWidth, int pictureHeight, const WindowMargins& m) {
    return {0, 0, std::max(pictureWidth + m.extraWidth, m.minWidth), std::max(pictureHeight + m.extraHeight, m.minHeight)};
}

}  // namespace

ScreenRect PlaceWindow(int width, int height, const ScreenRect& screen, const ScreenRect& available) {
    ScreenRect r{screen.left + (screen.width - width) / 2, screen.top + (screen.height - height) / 2, width, height};
    r.left = keepInside(r.left, width, available.left, available.width);
    r.top = keepInside(r.top, height, available.top, available.height);
    return r;
}

FittedWindow FitPictureWindow(int pictureWidth, int pictureHeight, const WindowMargins& margins,
                              const ScreenRect& screen, const ScreenRect& available) {
    FittedWindow fit;
    fit.pictureWidth = std::max(pictureWidth, 1);
    fit.pictureHeight = std::max(pictureHeight, 1);
    ScreenRect window = windowAround(fit.pictureWidth, fit.pictureHeight, margins);
    if (window.width <= available.width && window.height <= available.height) {
        fit.window = PlaceWindow(window.width, window.height, screen, available);
        return fit;
    }
    // The largest picture of the same proportions that leaves room for the margins.
    const int64_t roomW = std::max(available.width - margins.extraWidth, 1);
    const int64_t roomH = std::max(available.height - margins.extraHeight, 1);
    const int64_t w = fit.pictureWidth, h = fit.pictureHeight;
    int64_t shownW = 0, shownH = 0;
    if (w * roomH <= h * roomW) {  // the height limits it
        shownH = std::min(roomH, h);
        shownW = w * shownH / h;
    } else {
        shownW = std::min(roomW, w);
        shownH = h * shownW / w;
    }
    fit.pictureWidth = int(std::max<int64_t>(shownW, 1));
    fit.pictureHeight = int(std::max<int64_t>(shownH, 1));
    fit.scale = double(fit.pictureWidth) / double(w);
    window = windowAround(fit.pictureWidth, fit.pictureHeight, margins);
    // Centred in the free area rather than on the screen: it uses all of it.
    fit.window = PlaceWindow(window.width, window.height, available, available);
    return fit;
}

namespace {

ScreenRect largestBeside(const ScreenRect& o, const ScreenRect& a) {
    const ScreenRect parts[] = {
        {o.right(), a.top, a.right() - o.right(), a.height},   // right
        {a.left, a.top, o.left - a.left, a.height},            // left
        {a.left, o.bottom(), a.width, a.bottom() - o.bottom()},  // below
        {a.left, a.top, a.width, o.top - a.top},               // above
    };
    ScreenRect best;
    long long bestArea = 0;
    for (const ScreenRect& p : parts) {
        if (p.width <= 0 || p.height <= 0) continue;
        const long long area = (long long)p.width * p.height;
        if (area > bestArea) {
            best = p;
            bestArea = area;
        }
    }
    return best;
}

}  // namespace

BesidePlacement PlaceBeside(const ScreenRect& owner, const ScreenRect& available, int wantWidth) {
    BesidePlacement out{largestBeside(owner, available), owner};
    if (out.region.width >= wantWidth) return out;
    ScreenRect moved = owner;
    moved.left = available.left;
    const ScreenRect region = largestBeside(moved, available);
    if (region.width > out.region.width && region.left >= moved.right()) out = {region, moved};
    return out;
}

}  // namespace tarnel
