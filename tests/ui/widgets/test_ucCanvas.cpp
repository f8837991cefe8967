// The canvas widget on an offscreen screen: what it paints, what a click
// reports, dragging, scroll bars and the pointer.
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "support/Images.h"
#include "ui/widgets/ucCanvas.h"

namespace tarnel {
namespace {

using test::Rgb;

Rgb positionColour(int x, int y) { return Rgb{(x * 2) & 0xFF, (y * 4) & 0xFF, 0x40}; }

Rgb shotPixel(const QImage& shot, int x, int y) {
    QRgb p = shot.pixel(x, y);
    return Rgb{qRed(p), qGreen(p), qBlue(p)};
}

// A shown 300 x 300 canvas holding a 100 x 50 picture at the given zoom.
class CanvasTest : public ::testing::Test {
protected:
    void SetUp() override {
        canvas.resize(300, 300);
        canvas.DIB() = test::makeImage(100, 50, positionColour);
        canvas.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&canvas));
    }
    void zoom(int z) {
        canvas.SetZoom(z);
        canvas.Resize();
        canvas.Repaint();
    }
    void send(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, at, canvas.mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(&canvas, &e);
    }

    ucCanvas canvas;
};

TEST_F(CanvasTest, ClickReportsPicturePixelsAndThePaintShowsThatPixel) {
    zoom(2);
    QSignalSpy down(&canvas, &ucCanvas::MouseDown);
    QSignalSpy up(&canvas, &ucCanvas::MouseUp);
    QTest::mouseClick(&canvas, Qt::LeftButton, Qt::ShiftModifier, QPoint(60, 110));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down[0][0].toInt(), 1);
    EXPECT_EQ(down[0][1].toInt(), 1);
    EXPECT_EQ(down[0][2].toInt(), 5);
    EXPECT_EQ(down[0][3].toInt(), 5);
    ASSERT_EQ(up.count(), 1);
    EXPECT_EQ(up[0][2].toInt(), 5);

    const QImage shot = canvas.grab().toImage();
    EXPECT_EQ(shotPixel(shot, 60, 110), positionColour(5, 5));
    EXPECT_EQ(shotPixel(shot, 50, 100), positionColour(0, 0));
    EXPECT_EQ(shotPixel(shot, 249, 149), positionColour(99, 24));
    // Application workspace grey around the picture.
    EXPECT_EQ(shotPixel(shot, 49, 100), (Rgb{128, 128, 128}));
    EXPECT_EQ(shotPixel(shot, 150, 200), (Rgb{128, 128, 128}));
}

TEST_F(CanvasTest, DraggingWithTheLeftButtonScrollsAndRepaints) {
    zoom(4);
    ASSERT_EQ(canvas.layout().ScrollX(), 50);
    EXPECT_EQ(canvas.cursor().shape(), Qt::SizeAllCursor);
    QSignalSpy scrolled(&canvas, &ucCanvas::Scroll);
    QSignalSpy moved(&canvas, &ucCanvas::MouseMove);
    send(QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPointF(60, 100), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(scrolled.count(), 1);
    EXPECT_EQ(canvas.layout().ScrollX(), 90);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved[0][0].toInt(), 1);
    EXPECT_EQ(moved[0][2].toInt(), (60 + 90) / 4);
    send(QEvent::MouseButtonRelease, QPointF(60, 100), Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseMove, QPointF(0, 100), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(scrolled.count(), 1);

    // 90 zoomed pixels in: control x 0 and 1 show the last half of column 22.
    const QImage shot = canvas.grab().toImage();
    EXPECT_EQ(shotPixel(shot, 0, 60), positionColour(22, 2));
    EXPECT_EQ(shotPixel(shot, 1, 60), positionColour(22, 2));
    EXPECT_EQ(shotPixel(shot, 2, 60), positionColour(23, 2));
    EXPECT_EQ(shotPixel(shot, 299, 60), positionColour(97, 2));
}

TEST_F(CanvasTest, PointerFollowsWorkModeAndUserIcon) {
    zoom(1);
    EXPECT_FALSE(canvas.testAttribute(Qt::WA_SetCursor));
    QPixmap icon(16, 16);
    icon.fill(Qt::red);
    canvas.SetUserIcon(QCursor(icon));
    canvas.SetWorkMode(1);
    EXPECT_EQ(canvas.cursor().shape(), Qt::BitmapCursor);
    // While the container owns the mouse, dragging does not scroll.
    zoom(4);
    QSignalSpy scrolled(&canvas, &ucCanvas::Scroll);
    send(QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPointF(60, 100), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(scrolled.count(), 0);
    canvas.SetWorkMode(0);
    EXPECT_EQ(canvas.cursor().shape(), Qt::SizeAllCursor);
}

TEST_F(CanvasTest, ScrollBarsShowAndMoveTheView) {
    canvas.SetScrollBars(true);
    zoom(4);
    QScrollBar* across = canvas.horizontalBar();
    EXPECT_TRUE(across->isVisible());
    EXPECT_FALSE(canvas.verticalBar()->isVisible());
    EXPECT_EQ(across->maximum(), 100);
    EXPECT_EQ(across->value(), 50);
    EXPECT_EQ(canvas.layout().ClientHeight(), 300 - across->height());
    QSignalSpy scrolled(&canvas, &ucCanvas::Scroll);
    across->setValue(70);
    EXPECT_EQ(scrolled.count(), 1);
    EXPECT_EQ(canvas.layout().ScrollX(), 70);
    // Dragging moves the bar along.
    send(QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPointF(110, 100), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(across->value(), 60);
}

TEST_F(CanvasTest, ResizingTheControlLaysOutAgainAndRaisesResized) {
    zoom(4);
    QSignalSpy resized(&canvas, &ucCanvas::Resized);
    canvas.resize(500, 300);
    EXPECT_EQ(resized.count(), 1);
    EXPECT_EQ(canvas.layout().ScrollMaxX(), 0);
    EXPECT_EQ(canvas.layout().PictureLeft(), 50);
    canvas.SetBackColor(RGBColor(0, 200, 0));
    EXPECT_EQ(shotPixel(canvas.grab().toImage(), 10, 10), (Rgb{0, 200, 0}));
}

}  // namespace
}  // namespace tarnel
