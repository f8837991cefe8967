#include "ui/view/ViewZoom.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

constexpr int kView = 300;

// The steps in both directions, with "fit" taking its place by its factor.
TEST(ViewZoom, StepsAroundFit) {
    const ZoomLevel fit{true, 100};
    auto pct = [](int p) { return ZoomLevel{false, p}; };
    const struct {
        int w, h;
        ZoomLevel from;
        int direction;
        ZoomLevel to;
    } cases[] = {
        {4000, 3000, pct(100), +1, pct(150)}, {4000, 3000, pct(100), -1, pct(67)},
        {4000, 3000, pct(25), -1, fit},       {4000, 3000, fit, -1, fit},  // 7.5 %: the smallest
        {4000, 3000, fit, +1, pct(25)},       {4000, 3000, pct(800), +1, pct(800)},
        {120, 100, pct(200), +1, fit},        {120, 100, fit, +1, pct(300)},  // fit is 250 % ...
        {120, 100, fit, -1, pct(200)},        {600, 600, pct(33), +1, pct(50)},  // ... and 50 % here
        {600, 600, pct(50), -1, pct(33)},     {600, 600, fit, +1, pct(67)},
        {640, 480, pct(100), 0, pct(100)},
    };
    for (const auto& c : cases) {
        const ZoomLevel got = StepZoom(c.from, c.direction, c.w, c.h, kView);
        EXPECT_EQ(got, c.to) << c.w << "x" << c.h << " from " << (c.from.fit ? "fit" : std::to_string(c.from.percent))
                             << " dir " << c.direction << " got " << (got.fit ? "fit" : std::to_string(got.percent));
    }
    EXPECT_DOUBLE_EQ(FitZoom(4000, 3000, kView), 0.075);
    EXPECT_EQ(ZoomedLength(4000, FitZoom(4000, 3000, kView)), 300);
    EXPECT_EQ(ZoomedLength(1920, 1.0), 1920);
    EXPECT_EQ(ZoomedLength(3, 0.1), 1);
}

// View <-> image mapping, zooming around an anchor, and the minimal scroll
// that brings a point into view.
TEST(ViewZoom, MappingAnchorAndKeepVisible) {
    // Pixel centres: image pixel 20 at 800 % covers screen pixels 160..167.
    EXPECT_DOUBLE_EQ(ImageToScreen(20, 8.0), 163.5);
    EXPECT_DOUBLE_EQ(ScreenToImage(160, 8.0), 19.5625);
    EXPECT_DOUBLE_EQ(ScreenToImage(37.25, 1.0), 37.25);
    // Round trip and the anchor: the image point under the anchor stays there.
    const struct {
        double anchor;
        int scroll;
        double from, to;
        int maxScroll, expected;
    } anchors[] = {
        {150, 0, 1.0, 2.0, 1000, 150},   // image 150, its pixel now at 300..301: 300.5 - 150, ties to even
        {0, 100, 1.0, 2.0, 1000, 200},   // left edge: image 100 stays at the edge
        {284, 400, 2.0, 1.0, 300, 58},   // image 341.75 -> 341.75 - 284
        {10, 0, 1.0, 0.5, 0, 0},         // everything fits: no scroll
        {150, 0, 1.0, 8.0, 500, 500},    // clamped at the far end
        {20, 5, 1.0, 0.25, 100, 0},      // clamped at zero
        {100, 37, 0.075, 8.0, 99999, 14566},
    };
    for (const auto& a : anchors) {
        const double image = ViewToImage(a.anchor, a.scroll, a.from);
        EXPECT_DOUBLE_EQ(ImageToView(image, a.scroll, a.from), a.anchor);
        const int scroll = ScrollKeepingAnchor(a.anchor, a.scroll, a.from, a.to, a.maxScroll);
        EXPECT_EQ(scroll, a.expected) << a.anchor << " " << a.from << "->" << a.to;
        if (scroll > 0 && scroll < a.maxScroll) {
            EXPECT_NEAR(ImageToView(image, scroll, a.to), a.anchor, 0.5);
        }
    }
    // Keep visible: nothing moves while the point shows with its margin,
    // else the view moves just far enough, within [0, maxScroll].
    const struct {
        double image, margin, zoom;
        ViewAxis axis;
        int expected;
    } shows[] = {
        {150, 8, 1.0, {0, 340, 284}, 0},       // inside
        {290, 8, 1.0, {0, 340, 284}, 14},      // past the right edge: 298 - 284
        {50, 8, 1.0, {100, 340, 284}, 42},     // before the left edge: 50 - 8
        {400, 8, 2.0, {0, 500, 300}, 500},     // 808 - 300, clamped
        {2, 8, 2.0, {200, 500, 300}, 0},       // clamped at zero
        {1000, 200, 1.0, {0, 5000, 300}, 850}, // margin too wide: centred
        {120, 6, 0.5, {0, 0, 300}, 0},         // no bar: never scrolls
    };
    for (const auto& s : shows)
        EXPECT_EQ(ScrollToShow(s.image, s.margin, s.zoom, s.axis), s.expected) << s.image << " at " << s.zoom;
}

}  // namespace
}  // namespace tarnel
