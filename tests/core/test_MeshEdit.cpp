#include "core/MeshEdit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace tarnel {
namespace {

constexpr ColorRef kRed = RGBColor(255, 0, 0);
constexpr ColorRef kGreen = RGBColor(0, 255, 0);
constexpr ColorRef kBlue = RGBColor(0, 0, 255);

uint32_t px(ColorRef c) { return uint32_t(RedOf(c)) << 16 | uint32_t(GreenOf(c)) << 8 | BlueOf(c); }

uint32_t at(const PictureBox& box, int x, int y) { return box.image().pixelValue(x, y); }

// A box holding a picture with a gradient, so clearing has something to restore.
void givePicture(PictureBox& box, int w, int h) {
    StdPicture pic;
    pic.bitmap = std::make_shared<Bitmap>();
    ASSERT_TRUE(pic.bitmap->create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pic.bitmap->setPixelValue(x, y, uint32_t((x * 7) & 0xFF) << 8 | uint32_t(y & 0xFF));
    box.setPicture(pic);
}

bool sameImage(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.scanline(y), b.scanline(y), size_t(a.width()) * 4) != 0) return false;
    return true;
}

TEST(HitPoint, DistanceIsStrictlyLessThanTheMarkerSize) {
    struct Case {
        float px, py, x, y;
        int size;
        bool hit;
    } cases[] = {
        {10, 10, 13.9f, 10, 4, true},   {10, 10, 14, 10, 4, false},  {10, 10, 10, 6.1f, 4, true},
        {10, 10, 10, 6, 4, false},      {10, 10, 12.8f, 12.8f, 4, true}, {10, 10, 12.9f, 12.9f, 4, false},
        {0, 0, 0, 0, 1, true},          {0, 0, 1, 0, 1, false},      {5, 5, 5, 5, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HitPoint(c.px, c.py, c.size, c.x, c.y), c.hit) << c.x << "," << c.y << " size " << c.size;
}

TEST(DrawLine, IncludesBothEndsAndRoundsTiesToEven) {
    Bitmap image;
    ASSERT_TRUE(image.create(10, 10, 32));
    DrawLine(image, 1.5f, 2, 6.5f, 2, kRed, Rect{0, 0, 10, 10});
    // 1.5 rounds to 2, 6.5 to 6.
    EXPECT_EQ(image.pixelValue(1, 2), 0u);
    for (int x = 2; x <= 6; ++x) EXPECT_EQ(image.pixelValue(x, 2), px(kRed)) << x;
    EXPECT_EQ(image.pixelValue(7, 2), 0u);
}

TEST(DrawLine, ClipSetsTheSamePixelsInsideAndNoneOutside) {
    Bitmap full, clipped;
    ASSERT_TRUE(full.create(40, 30, 32));
    ASSERT_TRUE(clipped.create(40, 30, 32));
    const Rect clip{10, 5, 25, 20};
    DrawLine(full, -3, 2, 44, 27, kBlue, Rect{0, 0, 40, 30});
    DrawLine(clipped, -3, 2, 44, 27, kBlue, clip);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            bool inside = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
            EXPECT_EQ(clipped.pixelValue(x, y), inside ? full.pixelValue(x, y) : 0u) << x << "," << y;
        }
}

TEST(DrawLine, FarCoordinatesAreIgnored) {
    Bitmap image;
    ASSERT_TRUE(image.create(4, 4, 32));
    DrawLine(image, 0, 0, 1e30f, 1e30f, kRed, Rect{0, 0, 4, 4});
    DrawCircle(image, 2, 2, 1e30f, kRed, Rect{0, 0, 4, 4});
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(image.pixelValue(x, y), 0u);
}

TEST(DrawCircle, OutlineOfTheRadius) {
    Bitmap image;
    ASSERT_TRUE(image.create(21, 21, 32));
    DrawCircle(image, 10, 10, 4, kGreen, Rect{0, 0, 21, 21});
    EXPECT_EQ(image.pixelValue(14, 10), px(kGreen));
    EXPECT_EQ(image.pixelValue(6, 10), px(kGreen));
    EXPECT_EQ(image.pixelValue(10, 14), px(kGreen));
    EXPECT_EQ(image.pixelValue(10, 6), px(kGreen));
    EXPECT_EQ(image.pixelValue(10, 10), 0u);  // an outline, not a disc
    EXPECT_EQ(image.pixelValue(15, 10), 0u);
    Rect b = CircleBounds(10, 10, 4);
    EXPECT_EQ(b.left, 6);
    EXPECT_EQ(b.right, 15);
    // Radius 0 is one pixel.
    DrawCircle(image, 2, 2, 0, kRed, Rect{0, 0, 21, 21});
    EXPECT_EQ(image.pixelValue(2, 2), px(kRed));
    EXPECT_EQ(image.pixelValue(3, 2), 0u);
}

TEST(DrawMesh, LinesOnTheBordersMarkersOnTopRingNotDrawn) {
    PictureBox box;
    box.backColor = RGBColor(255, 255, 255);
    box.resize(20, 10);
    MeshGrid mesh = DefaultMesh(1, 1, 20, 10);
    MeshStyle style{kRed, kGreen, 2};
    DrawMesh(box, mesh, style);
    // Left edge x = 0 and top edge y = 0 are lines; the corner carries a marker.
    EXPECT_EQ(at(box, 0, 5), px(kRed));
    EXPECT_EQ(at(box, 10, 0), px(kRed));
    EXPECT_EQ(at(box, 2, 0), px(kGreen));  // marker radius 2 around (0, 0)
    // The diagonal from (0, 0) to (20, 10) passes (10, 5).
    EXPECT_EQ(at(box, 10, 5), px(kRed));
    EXPECT_EQ(at(box, 15, 3), px(0xFFFFFF));
}

struct MeshEditorTest : ::testing::Test {
    PictureBox start, end;
    MeshModel model;
    std::unique_ptr<MeshEditor> editor;

    void SetUp() override {
        start.backColor = end.backColor = RGBColor(255, 255, 255);
        givePicture(start, 300, 200);
        givePicture(end, 300, 200);
        model.Rows = 3;
        model.Columns = 2;
        model.PointerSize = 4;
        model.Triangles(0, 300, 200);
        model.Triangles(1, 300, 200);
        editor = std::make_unique<MeshEditor>(start, end, model);
        editor->style = MeshStyle{kRed, kGreen, 4};
        editor->Refresh_Mesh(0);
        editor->Refresh_Mesh(1);
    }

    // What a full clear and redraw would show.
    Bitmap fullRender(PictureBox& box, int index) {
        PictureBox copy;
        copy.backColor = box.backColor;
        copy.setPicture(box.picture());
        DrawMesh(copy, model.mesh(index), MeshStyle{kRed, kGreen, model.PointerSize});
        return copy.image();
    }
};

TEST_F(MeshEditorTest, GrabNeedsBothImagesAndTheLeftButtonAlone) {
    EXPECT_FALSE(editor->P_MouseDown(0, 1, 0, 100, 100, false).any());
    EXPECT_FALSE(editor->dragging());
    for (int button : {2, 3, 4, 5}) {
        editor->P_MouseDown(0, button, 0, 100, 100, true);
        EXPECT_FALSE(editor->dragging()) << button;
    }
    editor->P_MouseDown(0, 1, 0, 100, 100, true);
    EXPECT_TRUE(editor->dragging());
    EXPECT_EQ(editor->selectedI(), 2);
    EXPECT_EQ(editor->selectedJ(), 2);
}

TEST_F(MeshEditorTest, SmallerJWinsThenSmallerI) {
    // Three points within reach of (50, 50): (2,1) moved to (52,47), (1,2) to (48,53), (2,2) to (51,51).
    model.StartMesh(2, 1) = {52, 47};
    model.StartMesh(1, 2) = {48, 53};
    model.StartMesh(2, 2) = {51, 51};
    editor->P_MouseDown(0, 1, 0, 50, 50, true);
    EXPECT_EQ(editor->selectedI(), 2);
    EXPECT_EQ(editor->selectedJ(), 1);
    model.StartMesh(2, 1) = {100, 0};
    model.StartMesh(3, 2) = {53, 50};
    editor->P_MouseDown(0, 1, 0, 50, 50, true);
    EXPECT_EQ(editor->selectedI(), 1);  // (1,2) before (2,2) and (3,2)
    EXPECT_EQ(editor->selectedJ(), 2);
}

TEST_F(MeshEditorTest, MissLeavesSelectionAndEndsTheDrag) {
    editor->P_MouseDown(1, 1, 0, 200, 100, true);
    ASSERT_TRUE(editor->dragging());
    editor->P_MouseDown(1, 1, 0, 150, 150, true);
    EXPECT_FALSE(editor->dragging());
    EXPECT_EQ(editor->selectedI(), 3);
    EXPECT_EQ(editor->selectedJ(), 2);
    // The move without a drag changes nothing.
    MeshPoint before = model.EndMesh(3, 2);
    EXPECT_FALSE(editor->P_MouseMove(1, 1, 0, 10, 10).any());
    EXPECT_EQ(model.EndMesh(3, 2), before);
}

TEST_F(MeshEditorTest, PartnerRingOnTheOtherCanvas) {
    auto d = editor->P_MouseDown(0, 1, 0, 101, 99, true);  // point (2, 2) at (100, 100)
    ASSERT_TRUE(editor->dragging());
    EXPECT_TRUE(d.rect[0].isEmpty());  // nothing drawn on the clicked canvas
    EXPECT_FALSE(d.rect[1].isEmpty());
    // Outside the point's own marker: a black edge, two pixels of the
    // (light) pointer colour, a black edge.
    const struct {
        int x;
        ColorRef c;
    } across[] = {{104, kGreen}, {105, 0}, {106, kGreen}, {107, kGreen}, {108, 0}};
    for (const auto& a : across) EXPECT_EQ(at(end, a.x, 100), px(a.c)) << a.x;
    EXPECT_EQ(at(start, 106, 100), px(kRed));  // only the line on the clicked canvas
    EXPECT_TRUE(editor->partner(1).shown);
    EXPECT_EQ(editor->partner(1).i, 2);
    EXPECT_FALSE(editor->partner(0).shown);
    // A new grab takes the old ring off: its pixels are what the mesh drawing leaves there.
    d = editor->P_MouseDown(0, 1, 0, 200, 100, true);  // point (3, 2)
    EXPECT_LE(d.rect[1].left, 92);
    EXPECT_GE(d.rect[1].right, 209);
    const Bitmap plain = fullRender(end, 1);
    const Rect ring = editor->partner(1).rect;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) {
            if (x >= ring.left && x < ring.right && y >= ring.top && y < ring.bottom) continue;
            ASSERT_EQ(at(end, x, y), plain.pixelValue(x, y)) << x << "," << y;
        }
    EXPECT_EQ(at(end, 206, 100), px(kGreen));
    EXPECT_EQ(at(end, 205, 100), 0u);
}

TEST(ContrastColor, BlackOnLightWhiteOnDark) {
    const struct {
        ColorRef c, edge;
    } cases[] = {{RGBColor(255, 255, 255), 0}, {RGBColor(0, 0, 0), RGBColor(255, 255, 255)},
                 {kBlue, RGBColor(255, 255, 255)}, {kRed, RGBColor(255, 255, 255)},
                 {RGBColor(255, 255, 0), 0}, {RGBColor(128, 128, 128), 0}, {RGBColor(127, 127, 127), RGBColor(255, 255, 255)}};
    for (const auto& c : cases) EXPECT_EQ(ContrastColor(c.c), c.edge) << std::hex << c.c;
}

TEST_F(MeshEditorTest, FirstGrabMarksThePartnerInTheCorner) {
    auto d = editor->P_MouseDown(0, 1, 0, 0, 0, true);
    EXPECT_TRUE(editor->dragging());
    EXPECT_EQ(editor->selectedI(), 1);
    EXPECT_EQ(editor->selectedJ(), 1);
    EXPECT_EQ(d.rect[1].left, 0);
    EXPECT_EQ(d.rect[1].top, 0);
    EXPECT_EQ(d.rect[1].right, 9);
    EXPECT_EQ(at(end, 6, 0), px(kGreen));
    EXPECT_EQ(at(end, 8, 0), 0u);
}

TEST_F(MeshEditorTest, GrabRadiusOfAZoomedView) {
    // Point (2, 2) at (100, 100); a view at 800 % grabs within half an image pixel.
    const struct {
        float x, radius;
        bool hit;
    } cases[] = {{100.4f, 0.5f, true}, {100.5f, 0.5f, false}, {109, 10, true}, {110, 10, false}, {103.9f, -1, true},
                 {104, -1, false}};
    for (const auto& c : cases) {
        editor->P_MouseDown(0, 1, 0, c.x, 100, true, c.radius);
        EXPECT_EQ(editor->dragging(), c.hit) << c.x << " within " << c.radius;
    }
}

TEST_F(MeshEditorTest, DragStaysInsideTheCanvasPerCoordinate) {
    editor->P_MouseDown(0, 1, 0, 100, 100, true);
    editor->P_MouseMove(0, 1, 0, 20, 60);
    EXPECT_EQ(model.StartMesh(2, 2), (MeshPoint{20, 60}));
    editor->P_MouseMove(0, 1, 0, -5, 70);  // x outside: keeps 20, y follows
    EXPECT_EQ(model.StartMesh(2, 2), (MeshPoint{20, 70}));
    editor->P_MouseMove(0, 1, 0, 300, 200);  // bounds included
    EXPECT_EQ(model.StartMesh(2, 2), (MeshPoint{300, 200}));
    editor->P_MouseMove(0, 1, 0, 300.5f, 201);
    EXPECT_EQ(model.StartMesh(2, 2), (MeshPoint{300, 200}));
    // Other buttons move nothing; release ends the drag.
    editor->P_MouseMove(0, 3, 0, 50, 50);
    editor->P_MouseMove(0, 2, 0, 50, 50);
    EXPECT_EQ(model.StartMesh(2, 2), (MeshPoint{300, 200}));
    editor->P_MouseUp(0, 2, 0, 50, 50);
    EXPECT_FALSE(editor->dragging());
    editor->P_MouseMove(0, 1, 0, 50, 50);
    EXPECT_EQ(model.StartMesh(2, 2), (MeshPoint{300, 200}));
    // The other mesh is untouched.
    EXPECT_EQ(model.EndMesh(2, 2), (MeshPoint{100, 100}));
}

TEST_F(MeshEditorTest, PartialRedrawEqualsFullRedraw) {
    // A dense mesh with large markers, random grabs on both canvases and long drags.
    model.ApplyMeshSettings(12, 9, 6, 300, 200, 300, 200);
    editor->Refresh_Mesh(0);
    editor->Refresh_Mesh(1);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> ux(-20, 320), uy(-20, 220);
    for (int grab = 0; grab < 30; ++grab) {
        const int index = grab % 3 == 0 ? 1 : 0;
        const MeshGrid& mesh = model.mesh(index);
        const MeshPoint p = mesh(1 + int(rng() % 13), 1 + int(rng() % 10));
        editor->P_MouseDown(index, 1, 0, p.x, p.y, true);
        ASSERT_TRUE(editor->dragging());
        PictureBox& box = index == 0 ? start : end;
        for (int step = 0; step < 8; ++step) {
            editor->P_MouseMove(index, 1, 0, ux(rng), uy(rng));
            ASSERT_TRUE(sameImage(box.image(), fullRender(box, index))) << "grab " << grab << " step " << step;
        }
        editor->P_MouseUp(index, 1, 0, 0, 0);
    }
}

TEST_F(MeshEditorTest, RefreshMeshRestoresThePicture) {
    editor->P_MouseDown(0, 1, 0, 100, 100, true);
    editor->P_MouseMove(0, 1, 0, 120, 90);
    auto d = editor->Refresh_Mesh(1);
    EXPECT_EQ(d.rect[1].right, 300);
    EXPECT_TRUE(sameImage(end.image(), fullRender(end, 1)));
}

TEST(DrawEdgeFrame, RaisedEdgeColours) {
    PictureBox box;
    box.backColor = RGBColor(1, 2, 3);
    box.resize(10, 8);
    DrawEdgeFrame(box);
    EXPECT_EQ(at(box, 5, 0), px(GetSysColor(22)));
    EXPECT_EQ(at(box, 5, 7), px(GetSysColor(21)));
    EXPECT_EQ(at(box, 9, 4), px(GetSysColor(21)));
    EXPECT_EQ(at(box, 5, 1), px(GetSysColor(20)));
    EXPECT_EQ(at(box, 5, 6), px(GetSysColor(16)));
    EXPECT_EQ(at(box, 5, 4), px(RGBColor(1, 2, 3)));
}

TEST(Rects, UnionAndIntersection) {
    Rect a{0, 0, 10, 10}, b{5, 5, 20, 8}, empty{};
    Rect u = UnionRect(a, b);
    EXPECT_EQ(u.right, 20);
    EXPECT_EQ(u.bottom, 10);
    Rect i = IntersectRect(a, b);
    EXPECT_EQ(i.left, 5);
    EXPECT_EQ(i.bottom, 8);
    EXPECT_TRUE(IntersectRect(a, Rect{10, 0, 12, 3}).isEmpty());
    EXPECT_EQ(UnionRect(empty, b).left, 5);
}

}  // namespace
}  // namespace tarnel
