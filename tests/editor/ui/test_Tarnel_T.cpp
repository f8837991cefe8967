// The trimming window and the behaviour every skinned window shares.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "core/WindowLinks.h"
#include "ui/Skin.h"
#include "editor/ui/Tarnel_T.h"
#include "ui/ZoomAnimation.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "support/FakeScreen.h"

namespace tarnel {
namespace {

uint32_t patternAt(int x, int y) { return uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | 0x11; }

// An editor image box holding a w x h picture.
void fill(PictureBox& box, int w, int h) {
    box.backColor = RGBColor(255, 255, 255);
    StdPicture pic;
    pic.bitmap = std::make_shared<Bitmap>();
    ASSERT_TRUE(pic.bitmap->create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pic.bitmap->setPixelValue(x, y, patternAt(x, y));
    box.setPicture(pic);
}

class TrimmingTest : public ::testing::Test {
protected:
    PictureBox target;
    std::unique_ptr<Tarnel_T> window;

    void open(int imageW, int imageH, int trimW, int trimH) {
        fill(target, imageW, imageH);
        Links().TrimAccepted = false;
        window = std::make_unique<Tarnel_T>(target, trimW, trimH);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    // Drags the image by (dx, dy) with the left button.
    void drag(int dx, int dy, Qt::MouseButton button = Qt::LeftButton) {
        const QPoint start(5, 5);
        QTest::mousePress(window->P, button, {}, start);
        QTest::mouseMove(window->P, start + QPoint(dx, dy));
        QTest::mouseRelease(window->P, button, {}, start);
    }
    uint32_t cut(int x, int y) const { return target.picture().bitmap->pixelValue(x, y); }
};

TEST_F(TrimmingTest, RectangleCentredInTheView) {
    open(640, 480, 200, 100);
    EXPECT_EQ(window->lbl[0]->text(), "ﾄﾘﾐﾝｸﾞのｻｲｽﾞ： 200 * 100");
    EXPECT_EQ(window->lbl[1]->text(), "画像をﾄﾞﾗｯｸﾞして枠内にﾄﾘﾐﾝｸﾞ");
    EXPECT_EQ(window->PicBack->size(), QSize(360, 360));
    EXPECT_EQ(window->Pic_Line[0]->geometry(), QRect(80, 130, 200, 2));
    EXPECT_EQ(window->Pic_Line[1]->geometry(), QRect(80, 228, 200, 2));
    EXPECT_EQ(window->Pic_Line[2]->geometry(), QRect(80, 130, 2, 100));
    EXPECT_EQ(window->Pic_Line[3]->geometry(), QRect(278, 130, 2, 100));
    EXPECT_EQ(window->P->pos(), QPoint(0, 0));
    EXPECT_EQ(window->P->size(), QSize(640, 480));
    EXPECT_EQ(window->Cmd_End->text(), "OK");
    EXPECT_EQ(window->Cmd_Can->text(), "ｷｬﾝｾﾙ");
    EXPECT_EQ(window->Cmd_End->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(window->ImgExit->cursor().shape(), Qt::BitmapCursor);
}

TEST_F(TrimmingTest, LargerThanTheViewStartsOutside) {
    open(640, 480, 401, 380);
    EXPECT_EQ(window->Pic_Line[0]->pos(), QPoint(-20, -10));
    EXPECT_EQ(window->Pic_Line[3]->x(), -20 + 401 - 2);
    window->Cmd_End_Click();
    EXPECT_TRUE(Links().TrimAccepted);
    EXPECT_EQ(target.scaleWidth(), 401);
    EXPECT_EQ(target.scaleHeight(), 380);
    // (-20, -10) lies off the image: white there, the image from (0, 0) on.
    EXPECT_EQ(cut(0, 0), 0xFFFFFFu);
    EXPECT_EQ(cut(20, 10), patternAt(0, 0));
}

TEST_F(TrimmingTest, OkWithoutDragging) {
    open(640, 480, 200, 100);
    QTest::mouseClick(window->Cmd_End, Qt::LeftButton);
    EXPECT_TRUE(Links().TrimAccepted);
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(target.scaleWidth(), 200);
    EXPECT_EQ(target.scaleHeight(), 100);
    EXPECT_EQ(cut(0, 0), patternAt(80, 130));
    EXPECT_EQ(cut(199, 99), patternAt(279, 229));
}

TEST_F(TrimmingTest, DraggedImageIsCutWhereTheRectangleLies) {
    struct Case {
        int dx, dy, fromX, fromY;
    } cases[] = {{30, 10, 50, 120}, {-40, -100, 120, 230}, {0, 0, 80, 130}, {80, 130, 0, 0}};
    for (const Case& c : cases) {
        open(640, 480, 200, 100);
        drag(c.dx, c.dy);
        EXPECT_EQ(window->P->pos(), QPoint(c.dx, c.dy));
        EXPECT_FALSE(window->draggingImage());
        window->Cmd_End_Click();
        EXPECT_EQ(cut(0, 0), patternAt(c.fromX, c.fromY)) << c.dx << "," << c.dy;
        EXPECT_EQ(cut(199, 99), patternAt(c.fromX + 199, c.fromY + 99)) << c.dx << "," << c.dy;
    }
}

TEST_F(TrimmingTest, RectangleOffTheImageIsFilledWhite) {
    open(300, 200, 100, 100);
    drag(200, 0);  // the image's left edge now lies right of the rectangle's middle
    window->Cmd_End_Click();
    // The rectangle starts at x0 = 130 in the view, the image at 200.
    EXPECT_EQ(cut(0, 50), 0xFFFFFFu);
    EXPECT_EQ(cut(69, 50), 0xFFFFFFu);
    EXPECT_EQ(cut(70, 50), patternAt(0, 180));
}

TEST_F(TrimmingTest, OnlyTheLeftButtonDrags) {
    open(640, 480, 200, 100);
    drag(30, 10, Qt::RightButton);
    EXPECT_EQ(window->P->pos(), QPoint(0, 0));
}

TEST_F(TrimmingTest, CancelAndExitImageLeaveTheImage) {
    open(640, 480, 200, 100);
    drag(30, 10);
    QTest::mouseClick(window->Cmd_Can, Qt::LeftButton);
    EXPECT_FALSE(Links().TrimAccepted);
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_EQ(target.scaleWidth(), 640);
    open(640, 480, 200, 100);
    QTest::mousePress(window->ImgExit, Qt::LeftButton);
    EXPECT_EQ(window->ImgExit->pixmap().toImage(), Skin::get().exitPressed.toImage());
    QTest::mouseRelease(window->ImgExit, Qt::LeftButton);
    EXPECT_EQ(window->ImgExit->pixmap().toImage(), Skin::get().exitNormal.toImage());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(Links().TrimAccepted);
    EXPECT_EQ(target.scaleHeight(), 480);
}

TEST_F(TrimmingTest, FramelessSizedFromTheFaceAndCentred) {
    open(100, 100, 50, 50);
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->height(), window->face()->height() + 20);
    EXPECT_EQ(window->width(), window->face()->width());
    EXPECT_EQ(window->face()->pos(), QPoint(0, 20));
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window->x(), screen.left() + (screen.width() - window->width()) / 2);
    EXPECT_EQ(window->y(), screen.top() + (screen.height() - window->height()) / 2);
}

TEST_F(TrimmingTest, APhotoOfFourThousandPixelsLeavesTheWindowOnAScreenWithAPanel) {
    const QRect available(0, 32, 1600, 968);
    test::FakeScreen fake(QRect(0, 0, 1600, 1000), available);
    open(4000, 3000, 640, 480);
    EXPECT_TRUE(available.contains(window->geometry()));
    for (QWidget* w : std::initializer_list<QWidget*>{window->Image1, window->ImgExit, window->lbl[0], window->lbl[1],
                                                      window->PicBack, window->Cmd_End, window->Cmd_Can})
        EXPECT_TRUE(available.contains(test::ScreenRectOf(w))) << w->metaObject()->className();
    // The whole photo lies under the view, one pixel per pixel, to be dragged.
    EXPECT_EQ(window->P->size(), QSize(4000, 3000));
    EXPECT_EQ(window->PicBack->size(), QSize(360, 360));
}

TEST_F(TrimmingTest, ZoomOverlaysComeAndGoWithoutTakingInput) {
    ASSERT_TRUE(QTest::qWaitFor([] { return ZoomOverlayCount() == 0; }, 5000));
    open(100, 100, 50, 50);
    EXPECT_GE(ZoomOverlayCount(), 1);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == window.get() || !w->isVisible()) continue;
        EXPECT_TRUE(w->testAttribute(Qt::WA_TransparentForMouseEvents));
        EXPECT_TRUE(w->windowFlags() & Qt::WindowTransparentForInput);
    }
    // The window takes input while the zoom runs.
    drag(10, 10);
    EXPECT_EQ(window->P->pos(), QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitFor([] { return ZoomOverlayCount() == 0; }, 5000));
    window->Cmd_Can_Click();
    EXPECT_EQ(ZoomOverlayCount(), 1);  // the closing zoom
    ASSERT_TRUE(QTest::qWaitFor([] { return ZoomOverlayCount() == 0; }, 5000));
}

}  // namespace
}  // namespace tarnel
