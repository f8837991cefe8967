#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "platform/RuntimeError.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::lcg;
using tarnel::test::makeImage;
using tarnel::test::Rgb;

namespace {

GcDIB flat(int w, int h, int v) {
    return makeImage(w, h, [v](int, int) { return Rgb{v, v, v}; });
}

std::vector<uint8_t> indicesOf(const GcDIB& d) {
    std::vector<uint8_t> out;
    for (int y = 0; y < d.Height(); ++y)
        for (int x = 0; x < d.Width(); ++x) out.push_back(Dither8bpp::GetPixelIndex(d, x, y));
    return out;
}

// Something like a photograph: smooth shading, edges, a little grain.
GcDIB photoLike(int w, int h, uint32_t seed) {
    return makeImage(w, h, [&](int x, int y) {
        double fx = double(x) / w, fy = double(y) / h;
        double shade = 120 + 80 * std::sin(fx * 7.3 + fy * 2.1) * std::cos(fy * 5.7 - fx);
        int grain = int(lcg(seed) % 17) - 8;
        int edge = (x * 3 + y * 2) % 97 < 30 ? 40 : 0;
        return Rgb{std::clamp(int(shade + 60 * fx) + grain + edge, 0, 255),
                   std::clamp(int(shade * 0.9 + 30 * fy) + grain, 0, 255),
                   std::clamp(int(255 - shade) + grain - edge, 0, 255)};
    });
}

// The conversion written out literally, pixel by pixel, from the rules: the
// quantisers and fractions are computed where they are needed, the matrices
// are the printed ones, and error diffusion works on a full working copy.
class Reference {
public:
    static constexpr int B[4][4] = {{1, 9, 3, 11}, {13, 5, 15, 7}, {4, 12, 2, 10}, {16, 8, 14, 6}};
    static constexpr int T51[4][4] = {{3, 29, 10, 35}, {41, 16, 48, 22}, {13, 38, 6, 32}, {51, 26, 45, 19}};

    static int Q6(int k) { return std::clamp(int(std::nearbyint(k / 51.0)), 0, 5); }
    static int Q16(int k) { return k == -8 ? 0 : std::clamp(int(std::nearbyint(k / 17.0)), 0, 15); }
    static int frac(int e, int sixteenths) { return int(std::nearbyint(e * sixteenths / 16.0)); }

    static std::vector<uint8_t> inverseTable(const cPal8bpp& p) {
        std::vector<uint8_t> table(4096);
        for (int b = 0; b < 16; ++b)
            for (int g = 0; g < 16; ++g)
                for (int r = 0; r < 16; ++r) {
                    int best = 0, bestD = 1 << 30;
                    for (int i = 0; i < p.Entries(); ++i) {
                        int dr = p.rgbR(i) - 17 * r, dg = p.rgbG(i) - 17 * g, db = p.rgbB(i) - 17 * b;
                        int d = dr * dr + dg * dg + db * db;
                        if (d < bestD) bestD = d, best = i;
                    }
                    table[size_t(b * 256 + g * 16 + r)] = uint8_t(best);
                }
        return table;
    }

    static std::vector<uint8_t> run(const GcDIB& source, int mode, int method, const uint8_t* palette1024,
                                    const std::vector<uint8_t>& inverse) {
        const int W = source.Width(), H = source.Height();
        GcDIB work;
        source.CloneTo(work);
        std::vector<uint8_t> out(size_t(W) * H);
        auto px = [&](int x, int y) { return work.bitmap()->scanline(y) + 4 * x; };
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint8_t* p = px(x, y);
                int v[3] = {p[0], p[1], p[2]};  // blue, green, red
                int level[3];
                for (int c = 0; c < 3; ++c) {
                    if (method == 1)
                        level[c] = mode == 0 ? Q6(v[c] + 26 - T51[y % 4][x % 4]) : Q16(v[c] + 8 - B[y % 4][x % 4]);
                    else
                        level[c] = mode == 0 ? Q6(v[c]) : Q16(v[c]);
                }
                int index = mode == 0 ? level[2] + 6 * level[1] + 36 * level[0]
                                      : inverse[size_t(level[0] * 256 + level[1] * 16 + level[2])];
                out[size_t(y) * W + x] = uint8_t(index);
                if (method != 2) continue;
                const uint8_t* entry = palette1024 + 4 * index;
                int e[3];
                for (int c = 0; c < 3; ++c) e[c] = v[c] - entry[c];
                if (std::abs(e[0]) + std::abs(e[1]) + std::abs(e[2]) < 4) continue;
                std::memcpy(p, entry, 4);
                auto spread = [&](int nx, int ny, int sixteenths) {
                    uint8_t* q = px(nx, ny);
                    for (int c = 0; c < 3; ++c) q[c] = uint8_t(std::clamp(q[c] + frac(e[c], sixteenths), 0, 255));
                };
                if (x < W - 1) spread(x + 1, y, 7);
                if (y < H - 1) {
                    spread(x, y + 1, 5);
                    if (x < W - 1) spread(x + 1, y + 1, 1);
                    if (x > 0) spread(x - 1, y + 1, 3);
                }
            }
        return out;
    }
};

GcDIB dither(Dither8bpp& d, const GcDIB& src, int mode, int method, cPal8bpp& pal, bool keep = false) {
    d.SetPaletteMode(mode);
    d.SetDitherMethod(method);
    GcDIB target;
    d.DitherTo8bpp(src, target, pal, keep);
    return target;
}

// Writes a bottom-up 32-bpp BMP file: rows stored from the bottom.
void writeBottomUpBmp(const std::string& path, const GcDIB& img) {
    const int w = img.Width(), h = img.Height();
    const uint32_t pixels = uint32_t(4 * w * h);
    std::vector<uint8_t> f(54, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, 54 + pixels);
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    f[26] = 1;
    f[28] = 32;
    put32(34, pixels);
    for (int y = h - 1; y >= 0; --y) {
        const uint8_t* row = img.bitmap()->scanline(y);
        f.insert(f.end(), row, row + 4 * w);
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(f.data(), 1, f.size(), out);
    std::fclose(out);
}

}  // namespace

TEST(mDither8bpp, CubeNearestColour) {
    struct Case { Rgb c; int index; };
    const Case cases[] = {{{255, 0, 0}, 5},    {{255, 255, 255}, 215}, {{25, 25, 25}, 0}, {{26, 26, 26}, 43},
                          {{0, 255, 0}, 30},   {{0, 0, 255}, 180},     {{0, 0, 0}, 0},    {{76, 77, 127}, 1 + 12 + 72},
                          {{128, 128, 128}, 3 + 18 + 108}};
    for (const Case& c : cases) {
        Dither8bpp d;
        cPal8bpp pal;
        GcDIB out = dither(d, makeImage(1, 1, [&](int, int) { return c.c; }), 0, 0, pal);
        ASSERT_EQ(out.BPP(), 8);
        EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 0, 0), c.index) << c.c.r << "," << c.c.g << "," << c.c.b;
    }
}

TEST(mDither8bpp, TargetCarriesTheWholePalette) {
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB src = photoLike(13, 9, 1);
    GcDIB out = dither(d, src, 0, 0, pal);
    EXPECT_EQ(out.Width(), 13);
    EXPECT_EQ(out.Height(), 9);
    EXPECT_EQ(pal.Entries(), 216);
    EXPECT_EQ(std::memcmp(out.colorTable(), pal.lpPalette(), 1024), 0);
    EXPECT_EQ(std::memcmp(d.PaletteCopy().data(), pal.lpPalette(), 1024), 0);
    EXPECT_EQ(out.colorTable()[215], (RGBQuad{255, 255, 255, 0}));
    EXPECT_EQ(out.colorTable()[216], (RGBQuad{0, 0, 0, 0}));
}

TEST(mDither8bpp, OrderedFlatFieldFollowsTheThresholds) {
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB out = dither(d, flat(8, 8, 25), 0, 1, pal);
    int ones = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool below = Reference::T51[y % 4][x % 4] < 25.5;
            const int index = Dither8bpp::GetPixelIndex(out, x, y);
            EXPECT_EQ(index, below ? 43 : 0) << x << "," << y;
            ones += index == 43;
        }
    EXPECT_EQ(ones, 4 * 7);
    for (int v : {0, 255}) {
        GcDIB o = dither(d, flat(5, 5, v), 0, 1, pal);
        for (uint8_t i : indicesOf(o)) ASSERT_EQ(i, v ? 215 : 0) << v;
    }
}

TEST(mDither8bpp, OrderedPhaseRestartsOnEveryRow) {
    // Width 6: column 4 of every row uses matrix column 0 again.
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB out = dither(d, flat(6, 4, 25), 0, 1, pal);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 4, y), Dither8bpp::GetPixelIndex(out, 0, y)) << y;
        EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 5, y), Dither8bpp::GetPixelIndex(out, 1, y)) << y;
    }
}

TEST(mDither8bpp, DiffusionThresholdOfFour) {
    // Pixel 0's blue error (3 or 4) decides whether pixel 1, blue 25, is pushed to level 1.
    struct Case { int blue0, index1; };
    for (Case c : {Case{3, 0}, Case{4, 36}}) {
        Dither8bpp d;
        cPal8bpp pal;
        GcDIB src = makeImage(2, 2, [&](int x, int y) {
            return x == 0 && y == 0 ? Rgb{0, 0, c.blue0} : Rgb{25, 25, 25};
        });
        GcDIB out = dither(d, src, 0, 2, pal);
        EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 1, 0), c.index1) << c.blue0;
    }
}

TEST(mDither8bpp, DiffusionNeighboursAtTheEdges) {
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB src = flat(2, 2, 20);
    GcDIB out = dither(d, src, 0, 2, pal);
    // (0,0): error 20 -> right +9, below +6, lower right +1, so (1,0) = 29 -> level 1.
    EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 0, 0), 0);
    EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 1, 0), 43);
    // (1,0): error 29 - 51 = -22; no right neighbour; below -7, lower left round(-66/16) = -4.
    // (0,1) = 26 - 4 = 22 -> 0; on the last row its error 22 goes right only: (1,1) = 21 - 7 + 10 = 24 -> 0.
    EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 0, 1), 0);
    EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 1, 1), 0);
    EXPECT_EQ(indicesOf(out), Reference::run(src, 0, 2, pal.lpPalette(), {}));

    // First column: a big error at (1,0) of a 2-wide image reaches (0,1) through
    // the lower-left share, and nothing is written left of column 0.
    GcDIB src2 = makeImage(2, 2, [](int x, int y) { return x == 1 && y == 0 ? Rgb{70, 70, 70} : Rgb{12, 12, 12}; });
    GcDIB out2 = dither(d, src2, 0, 2, pal);
    EXPECT_EQ(indicesOf(out2), Reference::run(src2, 0, 2, pal.lpPalette(), {}));
}

TEST(mDither8bpp, DiffusionLeavesTheSourceAlone) {
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB src = photoLike(31, 17, 7);
    GcDIB before;
    src.CloneTo(before);
    for (int mode : {0, 1}) dither(d, src, mode, 2, pal);
    EXPECT_EQ(std::memcmp(src.lpBits(), before.lpBits(), size_t(src.Size())), 0);
}

TEST(mDither8bpp, OnePixelSources) {
    for (int mode : {0, 1})
        for (int method : {0, 1, 2}) {
            Dither8bpp d;
            cPal8bpp pal;
            GcDIB src = makeImage(1, 1, [](int, int) { return Rgb{200, 100, 30}; });
            GcDIB out = dither(d, src, mode, method, pal);
            ASSERT_EQ(out.Width(), 1);
            ASSERT_EQ(out.Height(), 1);
            if (mode == 0) {
                EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 0, 0), 4 + 6 * 2 + 36 * 1) << method;
            } else {
                // The adaptive palette of one colour is that colour at entry 0.
                EXPECT_EQ(pal.Entries(), 1);
                EXPECT_EQ(Dither8bpp::GetPixelIndex(out, 0, 0), 0);
            }
            EXPECT_EQ(indicesOf(out),
                      Reference::run(src, mode, method, pal.lpPalette(), Reference::inverseTable(pal)));
        }
}

TEST(mDither8bpp, KeepPaletteOnTheFirstCallFindsAZeroInverseTable) {
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB out = dither(d, photoLike(20, 10, 3), 1, 0, pal, true);
    ASSERT_EQ(out.BPP(), 8);
    for (uint8_t i : indicesOf(out)) ASSERT_EQ(i, 0);
    EXPECT_EQ(pal.Entries(), 0);
}

TEST(mDither8bpp, KeepPaletteReusesPaletteAndInverseTable) {
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB first = photoLike(120, 80, 5);
    dither(d, first, 1, 0, pal);
    const std::vector<uint8_t> palette(pal.lpPalette(), pal.lpPalette() + 1024);
    const auto inverse = d.InverseTable();
    EXPECT_EQ(std::vector<uint8_t>(inverse.begin(), inverse.end()), Reference::inverseTable(pal));

    GcDIB second = makeImage(40, 30, [](int x, int y) { return Rgb{x * 6, 255 - y * 8, 77}; });
    for (int method : {0, 1, 2}) {
        GcDIB out = dither(d, second, 1, method, pal, true);
        EXPECT_EQ(std::vector<uint8_t>(pal.lpPalette(), pal.lpPalette() + 1024), palette);
        EXPECT_EQ(d.InverseTable(), inverse);
        EXPECT_EQ(indicesOf(out), Reference::run(second, 1, method, pal.lpPalette(), Reference::inverseTable(pal)))
            << method;
    }
    // Without keeping, the palette follows the new image.
    dither(d, second, 1, 0, pal, false);
    EXPECT_NE(std::vector<uint8_t>(pal.lpPalette(), pal.lpPalette() + 1024), palette);
}

TEST(mDither8bpp, AdaptivePaletteComesFromTheFittedCopy) {
    for (auto [w, h] : {std::pair{200, 120}, std::pair{30, 45}, std::pair{50, 50}, std::pair{333, 41}}) {
        GcDIB src = photoLike(w, h, uint32_t(w));
        Dither8bpp d;
        cPal8bpp pal;
        dither(d, src, 1, 0, pal);

        GcDIB copy;
        src.CloneTo(copy);
        int bx = 0, by = 0, bw = 0, bh = 0;
        copy.GetBestFitInfo(50, 50, bx, by, bw, bh, false);
        copy.Resize(bw, bh, true);
        cPal8bpp want;
        want.CreateOptimal(copy, 256, 6, 1.0f, 1.0f, 1.0f);
        ASSERT_EQ(pal.Entries(), want.Entries()) << w << "x" << h;
        EXPECT_EQ(std::memcmp(pal.lpPalette(), want.lpPalette(), 1024), 0) << w << "x" << h;
    }
}

TEST(mDither8bpp, ThinSourceStillGetsAPalette) {
    // Fitting 1 x 1000 into 50 x 50 rounds the width to 0; the copy keeps one column.
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB src = makeImage(1, 1000, [](int, int y) { return Rgb{y % 256, 90, 200}; });
    GcDIB out = dither(d, src, 1, 0, pal);
    EXPECT_GT(pal.Entries(), 1);
    EXPECT_EQ(out.Height(), 1000);
}

TEST(mDither8bpp, MatchesTheLiteralRulesOnVariedImages) {
    struct Image { int w, h; uint32_t seed; bool noise; };
    const Image images[] = {{1, 1, 1, false},  {1, 7, 2, true},   {7, 1, 3, true},    {5, 3, 4, true},
                            {13, 9, 5, false}, {64, 37, 6, false}, {97, 61, 7, false}, {40, 40, 8, true},
                            {3, 50, 9, false}, {258, 5, 10, true}};
    for (const Image& im : images) {
        uint32_t seed = im.seed;
        GcDIB src = im.noise ? makeImage(im.w, im.h, [&](int, int) {
            return Rgb{int(lcg(seed) & 255), int(lcg(seed) & 255), int(lcg(seed) & 255)};
        })
                             : photoLike(im.w, im.h, im.seed);
        for (int mode : {0, 1})
            for (int method : {0, 1, 2}) {
                Dither8bpp d;
                cPal8bpp pal;
                GcDIB out = dither(d, src, mode, method, pal);
                const auto inverse = Reference::inverseTable(pal);
                if (mode == 1) {
                    ASSERT_EQ(std::vector<uint8_t>(d.InverseTable().begin(), d.InverseTable().end()), inverse);
                }
                ASSERT_EQ(indicesOf(out), Reference::run(src, mode, method, pal.lpPalette(), inverse))
                    << im.w << "x" << im.h << " mode " << mode << " method " << method;
            }
    }
}

TEST(mDither8bpp, DiffusionUsesThePaletteItWasGiven) {
    // A kept web-safe palette in mode 0: indices come from the cube rule, errors
    // from the entries that those indices name in the palette given.
    Dither8bpp d;
    cPal8bpp pal;
    pal.CreateWebsafe();
    GcDIB src = photoLike(45, 33, 11);
    GcDIB out = dither(d, src, 0, 2, pal, true);
    EXPECT_EQ(indicesOf(out), Reference::run(src, 0, 2, pal.lpPalette(), {}));
    EXPECT_EQ(out.colorTable()[217], (RGBQuad{8, 8, 8, 0}));
}

TEST(mDither8bpp, BottomUpSourcesAreReadFromTheTop) {
    GcDIB topDown = photoLike(23, 11, 4);
    test::TempDir dir;
    const std::string path = dir.file("bottom_up.bmp");
    writeBottomUpBmp(path, topDown);
    GcDIB bottomUp;
    ASSERT_EQ(bottomUp.CreateFromBitmapFile(path), 32);
    ASSERT_FALSE(bottomUp.bitmap()->topDown());
    for (int mode : {0, 1})
        for (int method : {0, 1, 2}) {
            Dither8bpp d;
            cPal8bpp p1, p2;
            GcDIB a = dither(d, topDown, mode, method, p1);
            GcDIB b = dither(d, bottomUp, mode, method, p2);
            EXPECT_EQ(indicesOf(a), indicesOf(b)) << mode << " " << method;
            EXPECT_EQ(std::memcmp(p1.lpPalette(), p2.lpPalette(), 1024), 0);
        }
}

TEST(mDither8bpp, OtherDepthsAreLeftAlone) {
    for (int bpp : {8, 24}) {
        Dither8bpp d;
        cPal8bpp pal;
        pal.CreateEGA();
        GcDIB src;
        ASSERT_TRUE(src.Create(4, 4, bpp));
        GcDIB target;
        ASSERT_TRUE(target.Create(2, 2, 32));
        d.SetPaletteMode(1);
        d.DitherTo8bpp(src, target, pal, false);
        EXPECT_EQ(target.BPP(), 32);
        EXPECT_EQ(target.Width(), 2);
        EXPECT_EQ(pal.Entries(), 16);
    }
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB empty, target;
    d.DitherTo8bpp(empty, target, pal, false);
    EXPECT_TRUE(target.empty());
}

TEST(mDither8bpp, SourceMayBeTheTarget) {
    Dither8bpp d;
    cPal8bpp pal;
    GcDIB src = photoLike(17, 12, 2);
    GcDIB expected = dither(d, src, 0, 2, pal);
    d.DitherTo8bpp(src, src, pal, false);
    ASSERT_EQ(src.BPP(), 8);
    EXPECT_EQ(indicesOf(src), indicesOf(expected));
}

TEST(mDither8bpp, GetPixelIndexChecksItsArguments) {
    GcDIB img;
    ASSERT_TRUE(img.Create(3, 2, 8));
    img.bitmap()->scanline(1)[2] = 77;
    EXPECT_EQ(Dither8bpp::GetPixelIndex(img, 2, 1), 77);
    EXPECT_EQ(GetPixelIndex(img, 2, 1), 77);
    for (auto [x, y] : {std::pair{3, 0}, std::pair{0, 2}, std::pair{-1, 0}, std::pair{0, -1}}) {
        try {
            Dither8bpp::GetPixelIndex(img, x, y);
            FAIL() << x << "," << y;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), RuntimeError::Subscript);
        }
    }
    GcDIB wide;
    ASSERT_TRUE(wide.Create(3, 2, 32));
    EXPECT_THROW(Dither8bpp::GetPixelIndex(wide, 0, 0), RuntimeError);
    EXPECT_THROW(Dither8bpp::GetPixelIndex(GcDIB{}, 0, 0), RuntimeError);
}

TEST(mDither8bpp, SettingsIgnoreUnknownValues) {
    Dither8bpp d;
    EXPECT_EQ(d.PaletteMode(), 0);
    EXPECT_EQ(d.DitherMethod(), 0);
    d.SetPaletteMode(1);
    d.SetDitherMethod(2);
    d.SetPaletteMode(2);
    d.SetDitherMethod(3);
    d.SetDitherMethod(-1);
    EXPECT_EQ(d.PaletteMode(), 1);
    EXPECT_EQ(d.DitherMethod(), 2);
    d.InitDitherTables();  // tables only: the settings stay
    EXPECT_EQ(d.PaletteMode(), 1);
}

TEST(mDither8bpp, BuildInverseTableUsesClosestIndex) {
    Dither8bpp d;
    cPal8bpp pal;
    pal.CreateEGA();
    d.BuildInverseTable(pal);
    EXPECT_EQ(std::vector<uint8_t>(d.InverseTable().begin(), d.InverseTable().end()), Reference::inverseTable(pal));
    EXPECT_EQ(d.InverseTable()[15 * 256 + 15 * 16 + 15], 15);
    EXPECT_EQ(d.InverseTable()[15], 9);
    d.InitDitherTables();
    for (uint8_t v : d.InverseTable()) ASSERT_EQ(v, 0);
}

TEST(mDither8bpp, ConvertersKeepTheirOwnSettingsAndTables) {
    Dither8bpp ordered, nearest;
    ordered.SetDitherMethod(1);
    EXPECT_EQ(ordered.DitherMethod(), 1);
    EXPECT_EQ(nearest.DitherMethod(), 0);
    cPal8bpp pal;
    GcDIB target;
    ordered.DitherTo8bpp(flat(4, 4, 25), target, pal, false);
    EXPECT_EQ(GetPixelIndex(target, 0, 0), 43);  // T51 = 3
    EXPECT_EQ(GetPixelIndex(target, 1, 0), 0);   // T51 = 29
    nearest.DitherTo8bpp(flat(4, 4, 25), target, pal, false);
    EXPECT_EQ(GetPixelIndex(target, 0, 0), 0);  // 25 rounds down to level 0
    EXPECT_EQ(GetPixelIndex(target, 1, 0), 0);
    pal.CreateGreyScale(1);
    ordered.BuildInverseTable(pal);
    EXPECT_EQ(ordered.InverseTable()[5 * 256 + 5 * 16 + 5], 5);
    EXPECT_EQ(nearest.InverseTable()[5 * 256 + 5 * 16 + 5], 0);
}
