// The editor's automatic placement of the end mesh, offscreen.
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "core/WindowLinks.h"
#include "editor/ui/Tarnel_M.h"
#include "imaging/PictureIO.h"
#include "platform/ProgramFolder.h"
#include "support/PhotoImages.h"
#include "support/ScriptedDialogs.h"
#include "support/SyntheticWarp.h"
#include "support/TempDir.h"
#include "EditorWindowTest.h"

namespace tarnel {
namespace {

constexpr int kW = 480, kH = 320;

class EditorAlign : public test::EditorWindowTest {
protected:
    const test::SyntheticWarp warp{.degrees = 4, .scale = 1.04};

    void SetUp() override {
        EditorWindowTest::SetUp();
        open();
    }
    void load(int i, const Bitmap& picture) {
        const std::string path = sources.file(i == 0 ? "start.bmp" : "end.bmp");
        ASSERT_TRUE(SavePictureBMP(picture, path));
        openImage(i, path);
    }
    void loadWarpedPair() {
        const GcDIB photo = test::makePhoto(test::Photo::Landscape, kW, kH, 8);
        load(0, *photo.bitmap());
        load(1, test::WarpPicture(*photo.bitmap(), warp));
    }
    MeshPoint truthOf(int i, int j) const {
        MeshPoint truth;
        EXPECT_TRUE(test::WarpTarget(warp, kW, kH, window->mesh.StartMesh(i, j), truth));
        return truth;
    }
};

TEST_F(EditorAlign, ButtonKeyAndMenuPlaceTheEndMeshAsOneUndoStep) {
    EXPECT_FALSE(window->Cmd_Auto->isEnabled());
    loadWarpedPair();
    ASSERT_TRUE(window->Cmd_Auto->isEnabled());
    const MeshGrid before = window->mesh.EndMesh;
    QTest::mouseClick(window->Cmd_Auto, Qt::LeftButton);
    const MeshGrid placed = window->mesh.EndMesh;
    ASSERT_NE(placed, before);
    EXPECT_TRUE(dialogs.messages.empty());
    const MeshPoint truth = truthOf(3, 3);
    EXPECT_NEAR(placed(3, 3).x, truth.x, 1.5);
    EXPECT_NEAR(placed(3, 3).y, truth.y, 1.5);
    EXPECT_EQ(window->mesh.StartMesh, DefaultMesh(before.rows(), before.columns(), kW, kH));

    window->Undo();
    EXPECT_EQ(window->mesh.EndMesh, before);
    window->Redo();
    EXPECT_EQ(window->mesh.EndMesh, placed);

    // A point moved by hand stays through the next placement (key A).
    window->mesh.EndMesh(4, 3) = MeshPoint{truth.x + 30, truth.y + 12};
    const MeshPoint moved = window->mesh.EndMesh(4, 3);
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_A);
    EXPECT_EQ(window->mesh.EndMesh(4, 3), moved);
    EXPECT_NE(window->mesh.EndMesh(4, 4), placed(4, 4));  // its neighbour leans towards it
    EXPECT_FALSE(window->pointsToCheck()[size_t(3) * size_t(window->mesh.EndMesh.countI()) + 4]);
}

TEST_F(EditorAlign, PicturesWithLittleInCommonAreRefusedAndNothingChanges) {
    load(0, *test::makePhoto(test::Photo::Landscape, kW, kH, 1).bitmap());
    load(1, *test::makePhoto(test::Photo::Stripes, kW, kH, 5).bitmap());
    const MeshGrid before = window->mesh.EndMesh;
    const bool couldUndo = window->history.canUndo();
    EXPECT_FALSE(window->AutoAlign());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text.rfind("共通する特徴が少なすぎます\n", 0), 0u) << dialogs.messages[0].text;
    EXPECT_EQ(window->mesh.EndMesh, before);
    EXPECT_EQ(window->history.canUndo(), couldUndo);
}

TEST_F(EditorAlign, PicturesOfDifferentSizesAreRefusedLikeTheRun) {
    load(0, *test::makePhoto(test::Photo::Landscape, kW, kH, 1).bitmap());
    load(1, *test::makePhoto(test::Photo::Landscape, kW + 10, kH, 1).bitmap());
    EXPECT_FALSE(window->AutoAlign());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, kSizeMismatchMessage);
}

}  // namespace
}  // namespace tarnel
