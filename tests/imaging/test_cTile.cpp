// Pattern, hatch and solid tiling onto our device contexts.
#include <gtest/gtest.h>

#include "imaging/GcDIB.h"
#include "imaging/cTile.h"
#include "support/Images.h"

using namespace tarnel;
using tarnel::test::makePicture;

namespace {

constexpr uint32_t kUntouched = 0x010203;

GcDIB canvas(int w, int h) {
    GcDIB d;
    EXPECT_TRUE(d.Create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) d.bitmap()->setPixelValue(x, y, kUntouched);
    return d;
}

uint32_t at(const GcDIB& d, int x, int y) { return d.bitmap()->pixelValue(x, y); }

// 3 x 2 picture, every pixel its own colour (0x00RRGGBB).
uint32_t patternColour(int x, int y) { return 0x100000u * uint32_t(x + 1) + 0x40u * uint32_t(y + 1); }

}  // namespace

TEST(cTile, SolidColourFillsOnlyTheRectangleInTheTranslatedColour) {
    cTile tile;
    EXPECT_FALSE(tile.HasPattern());
    ASSERT_TRUE(tile.SetPatternFromSolidColor(0x8000000F));  // button face
    GcDIB d = canvas(10, 8);
    tile.Tile(d.hDIBDC(), 2, 3, 4, 2, true);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
            bool inside = x >= 2 && x < 6 && y >= 3 && y < 5;
            EXPECT_EQ(at(d, x, y), inside ? 0xD4D0C8u : kUntouched) << x << "," << y;
        }
}

TEST(cTile, BrushOriginFollowsResetBrushOriginAndStaysSet) {
    struct Case {
        int x, y;
        bool reset;
        int lineX, lineY;  // where the cross lines fall inside the filled rectangle
        int originX, originY;
    };
    for (Case c : {Case{3, 5, true, 7, 9, 3, 5}, Case{3, 5, false, 4, 12, 0, 0}, Case{0, 0, true, 4, 4, 0, 0}}) {
        cTile tile;
        ASSERT_TRUE(tile.SetPatternFromHatchBrush(HS_CROSS, RGBColor(255, 0, 0)));
        GcDIB d = canvas(16, 16);
        SetBrushOrgEx(d.hDIBDC(), 9, 9);
        tile.Tile(d.hDIBDC(), c.x, c.y, 8, 8, c.reset);
        EXPECT_EQ(d.hDIBDC()->brushOriginX, c.originX);
        EXPECT_EQ(d.hDIBDC()->brushOriginY, c.originY);
        // A column and a row of the cross, the rest of the cell the background (white).
        EXPECT_EQ(at(d, c.lineX, c.y + 1), 0xFF0000u) << c.x << "," << c.reset;
        EXPECT_EQ(at(d, c.x + 1, c.lineY), 0xFF0000u) << c.x << "," << c.reset;
        EXPECT_EQ(at(d, c.lineX == c.x + 1 ? c.x + 2 : c.x + 1, c.lineY == c.y + 1 ? c.y + 2 : c.y + 1), 0xFFFFFFu);
        EXPECT_EQ(at(d, c.x + 8, c.y + 8), kUntouched);
    }
}

TEST(cTile, PictureIsCopiedAsBottomUp24BitPatternAndTiledFromTheOrigin) {
    StdPicture picture = makePicture(3, 2, patternColour);
    cTile tile;
    ASSERT_TRUE(tile.SetPatternFromStdPicture(picture));
    const Bitmap* copy = tile.brush()->patternBitmap();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->bpp(), 24);
    EXPECT_FALSE(copy->topDown());
    EXPECT_EQ(copy->width(), 3);
    EXPECT_EQ(copy->height(), 2);
    // The brush owns its copy: later drawing on the picture does not reach it.
    picture.bitmap->setPixelValue(0, 0, 0xFFFFFF);

    GcDIB reset = canvas(12, 9), fixed = canvas(12, 9);
    tile.Tile(reset.hDIBDC(), 1, 2, 7, 5, true);
    tile.Tile(fixed.hDIBDC(), 1, 2, 7, 5, false);
    for (int y = 2; y < 7; ++y)
        for (int x = 1; x < 8; ++x) {
            EXPECT_EQ(at(reset, x, y), patternColour((x - 1) % 3, (y - 2) % 2)) << x << "," << y;
            EXPECT_EQ(at(fixed, x, y), patternColour(x % 3, y % 2)) << x << "," << y;
        }
    EXPECT_EQ(at(reset, 0, 2), kUntouched);
    EXPECT_EQ(at(reset, 8, 6), kUntouched);
}

TEST(cTile, PalettePictureTilesInItsTableColours) {
    StdPicture picture;
    picture.bitmap = std::make_shared<Bitmap>();
    ASSERT_TRUE(picture.bitmap->create(2, 1, 8));
    picture.bitmap->colorTable()[0] = RGBQuad{0x30, 0x20, 0x10, 0};
    picture.bitmap->colorTable()[7] = RGBQuad{0x60, 0x50, 0x40, 0};
    picture.bitmap->setPixelValue(1, 0, 7);
    cTile tile;
    ASSERT_TRUE(tile.SetPatternFromStdPicture(picture));
    GcDIB d = canvas(4, 1);
    tile.Tile(d.hDIBDC(), 0, 0, 4, 1, true);
    EXPECT_EQ(at(d, 0, 0), 0x102030u);
    EXPECT_EQ(at(d, 1, 0), 0x405060u);
    EXPECT_EQ(at(d, 2, 0), 0x102030u);
}

TEST(cTile, FailedPatternsAreReportedAndNothingIsTiledWithoutOne) {
    cTile tile;
    GcDIB d = canvas(4, 4);
    tile.Tile(d.hDIBDC(), 0, 0, 4, 4, true);
    EXPECT_EQ(at(d, 1, 1), kUntouched);

    ASSERT_TRUE(tile.SetPatternFromSolidColor(RGBColor(0, 255, 0)));
    // No bitmap in the picture: false, and the old pattern is still there.
    EXPECT_FALSE(tile.SetPatternFromStdPicture(StdPicture{}));
    EXPECT_TRUE(tile.HasPattern());
    // An unknown hatch style leaves no pattern at all.
    EXPECT_FALSE(tile.SetPatternFromHatchBrush(HS_DIAGCROSS + 1, 0));
    EXPECT_FALSE(tile.HasPattern());
    tile.Tile(d.hDIBDC(), 0, 0, 4, 4, true);
    EXPECT_EQ(at(d, 1, 1), kUntouched);

    ASSERT_TRUE(tile.SetPatternFromSolidColor(RGBColor(0, 255, 0)));
    tile.DestroyPattern();
    EXPECT_FALSE(tile.HasPattern());
    tile.Tile(d.hDIBDC(), 0, 0, 4, 4, true);
    tile.Tile(nullptr, 0, 0, 4, 4, true);
    EXPECT_EQ(at(d, 1, 1), kUntouched);
}

TEST(cTile, RectanglesReachingPastTheSurfaceAreClipped) {
    cTile tile;
    ASSERT_TRUE(tile.SetPatternFromSolidColor(RGBColor(0, 0, 255)));
    GcDIB d = canvas(5, 5);
    tile.Tile(d.hDIBDC(), -3, 3, 2147483647, 100, false);
    EXPECT_EQ(at(d, 0, 3), 0x0000FFu);
    EXPECT_EQ(at(d, 4, 4), 0x0000FFu);
    EXPECT_EQ(at(d, 4, 2), kUntouched);
}
