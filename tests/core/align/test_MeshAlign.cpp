// Automatic placement of the end mesh, measured against known warps of
// photo-like pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/align/MeshAlign.h"
#include "support/PhotoImages.h"
#include "support/SyntheticWarp.h"

namespace tarnel {
namespace {

using test::Photo;
using test::SyntheticWarp;

constexpr int kW = 640, kH = 400, kRows = 8, kColumns = 6;

Bitmap photo(Photo kind, uint32_t seed, int w = kW, int h = kH) {
    GcDIB dib = test::makePhoto(kind, w, h, seed);
    Bitmap copy;
    copy.create(w, h, 32);
    for (int y = 0; y < h; ++y) std::copy_n(dib.bitmap()->scanline(y), size_t(w) * 4, copy.scanline(y));
    return copy;
}

Bitmap flat(int w, int h, uint8_t grey) {
    Bitmap b;
    b.create(w, h, 32);
    for (int y = 0; y < h; ++y) std::fill_n(b.scanline(y), size_t(w) * 4, grey);
    return b;
}

size_t at(const MeshGrid& m, int i, int j) { return size_t(j) * size_t(m.countI()) + size_t(i); }

// Every triangle the run draws turns as in a freshly placed grid.
bool foldFree(const MeshGrid& m) {
    auto cross = [](MeshPoint o, MeshPoint a, MeshPoint b) {
        return double(a.x - o.x) * (b.y - o.y) - double(a.y - o.y) * (b.x - o.x);
    };
    for (int j = 1; j <= m.columns(); ++j)
        for (int i = 1; i <= m.rows(); ++i)
            if (cross(m(i, j), m(i, j + 1), m(i + 1, j + 1)) >= 0 || cross(m(i, j), m(i + 1, j), m(i + 1, j + 1)) <= 0)
                return false;
    return true;
}

struct Outcome {
    AlignResult result;
    std::vector<double> errors;  // inner points whose true place is inside the picture
};

Outcome alignWarped(const Bitmap& start, const SyntheticWarp& warp, const std::vector<bool>& keep = {},
                    const MeshGrid* endMesh = nullptr) {
    const Bitmap end = test::WarpPicture(start, warp);
    const MeshGrid startMesh = DefaultMesh(kRows, kColumns, kW, kH);
    const MeshGrid defaultEnd = DefaultMesh(kRows, kColumns, kW, kH);
    AlignRequest request{&start, &end, &startMesh, endMesh ? endMesh : &defaultEnd, keep};
    Outcome out{AlignMesh(request), {}};
    if (!out.result.ok()) return out;
    for (int j = 2; j <= kColumns; ++j)
        for (int i = 2; i <= kRows; ++i) {
            MeshPoint truth;
            if (!test::WarpTarget(warp, kW, kH, startMesh(i, j), truth)) continue;
            if (truth.x < 3 || truth.y < 3 || truth.x > kW - 4 || truth.y > kH - 4) continue;
            const MeshPoint got = out.result.end(i, j);
            out.errors.push_back(std::hypot(got.x - truth.x, got.y - truth.y));
        }
    return out;
}

double percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[size_t(q * double(v.size() - 1))];
}

TEST(MeshAlign, FindsKnownWarpsToAPixel) {
    struct Case {
        const char* name;
        Photo kind;
        SyntheticWarp warp;
    };
    const Case cases[] = {
        {"turned", Photo::Landscape, {.degrees = 7, .scale = 1.0}},
        {"shrunk and tilted", Photo::Plasma, {.degrees = -3, .scale = 0.92, .tiltX = 0.03, .tiltY = -0.02}},
        {"grown and shifted", Photo::Landscape, {.degrees = 2, .scale = 1.1, .shiftX = 12, .shiftY = -8}},
        {"waves", Photo::Portrait, {.degrees = -5, .scale = 1.04, .wave = 6, .waveLength = 260}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = alignWarped(photo(c.kind, 3), c.warp);
        ASSERT_TRUE(out.result.ok()) << out.result.error;
        ASSERT_GT(out.errors.size(), 20u);
        double mean = 0;
        for (double e : out.errors) mean += e / double(out.errors.size());
        EXPECT_LE(mean, 1.0);
        EXPECT_LE(percentile(out.errors, 0.9), 2.0);
        EXPECT_TRUE(foldFree(out.result.end));
        // The border stays where it was.
        const MeshGrid placed = DefaultMesh(kRows, kColumns, kW, kH);
        for (int j = 0; j < placed.countJ(); ++j)
            for (int i = 0; i < placed.countI(); ++i)
                if (!IsInnerMeshPoint(placed, i, j)) {
                    EXPECT_EQ(out.result.end(i, j), placed(i, j)) << i << "," << j;
                }
    }
}

TEST(MeshAlign, IdenticalPicturesGiveTheStartMeshBack) {
    for (const Bitmap& picture : {photo(Photo::Landscape, 5), flat(kW, kH, 90)}) {
        MeshGrid startMesh = DefaultMesh(kRows, kColumns, kW, kH);
        startMesh(3, 3) = MeshPoint{130.5f, 141.25f};  // a start point the user moved
        const MeshGrid endMesh = DefaultMesh(kRows, kColumns, kW, kH);
        const AlignResult r = AlignMesh({&picture, &picture, &startMesh, &endMesh, {}});
        ASSERT_TRUE(r.ok()) << r.error;
        for (int j = 2; j <= kColumns; ++j)
            for (int i = 2; i <= kRows; ++i) EXPECT_EQ(r.end(i, j), startMesh(i, j));
    }
}

TEST(MeshAlign, RefusesPicturesWithTooLittleInCommon) {
    struct Case {
        const char* name;
        Bitmap start, end;
    };
    const Case cases[] = {
        {"unrelated", photo(Photo::Landscape, 1), photo(Photo::Stripes, 9)},
        {"flat colours", flat(kW, kH, 40), flat(kW, kH, 200)},
        {"tiny", flat(8, 8, 10), photo(Photo::Plasma, 2, 8, 8)},
        {"a line", photo(Photo::Plasma, 2, 1, 500), photo(Photo::Plasma, 3, 1, 500)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MeshGrid startMesh = DefaultMesh(3, 3, c.start.width(), c.start.height());
        const MeshGrid endMesh = startMesh;
        const AlignResult r = AlignMesh({&c.start, &c.end, &startMesh, &endMesh, {}});
        EXPECT_EQ(r.status, AlignResult::Status::TooFewMatches);
        EXPECT_LT(r.matches, r.requiredMatches);
        EXPECT_EQ(r.end, endMesh);
        EXPECT_NE(r.error.find(std::to_string(r.matches) + " consistent"), std::string::npos) << r.error;
    }
}

TEST(MeshAlign, RefusesWhatCannotBeAligned) {
    const Bitmap a = photo(Photo::Landscape, 1), b = photo(Photo::Landscape, 1, kW + 2, kH);
    const MeshGrid m = DefaultMesh(kRows, kColumns, kW, kH), other = DefaultMesh(kRows + 1, kColumns, kW, kH);
    EXPECT_EQ(AlignMesh({&a, &b, &m, &m, {}}).status, AlignResult::Status::Invalid);
    EXPECT_EQ(AlignMesh({&a, &a, &m, &other, {}}).status, AlignResult::Status::Invalid);
    EXPECT_EQ(AlignMesh({&a, nullptr, &m, &m, {}}).status, AlignResult::Status::Invalid);
}

TEST(MeshAlign, PointsPlacedByHandStayAndGuideTheirNeighbours) {
    const Bitmap start = photo(Photo::Landscape, 4);
    const SyntheticWarp warp{.degrees = 4, .scale = 1.03};
    MeshGrid endMesh = DefaultMesh(kRows, kColumns, kW, kH);
    std::vector<bool> keep(endMesh.points().size(), false);
    // A point the user put somewhere else on purpose, 25 px off the truth.
    MeshPoint truth;
    ASSERT_TRUE(test::WarpTarget(warp, kW, kH, endMesh(5, 4), truth));
    endMesh(5, 4) = MeshPoint{truth.x + 25, truth.y};
    keep[at(endMesh, 5, 4)] = true;
    const Outcome out = alignWarped(start, warp, keep, &endMesh);
    ASSERT_TRUE(out.result.ok()) << out.result.error;
    EXPECT_EQ(out.result.end(5, 4), endMesh(5, 4));
    EXPECT_EQ(out.result.confidence[at(endMesh, 5, 4)], 1.0f);
    // Its neighbours lean towards it; points far away do not.
    MeshPoint near, far;
    ASSERT_TRUE(test::WarpTarget(warp, kW, kH, DefaultMesh(kRows, kColumns, kW, kH)(6, 4), near));
    ASSERT_TRUE(test::WarpTarget(warp, kW, kH, DefaultMesh(kRows, kColumns, kW, kH)(2, 6), far));
    EXPECT_GT(out.result.end(6, 4).x - near.x, 5.0f);
    EXPECT_LT(std::abs(out.result.end(2, 6).x - far.x), 1.5f);
    EXPECT_TRUE(foldFree(out.result.end));
}

TEST(MeshAlign, StaysFoldFreeWhereTheTruthWouldFold) {
    // Grown and turned: the corners' content leaves the picture, and the
    // border points stay, so the true places would turn triangles over.
    const Outcome out = alignWarped(photo(Photo::Plasma, 6), {.degrees = 8, .scale = 1.12, .wave = 5});
    ASSERT_TRUE(out.result.ok()) << out.result.error;
    EXPECT_TRUE(foldFree(out.result.end));
    for (const MeshPoint& p : out.result.end.points()) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

TEST(MeshAlign, PointsMovedSinceAReference) {
    const MeshGrid a = DefaultMesh(3, 3, 90, 90);
    MeshGrid b = a;
    b(2, 2).x += 0.5f;
    b(1, 1).y += 0.001f;  // below a hundredth: not a move
    const std::vector<bool> moved = PointsMovedSince(a, b);
    EXPECT_EQ(std::count(moved.begin(), moved.end(), true), 1);
    EXPECT_TRUE(moved[at(b, 2, 2)]);
    EXPECT_EQ(PointsMovedSince(DefaultMesh(4, 3, 90, 90), b), std::vector<bool>(b.points().size(), false));
}

}  // namespace
}  // namespace tarnel
