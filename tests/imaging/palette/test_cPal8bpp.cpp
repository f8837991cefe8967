#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <set>
#include <tuple>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/palette/cPal8bpp.h"
#include "platform/RuntimeError.h"
#include "support/Images.h"

using namespace tarnel;
using tarnel::test::lcg;
using tarnel::test::makeImage;
using tarnel::test::Rgb;

namespace {

Rgb entryOf(const cPal8bpp& p, int i) { return Rgb{p.rgbR(i), p.rgbG(i), p.rgbB(i)}; }

// A second octree written from the description of the algorithm, kept apart
// from the class so that the two can be compared.
std::vector<Rgb> referenceOptimal(const GcDIB& img, int nColors, int depth, float wr, float wg, float wb) {
    struct N {
        bool leaf = false, listed = false;
        long long s[3] = {0, 0, 0};
        long long n = 0;
        int kid[8] = {};
        int link = 0;
    };
    std::vector<N> t(2);  // index 0 unused, 1 = root
    int lists[9] = {};
    int freeList = 0, live = 1, leaves = 0;
    auto fresh = [&](int level) {
        int i;
        if (freeList) {
            i = freeList;
            freeList = t[i].link;
            std::fill(std::begin(t[i].kid), std::end(t[i].kid), 0);
        } else {
            i = live + 1;
            if (int(t.size()) <= i) t.resize(i + 1);
        }
        live++;
        t[i].s[0] = t[i].s[1] = t[i].s[2] = 0;
        t[i].n = 0;
        t[i].link = 0;
        t[i].leaf = (level == depth);
        return i;
    };
    const float w[3] = {wr, wg, wb};
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) {
            const uint8_t* p = img.bitmap()->scanline(y) + 4 * x;
            int v[3] = {p[2], p[1], p[0]};
            int mn[3] = {0, 0, 0}, mx[3] = {255, 255, 255};
            int at = 1;
            for (int level = 1;; ++level) {
                int slot = 0;
                for (int c = 0; c < 3; ++c) {
                    int mid = int(std::nearbyint(double(mn[c]) / 2 + double(mx[c]) / 2));
                    float prod = float(v[c]) * w[c];
                    if (prod > float(mid)) {
                        slot += 1 << c;
                        mn[c] = mid;
                    } else {
                        mx[c] = mid;
                    }
                }
                if (!t[at].kid[slot]) {
                    int k = fresh(level);
                    t[at].kid[slot] = k;
                }
                int k = t[at].kid[slot];
                if (t[k].leaf) {
                    if (t[k].n == 0) leaves++;
                    t[k].n++;
                    for (int c = 0; c < 3; ++c) t[k].s[c] += v[c];
                    break;
                }
                if (!t[k].listed) {
                    t[k].link = lists[level];
                    lists[level] = k;
                    t[k].listed = true;
                }
                at = k;
            }
            while (leaves > nColors) {
                int level = depth;
                while (level > 0 && !lists[level]) level--;
                if (!level) break;
                int node = lists[level];
                lists[level] = t[node].link;
                long long s[3] = {0, 0, 0}, n = 0;
                for (int& k : t[node].kid) {
                    if (!k) continue;
                    for (int c = 0; c < 3; ++c) s[c] += t[k].s[c];
                    n += t[k].n;
                    t[k].link = freeList;
                    freeList = k;
                    t[k].leaf = t[k].listed = false;
                    live--;
                    leaves--;
                    k = 0;
                }
                t[node].leaf = true;
                std::copy(s, s + 3, t[node].s);
                t[node].n = n;
                leaves++;
            }
        }
    std::vector<Rgb> out;
    for (size_t i = 1; i < t.size(); ++i)
        if (t[i].leaf)
            out.push_back(Rgb{int(std::nearbyint(double(t[i].s[0]) / double(t[i].n))),
                              int(std::nearbyint(double(t[i].s[1]) / double(t[i].n))),
                              int(std::nearbyint(double(t[i].s[2]) / double(t[i].n)))});
    return out;
}

std::vector<Rgb> entriesOf(const cPal8bpp& p) {
    std::vector<Rgb> out;
    for (int i = 0; i < p.Entries(); ++i) out.push_back(entryOf(p, i));
    return out;
}

const Rgb kStandard[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                           {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                           {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                           {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

}  // namespace

TEST(cPal8bpp, FreshAndInitializedPalettesAreEmpty) {
    cPal8bpp p;
    EXPECT_EQ(p.Entries(), 0);
    EXPECT_EQ(p.hPal(), 0u);
    EXPECT_FALSE(p.IsGreyScale());
    p.CreateEGA();
    p.Initialize(5);
    EXPECT_EQ(p.Entries(), 5);
    EXPECT_EQ(p.hPal(), 0u);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(p.lpPalette()[i], 0) << i;
    // Five black entries are grey, but with no entries the palette is not.
    EXPECT_TRUE(p.IsGreyScale());
    p.SetEntries(0);
    EXPECT_FALSE(p.IsGreyScale());
}

TEST(cPal8bpp, GreyScaleRamps) {
    struct Case { int levels, count, step; };
    for (Case c : {Case{0, 2, 255}, Case{1, 16, 17}, Case{2, 256, 1}}) {
        cPal8bpp p;
        p.CreateGreyScale(c.levels);
        ASSERT_EQ(p.Entries(), c.count) << c.levels;
        EXPECT_NE(p.hPal(), 0u);
        EXPECT_TRUE(p.IsGreyScale());
        for (int i = 0; i < c.count; ++i) EXPECT_EQ(entryOf(p, i), (Rgb{i * c.step, i * c.step, i * c.step}));
        EXPECT_EQ(entryOf(p, c.count - 1), (Rgb{255, 255, 255}));
    }
}

TEST(cPal8bpp, GreyScaleRejectsOtherLevelsWithDivisionByZero) {
    for (int levels : {-1, 3, 100}) {
        cPal8bpp p;
        p.CreateEGA();
        try {
            p.CreateGreyScale(levels);
            FAIL() << "no error for " << levels;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), RuntimeError::DivisionByZero);
        }
        EXPECT_EQ(p.Entries(), 0);
        EXPECT_EQ(p.hPal(), 0u);
    }
}

TEST(cPal8bpp, EgaHoldsTheSixteenStandardColours) {
    cPal8bpp p;
    p.CreateEGA();
    ASSERT_EQ(p.Entries(), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(entryOf(p, i), kStandard[i]) << i;
    EXPECT_EQ(entryOf(p, 16), (Rgb{0, 0, 0}));
    EXPECT_FALSE(p.IsGreyScale());
}

TEST(cPal8bpp, HalftoneCubes) {
    struct Case { int levels; std::vector<int> values; };
    const Case cases[] = {{0, {0, 255}},
                          {1, {0, 128, 255}},
                          {2, {0, 85, 170, 255}},
                          {3, {0, 64, 128, 192, 255}},
                          {4, {0, 51, 102, 153, 204, 255}}};
    for (const Case& c : cases) {
        cPal8bpp p;
        p.CreateHalftone(c.levels);
        const int n = int(c.values.size());
        ASSERT_EQ(p.Entries(), n * n * n) << c.levels;
        EXPECT_NE(p.hPal(), 0u);
        int i = 0;
        for (int b : c.values)
            for (int g : c.values)
                for (int r : c.values) ASSERT_EQ(entryOf(p, i++), (Rgb{r, g, b})) << c.levels << " entry " << i - 1;
    }
    cPal8bpp p;
    p.CreateHalftone(3);
    EXPECT_EQ(entryOf(p, 1), (Rgb{64, 0, 0}));
}

TEST(cPal8bpp, HalftoneRejectsOtherLevelsWithSubscriptError) {
    for (int levels : {-1, 5, 9}) {
        cPal8bpp p;
        try {
            p.CreateHalftone(levels);
            FAIL() << "no error for " << levels;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), RuntimeError::Subscript);
        }
    }
}

TEST(cPal8bpp, WebsafeLayout) {
    cPal8bpp p;
    p.CreateWebsafe();
    ASSERT_EQ(p.Entries(), 256);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(entryOf(p, i), kStandard[i]);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(entryOf(p, 248 + i), kStandard[8 + i]);
    EXPECT_EQ(entryOf(p, 8), (Rgb{51, 0, 0}));
    EXPECT_EQ(entryOf(p, 9), (Rgb{102, 0, 0}));
    EXPECT_EQ(entryOf(p, 215), (Rgb{204, 255, 255}));
    EXPECT_EQ(entryOf(p, 216), (Rgb{0, 0, 0}));
    EXPECT_EQ(entryOf(p, 217), (Rgb{8, 8, 8}));
    EXPECT_EQ(entryOf(p, 247), (Rgb{248, 248, 248}));
    EXPECT_EQ(entryOf(p, 255), (Rgb{255, 255, 255}));
    // 8 … 215: the cube without its corners, each cube colour once.
    std::set<Rgb> cube;
    for (int i = 8; i <= 215; ++i) {
        Rgb c = entryOf(p, i);
        for (int v : {c.r, c.g, c.b}) EXPECT_EQ(v % 51, 0) << i;
        EXPECT_FALSE((c.r == 0 || c.r == 255) && (c.g == 0 || c.g == 255) && (c.b == 0 || c.b == 255)) << i;
        cube.insert(c);
    }
    EXPECT_EQ(cube.size(), 208u);
}

TEST(cPal8bpp, ChannelPropertiesCheckTheEntry) {
    cPal8bpp p;
    p.CreateEGA();
    p.SetRgbR(200, 1);
    p.SetRgbG(200, 2);
    p.SetRgbB(200, 3);
    EXPECT_EQ(entryOf(p, 200), (Rgb{1, 2, 3}));
    EXPECT_EQ(p.lpPalette()[800], 3);  // blue first
    EXPECT_EQ(p.lpPalette()[802], 1);
    EXPECT_EQ(p.Entries(), 16);
    for (int bad : {256, -1, 1000}) {
        EXPECT_THROW(p.rgbR(bad), RuntimeError) << bad;
        EXPECT_THROW(p.rgbG(bad), RuntimeError);
        EXPECT_THROW(p.SetRgbB(bad, 0), RuntimeError);
    }
    try {
        p.rgbB(256);
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), RuntimeError::Subscript);
    }
}

TEST(cPal8bpp, LookupsSearchTheLogicalPaletteAsLastBuilt) {
    cPal8bpp p;
    p.CreateEGA();
    const uintptr_t handle = p.hPal();
    EXPECT_EQ(p.ClosestIndex(250, 5, 5), 9);
    EXPECT_EQ(p.ClosestIndex(100, 100, 100), 8);
    uint8_t r = 0, g = 0, b = 0;
    p.ClosestColor(200, 190, 180, r, g, b);
    EXPECT_EQ((Rgb{r, g, b}), (Rgb{192, 192, 192}));
    // Edits take effect in lookups only once the logical palette is rebuilt.
    p.SetRgbR(0, 255);
    EXPECT_EQ(p.ClosestIndex(255, 0, 0), 9);
    EXPECT_EQ(p.hPal(), handle);
    p.BuildLogicalPalette();
    EXPECT_EQ(p.ClosestIndex(255, 0, 0), 0);  // exact tie: lowest index wins
    EXPECT_NE(p.hPal(), 0u);
    // Only the first Entries entries take part.
    p.SetEntries(8);
    p.BuildLogicalPalette();
    EXPECT_EQ(p.ClosestIndex(255, 255, 255), 7);
    p.Destroy();
    EXPECT_EQ(p.hPal(), 0u);
    EXPECT_EQ(p.Entries(), 0);
    EXPECT_EQ(p.ClosestIndex(10, 20, 30), 0);
}

TEST(cPal8bpp, EntriesBeyondTheTableAreHeldToIt) {
    cPal8bpp p;
    p.CreateGreyScale(2);
    p.SetEntries(1000);
    EXPECT_TRUE(p.IsGreyScale());
    p.BuildLogicalPalette();
    EXPECT_EQ(p.ClosestIndex(77, 77, 77), 77);
    p.SetEntries(-3);
    EXPECT_FALSE(p.IsGreyScale());
    p.BuildLogicalPalette();
    EXPECT_EQ(p.hPal(), 0u);
}

TEST(cPal8bpp, OptimalOfOneColourIsThatColour) {
    for (Rgb c : {Rgb{0, 0, 0}, Rgb{255, 255, 255}, Rgb{17, 200, 93}, Rgb{128, 128, 128}}) {
        GcDIB img = makeImage(9, 7, [&](int, int) { return c; });
        cPal8bpp p;
        p.CreateOptimal(img, 256, 6, 1.0f, 1.0f, 1.0f);
        ASSERT_EQ(p.Entries(), 1);
        EXPECT_EQ(entryOf(p, 0), c);
        EXPECT_EQ(entryOf(p, 1), (Rgb{0, 0, 0}));
        EXPECT_NE(p.hPal(), 0u);
    }
}

TEST(cPal8bpp, OptimalKeepsFewDistinctColours) {
    // 216 colours 51 apart: every one ends in its own leaf at depth 6.
    GcDIB img = makeImage(36, 6, [](int x, int y) {
        int i = y * 36 + x;
        return Rgb{51 * (i % 6), 51 * (i / 6 % 6), 51 * (i / 36)};
    });
    cPal8bpp p;
    p.CreateOptimal(img, 256, 6, 1.0f, 1.0f, 1.0f);
    ASSERT_EQ(p.Entries(), 216);
    std::set<Rgb> got;
    for (int i = 0; i < 216; ++i) got.insert(entryOf(p, i));
    EXPECT_EQ(got.size(), 216u);
    for (const Rgb& c : got) EXPECT_TRUE(c.r % 51 == 0 && c.g % 51 == 0 && c.b % 51 == 0) << c;
}

TEST(cPal8bpp, MidValueGoesToTheLowerHalf) {
    // One level: red 128 shares the lower box with black, 129 does not.
    GcDIB img = makeImage(3, 1, [](int x, int) { return std::vector<Rgb>{{128, 0, 0}, {0, 0, 0}, {129, 0, 0}}[x]; });
    cPal8bpp p;
    p.CreateOptimal(img, 256, 1, 1.0f, 1.0f, 1.0f);
    ASSERT_EQ(p.Entries(), 2);
    EXPECT_EQ(entryOf(p, 0), (Rgb{64, 0, 0}));
    EXPECT_EQ(entryOf(p, 1), (Rgb{129, 0, 0}));
}

TEST(cPal8bpp, WeightsMoveTheSplitsButNotTheAverages) {
    // Red 65 weighted by 2 is 130 > 128: upper box; 63 gives 126: lower box.
    GcDIB img = makeImage(2, 1, [](int x, int) { return x == 0 ? Rgb{63, 0, 0} : Rgb{65, 0, 0}; });
    cPal8bpp p;
    p.CreateOptimal(img, 256, 1, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(p.Entries(), 1);
    p.CreateOptimal(img, 256, 1, 2.0f, 1.0f, 1.0f);
    ASSERT_EQ(p.Entries(), 2);
    EXPECT_EQ(entryOf(p, 0), (Rgb{63, 0, 0}));
    EXPECT_EQ(entryOf(p, 1), (Rgb{65, 0, 0}));
}

TEST(cPal8bpp, AveragesRoundHalfToEven) {
    struct Case { int a, b, mean; };
    for (Case c : {Case{1, 2, 2}, Case{2, 3, 2}, Case{3, 4, 4}, Case{10, 11, 10}, Case{0, 1, 0}}) {
        GcDIB img = makeImage(2, 1, [&](int x, int) { int v = x ? c.b : c.a; return Rgb{v, v, v}; });
        cPal8bpp p;
        p.CreateOptimal(img, 256, 1, 1.0f, 1.0f, 1.0f);
        ASSERT_EQ(p.Entries(), 1);
        EXPECT_EQ(entryOf(p, 0), (Rgb{c.mean, c.mean, c.mean})) << c.a << "," << c.b;
    }
}

TEST(cPal8bpp, OptimalIgnoresOtherDepths) {
    cPal8bpp p;
    p.CreateEGA();
    const uintptr_t handle = p.hPal();
    GcDIB img;
    ASSERT_TRUE(img.Create(4, 4, 24));
    p.CreateOptimal(img, 256, 6, 1.0f, 1.0f, 1.0f);
    GcDIB empty;
    p.CreateOptimal(empty, 256, 6, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(p.Entries(), 16);
    EXPECT_EQ(p.hPal(), handle);
    EXPECT_EQ(entryOf(p, 9), (Rgb{255, 0, 0}));
}

TEST(cPal8bpp, OptimalMatchesTheReferenceTree) {
    struct Image { const char* name; std::function<Rgb(int, int)> colour; int w, h; };
    uint32_t seed = 12345;
    std::vector<Rgb> noise(4096);
    for (Rgb& c : noise) c = Rgb{int(lcg(seed) & 255), int(lcg(seed) & 255), int(lcg(seed) & 255)};
    const Image images[] = {
        {"gradient", [](int x, int y) { return Rgb{x * 5 % 256, y * 7 % 256, (x + y) * 3 % 256}; }, 50, 37},
        {"noise", [&](int x, int y) { return noise[size_t(y * 64 + x)]; }, 64, 64},
        {"bands", [](int x, int y) { return Rgb{(x / 8) * 40 % 256, 255 - y * 4, 128}; }, 48, 50},
        {"photo", [](int x, int y) {
             double l = 128 + 90 * std::sin(x * 0.21) * std::cos(y * 0.13);
             return Rgb{std::clamp(int(l + x), 0, 255), std::clamp(int(l * 0.8), 0, 255),
                        std::clamp(int(255 - l + y), 0, 255)};
         }, 50, 28},
    };
    struct Params { int colours, levels; float wr, wg, wb; };
    const Params params[] = {{256, 6, 1, 1, 1}, {16, 6, 1, 1, 1}, {5, 3, 1, 1, 1},
                             {64, 8, 1, 1, 1},  {256, 8, 1, 1, 1}, {40, 5, 0.299f, 0.587f, 0.114f},
                             {200, 4, 1.7f, 1.1f, 0.5f}};
    for (const Image& im : images) {
        GcDIB img = makeImage(im.w, im.h, im.colour);
        for (const Params& q : params) {
            cPal8bpp p;
            p.CreateOptimal(img, q.colours, q.levels, q.wr, q.wg, q.wb);
            std::vector<Rgb> want = referenceOptimal(img, q.colours, q.levels, q.wr, q.wg, q.wb);
            EXPECT_EQ(entriesOf(p), want) << im.name << " colours " << q.colours << " levels " << q.levels;
            EXPECT_LE(p.Entries(), std::max(q.colours, 8));
            EXPECT_EQ(p.hPal() != 0, p.Entries() > 0);
        }
    }
}

TEST(cPal8bpp, OptimalHoldsOutOfRangeArguments) {
    uint32_t seed = 99;
    GcDIB img = makeImage(40, 40, [&](int, int) {
        return Rgb{int(lcg(seed) & 255), int(lcg(seed) & 255), int(lcg(seed) & 255)};
    });
    cPal8bpp p;
    p.CreateOptimal(img, 100000, 8, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(p.Entries(), 256);
    EXPECT_EQ(entriesOf(p), referenceOptimal(img, 256, 8, 1.0f, 1.0f, 1.0f));
    p.CreateOptimal(img, 256, 0, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(entriesOf(p), referenceOptimal(img, 256, 1, 1.0f, 1.0f, 1.0f));
    p.CreateOptimal(img, 256, 20, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(entriesOf(p), referenceOptimal(img, 256, 8, 1.0f, 1.0f, 1.0f));
    p.CreateOptimal(img, 0, 6, 1.0f, 1.0f, 1.0f);
    EXPECT_GE(p.Entries(), 1);
    EXPECT_LE(p.Entries(), 8);
}

// The grid search answers as the entry-by-entry lookup does, ties and
// repeated entries included.
TEST(cPal8bpp, ClosestIndexGridAgreesWithClosestIndex) {
    struct Case {
        const char* name;
        std::function<void(cPal8bpp&)> make;
    };
    auto random = [](int count, uint32_t seed, int levels) {
        return [=](cPal8bpp& p) {
            uint32_t s = seed;
            p.Initialize(int16_t(count));
            for (int i = 0; i < count; ++i) {
                // Few levels give many equal reds and exact ties.
                p.SetRgbR(i, uint8_t(lcg(s) % uint32_t(levels) * (255 / (levels - 1))));
                p.SetRgbG(i, uint8_t(lcg(s) % uint32_t(levels) * (255 / (levels - 1))));
                p.SetRgbB(i, uint8_t(lcg(s) % uint32_t(levels) * (255 / (levels - 1))));
            }
            p.BuildLogicalPalette();
        };
    };
    const Case cases[] = {
        {"EGA", [](cPal8bpp& p) { p.CreateEGA(); }},
        {"halftone", [](cPal8bpp& p) { p.CreateHalftone(4); }},
        {"websafe", [](cPal8bpp& p) { p.CreateWebsafe(); }},
        {"grey", [](cPal8bpp& p) { p.CreateGreyScale(2); }},
        {"random 256", random(256, 7, 256)},
        {"random 256, 3 levels", random(256, 11, 3)},
        {"random 40, 6 levels", random(40, 5, 6)},
        {"random 3", random(3, 9, 256)},
        {"two equal", random(2, 1, 2)},
        {"one", random(1, 3, 256)},
        {"none", [](cPal8bpp& p) { p.Destroy(); }},
    };
    for (const Case& c : cases) {
        cPal8bpp p;
        c.make(p);
        std::array<uint8_t, 4096> grid{};
        grid.fill(0xEE);
        p.ClosestIndexGrid(grid);
        for (int b = 0; b < 16; ++b)
            for (int g = 0; g < 16; ++g)
                for (int r = 0; r < 16; ++r)
                    ASSERT_EQ(grid[size_t(b * 256 + g * 16 + r)],
                              p.ClosestIndex(uint8_t(17 * r), uint8_t(17 * g), uint8_t(17 * b)))
                        << c.name << " at " << r << "," << g << "," << b;
    }
}
