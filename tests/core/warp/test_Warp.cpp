#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "platform/PictureBox.h"
#include "support/WarpScenes.h"

using namespace tarnel;
using tarnel::test::differingPixels;

namespace {

uint32_t rgb(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

PixelArray uniformImage(int w, int h, uint32_t value) {
    PixelArray p;
    EXPECT_TRUE(p.resize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p(x, y) = value;
    return p;
}

// Kinds of test image: noise, smooth gradient, hard-edged checkerboard.
PixelArray testImage(int w, int h, uint32_t seed, int kind = 0) {
    PixelArray p;
    EXPECT_TRUE(p.resize(w, h));
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            switch (kind % 3) {
                case 0: p(x, y) = rng() & 0x00FFFFFFu; break;
                case 1: p(x, y) = rgb(x * 255 / w, y * 255 / h, (x + y + int(seed)) & 255); break;
                default: p(x, y) = ((x / 7 + y / 5) & 1) ? rgb(250, 10, int(seed & 255)) : rgb(5, 240, 128); break;
            }
        }
    }
    return p;
}

// Collapses some cells: a corner onto its neighbour (zero-area triangles) and
// a corner onto the line through two others (collinear corners).
MeshGrid withDegenerateCells(MeshGrid mesh, std::mt19937& rng) {
    for (int n = 0; n < std::max(1, mesh.rows() * mesh.columns() / 4); ++n) {
        const int i = 1 + int(rng() % unsigned(mesh.rows())), j = 1 + int(rng() % unsigned(mesh.columns()));
        if (n % 2 == 0) {
            mesh(i + 1, j) = mesh(i, j);
        } else {
            const MeshPoint a = mesh(i, j), c = mesh(i + 1, j + 1);
            mesh(i + 1, j) = MeshPoint{(a.x + c.x) / 2, (a.y + c.y) / 2};
        }
    }
    return mesh;
}

struct Scene {
    int w, h;
    PixelArray start, end;
    std::vector<MeshTriangle> startTriangles, endTriangles;
};

Scene defaultScene(int w, int h, int rows, int columns, uint32_t seed) {
    Scene s{w, h, testImage(w, h, seed, int(seed)), testImage(w, h, seed + 1, int(seed) + 1), {}, {}};
    const MeshGrid mesh = DefaultMesh(rows, columns, w, h);
    s.startTriangles = BuildTriangleList(mesh);
    s.endTriangles = s.startTriangles;
    return s;
}

Bitmap renderFast(const Scene& s, int k, int n, uint32_t background = 0x123456) {
    Bitmap frame = test::warpFrameSurface(s.w, s.h, background);
    EXPECT_TRUE(WarpFrame(s.startTriangles, s.endTriangles, k, n, s.start, s.end, s.w, s.h, frame));
    return frame;
}

Bitmap renderReference(const Scene& s, int k, int n, uint32_t background = 0x123456) {
    Bitmap frame = test::warpFrameSurface(s.w, s.h, background);
    EXPECT_TRUE(WarpFrameReference(s.startTriangles, s.endTriangles, k, n, s.start, s.end, s.w, s.h, frame));
    return frame;
}

}  // namespace

// ------------------------------------------------------------ the formulas

TEST(TriangleArea, KnownTriangles) {
    struct Case {
        MeshPoint a, b, c;
        float area;
    };
    const Case cases[] = {
        {{0, 0}, {4, 0}, {0, 3}, 6.0f},          // horizontal base
        {{0, 0}, {0, 3}, {4, 0}, 6.0f},          // vertical base: slope 1e20
        {{0, 3}, {4, 0}, {0, 0}, 6.0f},          // sloped base
        {{1, 1}, {3, 3}, {5, 5}, 0.0f},          // collinear
        {{2, 2}, {2, 2}, {7, 1}, 0.0f},          // two corners equal
        {{0, 0}, {300, 0}, {300, 200}, 30000.0f},
        {{-100, -50}, {50, -50}, {-100, 100}, 11250.0f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(TriangleArea(c.a, c.b, c.c), c.area, c.area * 1e-6f + 1e-4f)
            << c.a.x << "," << c.a.y << " " << c.b.x << "," << c.b.y << " " << c.c.x << "," << c.c.y;
    }
}

TEST(BarycentricWeights, SumToOneInsideAndMoreOutside) {
    const MeshTriangle tri{{0, 0}, {0, 100}, {100, 100}};
    float area = TriangleArea(tri.a, tri.b, tri.c);
    Weights w = BarycentricWeights(tri, 10, 50, area);
    EXPECT_NEAR(w.u + w.v + w.w, 1.0f, 1e-5f);
    EXPECT_GE(w.u, 0);
    EXPECT_GE(w.v, 0);
    EXPECT_GE(w.w, 0);
    w = BarycentricWeights(tri, 60, 10, area);  // beyond the diagonal
    EXPECT_GT(w.u + w.v + w.w, 1.5f);
    w = BarycentricWeights(tri, 0, 0, area);  // at corner a
    EXPECT_NEAR(w.u, 1.0f, 1e-6f);
    EXPECT_NEAR(w.v + w.w, 0.0f, 1e-6f);
}

TEST(BarycentricWeights, ZeroAreaIsReplacedAndWrittenBack) {
    const MeshTriangle line{{0, 0}, {5, 5}, {10, 10}};  // collinear corners
    float area = TriangleArea(line.a, line.b, line.c);
    ASSERT_EQ(area, 0.0f);
    const Weights off = BarycentricWeights(line, 0, 10, area);
    EXPECT_EQ(area, 1e-6f);
    EXPECT_TRUE(std::isfinite(off.u) && std::isfinite(off.v) && std::isfinite(off.w));
    EXPECT_GT(off.u + off.v + off.w, 1.01f);  // off the line: skipped
    const Weights on = BarycentricWeights(line, 5, 5, area);
    EXPECT_LE(on.u + on.v + on.w, 1.01f);  // on the line: drawn
}

TEST(SignedWeights, NegativeOutsideAndDegenerateRefused) {
    const MeshTriangle tri{{0, 0}, {0, 100}, {100, 100}};
    double u, v, w;
    ASSERT_TRUE(SignedWeights(tri, 60, 10, u, v, w));
    EXPECT_NEAR(u + v + w, 1.0, 1e-12);
    EXPECT_LT(std::min({u, v, w}), 0.0);
    ASSERT_TRUE(SignedWeights(tri, 0, 100, u, v, w));  // corner b
    EXPECT_NEAR(v, 1.0, 1e-12);
    const MeshTriangle line{{0, 0}, {5, 5}, {10, 10}};
    u = v = w = 7;
    EXPECT_FALSE(SignedWeights(line, 3, 3, u, v, w));
    EXPECT_EQ(u, 7);
}

TEST(MapPoint, WeightsCorners) {
    const MeshTriangle tri{{10, 20}, {30, 40}, {50, 80}};
    EXPECT_EQ(MapPoint(1, 0, 0, tri), (MeshPoint{10, 20}));
    EXPECT_EQ(MapPoint(0, 0, 1, tri), (MeshPoint{50, 80}));
    EXPECT_EQ(MapPoint(0.5, 0.25, 0.25, tri), (MeshPoint{25, 40}));
    EXPECT_EQ(MapPoint(-0.5, 1.5, 0, tri), (MeshPoint{40, 50}));  // outside
}

TEST(WarpContext, BlendTableMatchesFormula) {
    const PixelArray one = uniformImage(1, 1, 0);
    for (float t : {0.0f, FrameParameter(1, 9), FrameParameter(1, 3), 0.5f, FrameParameter(33, 97), FrameParameter(1, 100),
                    FrameParameter(99, 100), 1e-9f, 0.99999994f, 1.0f, -0.25f, 1.5f}) {
        const WarpContext context(one, one, 1, 1, t);
        for (uint32_t s = 0; s < 256; ++s)
            for (uint32_t e = 0; e < 256; e += 1) {
                const uint32_t sp = s << 16 | (255 - s) << 8 | (s * 7 & 255), ep = e << 16 | (e * 3 & 255) << 8 | e;
                ASSERT_EQ(context.blend(sp, ep), context.blendLiteral(sp, ep)) << t << " " << s << " " << e;
            }
    }
    // Ties go to even: (1 - 0.5)·1 + 0.5·2 = 1.5 -> 2, 0.5·2 + 0.5·3 = 2.5 -> 2.
    const WarpContext half(one, one, 1, 1, 0.5f);
    EXPECT_EQ(half.blend(rgb(1, 2, 0), rgb(2, 3, 0)), rgb(2, 2, 0));
}

// ------------------------------------------------------------ frames

TEST(WarpFrame, RedTwoHundredToOneHundredAtQuarterGives175) {
    Scene s = defaultScene(40, 30, 2, 2, 1);
    s.start = uniformImage(40, 30, rgb(200, 0, 60));
    s.end = uniformImage(40, 30, rgb(100, 255, 20));
    // (0.75·0 + 0.25·255 = 63.75 -> 64; 0.75·60 + 0.25·20 = 50)
    for (const Bitmap& frame : {renderFast(s, 1, 4), renderReference(s, 1, 4)}) {
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) ASSERT_EQ(frame.pixelValue(x, y), rgb(175, 64, 50)) << x << "," << y;
    }
}

// An unedited mesh reproduces the start image exactly in frame 0, cells
// taller and wider than 100 pixels included (vertical edges cross every
// scanline).
TEST(WarpFrame, FirstFrameOfUneditedMeshIsStartImage) {
    struct Case {
        int w, h, rows, columns;
    };
    for (Case c : {Case{640, 480, 5, 5}, Case{640, 480, 2, 2}, Case{1000, 800, 3, 3}, Case{300, 200, 3, 2},
                   Case{97, 61, 7, 5}, Case{64, 48, 40, 40}, Case{1, 1, 1, 1}, Case{150, 400, 1, 1}}) {
        const Scene s = defaultScene(c.w, c.h, c.rows, c.columns, uint32_t(c.w + c.rows));
        EXPECT_EQ(differingPixels(renderFast(s, 0, 9), s.start), 0) << c.w << "x" << c.h << " " << c.rows << "x" << c.columns;
        if (c.w * c.h <= 310000) {
            EXPECT_EQ(differingPixels(renderReference(s, 0, 9), s.start), 0)
                << "reference " << c.w << "x" << c.h << " " << c.rows << "x" << c.columns;
        }
    }
}

TEST(WarpFrame, FirstFrameFollowsDraggedStartMeshWhereCovered) {
    std::mt19937 rng(5);
    Scene s = defaultScene(200, 150, 4, 3, 9);
    const MeshGrid start = test::draggedMesh(DefaultMesh(4, 3, 200, 150), rng, 12.0f);
    s.startTriangles = BuildTriangleList(start);
    const Bitmap frame = renderFast(s, 0, 5, 0xABCDEF);
    int covered = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            if (frame.pixelValue(x, y) == 0xABCDEF) continue;
            ++covered;
            ASSERT_EQ(frame.pixelValue(x, y), s.start(x, y)) << x << "," << y;
        }
    EXPECT_GT(covered, 200 * 150 * 3 / 4);
}

TEST(WarpFrame, LastFrameIsEndImageOnEndMesh) {
    std::mt19937 rng(11);
    Scene s = defaultScene(320, 240, 6, 4, 3);
    s.startTriangles = BuildTriangleList(test::draggedMesh(DefaultMesh(6, 4, 320, 240), rng, 25.0f));
    for (const Bitmap& frame : {renderFast(s, 7, 7), renderReference(s, 7, 7)})
        EXPECT_EQ(differingPixels(frame, s.end), 0);
}

TEST(WarpFrame, IdenticalMeshesAndImagesGiveTheImageInEveryFrame) {
    Scene s = defaultScene(160, 120, 3, 5, 4);
    s.end = s.start;
    for (int k = 0; k <= 6; ++k) {
        EXPECT_EQ(differingPixels(renderFast(s, k, 6), s.start), 0) << k;
        EXPECT_EQ(differingPixels(renderReference(s, k, 6), s.start), 0) << k;
    }
}

TEST(WarpFrame, PixelsNoTriangleCoversKeepTheBackground) {
    Scene s = defaultScene(100, 100, 1, 1, 2);
    // A mesh pulled 20 pixels in from every side.
    s.startTriangles = s.endTriangles = BuildTriangleList(DefaultMesh(1, 1, 60, 60));
    for (MeshTriangle& t : s.startTriangles)
        for (MeshPoint* p : {&t.a, &t.b, &t.c}) p->x += 20, p->y += 20;
    s.endTriangles = s.startTriangles;
    const Bitmap frame = renderFast(s, 1, 2, 0x0F0F0F);
    EXPECT_EQ(frame.pixelValue(5, 5), 0x0F0F0Fu);
    EXPECT_EQ(frame.pixelValue(95, 50), 0x0F0F0Fu);
    EXPECT_NE(frame.pixelValue(50, 50), 0x0F0F0Fu);
    EXPECT_EQ(differingPixels(frame, renderReference(s, 1, 2, 0x0F0F0F)), 0);
}

TEST(WarpFrame, RefusesUnusableInput) {
    const Scene s = defaultScene(20, 20, 1, 1, 1);
    Bitmap frame = test::warpFrameSurface(20, 20, 0x777777);
    const PixelArray none;
    std::vector<MeshTriangle> shorter = s.endTriangles;
    shorter.pop_back();
    EXPECT_FALSE(WarpFrame(s.startTriangles, s.endTriangles, 0, 0, s.start, s.end, 20, 20, frame));
    EXPECT_FALSE(WarpFrame(s.startTriangles, shorter, 0, 1, s.start, s.end, 20, 20, frame));
    EXPECT_FALSE(WarpFrame(s.startTriangles, s.endTriangles, 0, 1, none, s.end, 20, 20, frame));
    EXPECT_FALSE(WarpFrame(s.startTriangles, s.endTriangles, 0, 1, s.start, s.end, 0, 20, frame));
    EXPECT_FALSE(WarpFrameReference(s.startTriangles, s.endTriangles, 0, 1, s.start, none, 20, 20, frame));
    Bitmap empty;
    EXPECT_FALSE(WarpFrame(s.startTriangles, s.endTriangles, 0, 1, s.start, s.end, 20, 20, empty));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(frame.pixelValue(x, y), 0x777777u);
}

// ------------------------------------------------------------ single triangles

namespace {

struct TriangleCase {
    MeshTriangle tri, startTri, endTri;
};

void fillBoth(const TriangleCase& c, const WarpContext& context, Bitmap& fast, Bitmap& reference) {
    FillTriangle(fast, c.tri, c.startTri, c.endTri, context);
    DC dc;
    dc.select(&reference);
    FillTriangleReference(&dc, c.tri, c.startTri, c.endTri, context);
}

}  // namespace

TEST(FillTriangle, CollinearTriangleDividesByNothing) {
    const PixelArray image = testImage(50, 50, 3);
    const WarpContext context(image, image, 50, 50, 0.5f);
    const MeshTriangle line{{5, 5}, {25, 25}, {45, 45}};
    const MeshTriangle point{{10, 10}, {10, 10}, {10, 10}};
    for (const MeshTriangle& tri : {line, point}) {
        Bitmap fast = test::warpFrameSurface(50, 50, 1), reference = test::warpFrameSurface(50, 50, 1);
        fillBoth({tri, tri, tri}, context, fast, reference);
        EXPECT_EQ(differingPixels(fast, reference), 0);
        // Pixels on the line are drawn, none off it.
        EXPECT_NE(fast.pixelValue(int(tri.a.x), int(tri.a.y)), 1u);
        EXPECT_EQ(fast.pixelValue(30, 10), 1u);
    }
}

TEST(FillTriangle, LaterTriangleWinsOnSharedPixels) {
    const PixelArray red = uniformImage(60, 60, rgb(255, 0, 0)), blue = uniformImage(60, 60, rgb(0, 0, 255));
    const WarpContext redContext(red, red, 60, 60, 0.0f), blueContext(blue, blue, 60, 60, 0.0f);
    // The two halves of a square, sharing the diagonal from (0, 0) to (50, 50).
    const MeshTriangle lower{{0, 0}, {0, 50}, {50, 50}}, upper{{0, 0}, {50, 0}, {50, 50}};
    Bitmap frame = test::warpFrameSurface(60, 60, 0);
    FillTriangle(frame, lower, lower, lower, redContext);
    FillTriangle(frame, upper, upper, upper, blueContext);
    for (int d = 0; d <= 50; ++d) EXPECT_EQ(frame.pixelValue(d, d), rgb(0, 0, 255)) << d;
    EXPECT_EQ(frame.pixelValue(10, 40), rgb(255, 0, 0));
    FillTriangle(frame, lower, lower, lower, redContext);
    for (int d = 0; d <= 50; ++d) EXPECT_EQ(frame.pixelValue(d, d), rgb(255, 0, 0)) << d;
}

TEST(FillTriangle, ColumnBeyondTheImageSamplesTheLastColumn) {
    // Column x = W of the default mesh (frame one pixel wider than the image).
    const int w = 30, h = 20;
    PixelArray image;
    ASSERT_TRUE(image.resize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image(x, y) = rgb(x, y, 7);
    const std::vector<MeshTriangle> triangles = BuildTriangleList(DefaultMesh(1, 1, w, h));
    const WarpContext context(image, image, w, h, 0.0f);
    Bitmap fast = test::warpFrameSurface(w + 1, h + 1, 0), reference = test::warpFrameSurface(w + 1, h + 1, 0);
    for (const MeshTriangle& t : triangles) fillBoth({t, t, t}, context, fast, reference);
    for (int y = 0; y < h; ++y) EXPECT_EQ(fast.pixelValue(w, y), rgb(w - 1, y, 7)) << y;
    EXPECT_EQ(fast.pixelValue(w, h), rgb(w - 1, h - 1, 7));
    EXPECT_EQ(fast.pixelValue(5, h), rgb(5, h - 1, 7));
    EXPECT_EQ(differingPixels(fast, reference), 0);
}

TEST(FillTriangle, CoordinatesBelowZeroSampleTheEdgePixel) {
    const int w = 40, h = 40;
    PixelArray image;
    ASSERT_TRUE(image.resize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image(x, y) = rgb(x, y, 99);
    const WarpContext context(image, image, w, h, 0.0f);
    // The frame triangle maps onto a source triangle shifted 3 pixels up and left.
    const MeshTriangle tri{{0, 0}, {0, 30}, {30, 30}};
    const MeshTriangle source{{-3, -3}, {-3, 27}, {27, 27}};
    Bitmap fast = test::warpFrameSurface(w, h, 0), reference = test::warpFrameSurface(w, h, 0);
    fillBoth({tri, source, source}, context, fast, reference);
    EXPECT_EQ(fast.pixelValue(0, 0), rgb(0, 0, 99));
    EXPECT_EQ(fast.pixelValue(1, 20), rgb(0, 17, 99));
    EXPECT_EQ(fast.pixelValue(10, 20), rgb(7, 17, 99));
    EXPECT_EQ(differingPixels(fast, reference), 0);
}

TEST(FillTriangle, HorizontalAndVerticalEdges) {
    // A right triangle with a horizontal top edge and a vertical right edge,
    // 300 pixels tall: every scanline of it is drawn to the vertical edge.
    const int w = 60, h = 320;
    const PixelArray image = testImage(w, h, 8);
    const WarpContext context(image, image, w, h, 0.0f);
    const MeshTriangle tri{{10, 10}, {50, 10}, {50, 310}};
    Bitmap fast = test::warpFrameSurface(w, h, 0), reference = test::warpFrameSurface(w, h, 0);
    fillBoth({tri, tri, tri}, context, fast, reference);
    EXPECT_EQ(differingPixels(fast, reference), 0);
    for (int y = 10; y <= 310; ++y) ASSERT_EQ(fast.pixelValue(50, y), image(50, y)) << y;
    for (int x = 10; x <= 50; ++x) EXPECT_EQ(fast.pixelValue(x, 10), image(x, 10)) << x;
    EXPECT_EQ(fast.pixelValue(50, 9), 0u);
    EXPECT_EQ(fast.pixelValue(20, 200), 0u);  // left of the hypotenuse
}

TEST(FillTriangle, FarAndNonFiniteCornersAreSafe) {
    const PixelArray image = testImage(30, 30, 4);
    const WarpContext context(image, image, 30, 30, 0.3f);
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const MeshTriangle cases[] = {
        {{-1e30f, -1e30f}, {1e30f, 5}, {5, 1e30f}},
        {{0, 0}, {inf, 0}, {0, 10}},
        {{nan, 0}, {20, 20}, {0, 10}},
        {{0, 0}, {1e-40f, 25}, {25, 25}},
        {{-5e6f, 3}, {5e6f, 3.5f}, {0, 29}},
    };
    const MeshTriangle sane{{0, 0}, {29, 0}, {0, 29}};
    for (const MeshTriangle& tri : cases) {
        Bitmap fast = test::warpFrameSurface(30, 30, 0), reference = test::warpFrameSurface(30, 30, 0);
        fillBoth({tri, tri, sane}, context, fast, reference);
        EXPECT_EQ(differingPixels(fast, reference), 0) << (&tri - cases);
    }
    // Far-off source corners make the mapping ill-conditioned; with a
    // uniform image only the coverage shows, and it must agree.
    const PixelArray flat = uniformImage(30, 30, rgb(1, 2, 3));
    const WarpContext flatContext(flat, flat, 30, 30, 0.3f);
    for (const MeshTriangle& tri : cases) {
        Bitmap fast = test::warpFrameSurface(30, 30, 0), reference = test::warpFrameSurface(30, 30, 0);
        FillTriangle(fast, tri, cases[0], cases[4], flatContext);
        DC dc;
        dc.select(&reference);
        FillTriangleReference(&dc, tri, cases[0], cases[4], flatContext);
        EXPECT_EQ(differingPixels(fast, reference), 0) << (&tri - cases);
    }
}

TEST(FillTriangle, OtherFrameDepthsGoThroughTheColourTable) {
    const Scene s = defaultScene(50, 40, 2, 2, 6);
    Bitmap frame24;
    ASSERT_TRUE(frame24.create(50, 40, 24));
    ASSERT_TRUE(WarpFrame(s.startTriangles, s.endTriangles, 1, 3, s.start, s.end, 50, 40, frame24));
    const Bitmap frame32 = renderFast(s, 1, 3);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) ASSERT_EQ(frame24.pixelValue(x, y), frame32.pixelValue(x, y));
}

// ------------------------------------------------------------ fast against literal

// The production path against the literal one: random images, default and
// dragged meshes (folded and degenerate cells included), sizes from one pixel
// to a few hundred, meshes from 1 x 1 to 40 x 40, several t. At most one pixel
// in 10,000 may differ.
TEST(WarpFrame, ProductionPathMatchesLiteral) {
    struct Case {
        int w, h, rows, columns;
        float drag;  // 0: default mesh
        bool degenerate;
    };
    const Case cases[] = {
        {1, 1, 1, 1, 0, false},        {7, 5, 3, 2, 0, false},          {64, 48, 40, 40, 0, false},
        {200, 150, 1, 1, 40, false},   {320, 240, 5, 5, 0, false},      {320, 240, 5, 5, 30, false},
        {256, 256, 8, 8, 60, false},   {300, 200, 3, 2, 150, false},    {160, 120, 40, 40, 3, false},
        {160, 120, 40, 40, 10, false}, {240, 180, 12, 9, 15, true},     {120, 300, 2, 7, 40, true},
        {333, 111, 17, 3, 8, false},   {180, 180, 6, 6, 120, true},     {90, 70, 40, 1, 2, false},
    };
    int64_t total = 0, differing = 0;
    uint32_t seed = 100;
    for (const Case& c : cases) {
        std::mt19937 rng(seed);
        Scene s{c.w, c.h, testImage(c.w, c.h, seed, int(seed)), testImage(c.w, c.h, seed + 7, int(seed) + 1), {}, {}};
        MeshGrid start = DefaultMesh(c.rows, c.columns, c.w, c.h), end = start;
        if (c.drag > 0) {
            start = test::draggedMesh(start, rng, c.drag);
            end = test::draggedMesh(end, rng, c.drag);
        }
        if (c.degenerate) {
            start = withDegenerateCells(start, rng);
            end = withDegenerateCells(end, rng);
        }
        s.startTriangles = BuildTriangleList(start);
        s.endTriangles = BuildTriangleList(end);
        for (auto [k, n] : {std::pair{0, 9}, {1, 9}, {1, 2}, {3, 7}, {1, 4}, {8, 9}, {9, 9}, {33, 97}}) {
            const int64_t d = differingPixels(renderFast(s, k, n), renderReference(s, k, n));
            EXPECT_LE(d * 10000, int64_t(c.w) * c.h) << c.w << "x" << c.h << " mesh " << c.rows << "x" << c.columns
                                                      << " drag " << c.drag << " frame " << k << "/" << n;
            differing += d;
            total += int64_t(c.w) * c.h;
        }
        ++seed;
    }
    EXPECT_LE(differing * 10000, total);
    std::printf("[          ] %lld of %lld pixels differ\n", (long long)differing, (long long)total);
}

// ------------------------------------------------------------ reading pixels

TEST(ReadPicturePixels, CopiesThePersistentImage) {
    auto bitmap = std::make_shared<Bitmap>();
    ASSERT_TRUE(bitmap->create(5, 3, 24, false));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) bitmap->setPixelValue(x, y, rgb(x * 40, y * 80, 3));
    PictureBox box;
    box.setPicture(StdPicture{bitmap});
    box.image().setPixelValue(4, 2, rgb(1, 2, 3));  // drawn on the image, not the picture
    PixelArray pixels;
    EXPECT_FALSE(ReadPicturePixels(box.image(), pixels));
    ASSERT_EQ(pixels.width(), 5);
    ASSERT_EQ(pixels.height(), 3);
    EXPECT_EQ(pixels(0, 0), rgb(0, 0, 3));
    EXPECT_EQ(pixels(3, 1), rgb(120, 80, 3));
    EXPECT_EQ(pixels(4, 2), rgb(1, 2, 3));
}

TEST(ReadPicturePixels, EmptyBoxFailsAndLeavesTheArray) {
    PictureBox box;
    PixelArray pixels = uniformImage(2, 2, 9);
    EXPECT_TRUE(ReadPicturePixels(box.image(), pixels));
    EXPECT_EQ(pixels.width(), 2);
    EXPECT_EQ(pixels(1, 1), 9u);
}

// A picture of any depth reads as the canvas it is put on shows it, row by
// row at the right height whatever the storage order, with the top byte off.
TEST(ReadPicturePixels, AnyDepthReadsAsItsCanvasShowsIt) {
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        for (bool topDown : {true, false}) {
            auto picture = std::make_shared<Bitmap>();
            ASSERT_TRUE(picture->create(7, 4, bpp, topDown));
            for (int i = 0; i < picture->colorCount(); ++i)
                picture->colorTable()[i] = RGBQuad{uint8_t(i * 37), uint8_t(255 - i), uint8_t(i * 5 + 9), 0};
            const uint32_t mask = bpp <= 8 ? (1u << bpp) - 1 : bpp == 16 ? 0x7FFFu : 0xFFFFFFFFu;
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 7; ++x) picture->setPixelValue(x, y, (uint32_t(x * 2654435761u) ^ uint32_t(y * 40503u)) & mask);
            PictureBox canvas;
            canvas.setPicture(StdPicture{picture});
            PixelArray shown, read;
            ASSERT_FALSE(ReadPicturePixels(canvas.image(), shown));
            ASSERT_FALSE(ReadPicturePixels(*picture, read)) << bpp;
            ASSERT_EQ(read.width(), 7);
            ASSERT_EQ(read.height(), 4);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 7; ++x)
                    EXPECT_EQ(read(x, y), shown(x, y)) << bpp << " bpp, top-down " << topDown << " at " << x << "," << y;
        }
    }
}

TEST(PixelArray, RefusesAbsurdSizes) {
    PixelArray p;
    EXPECT_FALSE(p.resize(0, 5));
    EXPECT_FALSE(p.resize(40000, 2));
    EXPECT_FALSE(p.resize(30000, 30000));
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(p.resize(3, 2));
    EXPECT_EQ(p(2, 1), 0u);
}
