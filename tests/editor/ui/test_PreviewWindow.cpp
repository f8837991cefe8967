// The live preview window, opened as the editor opens it.
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>

#include "core/Mesh.h"
#include "editor/ui/PreviewWindow.h"
#include "platform/PictureBox.h"
#include "support/Images.h"
#include "ui/ChildWindows.h"

namespace tarnel {
namespace {

bool sameAsPicture(const Bitmap& frame, const StdPicture& picture) {
    if (frame.width() != picture.width() || frame.height() != picture.height()) return false;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if ((frame.pixelValue(x, y) & 0xFFFFFF) != (picture.bitmap->pixelValue(x, y) & 0xFFFFFF)) return false;
    return true;
}

class PreviewWindowTest : public ::testing::Test {
protected:
    PictureBox start, end;
    MeshModel mesh;
    int totalFrames = 4;
    LivePreviewHandle handle;
    PreviewWindow* window = nullptr;

    void open(int w, int h) {
        start.setPicture(test::makePicture(w, h, [](int x, int y) { return uint32_t(x * 3) << 16 | uint32_t(y); }));
        end.setPicture(test::makePicture(w, h, [](int x, int y) { return uint32_t(y * 2) << 8 | uint32_t(x); }));
        mesh.Rows = mesh.Columns = 2;
        mesh.Triangles(0, w, h);
        mesh.Triangles(1, w, h);
        RegisterPreviewWindow();
        ASSERT_TRUE(ChildWindows().preview);
        handle.reset(ChildWindows().preview(nullptr, PreviewInputs{&start, &end, &mesh, &totalFrames}));
        window = dynamic_cast<PreviewWindow*>(handle.get());
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitFor([this] { return window->framesShown() >= 1; }, 5000));
    }
    void TearDown() override {
        if (handle) handle->closePreview();
        EXPECT_TRUE(QTest::qWaitFor([this] { return !handle; }, 5000));
    }
    // Waits for the frame of the current request.
    void waitForFrame(int shownBefore) {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return window->framesShown() > shownBefore && window->shownT() == window->t() &&
                       window->shownSize() == window->fullSize();
            },
            5000));
    }
};

TEST_F(PreviewWindowTest, OpensOnTheStartFrameAndFollowsTheSlider) {
    ASSERT_NO_FATAL_FAILURE(open(64, 48));
    EXPECT_EQ(window->windowTitle(), "ﾌﾟﾚﾋﾞｭｰ");
    EXPECT_TRUE(window->windowFlags() & Qt::Tool);
    EXPECT_FALSE(window->isModal());
    EXPECT_TRUE(sameAsPicture(window->shownFrame(), start.picture()));
    EXPECT_EQ(window->lbl_Frame->text(), "ﾌﾚｰﾑ 1/5    t = 0.000");

    int shown = window->framesShown();
    window->HS_T->setValue(1000);
    ASSERT_NO_FATAL_FAILURE(waitForFrame(shown));
    EXPECT_TRUE(sameAsPicture(window->shownFrame(), end.picture()));
    EXPECT_EQ(window->lbl_Frame->text(), "ﾌﾚｰﾑ 5/5    t = 1.000");

    shown = window->framesShown();
    window->HS_T->setValue(500);
    ASSERT_NO_FATAL_FAILURE(waitForFrame(shown));
    EXPECT_FALSE(sameAsPicture(window->shownFrame(), start.picture()));
    EXPECT_FALSE(sameAsPicture(window->shownFrame(), end.picture()));
}

TEST_F(PreviewWindowTest, KeysStepWholeFrames) {
    ASSERT_NO_FATAL_FAILURE(open(40, 30));
    struct Step {
        Qt::Key key;
        double t;
        int slider;
        const char* label;
    };
    for (Step s : {Step{Qt::Key_Right, 0.25, 250, "ﾌﾚｰﾑ 2/5    t = 0.250"}, Step{Qt::Key_End, 1.0, 1000, "ﾌﾚｰﾑ 5/5    t = 1.000"},
                   Step{Qt::Key_Left, 0.75, 750, "ﾌﾚｰﾑ 4/5    t = 0.750"}, Step{Qt::Key_Home, 0.0, 0, "ﾌﾚｰﾑ 1/5    t = 0.000"},
                   Step{Qt::Key_Left, 0.0, 0, "ﾌﾚｰﾑ 1/5    t = 0.000"}}) {
        QTest::keyClick(window, s.key);
        EXPECT_EQ(window->t(), s.t);
        EXPECT_EQ(window->HS_T->value(), s.slider);
        EXPECT_EQ(window->lbl_Frame->text(), s.label);
    }
    // Between frames, Right goes to the next one up.
    window->HS_T->setValue(260);
    QTest::keyClick(window, Qt::Key_Right);
    EXPECT_EQ(window->t(), 0.5);
    totalFrames = 8;
    window->framesChanged();
    EXPECT_EQ(window->lbl_Frame->text(), "ﾌﾚｰﾑ 5/9    t = 0.500");
}

TEST_F(PreviewWindowTest, MeshAndPictureChangesRender) {
    ASSERT_NO_FATAL_FAILURE(open(60, 40));
    int shown = window->framesShown();
    window->HS_T->setValue(500);
    ASSERT_NO_FATAL_FAILURE(waitForFrame(shown));
    const Bitmap before = window->shownFrame();
    shown = window->framesShown();
    mesh.EndMesh(2, 2).x += 9.0f;
    window->meshChanged(false);
    ASSERT_NO_FATAL_FAILURE(waitForFrame(shown));
    EXPECT_NE(std::memcmp(window->shownFrame().bits(), before.bits(), before.sizeBytes()), 0);

    shown = window->framesShown();
    QTest::keyClick(window, Qt::Key_Home);
    ASSERT_NO_FATAL_FAILURE(waitForFrame(shown));
    shown = window->framesShown();
    start.setPicture(test::solidPicture(60, 40, 0x336699));
    mesh.Triangles(0, 60, 40);
    window->sourcesChanged();
    ASSERT_NO_FATAL_FAILURE(waitForFrame(shown));
    EXPECT_TRUE(sameAsPicture(window->shownFrame(), start.picture()));
}

TEST_F(PreviewWindowTest, MovingRendersReducedThenFullAtRest) {
    ASSERT_NO_FATAL_FAILURE(open(3000, 100));  // wider than any screen share
    const FrameSize full = window->fullSize();
    EXPECT_EQ(window->shownSize(), full);
    EXPECT_LT(window->Pic_View->width(), 3000);
    const int shown = window->framesShown();
    window->meshChanged(true);
    EXPECT_LT(window->requestedSize().width, full.width);
    EXPECT_LE(window->requestedSize().width, window->Pic_View->width());
    EXPECT_LE(window->requestedSize().height, window->Pic_View->height());
    ASSERT_NO_FATAL_FAILURE(waitForFrame(shown));  // the full frame follows once nothing moves
    EXPECT_EQ(window->requestedSize(), full);
}

TEST_F(PreviewWindowTest, EscapeClosesAndTheHandleForgetsTheWindow) {
    ASSERT_NO_FATAL_FAILURE(open(20, 20));
    QTest::keyClick(window, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !handle; }, 5000));
}

}  // namespace
}  // namespace tarnel
