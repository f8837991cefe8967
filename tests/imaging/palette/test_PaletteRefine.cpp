// The refined adaptive palette: its size, its repeatability, and that it
// serves photo-like pictures at least as well as the octree palette.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "imaging/palette/ColourHistogram.h"
#include "imaging/palette/PaletteRefine.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "support/Images.h"
#include "support/PhotoImages.h"

using namespace tarnel;
using test::Photo;

namespace {

const Photo kPhotos[] = {Photo::Landscape, Photo::Plasma, Photo::Portrait, Photo::Stripes};

std::vector<uint8_t> paletteBytes(const cPal8bpp& p) {
    return std::vector<uint8_t>(p.lpPalette(), p.lpPalette() + 4 * size_t(p.Entries()));
}

GcDIB reduce(const GcDIB& source, bool refined, int32_t method, cPal8bpp& palette) {
    Dither8bpp dither;
    dither.SetPaletteMode(1);
    dither.SetRefinedPalette(refined);
    dither.SetDitherMethod(method);
    GcDIB target;
    dither.DitherTo8bpp(source, target, palette, false);
    return target;
}

TEST(PaletteRefine, NeverMoreEntriesThanAskedAndRepeatable) {
    struct Case {
        const char* name;
        GcDIB image;
        int32_t maxColors;
    };
    uint32_t seed = 5;
    std::vector<Case> cases;
    cases.push_back({"plasma 256", test::makePhoto(Photo::Plasma, 160, 120), 256});
    cases.push_back({"landscape 16", test::makePhoto(Photo::Landscape, 160, 120), 16});
    cases.push_back({"noise 256", test::makeImage(97, 61, [&](int, int) {
                         return test::Rgb{int(test::lcg(seed) & 255), int(test::lcg(seed) & 255),
                                          int(test::lcg(seed) & 255)};
                     }), 256});
    cases.push_back({"noise 1", test::makeImage(40, 30, [&](int, int) {
                         return test::Rgb{int(test::lcg(seed) & 255), 0, int(test::lcg(seed) & 255)};
                     }), 1});
    cases.push_back({"one pixel", test::makeImage(1, 1, [](int, int) { return test::Rgb{9, 8, 7}; }), 256});
    cases.push_back({"thin", test::makePhoto(Photo::Stripes, 1000, 1), 256});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cPal8bpp first, second;
        CreateRefinedPalette(c.image, first, c.maxColors);
        CreateRefinedPalette(c.image, second, c.maxColors);
        EXPECT_GE(first.Entries(), 1);
        EXPECT_LE(first.Entries(), c.maxColors);
        EXPECT_NE(first.hPal(), 0u);
        EXPECT_EQ(paletteBytes(first), paletteBytes(second));
    }
}

TEST(PaletteRefine, ServesPhotosAtLeastAsWellAsTheOctree) {
    for (Photo kind : kPhotos) {
        for (int32_t method : {0, 2}) {
            SCOPED_TRACE(std::string(test::photoName(kind)) + (method ? " diffusion" : " nearest"));
            const GcDIB photo = test::makePhoto(kind, 320, 240);
            cPal8bpp octree, refined;
            const double before = test::Psnr(photo, reduce(photo, false, method, octree));
            const double after = test::Psnr(photo, reduce(photo, true, method, refined));
            EXPECT_GE(after, before);
            // Without dithering the refined palette is a clear step up, not a tie.
            if (method == 0) {
                EXPECT_GE(after, before + 2.0);
            }
        }
    }
}

TEST(PaletteRefine, EntriesSettleAtTheMeansOfTheirPixels) {
    // Where the refinement has settled, each well-used entry is the mean of
    // the pixels nearest to it, within rounding.
    for (Photo kind : kPhotos) {
        SCOPED_TRACE(test::photoName(kind));
        const GcDIB photo = test::makePhoto(kind, 320, 240, 9);
        cPal8bpp palette;
        CreateRefinedPalette(photo, palette);
        const int n = palette.Entries();
        std::vector<double> sum(size_t(3 * n), 0.0), count(size_t(n), 0.0);
        for (int y = 0; y < photo.Height(); ++y) {
            const uint8_t* p = photo.bitmap()->scanline(y);
            for (int x = 0; x < photo.Width(); ++x, p += 4) {
                const int k = NearestIndex(palette.entries(), n, p[2], p[1], p[0]);
                sum[size_t(3 * k)] += p[2];
                sum[size_t(3 * k + 1)] += p[1];
                sum[size_t(3 * k + 2)] += p[0];
                count[size_t(k)] += 1;
            }
        }
        int used = 0, off = 0;
        for (int k = 0; k < n; ++k) {
            if (count[size_t(k)] < 100) continue;
            ++used;
            const double dr = sum[size_t(3 * k)] / count[size_t(k)] - palette.rgbR(k);
            const double dg = sum[size_t(3 * k + 1)] / count[size_t(k)] - palette.rgbG(k);
            const double db = sum[size_t(3 * k + 2)] / count[size_t(k)] - palette.rgbB(k);
            off += dr * dr + dg * dg + db * db > 4.0;
        }
        ASSERT_GT(used, 20);
        EXPECT_LE(off, used / 10) << off << " of " << used << " entries are away from their mean";
    }
}

TEST(PaletteRefine, FewColoursComeBackExactly) {
    // 200 distinct colours, each in its own 6-bit bin: the palette is those colours.
    const GcDIB image = test::makeImage(200, 10, [](int x, int) {
        return test::Rgb{(x % 50) * 5, (x / 50) * 60, 100};
    });
    cPal8bpp palette;
    const GcDIB reduced = reduce(image, true, 2, palette);
    EXPECT_EQ(palette.Entries(), 200);
    EXPECT_EQ(test::Psnr(image, reduced), 99);
}

TEST(PaletteRefine, FewColoursSharingBinsComeBackExactly) {
    // 256 colours in pairs one step apart, so each pair shares a 6-bit bin
    // (a GIF encoded again, say): still every colour exactly.
    const GcDIB image = test::makeImage(128, 8, [](int x, int y) {
        return test::Rgb{(x % 64) * 4 + (y & 1), (x / 64) * 100, 7};
    });
    for (int32_t method : {0, 2}) {
        SCOPED_TRACE(method);
        cPal8bpp palette;
        const GcDIB reduced = reduce(image, true, method, palette);
        EXPECT_EQ(palette.Entries(), 256);
        EXPECT_EQ(test::Psnr(image, reduced), 99);
    }
    // One colour more and the exact colours no longer fit.
    const GcDIB more = test::makeImage(129, 8, [](int x, int y) {
        return test::Rgb{(x % 64) * 4 + (y & 1), (x / 64) * 100, 7};
    });
    ColourHistogram histogram;
    histogram.Add(*more.bitmap());
    EXPECT_TRUE(histogram.ExactColours().empty());
    histogram.Clear();
    histogram.Add(*image.bitmap(), 2);  // sampled: not every colour is seen
    EXPECT_TRUE(histogram.ExactColours().empty());
}

TEST(PaletteRefine, EntriesAreMeansOfTheirColours) {
    // Two tight clusters far apart and a start palette far from both: with
    // two entries each must end at its cluster's exact mean.
    uint32_t seed = 11;
    const GcDIB image = test::makeImage(64, 64, [&](int x, int) {
        const int j = int(test::lcg(seed) % 9) - 4;  // -4 … 4
        return x < 32 ? test::Rgb{20 + j, 30, 40} : test::Rgb{200, 210 + j, 220};
    });
    ColourHistogram histogram;
    histogram.Add(*image.bitmap());
    EXPECT_EQ(histogram.Pixels(), 64u * 64u);
    cPal8bpp palette;
    palette.CreateEGA();  // 16 entries to start from
    RefinePalette(palette, histogram, 2);
    ASSERT_EQ(palette.Entries(), 2);
    std::set<test::Rgb> got;
    for (int i = 0; i < 2; ++i) got.insert({palette.rgbR(i), palette.rgbG(i), palette.rgbB(i)});
    // The jitter averages near 0 over 2048 pixels of each cluster.
    bool low = false, high = false;
    for (const test::Rgb& c : got) {
        low |= std::abs(c.r - 20) <= 1 && c.g == 30 && c.b == 40;
        high |= c.r == 200 && std::abs(c.g - 210) <= 1 && c.b == 220;
    }
    EXPECT_TRUE(low && high) << *got.begin() << " " << *got.rbegin();
}

TEST(PaletteRefine, HistogramSamplesRatherThanOverflow) {
    // Five 4-megapixel white pictures pass what 32-bit sums can hold: the
    // later ones are sampled or left out, and the mean stays white.
    const GcDIB white = test::makeImage(2048, 2048, [](int, int) { return test::Rgb{255, 255, 255}; });
    const GcDIB half = test::makeImage(3000, 3000, [](int, int) { return test::Rgb{255, 255, 255}; });
    ColourHistogram histogram;
    for (int i = 0; i < 3; ++i) histogram.Add(*white.bitmap());
    EXPECT_EQ(histogram.Pixels(), 3u * 2048u * 2048u);
    histogram.Add(*half.bitmap());  // 9 M more would not fit: sampled
    EXPECT_GT(histogram.Pixels(), 3u * 2048u * 2048u);
    histogram.Add(*white.bitmap());
    EXPECT_LE(histogram.Pixels(), ColourHistogram::kMostPixels);
    const std::vector<ColourHistogram::Colour> colours = histogram.Colours();
    ASSERT_EQ(colours.size(), 1u);
    EXPECT_EQ(colours[0].count, histogram.Pixels());
    EXPECT_EQ(colours[0].r, 255.0f);
    EXPECT_EQ(colours[0].b, 255.0f);
}

TEST(PaletteRefine, OtherDepthsAreLeftAlone) {
    GcDIB eight;
    ASSERT_TRUE(eight.Create(4, 4, 8));
    cPal8bpp palette;
    palette.CreateEGA();
    CreateRefinedPalette(eight, palette);
    EXPECT_EQ(palette.Entries(), 16);
    ColourHistogram histogram;
    histogram.Add(*eight.bitmap());
    EXPECT_EQ(histogram.Pixels(), 0u);
    RefinePalette(palette, histogram);  // nothing to fit: unchanged
    EXPECT_EQ(palette.Entries(), 16);
}

TEST(PaletteRefine, DefaultConverterIsUntouchedByTheRefinedSetting) {
    const GcDIB photo = test::makePhoto(Photo::Landscape, 120, 90);
    for (int32_t method : {0, 1, 2}) {
        SCOPED_TRACE(method);
        Dither8bpp fresh, toggled;
        fresh.SetPaletteMode(1);
        fresh.SetDitherMethod(method);
        toggled.SetPaletteMode(1);
        toggled.SetDitherMethod(method);
        toggled.SetRefinedPalette(true);
        cPal8bpp p1, p2;
        GcDIB a, b, scratch;
        toggled.DitherTo8bpp(photo, scratch, p2, false);
        toggled.SetRefinedPalette(false);
        fresh.DitherTo8bpp(photo, a, p1, false);
        toggled.DitherTo8bpp(photo, b, p2, false);
        EXPECT_EQ(paletteBytes(p1), paletteBytes(p2));
        ASSERT_EQ(a.Size(), b.Size());
        EXPECT_EQ(0, std::memcmp(a.lpBits(), b.lpBits(), size_t(a.Size())));
    }
}

}  // namespace
