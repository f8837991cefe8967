// The small controls the windows are built from: picture boxes, spinners,
// clickable labels, the skin tiling and the file-dialog filters.
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "ui/Skin.h"
#include "ui/widgets/ClickLabel.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/QtDialogs.h"
#include "ui/widgets/Spinner.h"

namespace tarnel {
namespace {

TEST(PictureBoxWidget, FollowsTheModelAndPaintsItsImage) {
    PictureBox box;
    box.backColor = RGBColor(255, 255, 255);
    box.resize(40, 30);
    box.image().setPixelValue(7, 5, 0x123456);
    PictureBoxWidget widget(&box);
    EXPECT_EQ(widget.size(), QSize(40, 30));
    QImage shot = widget.grab().toImage();
    EXPECT_EQ(shot.pixel(7, 5) & 0xFFFFFF, 0x123456u);
    EXPECT_EQ(shot.pixel(8, 5) & 0xFFFFFF, 0xFFFFFFu);
    box.resize(10, 12);
    widget.syncSize();
    EXPECT_EQ(widget.size(), QSize(10, 12));
}

TEST(PictureBoxWidget, ReportsModelPixelsAndButtonCodes) {
    PictureBox box;
    box.resize(50, 50);
    PictureBoxWidget widget(&box);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QSignalSpy down(&widget, &PictureBoxWidget::mouseDown);
    QSignalSpy move(&widget, &PictureBoxWidget::mouseMove);
    QSignalSpy up(&widget, &PictureBoxWidget::mouseUp);
    QTest::mousePress(&widget, Qt::RightButton, Qt::ShiftModifier, QPoint(12, 34));
    QTest::mouseMove(&widget, QPoint(20, 21));
    QTest::mouseRelease(&widget, Qt::RightButton, {}, QPoint(20, 21));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down[0][0].toInt(), 2);
    EXPECT_EQ(down[0][1].toInt(), 1);
    EXPECT_FLOAT_EQ(down[0][2].toFloat(), 12);
    EXPECT_FLOAT_EQ(down[0][3].toFloat(), 34);
    ASSERT_GE(move.count(), 1);
    EXPECT_EQ(move.last()[0].toInt(), 2);
    EXPECT_FLOAT_EQ(move.last()[2].toFloat(), 20);
    ASSERT_EQ(up.count(), 1);
    EXPECT_EQ(PictureBoxWidget::buttonCode(Qt::LeftButton | Qt::RightButton), 3);
    EXPECT_EQ(PictureBoxWidget::buttonCode(Qt::MiddleButton), 4);
    EXPECT_EQ(PictureBoxWidget::shiftCode(Qt::ControlModifier | Qt::AltModifier), 6);
}

TEST(Spinner, UpRaisesDownLowersWithinTheRange) {
    Spinner spinner(1, 3, 2);
    spinner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&spinner));
    QSignalSpy changed(&spinner, &Spinner::changed);
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(7, 3));
    EXPECT_EQ(spinner.value(), 3);
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(7, 3));
    EXPECT_EQ(spinner.value(), 3);  // at the top: no change, no event
    EXPECT_EQ(changed.count(), 1);
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(7, 17));
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(7, 17));
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(7, 17));
    EXPECT_EQ(spinner.value(), 1);
    EXPECT_EQ(changed.count(), 3);
    EXPECT_FALSE(spinner.setValue(0));
    EXPECT_FALSE(spinner.setValue(4));
    EXPECT_EQ(spinner.value(), 1);
    EXPECT_TRUE(spinner.setValue(2));
    EXPECT_EQ(changed.count(), 4);
    spinner.setEnabled(false);
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(7, 3));
    EXPECT_EQ(spinner.value(), 2);
}

TEST(ClickLabel, ReportsPressesWithTheirButton) {
    ClickLabel label("BMP");
    label.resize(40, 20);
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    QSignalSpy down(&label, &ClickLabel::mouseDown);
    QTest::mouseClick(&label, Qt::MiddleButton, {}, QPoint(3, 3));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down[0][0].toInt(), 4);
    EXPECT_EQ(down[0][2].toPoint(), label.mapToGlobal(QPoint(3, 3)));
}

TEST(QtDialogs, FiltersInQtForm) {
    EXPECT_EQ(QtDialogs::nameFilters("画像ﾌｧｲﾙ (JPG、BMP、GIF)|*.jpg;*.bmp;*.gif"),
              QStringList{QStringLiteral("画像ﾌｧｲﾙ (JPG、BMP、GIF) (*.jpg *.bmp *.gif)")});
    EXPECT_EQ(QtDialogs::nameFilters("AVI Videoﾌｧｲﾙ (avi)|*.avi|All|*.*"),
              (QStringList{QStringLiteral("AVI Videoﾌｧｲﾙ (avi) (*.avi)"), QStringLiteral("All (*.*)")}));
    EXPECT_EQ(QtDialogs::nameFilters(""), QStringList{QStringLiteral("* (*)")});
}

TEST(Skin, TextureTilesFromTheTopLeftCorner) {
    const Skin& skin = Skin::get();
    QImage tile = skin.texture.toImage();
    const int n = int(tile.width() / skin.texture.devicePixelRatio());
    ASSERT_GT(n, 0);
    QImage face(n * 2 + 17, n + 9, QImage::Format_RGB32);
    face.fill(Qt::black);
    {
        QPainter p(&face);
        PaintSkin(p, face.width(), face.height());
    }
    for (QPoint at : {QPoint(0, 0), QPoint(n + 3, 5), QPoint(2 * n + 16, n + 8), QPoint(n - 1, n - 1)})
        EXPECT_EQ(face.pixel(at), tile.pixel(at.x() % n, at.y() % n)) << at.x() << "," << at.y();
    // Seamless: the tile's opposite edges are close in colour.
    auto diff = [](QRgb a, QRgb b) { return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)); };
    for (int k = 0; k < n; k += 7) {
        EXPECT_LT(diff(tile.pixel(0, k), tile.pixel(n - 1, k)), 40) << k;
        EXPECT_LT(diff(tile.pixel(k, 0), tile.pixel(k, n - 1)), 40) << k;
    }
}

TEST(Skin, PicturesHaveTheirSizes) {
    const Skin& skin = Skin::get();
    auto logical = [](const QPixmap& pm) { return pm.deviceIndependentSize().toSize(); };
    EXPECT_EQ(logical(skin.exitNormal), QSize(16, 16));
    EXPECT_EQ(logical(skin.exitPressed), QSize(16, 16));
    EXPECT_NE(skin.exitNormal.toImage(), skin.exitPressed.toImage());
    EXPECT_EQ(logical(skin.optOn), QSize(14, 14));
    EXPECT_NE(skin.optOn.toImage(), skin.optOff.toImage());
    EXPECT_EQ(logical(skin.switchOn), QSize(34, 16));
    EXPECT_NE(skin.switchOn.toImage(), skin.switchOff.toImage());
    EXPECT_EQ(logical(skin.titlePlate), QSize(150, 20));
    EXPECT_EQ(logical(skin.titleStrip(300, "Tarnel")), QSize(300, 20));
    EXPECT_EQ(skin.cursor.shape(), Qt::BitmapCursor);
    EXPECT_FALSE(skin.icon.isNull());
}

}  // namespace
}  // namespace tarnel
