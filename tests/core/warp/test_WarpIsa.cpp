// Every instruction set the CPU runs renders the portable loop's frames byte
// for byte, on ordinary and on hostile meshes; and the set can be chosen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "core/warp/WarpKernels.h"
#include "tests/support/WarpScenes.h"

using namespace tarnel;
using namespace tarnel::test;

namespace {

enum class Shape {
    Default,     // the unedited mesh
    Dragged,     // points moved by up to `amount`
    Slivers,     // some cells squashed to almost a line
    Huge,        // some points at coordinates far beyond any frame
    Outside,     // points dragged well outside the picture
    TinyCorner,  // corners a hair off 0, where the portable loop must take over
};

struct SceneCase {
    const char* name;
    int w, h, rows, columns;
    Shape shape;
    float amount;
    bool topBits;  // the arrays' top bytes set
};

const SceneCase kScenes[] = {
    {"default 5x5", 320, 240, 5, 5, Shape::Default, 0, false},
    {"dragged odd width", 333, 211, 8, 6, Shape::Dragged, 15, false},
    {"fine mesh", 161, 97, 40, 40, Shape::Dragged, 1.5f, false},
    {"folded", 180, 140, 6, 6, Shape::Dragged, 60, false},
    {"slivers", 150, 120, 6, 5, Shape::Slivers, 0, false},
    {"huge coordinates", 120, 90, 4, 4, Shape::Huge, 0, false},
    {"outside the picture", 101, 83, 5, 4, Shape::Outside, 200, false},
    {"tiny corners", 64, 48, 3, 3, Shape::TinyCorner, 0, false},
    {"one pixel wide", 1, 57, 1, 3, Shape::Dragged, 0.4f, false},
    {"one pixel high", 77, 1, 3, 1, Shape::Dragged, 0.4f, false},
    {"one pixel", 1, 1, 1, 1, Shape::Default, 0, false},
    {"tails of every length", 19, 40, 1, 8, Shape::Dragged, 2, false},
    {"top bytes set", 130, 70, 4, 3, Shape::Dragged, 10, true},
};

struct Scene {
    int w, h;
    PixelArray start, end;
    std::vector<MeshTriangle> startTriangles, endTriangles;
};

MeshGrid shaped(const SceneCase& c, std::mt19937& rng) {
    MeshGrid mesh = DefaultMesh(c.rows, c.columns, c.w, c.h);
    switch (c.shape) {
        case Shape::Default: break;
        case Shape::Dragged:
        case Shape::Outside: mesh = draggedMesh(mesh, rng, c.amount); break;
        case Shape::Slivers:
            for (int j = 2; j < mesh.countJ() - 1; j += 2)
                for (int i = 1; i < mesh.countI(); ++i) mesh(i, j).y = mesh(i, j - 1).y + 0.01f * float(i % 3);
            break;
        case Shape::Huge:
            mesh(2, 2) = MeshPoint{3e7f, -2e6f};
            mesh(3, 3) = MeshPoint{-1e30f, 40.0f};
            mesh(1, 3) = MeshPoint{5e6f, 5e6f};
            break;
        case Shape::TinyCorner:
            for (int j = 1; j < mesh.countJ(); ++j) mesh(1, j).x = 1e-20f * float(j);
            mesh(2, 2).x += 1e-6f;
            break;
    }
    return mesh;
}

Scene makeScene(const SceneCase& c, uint32_t seed) {
    std::mt19937 rng(seed);
    Scene s{c.w, c.h, warpTestImage(c.w, c.h, seed, int(seed), c.topBits),
            warpTestImage(c.w, c.h, seed + 1, int(seed) + 1, c.topBits), {}, {}};
    s.startTriangles = BuildTriangleList(shaped(c, rng));
    s.endTriangles = BuildTriangleList(c.shape == Shape::Default ? DefaultMesh(c.rows, c.columns, c.w, c.h)
                                                                 : shaped(c, rng));
    return s;
}

Bitmap render(const Scene& s, int k, int n, WarpIsa isa, WarpSampling sampling = WarpSampling::Nearest) {
    const WarpIsa before = ActiveWarpIsa();
    SetWarpIsa(isa);
    Bitmap frame = warpFrameSurface(s.w, s.h, 0x00ABCDEF);
    WarpOptions options;
    options.sampling = sampling;
    EXPECT_TRUE(WarpFrame(s.startTriangles, s.endTriangles, k, n, s.start, s.end, s.w, s.h, frame, options));
    SetWarpIsa(before);
    return frame;
}

// Frames 0 and N (one source only), inside, and beyond N (t > 1: the literal path).
const std::pair<int, int> kFrames[] = {{0, 9}, {1, 9}, {1, 2}, {8, 9}, {9, 9}, {33, 97}, {10, 9}};

class WarpIsaTest : public testing::TestWithParam<WarpIsa> {};

}  // namespace

TEST_P(WarpIsaTest, FramesEqualThePortableLoopsAndStayNearTheLiteralOnes) {
    const WarpIsa isa = GetParam();
    if (!WarpIsaSupported(isa)) GTEST_SKIP() << WarpIsaName(isa) << " not supported here";
    uint32_t seed = 40;
    for (const SceneCase& c : kScenes) {
        const Scene s = makeScene(c, seed++);
        for (auto [k, n] : kFrames) {
            const Bitmap frame = render(s, k, n, isa);
            EXPECT_EQ(differingPixels(frame, render(s, k, n, WarpIsa::Portable)), 0)
                << c.name << " frame " << k << "/" << n;
            // The literal blend keeps no top byte; far-off corners make both
            // mappings ill-conditioned in their own ways.
            if (c.topBits || c.shape == Shape::Huge) continue;
            Bitmap literal = warpFrameSurface(s.w, s.h, 0x00ABCDEF);
            ASSERT_TRUE(WarpFrameReference(s.startTriangles, s.endTriangles, k, n, s.start, s.end, s.w, s.h, literal));
            EXPECT_LE(differingPixels(frame, literal) * 10000, std::max<int64_t>(int64_t(s.w) * s.h, 10000))
                << c.name << " frame " << k << "/" << n;
        }
    }
}

TEST_P(WarpIsaTest, UneditedMeshGivesTheStartImageInFrameZero) {
    const WarpIsa isa = GetParam();
    if (!WarpIsaSupported(isa)) GTEST_SKIP() << WarpIsaName(isa) << " not supported here";
    for (const SceneCase& c : {SceneCase{"", 641, 479, 5, 5, Shape::Default, 0, false},
                               SceneCase{"", 97, 61, 40, 40, Shape::Default, 0, false},
                               SceneCase{"", 3, 200, 1, 7, Shape::Default, 0, false}}) {
        const Scene s = makeScene(c, 7);
        EXPECT_EQ(differingPixels(render(s, 0, 5, isa), s.start), 0) << c.w << "x" << c.h;
        EXPECT_EQ(differingPixels(render(s, 5, 5, isa), s.end), 0) << c.w << "x" << c.h;
    }
}

// The portable loop's own bilinear frames are held to the literal fill in
// test_WarpBilinear; here each vector set is held to the portable loop.
class WarpVectorIsaTest : public testing::TestWithParam<WarpIsa> {};

TEST_P(WarpVectorIsaTest, BilinearFramesEqualThePortableLoops) {
    const WarpIsa isa = GetParam();
    if (!WarpIsaSupported(isa)) GTEST_SKIP() << WarpIsaName(isa) << " not supported here";
    const WarpIsa before = ActiveWarpIsa();
    SetWarpIsa(isa);
    const bool hasBilinearRuns = warp::ActiveTriangleRuns().bilinearMix != nullptr;
    SetWarpIsa(before);
    if (!hasBilinearRuns) GTEST_SKIP() << WarpIsaName(isa) << " leaves bilinear reads to the portable loop";
    uint32_t seed = 70;
    for (const SceneCase& c : kScenes) {
        const Scene s = makeScene(c, seed++);
        for (auto [k, n] : kFrames)
            EXPECT_EQ(differingPixels(render(s, k, n, isa, WarpSampling::Bilinear),
                                      render(s, k, n, WarpIsa::Portable, WarpSampling::Bilinear)),
                      0)
                << c.name << " frame " << k << "/" << n;
    }
}

INSTANTIATE_TEST_SUITE_P(EverySet, WarpIsaTest,
                         testing::Values(WarpIsa::Portable, WarpIsa::Sse41, WarpIsa::Avx2, WarpIsa::Avx512),
                         [](const testing::TestParamInfo<WarpIsa>& info) {
                             std::string name = WarpIsaName(info.param);
                             name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
                             return name;
                         });

INSTANTIATE_TEST_SUITE_P(VectorSets, WarpVectorIsaTest, testing::Values(WarpIsa::Sse41, WarpIsa::Avx2, WarpIsa::Avx512),
                         [](const testing::TestParamInfo<WarpIsa>& info) {
                             std::string name = WarpIsaName(info.param);
                             name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
                             return name;
                         });

TEST(WarpIsa, NamesRoundTripAndUnknownNamesAreRefused) {
    for (WarpIsa isa : {WarpIsa::Portable, WarpIsa::Sse41, WarpIsa::Avx2, WarpIsa::Avx512}) {
        WarpIsa parsed = WarpIsa::Portable;
        EXPECT_TRUE(ParseWarpIsa(WarpIsaName(isa), parsed));
        EXPECT_EQ(parsed, isa);
    }
    WarpIsa untouched = WarpIsa::Avx2;
    EXPECT_FALSE(ParseWarpIsa("avx1024", untouched));
    EXPECT_FALSE(ParseWarpIsa("", untouched));
    EXPECT_EQ(untouched, WarpIsa::Avx2);
}

TEST(WarpIsa, UnsupportedRequestFallsBackToTheBestSupported) {
    const WarpIsa before = ActiveWarpIsa();
    EXPECT_TRUE(WarpIsaSupported(WarpIsa::Portable));
    EXPECT_TRUE(WarpIsaSupported(BestWarpIsa()));
    EXPECT_EQ(SetWarpIsa(WarpIsa::Portable), WarpIsa::Portable);
    EXPECT_EQ(ActiveWarpIsa(), WarpIsa::Portable);
    for (WarpIsa isa : {WarpIsa::Sse41, WarpIsa::Avx2, WarpIsa::Avx512}) {
        const WarpIsa set = SetWarpIsa(isa);
        EXPECT_EQ(set, WarpIsaSupported(isa) ? isa : BestWarpIsa()) << WarpIsaName(isa);
        EXPECT_EQ(ActiveWarpIsa(), set);
    }
    // An out-of-range value is no instruction set either.
    EXPECT_EQ(SetWarpIsa(WarpIsa(17)), BestWarpIsa());
    SetWarpIsa(before);
}

// TARNEL_WARP_ISA is read once, at first use, so each case runs in a fresh
// process (a death test in threadsafe style re-runs the binary).
TEST(WarpIsa, EnvironmentChoosesTheSetAtFirstUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* text;
        WarpIsa expected;
    };
    const Case cases[] = {
        {"portable", WarpIsa::Portable},
        {"sse4.1", WarpIsaSupported(WarpIsa::Sse41) ? WarpIsa::Sse41 : BestWarpIsa()},
        {"avx512", WarpIsaSupported(WarpIsa::Avx512) ? WarpIsa::Avx512 : BestWarpIsa()},
        {"avx1024", BestWarpIsa()},  // unknown: the best there is
        {"", BestWarpIsa()},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(setenv("TARNEL_WARP_ISA", c.text, 1), 0);
        EXPECT_EXIT(std::exit(ActiveWarpIsa() == c.expected ? 0 : 1), testing::ExitedWithCode(0), "") << c.text;
    }
    unsetenv("TARNEL_WARP_ISA");
}

// Frames stored bottom-up (as some canvases are) get the same pixels as top-down ones.
TEST_P(WarpIsaTest, BottomUpFramesGetTheSamePixels) {
    const WarpIsa isa = GetParam();
    if (!WarpIsaSupported(isa)) GTEST_SKIP() << WarpIsaName(isa) << " not supported here";
    const Scene s = makeScene(kScenes[1], 9);
    const WarpIsa before = ActiveWarpIsa();
    SetWarpIsa(isa);
    for (WarpSampling sampling : {WarpSampling::Nearest, WarpSampling::Bilinear}) {
        Bitmap bottomUp;
        ASSERT_TRUE(bottomUp.create(s.w, s.h, 32, false));
        WarpOptions options;
        options.sampling = sampling;
        ASSERT_TRUE(WarpFrame(s.startTriangles, s.endTriangles, 2, 7, s.start, s.end, s.w, s.h, bottomUp, options));
        Bitmap topDown;
        ASSERT_TRUE(topDown.create(s.w, s.h, 32));
        ASSERT_TRUE(WarpFrame(s.startTriangles, s.endTriangles, 2, 7, s.start, s.end, s.w, s.h, topDown, options));
        EXPECT_EQ(differingPixels(bottomUp, topDown), 0);
    }
    SetWarpIsa(before);
}
