#include <gtest/gtest.h>

#include "imaging/GcDIB.h"
#include "platform/RuntimeError.h"

using namespace tarnel;

namespace {
void setPixel32(GcDIB& d, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    d.bitmap()->setPixelValue(x, y, uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16));
}
}  // namespace

TEST(GcDIB, CreateComputesStrideAndSize) {
    struct Case { int w, h, bpp, stride, size; };
    for (Case c : {Case{3, 2, 24, 12, 24}, Case{3, 2, 1, 4, 8}, Case{5, 1, 4, 4, 4}, Case{1, 1, 32, 4, 4},
                   Case{3, 3, 16, 8, 24}, Case{33, 1, 1, 8, 8}}) {
        GcDIB d;
        ASSERT_TRUE(d.Create(c.w, c.h, c.bpp));
        EXPECT_EQ(d.BytesPerScanline(), c.stride) << c.w << "x" << c.h << "@" << c.bpp;
        EXPECT_EQ(d.Size(), c.size);
        EXPECT_NE(d.hDIB(), 0u);
        EXPECT_NE(d.hDIBDC(), nullptr);
    }
}

TEST(GcDIB, EmptySurfaceReadsZeroAndRefusesDrawing) {
    GcDIB d;
    ASSERT_TRUE(d.Create(4, 4, 8));
    d.Destroy();
    EXPECT_EQ(d.Width(), 0);
    EXPECT_EQ(d.Height(), 0);
    EXPECT_EQ(d.BPP(), 0);
    EXPECT_EQ(d.Size(), 0);
    EXPECT_EQ(d.hDIB(), 0u);
    EXPECT_EQ(d.hDIBDC(), nullptr);
    EXPECT_EQ(d.lpBits(), nullptr);
    GcDIB other;
    ASSERT_TRUE(other.Create(2, 2, 32));
    EXPECT_EQ(d.LoadBlt(other.hDIBDC(), 0, 0), 0);
    EXPECT_EQ(d.Stretch(other.hDIBDC(), 0, 0, 2, 2), 0);
}

TEST(GcDIB, CreateRefusesAbsurdSizesAndOverflows) {
    GcDIB d;
    EXPECT_FALSE(d.Create(0, 10, 32));
    EXPECT_FALSE(d.Create(10, -1, 32));
    EXPECT_FALSE(d.Create(40000, 1, 8));
    EXPECT_FALSE(d.Create(20000, 20000, 8));  // past 2^28 pixels
    EXPECT_FALSE(d.Create(10, 10, 7));
    EXPECT_THROW(d.Create(0x7FFFFFF0, 1, 32), RuntimeError);
    EXPECT_EQ(d.Width(), 0);
}

TEST(GcDIB, BestFitFollowsTheFittingRule) {
    GcDIB d;
    ASSERT_TRUE(d.Create(100, 50, 32));
    int x = -1, y = -1, w = -1, h = -1;
    d.GetBestFitInfo(50, 50, x, y, w, h, false);
    EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({0, 12, 50, 25}));
    d.GetBestFitInfo(400, 400, x, y, w, h, false);
    EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({150, 175, 100, 50}));
    d.GetBestFitInfo(400, 400, x, y, w, h, true);
    EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({0, 100, 400, 200}));
    GcDIB sq;
    ASSERT_TRUE(sq.Create(64, 64, 32));
    sq.GetBestFitInfo(33, 33, x, y, w, h, false);
    EXPECT_EQ(h, 33);
    EXPECT_EQ(w, 33);
}

TEST(GcDIB, PaletteRoundTripAndDepthRules) {
    GcDIB d4;
    ASSERT_TRUE(d4.Create(2, 2, 4));
    std::vector<uint8_t> pal;
    d4.GetPalette(pal);
    EXPECT_EQ(pal.size(), 64u);
    pal[4] = 10, pal[5] = 20, pal[6] = 30;
    d4.SetPalette(pal);
    std::vector<uint8_t> back;
    d4.GetPalette(back);
    EXPECT_EQ(back, pal);

    GcDIB d24;
    ASSERT_TRUE(d24.Create(2, 2, 24));
    std::vector<uint8_t> untouched = {1, 2, 3};
    d24.GetPalette(untouched);
    EXPECT_EQ(untouched, std::vector<uint8_t>({1, 2, 3}));
}

TEST(GcDIB, ResizeWithoutStretchPadsWithZero) {
    GcDIB d;
    ASSERT_TRUE(d.Create(2, 2, 32));
    d.Cls(RGBColor(10, 20, 30));
    d.Resize(4, 3, false);
    EXPECT_EQ(d.Width(), 4);
    EXPECT_EQ(d.Height(), 3);
    EXPECT_EQ(d.bitmap()->pixelValue(1, 1), 0x000A141Eu);
    EXPECT_EQ(d.bitmap()->pixelValue(2, 0), 0u);
    EXPECT_EQ(d.bitmap()->pixelValue(0, 2), 0u);

    GcDIB p;
    ASSERT_TRUE(p.Create(2, 2, 8));
    std::vector<uint8_t> pal(1024, 0);
    pal[4 * 3 + 2] = 255;
    p.SetPalette(pal);
    p.bitmap()->setPixelValue(0, 0, 3);
    p.Resize(3, 3, false);
    EXPECT_EQ(p.bitmap()->pixelValue(0, 0), 3u);
    EXPECT_EQ(p.bitmap()->pixelValue(2, 2), 0u);
}

TEST(GcDIB, StretchTakesNearestSourcePixel) {
    GcDIB src, dst;
    ASSERT_TRUE(src.Create(3, 1, 32));
    setPixel32(src, 0, 0, 255, 0, 0);
    setPixel32(src, 1, 0, 0, 255, 0);
    setPixel32(src, 2, 0, 0, 0, 255);
    ASSERT_TRUE(dst.Create(7, 1, 32));
    src.Stretch(dst.hDIBDC(), 0, 0, 7, 1);
    // d takes floor((d + 0.5) * 3 / 7)
    const int expected[7] = {0, 0, 1, 1, 1, 2, 2};
    for (int x = 0; x < 7; ++x) EXPECT_EQ(dst.bitmap()->pixelValue(x, 0), src.bitmap()->pixelValue(expected[x], 0)) << x;
    EXPECT_EQ(GetStretchBltMode(dst.hDIBDC()), BLACKONWHITE);  // restored
}

TEST(GcDIB, MaskAndPaintComposeTransparentFrame) {
    // 8-bpp frame whose index 1 is transparent (black in the table), mask 1 there.
    GcDIB frame, mask, screen;
    ASSERT_TRUE(frame.Create(2, 1, 8));
    ASSERT_TRUE(mask.Create(2, 1, 1));
    ASSERT_TRUE(screen.Create(2, 1, 32));
    frame.colorTable()[0] = RGBQuad{0, 0, 200, 0};
    frame.bitmap()->setPixelValue(0, 0, 0);
    frame.bitmap()->setPixelValue(1, 0, 1);
    mask.colorTable()[1] = RGBQuad{255, 255, 255, 0};
    mask.bitmap()->setPixelValue(1, 0, 1);
    screen.Cls(RGBColor(0, 90, 0));
    mask.Stretch(screen.hDIBDC(), 0, 0, 2, 1, 0, 0, 0, 0, SRCAND);
    frame.Stretch(screen.hDIBDC(), 0, 0, 2, 1, 0, 0, 0, 0, SRCPAINT);
    EXPECT_EQ(GetPixel(screen.hDIBDC(), 0, 0), RGBColor(200, 0, 0));
    EXPECT_EQ(GetPixel(screen.hDIBDC(), 1, 0), RGBColor(0, 90, 0));
}

TEST(GcDIB, DepthConversionUsesNearestEntryLowestIndexOnTies) {
    GcDIB src, dst;
    ASSERT_TRUE(src.Create(1, 1, 32));
    setPixel32(src, 0, 0, 100, 100, 100);
    ASSERT_TRUE(dst.Create(1, 1, 8));
    dst.colorTable()[0] = RGBQuad{0, 0, 0, 0};
    dst.colorTable()[1] = RGBQuad{90, 90, 90, 0};
    dst.colorTable()[2] = RGBQuad{110, 110, 110, 0};
    dst.LoadBlt(src.hDIBDC(), 0, 0);
    EXPECT_EQ(dst.bitmap()->pixelValue(0, 0), 1u);
}

TEST(GcDIB, CloneCopiesRawRowsAndPalette) {
    GcDIB a, b;
    ASSERT_TRUE(a.Create(3, 2, 8));
    a.colorTable()[7] = RGBQuad{1, 2, 3, 0};
    a.bitmap()->setPixelValue(2, 1, 7);
    a.CloneTo(b);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.bitmap()->pixelValue(2, 1), 7u);
    EXPECT_EQ(b.colorTable()[7], (RGBQuad{1, 2, 3, 0}));
}

TEST(GcDIB, PictureRoundTrip) {
    GcDIB a;
    ASSERT_TRUE(a.Create(2, 2, 32));
    setPixel32(a, 1, 1, 1, 2, 3);
    StdPicture pic = a.Image();
    ASSERT_TRUE(pic.isBitmap());
    GcDIB b;
    EXPECT_EQ(b.CreateFromStdPicture(pic, true), 32);
    EXPECT_EQ(GetPixel(b.hDIBDC(), 1, 1), RGBColor(1, 2, 3));
    EXPECT_EQ(b.CreateFromStdPicture(StdPicture{}, true), 0);
}
