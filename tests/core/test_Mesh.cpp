#include <gtest/gtest.h>

#include "core/Mesh.h"
#include "core/warp/Warp.h"

using namespace tarnel;

namespace {

MeshPoint pt(float x, float y) { return MeshPoint{x, y}; }

}  // namespace

TEST(MeshGrid, FlatStorageIsDownOuterAcrossInner) {
    MeshGrid mesh(3, 2);
    ASSERT_EQ(mesh.countI(), 5);
    ASSERT_EQ(mesh.countJ(), 4);
    ASSERT_EQ(mesh.points().size(), 20u);
    mesh(2, 1) = pt(7, 8);
    EXPECT_EQ(mesh.points()[1 * 5 + 2], pt(7, 8));
    EXPECT_TRUE(mesh.contains(4, 3));
    EXPECT_FALSE(mesh.contains(5, 0));
    EXPECT_FALSE(mesh.contains(0, 4));
    EXPECT_FALSE(mesh.contains(-1, 0));
}

TEST(MeshGrid, DimensionsOutsideTheSpinnerRangeGiveNoGrid) {
    for (auto [r, c] : {std::pair{0, 1}, {1, 0}, {41, 3}, {3, 41}, {-2, 5}}) {
        EXPECT_TRUE(MeshGrid(r, c).empty()) << r << "x" << c;
        EXPECT_TRUE(DefaultMesh(r, c, 100, 100).empty()) << r << "x" << c;
    }
    EXPECT_FALSE(MeshGrid(40, 40).empty());
}

TEST(DefaultMesh, OneByOneHasCornersAtTheImageCorners) {
    const MeshGrid mesh = DefaultMesh(1, 1, 300, 200);
    ASSERT_EQ(mesh.points().size(), 9u);
    EXPECT_EQ(mesh(1, 1), pt(0, 0));
    EXPECT_EQ(mesh(2, 1), pt(300, 0));
    EXPECT_EQ(mesh(1, 2), pt(0, 200));
    EXPECT_EQ(mesh(2, 2), pt(300, 200));
    EXPECT_EQ(mesh(0, 0), pt(-300, -200));
    const std::vector<MeshTriangle> triangles = BuildTriangleList(mesh);
    ASSERT_EQ(triangles.size(), 2u);
    EXPECT_EQ(triangles[0], (MeshTriangle{pt(0, 0), pt(0, 200), pt(300, 200)}));
    EXPECT_EQ(triangles[1], (MeshTriangle{pt(0, 0), pt(300, 0), pt(300, 200)}));
}

TEST(DefaultMesh, ThreeByTwoOnThreeHundredByTwoHundred) {
    const MeshGrid mesh = DefaultMesh(3, 2, 300, 200);
    for (int j = 0; j <= 3; ++j)
        for (int i = 0; i <= 4; ++i) EXPECT_EQ(mesh(i, j), pt(float((i - 1) * 100), float((j - 1) * 100))) << i << "," << j;
    EXPECT_EQ(BuildTriangleList(mesh).size(), 12u);
}

// Point (i, j) sits at ((i - 1)·sx, (j - 1)·sy) for every canvas at least
// rows x columns pixels; the last visible ones exactly on x = W and y = H.
TEST(DefaultMesh, RegularPlacementForManySizes) {
    struct Case {
        int rows, columns, w, h;
    };
    for (Case c : {Case{5, 5, 640, 480}, Case{3, 7, 640, 480}, Case{40, 40, 640, 480}, Case{7, 3, 1000, 333},
                   Case{40, 1, 40, 1}, Case{13, 17, 1920, 1080}, Case{9, 11, 97, 61}, Case{40, 40, 4000, 3000}}) {
        const MeshGrid mesh = DefaultMesh(c.rows, c.columns, c.w, c.h);
        ASSERT_FALSE(mesh.empty());
        const double sx = double(c.w) / c.rows, sy = double(c.h) / c.columns;
        for (int j = 0; j < mesh.countJ(); ++j)
            for (int i = 0; i < mesh.countI(); ++i) {
                EXPECT_NEAR(mesh(i, j).x, (i - 1) * sx, 1e-3) << c.rows << "x" << c.columns << " " << i << "," << j;
                EXPECT_NEAR(mesh(i, j).y, (j - 1) * sy, 1e-3) << c.rows << "x" << c.columns << " " << i << "," << j;
            }
        for (int j = 1; j < mesh.countJ(); ++j) {
            EXPECT_EQ(mesh(1, j).x, 0.0f);
            EXPECT_EQ(mesh(c.rows + 1, j).x, float(c.w));
        }
        for (int i = 1; i < mesh.countI(); ++i) {
            EXPECT_EQ(mesh(i, 1).y, 0.0f);
            EXPECT_EQ(mesh(i, c.columns + 1).y, float(c.h));
        }
        // The triangles tile the rectangle (0, 0)-(W, H).
        double area = 0;
        for (const MeshTriangle& t : BuildTriangleList(mesh)) area += TriangleArea(t.a, t.b, t.c);
        EXPECT_NEAR(area, double(c.w) * c.h, double(c.w) * c.h * 1e-5);
    }
}

TEST(DefaultMesh, NarrowCanvasLeavesTheLastPointsAtTheOrigin) {
    // sx = 0.25: x runs -0.25 .. 9.25, indices 0..38; 39..41 are never reached.
    const MeshGrid mesh = DefaultMesh(40, 2, 10, 200);
    for (int j = 0; j < mesh.countJ(); ++j) {
        EXPECT_EQ(mesh(38, j), pt(9.25f, float((j - 1) * 100)));
        for (int i = 39; i <= 41; ++i) EXPECT_EQ(mesh(i, j), pt(0, 0)) << i << "," << j;
    }
    // Too low as well: rows beyond the loop stay (0, 0) entirely.
    const MeshGrid low = DefaultMesh(2, 40, 200, 10);
    for (int i = 0; i < low.countI(); ++i) EXPECT_EQ(low(i, 41), pt(0, 0));
    EXPECT_EQ(low(3, 38), pt(200, 9.25f));
}

TEST(DefaultMesh, EmptyCanvasLeavesEveryPointAtTheOrigin) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 50}, {50, 0}, {-5, 10}}) {
        const MeshGrid mesh = DefaultMesh(4, 3, w, h);
        ASSERT_EQ(mesh.points().size(), 30u);
        for (const MeshPoint& p : mesh.points()) EXPECT_EQ(p, pt(0, 0)) << w << "x" << h;
    }
}

TEST(BuildTriangleList, OrderAndDiagonal) {
    // Points numbered so that every corner is recognisable: (10·i, 100·j).
    MeshGrid mesh(2, 2);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) mesh(i, j) = pt(float(10 * i), float(100 * j));
    const std::vector<MeshTriangle> list = BuildTriangleList(mesh);
    ASSERT_EQ(list.size(), 8u);
    auto m = [](int i, int j) { return pt(float(10 * i), float(100 * j)); };
    const MeshTriangle expected[] = {
        {m(1, 1), m(1, 2), m(2, 2)}, {m(1, 1), m(2, 1), m(2, 2)},  // band 1, cell 1
        {m(2, 1), m(2, 2), m(3, 2)}, {m(2, 1), m(3, 1), m(3, 2)},  // band 1, cell 2
        {m(1, 2), m(1, 3), m(2, 3)}, {m(1, 2), m(2, 2), m(2, 3)},  // band 2, cell 1
        {m(2, 2), m(2, 3), m(3, 3)}, {m(2, 2), m(3, 2), m(3, 3)},  // band 2, cell 2
    };
    for (size_t n = 0; n < 8; ++n) EXPECT_EQ(list[n], expected[n]) << n;
    // The ring (index 0) is in none.
    for (const MeshTriangle& t : list)
        for (const MeshPoint& p : {t.a, t.b, t.c}) EXPECT_TRUE(p.x > 0 && p.y > 0);
}

TEST(BuildTriangleList, CountsForGridSizes) {
    for (auto [r, c] : {std::pair{1, 1}, {1, 40}, {40, 1}, {8, 3}, {40, 40}})
        EXPECT_EQ(BuildTriangleList(DefaultMesh(r, c, 800, 600)).size(), size_t(2 * r * c));
    EXPECT_TRUE(BuildTriangleList(MeshGrid()).empty());
}

// ------------------------------------------------------------ settings

namespace {

MeshModel startedModel() {
    MeshModel model;
    model.Rows = 4;
    model.Columns = 3;
    model.PointerSize = 5;
    model.Triangles(0, 400, 300);
    model.Triangles(1, 400, 300);
    return model;
}

}  // namespace

TEST(MeshModel, TrianglesResetsOneMeshAndSizesItsList) {
    MeshModel model = startedModel();
    model.StartMesh(2, 2) = pt(55, 66);
    model.EndMesh(2, 2) = pt(77, 88);
    model.Triangles(1, 200, 100);  // a new end image
    EXPECT_EQ(model.StartMesh(2, 2), pt(55, 66));
    EXPECT_EQ(model.EndMesh(2, 2), pt(50, 100.0f / 3));
    EXPECT_EQ(model.EndMesh, DefaultMesh(4, 3, 200, 100));
    EXPECT_EQ(model.EndTriangles.size(), 24u);
}

TEST(MeshModel, MarkerSizeAloneKeepsDraggedPoints) {
    MeshModel model = startedModel();
    model.StartMesh(3, 2) = pt(1, 2);
    model.EndMesh(1, 3) = pt(3, 4);
    EXPECT_FALSE(model.ApplyMeshSettings(4, 3, 9, 400, 300, 400, 300));
    EXPECT_EQ(model.PointerSize, 9);
    EXPECT_EQ(model.StartMesh(3, 2), pt(1, 2));
    EXPECT_EQ(model.EndMesh(1, 3), pt(3, 4));
}

TEST(MeshModel, GridChangeResetsBothMeshes) {
    struct Case {
        int gyo, retu;
    };
    for (Case c : {Case{5, 3}, Case{4, 2}, Case{40, 40}}) {
        MeshModel model = startedModel();
        model.StartMesh(3, 2) = pt(1, 2);
        model.EndMesh(1, 3) = pt(3, 4);
        EXPECT_TRUE(model.ApplyMeshSettings(c.gyo, c.retu, 5, 400, 300, 640, 480));
        EXPECT_EQ(model.Rows, c.gyo);
        EXPECT_EQ(model.Columns, c.retu);
        EXPECT_EQ(model.StartMesh, DefaultMesh(c.gyo, c.retu, 400, 300));
        EXPECT_EQ(model.EndMesh, DefaultMesh(c.gyo, c.retu, 640, 480));
        EXPECT_EQ(model.StartTriangles.size(), size_t(2 * c.gyo * c.retu));
    }
}

TEST(MeshModel, IgnoredWhileInitialising) {
    MeshModel model = startedModel();
    model.StartMesh(3, 2) = pt(1, 2);
    model.Initialising = true;
    EXPECT_FALSE(model.ApplyMeshSettings(7, 8, 12, 400, 300, 400, 300));
    EXPECT_EQ(model.Rows, 4);
    EXPECT_EQ(model.Columns, 3);
    EXPECT_EQ(model.PointerSize, 5);
    EXPECT_EQ(model.StartMesh(3, 2), pt(1, 2));
}

TEST(MeshModel, FirstGridChangeCreatesTheMeshes) {
    MeshModel model;  // nothing loaded yet
    model.Rows = 4;
    model.Columns = 3;
    EXPECT_TRUE(model.StartMesh.empty());
    EXPECT_TRUE(model.ApplyMeshSettings(5, 3, 4, 0, 0, 0, 0));
    EXPECT_EQ(model.StartMesh.rows(), 5);
    EXPECT_EQ(model.EndMesh.columns(), 3);
    // Values from outside the spinner range are held to it.
    EXPECT_TRUE(model.ApplyMeshSettings(0, 99, 4, 10, 10, 10, 10));
    EXPECT_EQ(model.Rows, 1);
    EXPECT_EQ(model.Columns, 40);
}

TEST(MeshModel, BuildTriangleListsFollowsEachMesh) {
    MeshModel model = startedModel();
    model.EndMesh(2, 2) = pt(123, 45);
    model.BuildTriangleLists();
    ASSERT_EQ(model.StartTriangles.size(), 24u);
    ASSERT_EQ(model.EndTriangles.size(), 24u);
    EXPECT_EQ(model.StartTriangles, BuildTriangleList(model.StartMesh));
    EXPECT_EQ(model.EndTriangles[0].c, pt(123, 45));  // bottom-right of the first cell
    EXPECT_NE(model.StartTriangles[0].c, pt(123, 45));
}
