// Layout, painting, scrolling, pointer and picture coordinates of the canvas.
#include <gtest/gtest.h>

#include "ui/view/CanvasLayout.h"
#include "support/Images.h"

using namespace tarnel;
using tarnel::test::makeImage;
using tarnel::test::Rgb;

namespace {

GcDIB picture(int w, int h) {
    GcDIB d;
    EXPECT_TRUE(d.Create(w, h, 32));
    return d;
}

// Every pixel names its own position.
Rgb positionColour(int x, int y) { return Rgb{x & 0xFF, y & 0xFF, 0x80 | ((x >> 8) << 4) | (y >> 8)}; }

Rgb pixelOf(const GcDIB& d, int x, int y) {
    RGBQuad q = d.bitmap()->pixelColor(x, y);
    return Rgb{q.red, q.green, q.blue};
}

struct LayoutCase {
    const char* name;
    int pictureW, pictureH, clientW, clientH, zoom;
    bool fit;
    int left, top, shownW, shownH, maxX, maxY, scrollX, scrollY;
    CanvasPointer pointer;
};

}  // namespace

TEST(CanvasLayout, LaysThePictureOutFittedOrZoomedPerAxis) {
    const LayoutCase cases[] = {
        {"zoom 2 fits and is centred", 100, 50, 300, 300, 2, false, 50, 100, 200, 100, 0, 0, 0, 0, kPointerDefault},
        {"zoom 4 scrolls across from the middle", 100, 50, 300, 300, 4, false, 0, 50, 300, 200, 100, 0, 50, 0,
         kPointerSizeAll},
        {"both axes scroll", 100, 100, 300, 200, 5, false, 0, 0, 300, 200, 200, 300, 100, 150, kPointerSizeAll},
        {"odd margins round down", 101, 51, 300, 300, 1, false, 99, 124, 101, 51, 0, 0, 0, 0, kPointerDefault},
        {"exactly the client size does not scroll", 150, 100, 300, 200, 2, false, 0, 0, 300, 200, 0, 0, 0, 0,
         kPointerDefault},
        {"zoom 0 is zoom 1", 100, 50, 300, 300, 0, false, 100, 125, 100, 50, 0, 0, 0, 0, kPointerDefault},
        {"fit keeps a small picture", 100, 50, 300, 300, 3, true, 100, 125, 100, 50, 0, 0, 0, 0, kPointerDefault},
        {"fit shrinks a large picture", 400, 200, 300, 300, 3, true, 0, 75, 300, 150, 0, 0, 0, 0, kPointerDefault},
        {"no picture", 0, 0, 300, 300, 4, false, 0, 0, 0, 0, 0, 0, 0, 0, kPointerDefault},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        CanvasLayout layout;
        layout.SetZoom(c.zoom);
        layout.SetFitMode(c.fit);
        GcDIB dib;
        if (c.pictureW > 0) dib = picture(c.pictureW, c.pictureH);
        layout.Resize(c.clientW, c.clientH, dib);
        EXPECT_EQ(layout.Zoom(), c.zoom < 1 ? 1 : c.zoom);
        EXPECT_EQ(layout.PictureLeft(), c.left);
        EXPECT_EQ(layout.PictureTop(), c.top);
        EXPECT_EQ(layout.PictureWidth(), c.shownW);
        EXPECT_EQ(layout.PictureHeight(), c.shownH);
        EXPECT_EQ(layout.ScrollMaxX(), c.maxX);
        EXPECT_EQ(layout.ScrollMaxY(), c.maxY);
        EXPECT_EQ(layout.ScrollX(), c.scrollX);
        EXPECT_EQ(layout.ScrollY(), c.scrollY);
        EXPECT_EQ(layout.Pointer(), c.pointer);
    }
}

TEST(CanvasLayout, ResizeKeepsTheSameRelativePointInView) {
    struct Step {
        int clientW, zoom, scrollBefore;  // scrollBefore < 0: leave the position as it is
        int maxX, scrollX;
    };
    // A 100 x 50 picture, one step after another on the same layout.
    const Step steps[] = {
        {300, 4, -1, 100, 50},  // first layout: the middle
        {300, 6, 25, 300, 75},  // 25 of 100 -> 75 of 300
        {200, 6, 33, 400, 44},  // 33 * 400 / 300 = 44
        {300, 4, 99, 100, 24},  // 99 * 100 / 400 = 24.75, truncated
    };
    CanvasLayout layout;
    GcDIB dib = picture(100, 50);
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        if (s.scrollBefore >= 0) layout.SetScroll(s.scrollBefore, 0);
        layout.SetZoom(s.zoom);
        layout.Resize(s.clientW, 300, dib);
        EXPECT_EQ(layout.ScrollMaxX(), s.maxX) << "step " << i;
        EXPECT_EQ(layout.ScrollX(), s.scrollX) << "step " << i;
    }
    // An axis that stops scrolling goes to 0, and starts again from the middle.
    layout.SetZoom(1);
    layout.Resize(300, 300, dib);
    EXPECT_EQ(layout.ScrollX(), 0);
    layout.SetZoom(4);
    layout.Resize(300, 300, dib);
    EXPECT_EQ(layout.ScrollX(), 50);
}

TEST(CanvasLayout, PointerRules) {
    struct Case {
        int workMode;
        bool icon, fit, scrollable;
        CanvasPointer pointer;
    };
    const Case cases[] = {
        {0, false, false, true, kPointerSizeAll}, {0, true, false, true, kPointerSizeAll},
        {0, false, false, false, kPointerDefault}, {0, true, false, false, kPointerDefault},
        {1, true, false, true, kPointerCustom},    {7, true, false, false, kPointerCustom},
        {1, false, false, true, kPointerDefault},
        // FitMode switched on but not laid out yet: no drag pointer any more.
        {0, false, true, true, kPointerDefault},
    };
    GcDIB dib = picture(100, 50);
    for (const Case& c : cases) {
        CanvasLayout layout;
        layout.SetZoom(c.scrollable ? 4 : 1);
        layout.Resize(300, 300, dib);
        layout.SetWorkMode(c.workMode);
        layout.SetHasUserIcon(c.icon);
        layout.SetFitMode(c.fit);
        EXPECT_EQ(layout.Pointer(), c.pointer) << c.workMode << c.icon << c.fit << c.scrollable;
    }
}

TEST(CanvasLayout, ControlPointsBecomePicturePixels) {
    struct Case {
        const char* name;
        int pictureW, pictureH, zoom;
        bool fit;
        int scrollX;
        float x, y;
        CanvasPoint expected;
    };
    const Case cases[] = {
        {"zoom 2 centred", 100, 50, 2, false, -1, 60, 110, {5, 5}},
        {"left of and above the picture", 100, 50, 2, false, -1, 49, 99, {-1, -1}},
        {"last pixel", 100, 50, 2, false, -1, 249.9f, 199.9f, {99, 49}},
        {"beyond the picture", 100, 50, 2, false, -1, 251, 201, {100, 50}},
        {"zoom 4 scrolled to 50", 100, 50, 4, false, -1, 0, 50, {12, 0}},
        {"zoom 4 scrolled, second pixel", 100, 50, 4, false, -1, 2, 53.5f, {13, 0}},
        {"zoom 4 scrolled to the end", 100, 50, 4, false, 100, 299, 249, {99, 49}},
        {"fitted at 3/4", 400, 200, 1, true, -1, 150, 150, {200, 100}},
        {"fitted, above", 400, 200, 1, true, -1, 0, 74, {0, -2}},
        {"no picture", 0, 0, 2, false, -1, 60, 110, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CanvasLayout layout;
        layout.SetZoom(c.zoom);
        layout.SetFitMode(c.fit);
        GcDIB dib;
        if (c.pictureW > 0) dib = picture(c.pictureW, c.pictureH);
        layout.Resize(300, 300, dib);
        if (c.scrollX >= 0) layout.SetScroll(c.scrollX, 0);
        EXPECT_EQ(layout.ToPicture(c.x, c.y, dib.Width(), dib.Height()), c.expected);
    }
}

TEST(CanvasLayout, FittedPictureSqueezedToNothingReportsZero) {
    CanvasLayout layout;
    layout.SetFitMode(true);
    GcDIB dib = picture(100, 50);
    layout.Resize(0, 0, dib);
    EXPECT_EQ(layout.ToPicture(10, 10, 100, 50), (CanvasPoint{0, 0}));
}

TEST(CanvasLayout, ScrolledPaintingDrawsTheEdgePixelsThatAreCutInPart) {
    CanvasLayout layout;
    layout.SetZoom(4);
    layout.Resize(300, 300, picture(100, 50));
    ASSERT_EQ(layout.ScrollX(), 50);
    // 50 zoomed pixels in: source column 12 with half of it scrolled away.
    EXPECT_EQ(layout.PaintBlit(100, 50), (CanvasBlit{-2, 50, 308, 200, 12, 0, 77, 50}));
    layout.SetZoom(2);
    layout.Resize(300, 300, picture(100, 50));
    EXPECT_EQ(layout.PaintBlit(100, 50), (CanvasBlit{50, 100, 200, 100, 0, 0, 100, 50}));
    layout.Resize(300, 300, GcDIB{});
    EXPECT_EQ(layout.PaintBlit(0, 0).dw, 0);
}

TEST(CanvasLayout, PaintShowsWhatTheMouseReports) {
    struct Case {
        const char* name;
        int pictureW, pictureH, clientW, clientH, zoom;
        bool fit;
        int scrollX, scrollY;  // -1: as laid out
    };
    const Case cases[] = {
        {"centred at zoom 2", 100, 50, 300, 300, 2, false, -1, -1},
        {"scrolled at zoom 3", 120, 90, 200, 150, 3, false, 7, 11},
        {"scrolled to the far end", 120, 90, 200, 150, 3, false, 160, 120},
        {"scrolled at zoom 10", 64, 48, 173, 97, 10, false, 263, 5},
        {"fitted", 400, 200, 300, 300, 1, true, -1, -1},
    };
    const uint32_t back = RGBColor(1, 2, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GcDIB dib = makeImage(c.pictureW, c.pictureH, positionColour);
        CanvasLayout layout;
        layout.SetZoom(c.zoom);
        layout.SetFitMode(c.fit);
        layout.Resize(c.clientW, c.clientH, dib);
        if (c.scrollX >= 0) layout.SetScroll(c.scrollX, c.scrollY);
        GcDIB target;
        ASSERT_TRUE(target.Create(c.clientW, c.clientH, 32));
        PaintCanvas(layout, dib, back, target);
        int mismatches = 0;
        for (int y = 0; y < c.clientH; ++y)
            for (int x = 0; x < c.clientW; ++x) {
                // Pixel centres, as a click inside the pixel reports them.
                CanvasPoint p = layout.ToPicture(x + 0.5f, y + 0.5f, dib.Width(), dib.Height());
                bool inside = p.x >= 0 && p.y >= 0 && p.x < c.pictureW && p.y < c.pictureH &&
                              x >= layout.PictureLeft() && x < layout.PictureLeft() + layout.PictureWidth() &&
                              y >= layout.PictureTop() && y < layout.PictureTop() + layout.PictureHeight();
                Rgb expected = inside ? positionColour(p.x, p.y) : Rgb{1, 2, 3};
                if (pixelOf(target, x, y) != expected && ++mismatches <= 3)
                    ADD_FAILURE() << "at " << x << "," << y << ": " << pixelOf(target, x, y) << " vs " << expected;
            }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(CanvasLayout, DraggingScrollsWithinTheMaximumOnlyWithTheLeftButtonInWorkMode0) {
    GcDIB dib = picture(100, 50);
    CanvasLayout layout;
    layout.SetZoom(4);
    layout.Resize(300, 300, dib);  // scrolls across, 50 of 100

    struct Move {
        float x;
        bool scrolled;
        int scrollX;
    };
    layout.MouseDown(true, 100, 100);
    for (Move m : {Move{90, true, 60}, Move{90, false, 60}, Move{200, true, 0}, Move{-1000, true, 100},
                   Move{-999.5f, false, 100}}) {
        EXPECT_EQ(layout.MouseMove(m.x, 100).scrolled, m.scrolled) << m.x;
        EXPECT_EQ(layout.ScrollX(), m.scrollX) << m.x;
        EXPECT_EQ(layout.ScrollY(), 0) << m.x;  // the vertical axis does not scroll
    }
    layout.MouseUp();
    EXPECT_FALSE(layout.MouseMove(0, 100).scrolled);

    // Positions round half to even: from 10 (10.5 rounded), moving to 9.5
    // asks for 50.5 more, which stays 50.
    layout.SetScroll(50, 0);
    layout.MouseDown(true, 10.5f, 100);
    EXPECT_FALSE(layout.MouseMove(9.5f, 100).scrolled);
    EXPECT_EQ(layout.ScrollX(), 50);

    layout.MouseDown(false, 100, 100);  // right button
    EXPECT_FALSE(layout.MouseMove(50, 100).scrolled);
    layout.SetWorkMode(1);
    layout.MouseDown(true, 100, 100);
    EXPECT_FALSE(layout.MouseMove(50, 100).scrolled);
    EXPECT_EQ(layout.ScrollX(), 50);
}

TEST(CanvasLayout, ScrollBarsTakeTheirRoomOnlyWhereNeeded) {
    struct Case {
        const char* name;
        int pictureW, pictureH, zoom;
        bool fit;
        int viewW, viewH;
        bool h, v;
    };
    const Case cases[] = {
        {"across only", 100, 50, 4, false, 300, 285, true, false},
        {"nothing to scroll", 100, 100, 3, false, 300, 300, false, false},
        {"the bar across makes the other axis scroll", 105, 98, 3, false, 285, 285, true, true},
        {"down only", 50, 101, 3, false, 285, 300, false, true},
        {"fitted", 1000, 1000, 1, true, 300, 300, false, false},
        {"no picture", 0, 0, 4, false, 300, 300, false, false},
    };
    for (const Case& c : cases) {
        int w = -1, h = -1;
        bool hb = false, vb = false;
        CanvasLayout::ViewportWithBars(300, 300, c.pictureW, c.pictureH, c.zoom, c.fit, 15, w, h, hb, vb);
        EXPECT_EQ(w, c.viewW) << c.name;
        EXPECT_EQ(h, c.viewH) << c.name;
        EXPECT_EQ(hb, c.h) << c.name;
        EXPECT_EQ(vb, c.v) << c.name;
    }
}
