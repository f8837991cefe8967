// The cell-list nearest-entry search against a plain search of every entry.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/palette/PaletteLookup.h"
#include "imaging/palette/cPal8bpp.h"
#include "support/Images.h"

using namespace tarnel;

namespace {

// Plain reference: every entry measured, ties to the lowest index.
int bruteNearest(const std::vector<RGBQuad>& p, int r, int g, int b) {
    int best = 1 << 30, index = 0;
    for (size_t k = 0; k < p.size(); ++k) {
        const int dr = r - p[k].red, dg = g - p[k].green, db = b - p[k].blue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < best) best = d, index = int(k);
    }
    return index;
}

std::vector<RGBQuad> entriesOf(const cPal8bpp& p) {
    return std::vector<RGBQuad>(p.entries(), p.entries() + p.Entries());
}

TEST(PaletteLookup, AgreesWithSearchingEveryEntry) {
    uint32_t seed = 3;
    auto randomPalette = [&](int n) {
        std::vector<RGBQuad> p(static_cast<size_t>(n));
        for (RGBQuad& q : p) q = {uint8_t(test::lcg(seed)), uint8_t(test::lcg(seed)), uint8_t(test::lcg(seed)), 0};
        return p;
    };
    cPal8bpp ega, web, grey;
    ega.CreateEGA();
    web.CreateWebsafe();  // holds repeated entries: ties go to the first
    grey.CreateGreyScale(2);
    std::vector<RGBQuad> crowded = randomPalette(256);
    for (size_t k = 0; k < 64; ++k) crowded[k] = {uint8_t(120 + k % 4), uint8_t(120 + k / 16), 121, 0};
    const struct {
        const char* name;
        std::vector<RGBQuad> palette;
    } cases[] = {
        {"ega", entriesOf(ega)},          {"websafe", entriesOf(web)},       {"greys", entriesOf(grey)},
        {"random 256", randomPalette(256)}, {"random 7", randomPalette(7)}, {"crowded", crowded},
        {"two", randomPalette(2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteLookup lookup;
        lookup.SetPalette(c.palette.data(), int(c.palette.size()));
        EXPECT_EQ(lookup.Count(), int(c.palette.size()));
        int wrong = 0;
        for (int i = 0; i < 40000; ++i) {
            const int r = int(test::lcg(seed) & 255), g = int(test::lcg(seed) & 255), b = int(test::lcg(seed) & 255);
            const int want = bruteNearest(c.palette, r, g, b);
            if (lookup.Nearest(r, g, b) != want) ++wrong;
            // Any hint, one out of the palette included, gives the same answer.
            if (lookup.NearestFrom(r, g, b, uint8_t(test::lcg(seed))) != want) ++wrong;
            if (lookup.NearestFrom(r, g, b, uint8_t(want)) != want) ++wrong;
        }
        // The corners and edges of the cube too.
        for (int r : {0, 7, 8, 255})
            for (int g : {0, 128, 255})
                for (int b : {0, 15, 16, 255})
                    if (lookup.Nearest(r, g, b) != bruteNearest(c.palette, r, g, b)) ++wrong;
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PaletteLookup, ANewPaletteReplacesTheCells) {
    const RGBQuad blackWhite[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    const RGBQuad whiteBlack[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    PaletteLookup lookup;
    lookup.SetPalette(blackWhite, 2);
    EXPECT_EQ(lookup.Nearest(10, 10, 10), 0);
    lookup.SetPalette(whiteBlack, 2);
    EXPECT_EQ(lookup.Nearest(10, 10, 10), 1);
    // Held to the entries that exist; none at all answers 0.
    lookup.SetPalette(blackWhite, 0);
    EXPECT_EQ(lookup.Count(), 0);
    EXPECT_EQ(lookup.Nearest(250, 250, 250), 0);
    lookup.SetPalette(blackWhite, -3);
    EXPECT_EQ(lookup.Count(), 0);
}

}  // namespace
