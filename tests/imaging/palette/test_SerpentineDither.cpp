// Reduction to an arbitrary palette by exact nearest entries, ordered offsets
// or serpentine error diffusion.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/palette/SerpentineDither.h"
#include "support/Images.h"
#include "support/PhotoImages.h"

using namespace tarnel;

namespace {

GcDIB reduce(const GcDIB& source, const std::vector<RGBQuad>& palette, int32_t method) {
    GcDIB target;
    EXPECT_TRUE(target.Create(source.Width(), source.Height(), 8));
    std::copy(palette.begin(), palette.end(), target.colorTable());
    PaletteLookup lookup;
    lookup.SetPalette(palette.data(), int(palette.size()));
    ReduceToPalette(*source.bitmap(), *target.bitmap(), lookup, palette.data(), method);
    return target;
}

const std::vector<RGBQuad> kFive = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 200, 0}, {30, 180, 40, 0}, {200, 90, 20, 0}};

TEST(SerpentineDither, IndicesStayInThePalette) {
    const GcDIB photo = test::makePhoto(test::Photo::Plasma, 97, 53);
    for (int32_t method : {0, 1, 2, 7}) {
        SCOPED_TRACE(method);
        const GcDIB reduced = reduce(photo, kFive, method);
        int outside = 0;
        for (int y = 0; y < reduced.Height(); ++y)
            for (int x = 0; x < reduced.Width(); ++x) outside += reduced.bitmap()->scanline(y)[x] >= kFive.size();
        EXPECT_EQ(outside, 0);
    }
}

TEST(SerpentineDither, PaletteColoursComeBackUnchanged) {
    uint32_t seed = 17;
    const GcDIB image = test::makeImage(61, 37, [&](int, int) {
        const RGBQuad& q = kFive[test::lcg(seed) % kFive.size()];
        return test::Rgb{q.red, q.green, q.blue};
    });
    for (int32_t method : {0, 2}) {
        SCOPED_TRACE(method);
        EXPECT_EQ(test::Psnr(image, reduce(image, kFive, method)), 99);
    }
}

TEST(SerpentineDither, DiffusionKeepsTheAverageOfFlatAreas) {
    // Black and white only: a flat grey must come out as a mix of the two
    // whose mean is about that grey (a little nearer the nearer one, as only
    // 7/8 of each error travels), on the left and the right alike.
    const std::vector<RGBQuad> bw = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    for (int grey : {32, 128, 200}) {
        SCOPED_TRACE(grey);
        const GcDIB flat = test::makeImage(64, 64, [&](int, int) { return test::Rgb{grey, grey, grey}; });
        const GcDIB reduced = reduce(flat, bw, 2);
        double means[2];
        for (int half = 0; half < 2; ++half) {
            int white = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = half * 32; x < half * 32 + 32; ++x) white += reduced.bitmap()->scanline(y)[x];
            means[half] = 255.0 * white / (32 * 64);
            EXPECT_NEAR(means[half], grey, 12) << "half " << half;
        }
        EXPECT_NEAR(means[0], means[1], 4);
        // Without diffusion the same grey is one flat colour.
        const GcDIB nearest = reduce(flat, bw, 0);
        EXPECT_EQ(nearest.bitmap()->scanline(10)[10], nearest.bitmap()->scanline(50)[50]);
    }
}

TEST(SerpentineDither, EmptyPaletteGivesIndexZero) {
    const GcDIB photo = test::makePhoto(test::Photo::Portrait, 20, 10);
    GcDIB target;
    ASSERT_TRUE(target.Create(20, 10, 8));
    target.bitmap()->scanline(3)[3] = 9;
    PaletteLookup lookup;
    ReduceToPalette(*photo.bitmap(), *target.bitmap(), lookup, kFive.data(), 2);
    EXPECT_EQ(target.bitmap()->scanline(3)[3], 0);
}

}  // namespace
