// Bilinear reads: at whole pixels the pixel itself, between pixels the
// distance-weighted mix of the four around, at the borders the last row and
// column repeated; frames rendered with them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "tests/support/WarpScenes.h"

using namespace tarnel;
using namespace tarnel::test;

namespace {

// The textbook form: the four corner weights (1 - fx)(1 - fy), fx(1 - fy),
// (1 - fx)fy and fx·fy, per channel, rounded half to even.
uint32_t expectedSample(const PixelArray& p, double x, double y) {
    const int maxX = p.width() - 1, maxY = p.height() - 1;
    x = std::clamp(x, 0.0, double(maxX));
    y = std::clamp(y, 0.0, double(maxY));
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const int x1 = std::min(x0 + 1, maxX), y1 = std::min(y0 + 1, maxY);
    const double fx = x - x0, fy = y - y0;
    uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        auto c = [&](int px, int py) { return double((p(px, py) >> shift) & 0xFF); };
        const double v = (1 - fx) * (1 - fy) * c(x0, y0) + fx * (1 - fy) * c(x1, y0) + (1 - fx) * fy * c(x0, y1) +
                         fx * fy * c(x1, y1);
        out |= uint32_t(std::nearbyint(v)) << shift;
    }
    return out;
}

Bitmap renderBilinear(const std::vector<MeshTriangle>& start, const std::vector<MeshTriangle>& end, int k, int n,
                      const PixelArray& a, const PixelArray& b, int w, int h) {
    Bitmap frame = warpFrameSurface(w, h, 0x00123456);
    WarpOptions options;
    options.sampling = WarpSampling::Bilinear;
    EXPECT_TRUE(WarpFrame(start, end, k, n, a, b, w, h, frame, options));
    return frame;
}

}  // namespace

TEST(BilinearSample, MatchesTheWeightedFormula) {
    const PixelArray p = warpTestImage(9, 7, 5, 0);
    struct Case {
        float x, y;
    };
    const Case cases[] = {
        {0, 0},     {3, 4},     {8, 6},       // whole pixels: the pixel itself
        {2.5f, 3},  {2, 3.5f},  {4.5f, 1.5f},  // halfway: the mean of two or four
        {0.25f, 5.75f}, {7.125f, 0.625f}, {1.9f, 2.1f},
        {8.5f, 3},  {20, 20},   {4, 6.5f},    // beyond the last column / row: repeated
        {-3, 2.5f}, {-0.5f, -7},              // below 0: the first column / row
    };
    for (const Case& c : cases)
        EXPECT_EQ(BilinearSample(p, c.x, c.y, 8, 6), expectedSample(p, c.x, c.y)) << c.x << "," << c.y;
}

TEST(BilinearSample, HalfwayTiesGoToEvenAndNaNReadsTheFirstPixel) {
    PixelArray p;
    ASSERT_TRUE(p.resize(2, 2));
    p(0, 0) = 0x010203;
    p(1, 0) = 0x020304;  // channel means 1.5, 2.5, 3.5
    p(0, 1) = p(1, 1) = 0;
    EXPECT_EQ(BilinearSample(p, 0.5f, 0, 1, 1), 0x020204u);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(BilinearSample(p, nan, nan, 1, 1), 0x010203u);
}

TEST(BilinearSample, TheLimitsComeFromTheCallerNotTheArray) {
    const PixelArray p = warpTestImage(6, 6, 2, 0);
    // With the last sampled column 3, column 4 is never read.
    EXPECT_EQ(BilinearSample(p, 3.5f, 2, 3, 5), p(3, 2));
    EXPECT_EQ(BilinearSample(p, 2.5f, 4.5f, 5, 4), expectedSample(p, 2.5, 4));
}

// Frame 0 of an unedited mesh reproduces the start image, whatever the
// sampling; so does the last frame the end image.
TEST(WarpFrameBilinear, UneditedMeshReproducesTheImages) {
    struct Case {
        int w, h, rows, columns;
    };
    for (const Case c : {Case{120, 90, 5, 5}, Case{97, 61, 40, 40}, Case{1, 30, 1, 2}, Case{64, 48, 3, 3}}) {
        const PixelArray a = warpTestImage(c.w, c.h, 11, 0), b = warpTestImage(c.w, c.h, 12, 2);
        const std::vector<MeshTriangle> tri = BuildTriangleList(DefaultMesh(c.rows, c.columns, c.w, c.h));
        EXPECT_EQ(differingPixels(renderBilinear(tri, tri, 0, 4, a, b, c.w, c.h), a), 0) << c.w << "x" << c.h;
        EXPECT_EQ(differingPixels(renderBilinear(tri, tri, 4, 4, a, b, c.w, c.h), b), 0) << c.w << "x" << c.h;
    }
}

// Source meshes shifted half a pixel right and down: every frame pixel is
// the rounded mean of a 2 x 2 block (the last column and row repeat).
TEST(WarpFrameBilinear, HalfPixelShiftAveragesNeighbours) {
    const int w = 64, h = 32;
    const PixelArray a = warpTestImage(w, h, 21, 0), b = warpTestImage(w, h, 22, 1);
    std::vector<MeshTriangle> frameMesh = BuildTriangleList(DefaultMesh(4, 2, w, h));
    std::vector<MeshTriangle> shifted = frameMesh;
    for (MeshTriangle& t : shifted)
        for (MeshPoint* p : {&t.a, &t.b, &t.c}) p->x += 0.5f, p->y += 0.5f;
    // The unshifted triangles are drawn, the shifted ones read.
    const WarpContext context(a, b, w, h, 0.0f, WarpSampling::Bilinear);
    Bitmap frame = warpFrameSurface(w, h, 0);
    for (size_t i = 0; i < frameMesh.size(); ++i) FillTriangle(frame, frameMesh[i], shifted[i], shifted[i], context);
    int64_t wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) wrong += frame.pixelValue(x, y) != expectedSample(a, x + 0.5, y + 0.5);
    EXPECT_EQ(wrong, 0);
    // Mid-way frames blend the two bilinear reads as the nearest ones are blended.
    const WarpContext mid(a, b, w, h, 0.25f, WarpSampling::Bilinear);
    for (size_t i = 0; i < frameMesh.size(); ++i) FillTriangle(frame, frameMesh[i], shifted[i], shifted[i], mid);
    wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            wrong += frame.pixelValue(x, y) !=
                     mid.blendLiteral(expectedSample(a, x + 0.5, y + 0.5), expectedSample(b, x + 0.5, y + 0.5));
    EXPECT_EQ(wrong, 0);
}

// The literal fill reads the same way, for the triangles the production fill
// hands to it (degenerate ones, other frame depths).
// Both the portable loop and the best vector set are held to it.
TEST(WarpFrameBilinear, ProductionPathMatchesLiteral) {
    std::mt19937 rng(8);
    const int w = 150, h = 110;
    const PixelArray a = warpTestImage(w, h, 31, 1), b = warpTestImage(w, h, 32, 0);
    const std::vector<MeshTriangle> start = BuildTriangleList(draggedMesh(DefaultMesh(6, 5, w, h), rng, 12));
    const std::vector<MeshTriangle> end = BuildTriangleList(draggedMesh(DefaultMesh(6, 5, w, h), rng, 12));
    const WarpIsa before = ActiveWarpIsa();
    for (WarpIsa isa : {WarpIsa::Portable, BestWarpIsa()}) {
        SetWarpIsa(isa);
        for (float t : {0.0f, 0.3f, 1.0f}) {
            const WarpContext context(a, b, w, h, t, WarpSampling::Bilinear);
            const std::vector<MeshTriangle> mid = InterpolateTriangles(start, end, t);
            Bitmap fast = warpFrameSurface(w, h, 0), literal = warpFrameSurface(w, h, 0);
            DC dc;
            dc.select(&literal);
            for (size_t i = 0; i < mid.size(); ++i) {
                FillTriangle(fast, mid[i], start[i], end[i], context);
                FillTriangleReference(&dc, mid[i], start[i], end[i], context);
            }
            EXPECT_LE(differingPixels(fast, literal) * 1000, int64_t(w) * h) << WarpIsaName(isa) << " " << t;
        }
    }
    SetWarpIsa(before);
}

TEST(WarpFrameBilinear, NearestStaysTheDefault) {
    EXPECT_TRUE(WarpOptions{}.isDefault());
    EXPECT_EQ(WarpOptions{}.sampling, WarpSampling::Nearest);
    const PixelArray a = warpTestImage(40, 30, 1, 0), b = warpTestImage(40, 30, 2, 0);
    EXPECT_EQ(WarpContext(a, b, 40, 30, 0.5f).sampling(), WarpSampling::Nearest);
}
