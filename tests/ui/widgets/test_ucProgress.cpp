// The progress bar widget: what it paints, when it repaints, and that a
// long operation driving it lets the window paint.
#include <QMetaObject>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/widgets/ucProgress.h"

namespace tarnel {
namespace {

QRgb at(const QImage& shot, int x, int y) { return shot.pixel(x, y) & 0xFFFFFF; }

constexpr QRgb kHighlight = 0x0A246A, kButtonFace = 0xD4D0C8;

TEST(ucProgress, PaintsTheFilledLengthInsideItsBorder) {
    ucProgress bar;
    bar.resize(105, 16);  // sunken border: a 101-pixel client
    bar.SetValue(50);
    EXPECT_EQ(bar.model().FilledLength(), 50);
    QImage shot = bar.grab().toImage();
    EXPECT_EQ(at(shot, 2 + 49, 8), kHighlight);
    EXPECT_EQ(at(shot, 2 + 50, 8), kButtonFace);
    EXPECT_EQ(at(shot, 2, 2), kHighlight);
    EXPECT_NE(at(shot, 0, 8), kHighlight);  // the border

    bar.SetBorderStyle(kProgressBorderNone);
    bar.SetForeColor(0x0000FF);  // red as 0x00BBGGRR
    shot = bar.grab().toImage();
    EXPECT_EQ(at(shot, 0, 0), 0xFF0000u);
    EXPECT_EQ(at(shot, 51, 0), 0xFF0000u);   // 52 of 105
    EXPECT_EQ(at(shot, 53, 0), kButtonFace);
}

TEST(ucProgress, VerticalBarFillsFromTheBottomAfterSwappingItsSize) {
    ucProgress bar;
    bar.SetBorderStyle(kProgressBorderNone);
    bar.resize(100, 10);
    bar.SetOrientation(kProgressVertical);
    EXPECT_EQ(bar.size(), QSize(10, 100));
    bar.SetValue(25);
    const QImage shot = bar.grab().toImage();
    EXPECT_EQ(at(shot, 5, 99), kHighlight);
    EXPECT_EQ(at(shot, 5, 75), kHighlight);
    EXPECT_EQ(at(shot, 5, 74), kButtonFace);
}

TEST(ucProgress, RepaintsOnlyWhenTheLengthChanges) {
    ucProgress bar;
    bar.SetBorderStyle(kProgressBorderNone);
    bar.resize(50, 10);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    const int before = bar.repaintRequests();
    bar.SetValue(1);
    bar.SetValue(0);
    EXPECT_EQ(bar.repaintRequests(), before);
    bar.SetValue(2);
    EXPECT_EQ(bar.repaintRequests(), before + 1);
    bar.SetMax(0);
    EXPECT_EQ(bar.Max(), 1);
}

TEST(ucProgress, AChangedValueLetsPendingWorkRun) {
    ucProgress bar;
    bar.SetPumpInterval(0);
    ProgressSink& sink = bar;  // as the imaging operations see it
    sink.SetMax(10);
    int ran = 0;
    QMetaObject::invokeMethod(&bar, [&] { ++ran; }, Qt::QueuedConnection);
    sink.SetValue(0);  // unchanged: nothing runs
    EXPECT_EQ(ran, 0);
    sink.SetValue(1);
    EXPECT_EQ(ran, 1);

    // Only when the value changes.
    QMetaObject::invokeMethod(&bar, [&] { ++ran; }, Qt::QueuedConnection);
    sink.SetValue(1);
    EXPECT_EQ(ran, 1);
    sink.SetValue(2);
    EXPECT_EQ(ran, 2);
}

TEST(ucProgress, PassesMouseEventsOnAndClicks) {
    ucProgress bar;
    bar.resize(100, 12);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    QSignalSpy down(&bar, &ucProgress::MouseDown);
    QSignalSpy clicked(&bar, &ucProgress::Click);
    QTest::mouseClick(&bar, Qt::RightButton, Qt::ControlModifier, QPoint(30, 4));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down[0][0].toInt(), 2);
    EXPECT_EQ(down[0][1].toInt(), 2);
    EXPECT_FLOAT_EQ(down[0][2].toFloat(), 30);
    EXPECT_EQ(clicked.count(), 1);
}

}  // namespace
}  // namespace tarnel
