// Zoom and scroll of the editor's views, driven through QTest events in the
// offscreen platform: dragging at other zooms, the wheel, the keys, the
// linked view and what a zoomed view paints.
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <memory>

#include "core/WindowLinks.h"
#include "editor/ui/Tarnel_M.h"
#include "imaging/PictureIO.h"
#include "platform/ProgramFolder.h"
#include "ui/widgets/ClickLabel.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "EditorWindowTest.h"

namespace tarnel {
namespace {

using test::ScriptedDialogs;
using test::TempDir;

uint32_t patternAt(int x, int y) { return uint32_t((x * 3) & 0xFF) << 16 | uint32_t((y * 5) & 0xFF) << 8 | 0x40; }

class ZoomTest : public test::EditorWindowTest {
protected:
    void SetUp() override {
        EditorWindowTest::SetUp();
        open();
    }
    // Both images w x h, the default 5 x 5 mesh, marker size 4.
    void loadBoth(int w, int h) {
        Bitmap b;
        ASSERT_TRUE(b.create(w, h, 32));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) b.setPixelValue(x, y, patternAt(x, y));
        const std::string path = sources.file("img.bmp");
        ASSERT_TRUE(SavePictureBMP(b, path));
        for (int i = 0; i < 2; ++i) openImage(i, path);
        ASSERT_TRUE(window->images.bothLoaded());
    }
    // A wheel turn at a point of the view (over the canvas when it is there).
    void wheel(int i, QPoint at, int delta, Qt::KeyboardModifiers modifiers) {
        QWidget* view = window->P[size_t(i)]->parentWidget();
        QWheelEvent e(at, view->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(view, &e);
    }
};

// A press and a drag at 200 % and at fit move the point to the image pixels
// under the pointer; zoomed out, a point is grabbed within 4 screen pixels.
TEST_F(ZoomTest, DragInImagePixelsAtEveryZoom) {
    loadBoth(640, 480);
    Tarnel_M& w = *window;
    const struct {
        ZoomLevel level;
        QPoint press, to;         // widget pixels
        MeshPoint expected;       // image pixels after the drag
    } cases[] = {
        // 200 %: image pixel 128 covers screen 256 and 257; 256 is 127.75.
        {{false, 200}, {256, 192}, {301, 251}, {150.25f, 125.25f}},
        // fit, 300 / 640: three screen pixels off is seven image pixels, still a grab.
        {{true, 100}, {63, 45}, {100, 80}, {213.9f, 171.23f}},
    };
    for (const auto& c : cases) {
        w.mesh.StartMesh(2, 2) = MeshPoint{128, 96};
        w.Refresh_Mesh(0);
        w.ZoomView(0, c.level, QPointF(0, 0));
        QTest::mousePress(w.P[0], Qt::LeftButton, {}, c.press);
        ASSERT_TRUE(w.meshEditor.dragging()) << c.level.percent;
        EXPECT_EQ(w.meshEditor.selectedI(), 2);
        EXPECT_EQ(w.meshEditor.selectedJ(), 2);
        QTest::mouseMove(w.P[0], c.to);
        QTest::mouseRelease(w.P[0], Qt::LeftButton, {}, c.to);
        EXPECT_NEAR(w.mesh.StartMesh(2, 2).x, c.expected.x, 0.01) << c.level.percent;
        EXPECT_NEAR(w.mesh.StartMesh(2, 2).y, c.expected.y, 0.01) << c.level.percent;
    }
    // At 800 % four screen pixels are half an image pixel: 0.56 away misses.
    w.ZoomView(1, ZoomLevel{false, 800}, QPointF(0, 0));
    w.P_MouseDown(1, 1, 0, 128.56f, 96);
    EXPECT_FALSE(w.meshEditor.dragging());
    w.P_MouseDown(1, 1, 0, 128.4f, 96);
    EXPECT_TRUE(w.meshEditor.dragging());
}

TEST_F(ZoomTest, CtrlWheelZoomsAroundThePointerAndTheWheelScrolls) {
    loadBoth(640, 480);
    Tarnel_M& w = *window;
    wheel(0, QPoint(100, 80), 120, Qt::ControlModifier);
    EXPECT_EQ(w.lbl_Zoom[0]->text(), "150%");
    EXPECT_EQ(w.P[0]->size(), QSize(960, 720));
    // Image point 100 sat at view pixel 100; at 150 % it stays there.
    EXPECT_EQ(w.HScroll[0]->value(), 50);
    EXPECT_EQ(w.VScroll[0]->value(), 40);
    EXPECT_EQ(w.HScroll[0]->maximum(), 960 - 300 + 16);
    EXPECT_EQ(w.P[0]->pos(), QPoint(-50, -40));
    // Down to fit: the whole image shows, no bars.
    for (int k = 0; k < 4; ++k) wheel(0, QPoint(10, 10), -120, Qt::ControlModifier);  // 100, 67, 50, fit
    EXPECT_EQ(w.P[0]->size(), QSize(300, 225));
    EXPECT_TRUE(w.HScroll[0]->isHidden());
    EXPECT_TRUE(w.Cmd_D[0]->isHidden());
    EXPECT_EQ(w.zoomLevel[0], (ZoomLevel{true, 100}));
    // The badge goes back to 100 %: the bars of a 640 x 480 image.
    QTest::mouseClick(w.lbl_Zoom[0], Qt::LeftButton);
    EXPECT_EQ(w.P[0]->size(), QSize(640, 480));
    EXPECT_EQ(w.HScroll[0]->maximum(), 356);
    // The plain wheel scrolls down, with Shift across.
    const int top = w.VScroll[0]->value();
    wheel(0, QPoint(10, 10), -120, Qt::NoModifier);
    EXPECT_GT(w.VScroll[0]->value(), top);
    const int left = w.HScroll[0]->value();
    wheel(0, QPoint(10, 10), -120, Qt::ShiftModifier);
    EXPECT_GT(w.HScroll[0]->value(), left);
    EXPECT_EQ(w.zoomLevel[1], (ZoomLevel{false, 100}));  // the other view keeps its zoom
}

TEST_F(ZoomTest, KeysZoomTheLastViewButNotWhileTyping) {
    loadBoth(640, 480);
    Tarnel_M& w = *window;
    wheel(1, QPoint(10, 10), -120, Qt::NoModifier);  // the end view was used last
    QTest::keyClick(&w, Qt::Key_Minus);
    EXPECT_EQ(w.zoomLevel[1], (ZoomLevel{false, 67}));
    QTest::keyClick(&w, Qt::Key_Plus, Qt::KeypadModifier);
    QTest::keyClick(&w, Qt::Key_Plus);
    EXPECT_EQ(w.zoomLevel[1], (ZoomLevel{false, 150}));
    QTest::keyClick(&w, Qt::Key_0);
    EXPECT_EQ(w.zoomLevel[1], (ZoomLevel{false, 100}));
    EXPECT_EQ(w.zoomLevel[0], (ZoomLevel{false, 100}));
    // Digits and signs typed into a text box stay there.
    w.txt_w->setFocus();
    QTest::keyClicks(w.txt_w, "10");
    QTest::keyClick(w.txt_w, Qt::Key_Minus);
    EXPECT_EQ(w.txt_w->text().left(2), "10");
    EXPECT_EQ(w.zoomLevel[1], (ZoomLevel{false, 100}));
}

TEST_F(ZoomTest, LinkedViewScrollsToShowThePartner) {
    loadBoth(640, 480);
    Tarnel_M& w = *window;
    w.ZoomView(1, ZoomLevel{false, 200}, QPointF(0, 0));
    ASSERT_EQ(w.HScroll[1]->value(), 0);
    // Point (5, 5) at (512, 384): the partner lies far outside the zoomed end view.
    w.P_MouseDown(0, 1, 0, 512, 384);
    ASSERT_TRUE(w.meshEditor.dragging());
    ASSERT_TRUE(w.meshEditor.partner(1).shown);
    const int x = 1024 - w.HScroll[1]->value(), y = 768 - w.VScroll[1]->value();
    EXPECT_GE(x, 4);
    EXPECT_LE(x, 284 - 4);
    EXPECT_GE(y, 4);
    EXPECT_LE(y, 284 - 4);
    w.P_MouseUp(0, 1, 0, 512, 384);
    // Unlinked, the end view stays where it is.
    QTest::mouseClick(w.lbl_Link, Qt::LeftButton);
    EXPECT_FALSE(w.linkedViews);
    const QPoint before(w.HScroll[1]->value(), w.VScroll[1]->value());
    w.P_MouseDown(0, 1, 0, 128, 96);
    ASSERT_TRUE(w.meshEditor.dragging());
    EXPECT_EQ(QPoint(w.HScroll[1]->value(), w.VScroll[1]->value()), before);
}

// Zoomed in, the picture shows in blocks of whole pixels, with the mesh over
// it in one-pixel lines and the partner ring in the pointer colour.
TEST_F(ZoomTest, ZoomedViewPaintsPixelBlocksAndTheMesh) {
    loadBoth(640, 480);
    Tarnel_M& w = *window;
    w.P_MouseDown(0, 1, 0, 128, 96);  // partner ring around (128, 96) on the end view
    w.P_MouseUp(0, 1, 0, 128, 96);
    w.ZoomView(1, ZoomLevel{false, 400}, QPointF(0, 0));
    const QImage shot = w.P[1]->grab(QRect(0, 0, 600, 500)).toImage().convertToFormat(QImage::Format_RGB32);
    auto rgb = [&](int x, int y) { return shot.pixel(x, y) & 0xFFFFFF; };
    // Image pixel (40, 60) fills screen pixels 160..163 x 240..243.
    for (int dy = 0; dy < 4; ++dy)
        for (int dx = 0; dx < 4; ++dx) EXPECT_EQ(rgb(160 + dx, 240 + dy), patternAt(40, 60)) << dx << "," << dy;
    // The vertical line x = 128 is one screen pixel wide, in the line colour (red).
    int red = 0;
    for (int x = 505; x < 520; ++x) red += rgb(x, 50) == 0xFF0000 ? 1 : 0;
    EXPECT_EQ(red, 1);
    // Along the line y = 96 left of the point: the ring in the pointer colour
    // edged in black, then the point's own marker.
    const uint32_t across[] = {0xFF0000, 0x000000, 0x00FF00, 0x00FF00, 0x000000, 0x00FF00, 0xFF0000};
    for (int k = 0; k < 7; ++k) EXPECT_EQ(rgb(505 + k, 386), across[k]) << 505 + k;
}

}  // namespace
}  // namespace tarnel
