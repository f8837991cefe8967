// The editor's chain of key pictures, offscreen: the strip, the pair in the
// views, the commands on keys, the run and projects of three keys.
#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/ProjectFile.h"
#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "editor/ui/Tarnel_M.h"
#include "imaging/PictureIO.h"
#include "platform/ProgramFolder.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/PhotoImages.h"
#include "support/ScriptedDialogs.h"
#include "support/SyntheticWarp.h"
#include "support/TempDir.h"
#include "EditorWindowTest.h"
#include "ui/widgets/Spinner.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
constexpr int kW = 96, kH = 64;

std::vector<fs::path> foldersIn(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_directory()) out.push_back(e.path());
    return out;
}

class EditorChain : public test::EditorWindowTest {
protected:
    std::vector<std::string> keys;  // key n's file, n from 1

    void SetUp() override {
        EditorWindowTest::SetUp();
        for (int n = 1; n <= 4; ++n) {
            const std::string path = sources.file("key" + std::to_string(n) + ".bmp");
            ASSERT_TRUE(SavePictureBMP(*test::makePhoto(test::Photo::Landscape, kW, kH, n).bitmap(), path));
            keys.push_back(path);
        }
        open();
        for (int i = 0; i < 2; ++i) openImage(i, keys[size_t(i)]);
    }
    // The files of the keys in chain order, by their number (1 for key1.bmp).
    std::vector<int> order() const {
        std::vector<int> out;
        for (const ChainKey& key : ChainKeys(window->captureState()))
            for (size_t n = 0; n < keys.size(); ++n)
                if (key.source && key.source->path == keys[n]) out.push_back(int(n) + 1);
        return out;
    }
    std::array<int, 2> shown() const {
        std::array<int, 2> out{};
        for (int i = 0; i < 2; ++i)
            for (size_t n = 0; n < keys.size(); ++n)
                if (window->images.ImagePath[size_t(i)] == keys[n]) out[size_t(i)] = int(n) + 1;
        return out;
    }
    // Drags mesh point (3, 2) of view i by (dx, dy).
    void drag(int i, float dx, float dy) {
        const MeshPoint p = window->mesh.mesh(i)(3, 2);
        window->P_MouseDown(i, 1, 0, p.x, p.y);
        window->P_MouseMove(i, 1, 0, p.x + dx, p.y + dy);
        window->P_MouseUp(i, 1, 0, p.x + dx, p.y + dy);
    }
};

TEST_F(EditorChain, TwoKeysKeepTheViewsAndAThirdShowsTheStrip) {
    Tarnel_M& w = *window;
    EXPECT_EQ(w.keyCount(), 2);
    EXPECT_FALSE(w.Fra_Keys->isVisible());
    EXPECT_EQ(w.PicBack[0]->height(), kViewSize + 2);
    const int viewHeight = w.PicBack[0]->height();

    ASSERT_TRUE(w.AddKeyImage(keys[2]));
    EXPECT_EQ(w.keyCount(), 3);
    EXPECT_TRUE(w.Fra_Keys->isVisible());
    EXPECT_EQ(w.PicBack[0]->height(), viewHeight - kKeyStripHeight);
    EXPECT_LE(w.PicBack[0]->geometry().bottom(), w.Fra_Keys->geometry().top());
    EXPECT_EQ(shown(), (std::array{2, 3}));  // the new key with the one before it

    // A picture of another size is refused as the run refuses it.
    const std::string odd = sources.file("odd.bmp");
    ASSERT_TRUE(SavePictureBMP(*test::makePhoto(test::Photo::Landscape, kW + 2, kH, 9).bitmap(), odd));
    EXPECT_FALSE(w.AddKeyImage(odd));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, kSizeMismatchMessage);
    EXPECT_EQ(w.keyCount(), 3);

    // Removing back to two keys folds the strip and gives the views back.
    w.history.clear();
    ASSERT_TRUE(w.RemoveChainKey(2));
    EXPECT_FALSE(w.Fra_Keys->isVisible());
    EXPECT_EQ(w.PicBack[0]->height(), viewHeight);
    w.Undo();  // one step
    EXPECT_EQ(order(), (std::vector{1, 2, 3}));
    EXPECT_TRUE(w.Fra_Keys->isVisible());
}

// Each command on the chain, from four keys with the views on keys 3 and 4:
// the order after it, the pair in the views, and one undo step back.
TEST_F(EditorChain, KeyCommandsChangeOrderAndPairAsOneUndoStep) {
    Tarnel_M& w = *window;
    ASSERT_TRUE(w.AddKeyImage(keys[2]));
    ASSERT_TRUE(w.AddKeyImage(keys[3]));
    ASSERT_EQ(order(), (std::vector{1, 2, 3, 4}));
    struct Case {
        const char* name;
        std::function<void()> command;
        std::vector<int> order;
        std::array<int, 2> shown;
    } cases[] = {
        {"select key 1", [&] { w.SelectKey(0); }, {1, 2, 3, 4}, {1, 2}},
        {"select key 2 of the pair", [&] { w.SelectKey(3); }, {1, 2, 3, 4}, {3, 4}},
        {"select pair 2", [&] { w.SelectKeyPair(1); }, {1, 2, 3, 4}, {2, 3}},
        {"move key 4 left", [&] { w.SelectKey(3); QTest::mouseClick(w.Cmd_KeyLeft, Qt::LeftButton); }, {1, 2, 4, 3}, {4, 3}},
        {"move key 2 right", [&] { w.MoveChainKey(1, +1); }, {1, 3, 2, 4}, {2, 4}},
        {"remove key 3", [&] { w.SelectKey(2); QTest::mouseClick(w.Cmd_KeyRemove, Qt::LeftButton); }, {1, 2, 4}, {2, 4}},
        {"remove key 1", [&] { w.RemoveChainKey(0); }, {2, 3, 4}, {2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.SelectKeyPair(2);
        w.history.clear();
        const std::vector<int> before = order();
        c.command();
        EXPECT_EQ(order(), c.order);
        EXPECT_EQ(shown(), c.shown);
        EXPECT_TRUE(w.currentKey() == w.shownPair() || w.currentKey() == w.shownPair() + 1);
        if (c.order != before || c.shown != (std::array{3, 4})) {
            EXPECT_EQ(w.history.undoCount(), 1u);
            w.Undo();
            EXPECT_EQ(order(), before);
            EXPECT_EQ(shown(), (std::array{3, 4}));
        }
    }
}

// Key k's one mesh: edited as the end view in one pair, it is the start mesh
// of the next; three keys run to the frames the command line makes of the
// saved project, and the project reopens with every key.
TEST_F(EditorChain, SharedMeshesRunAndProjectRoundTrip) {
    Tarnel_M& w = *window;
    ASSERT_TRUE(w.AddKeyImage(keys[2]));
    w.SelectKeyPair(0);
    drag(1, 5, 3);  // key 2, as the end
    const MeshGrid key2 = w.mesh.EndMesh;
    drag(0, -4, 2);  // key 1
    w.SelectKeyPair(1);
    EXPECT_EQ(w.mesh.StartMesh, key2);  // key 2, as the start
    drag(1, 3, -4);  // key 3
    drag(0, 2, 2);   // key 2 again
    const MeshGrid key2Now = w.mesh.StartMesh;
    w.SelectKeyPair(0);
    EXPECT_EQ(w.mesh.EndMesh, key2Now);
    const std::vector<ChainKey> chain = ChainKeys(w.captureState());

    w.VS_Frame->setValue(4);
    w.Img_Kind_MouseDown(kSaveBmp);
    const std::string project = sources.file("chain.json");
    ASSERT_TRUE(w.SaveProject(project));
    ProjectData saved;
    std::string error;
    ASSERT_TRUE(LoadProjectFile(project, saved, error)) << error;
    ASSERT_EQ(saved.keyCount(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ProjectKeys(saved)[size_t(k)].image, keys[size_t(k)]);
        EXPECT_EQ(ProjectKeys(saved)[size_t(k)].mesh, chain[size_t(k)].mesh);
    }

    QTest::mouseClick(w.Cmd_Start, Qt::LeftButton);
    ASSERT_TRUE(w.lastRun().ok()) << w.lastRun().error;
    EXPECT_EQ(w.lastRun().framesWritten, 7);  // (3 - 1) x (4 - 1) + 1
    const fs::path guiFolder = w.lastRun().folder;

    // Another chain, then the project again: every key and mesh is back, one undo step.
    ASSERT_TRUE(w.RemoveChainKey(0));
    drag(0, 6, 6);
    ASSERT_TRUE(w.OpenProject(project));
    EXPECT_EQ(w.keyCount(), 3);
    EXPECT_EQ(order(), (std::vector{1, 2, 3}));
    const std::vector<ChainKey> reopened = ChainKeys(w.captureState());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(reopened[size_t(k)].mesh, chain[size_t(k)].mesh) << k;
    EXPECT_FALSE(w.hasUnsavedChanges());
    w.Undo();
    EXPECT_EQ(order(), (std::vector{2, 3}));

    // A closed chain written by the command line stays closed: it runs back to
    // key 1 and saving keeps the flag.
    saved.loop = true;
    const std::string looped = sources.file("looped.json");
    ASSERT_TRUE(SaveProjectFile(looped, saved, error)) << error;
    ASSERT_TRUE(w.OpenProject(looped));
    QTest::mouseClick(w.Cmd_Start, Qt::LeftButton);
    ASSERT_TRUE(w.lastRun().ok()) << w.lastRun().error;
    EXPECT_EQ(w.lastRun().framesWritten, 9);  // 3 x (4 - 1)
    ASSERT_TRUE(w.SaveProject(looped));
    ProjectData resaved;
    ASSERT_TRUE(LoadProjectFile(looped, resaved, error)) << error;
    EXPECT_TRUE(resaved.loop);
    ASSERT_TRUE(w.OpenProject(project));

    // The command line makes the same frames of the saved project.
    const std::string cli = test::CliPath();
    if (cli.empty()) GTEST_SKIP() << "tarnel-cli is not built";
    {
        test::TempDir out;
        test::CliResult r = test::RunCli(cli,
                                         "morph " + test::ShellQuote(keys[0]) + " " + test::ShellQuote(keys[1]) + " " +
                                             test::ShellQuote(keys[2]) + " --mesh " + test::ShellQuote(project) +
                                             " --out " + test::ShellQuote(out.path().string()),
                                         out.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<fs::path> cliFolders = foldersIn(out.path());
        ASSERT_EQ(cliFolders.size(), 1u);
        for (int f = 0; f < 8; ++f) {
            char name[16];
            std::snprintf(name, sizeof name, "%03d.bmp", f);
            ASSERT_EQ(fs::exists(guiFolder / name), f < 7) << name;
            if (f < 7) {
                EXPECT_EQ(test::readFile(guiFolder / name), test::readFile(cliFolders[0] / name)) << name;
            }
        }
    }
}

// A chain whose frames would outrun the three-digit names is refused before
// anything is written.
TEST_F(EditorChain, TooManyFramesAreRefusedBeforeTheRun) {
    for (int n = 0; n < 10; ++n) ASSERT_TRUE(window->AddKeyImage(keys[2]));
    window->VS_Frame->setValue(100);  // 11 x 99 + 1 frames
    QTest::mouseClick(window->Cmd_Start, Qt::LeftButton);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("ﾌﾚｰﾑが多すぎます"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_NE(dialogs.messages[0].text.find("1090"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_TRUE(foldersIn(programFolder.path()).empty());
}

// Automatic placement over a chain: each key's mesh on the key before it,
// key 1's mesh kept, as one undo step.
TEST_F(EditorChain, AutoAlignPlacesEveryKeyOnTheOneBefore) {
    constexpr int w = 480, h = 320;
    const test::SyntheticWarp warp{.degrees = 4, .scale = 1.04};
    Bitmap picture = *test::makePhoto(test::Photo::Landscape, w, h, 8).bitmap();
    std::vector<std::string> chainFiles;
    for (int n = 0; n < 3; ++n) {
        chainFiles.push_back(sources.file("warped" + std::to_string(n) + ".bmp"));
        ASSERT_TRUE(SavePictureBMP(picture, chainFiles.back()));
        picture = test::WarpPicture(picture, warp);
    }
    ASSERT_TRUE(window->LoadImageFile(0, chainFiles[0]));
    ASSERT_TRUE(window->LoadImageFile(1, chainFiles[1]));
    ASSERT_TRUE(window->AddKeyImage(chainFiles[2]));
    window->SelectKeyPair(0);
    const std::vector<ChainKey> before = ChainKeys(window->captureState());
    window->history.clear();
    ASSERT_TRUE(window->AutoAlign());
    EXPECT_TRUE(dialogs.messages.empty());
    const std::vector<ChainKey> placed = ChainKeys(window->captureState());
    EXPECT_EQ(placed[0].mesh, before[0].mesh);
    for (size_t k = 1; k < 3; ++k) {
        SCOPED_TRACE(k);
        MeshPoint truth;
        ASSERT_TRUE(test::WarpTarget(warp, w, h, placed[k - 1].mesh(3, 3), truth));
        EXPECT_NEAR(placed[k].mesh(3, 3).x, truth.x, 1.5);
        EXPECT_NEAR(placed[k].mesh(3, 3).y, truth.y, 1.5);
    }
    EXPECT_EQ(window->mesh.EndMesh, placed[1].mesh);  // the views show the placement
    EXPECT_EQ(window->history.undoCount(), 1u);
    window->Undo();
    const std::vector<ChainKey> undone = ChainKeys(window->captureState());
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(undone[k].mesh, before[k].mesh) << k;
}

// An editor that ended without the end command comes back with every key,
// each key's mesh and the pair it showed.
TEST_F(EditorChain, SessionRestoresTheWholeChain) {
    ASSERT_TRUE(window->AddKeyImage(keys[2]));
    ASSERT_TRUE(window->AddKeyImage(keys[3]));
    window->SelectKeyPair(1);
    drag(0, 4, 3);
    drag(1, -3, 2);
    const std::vector<ChainKey> before = ChainKeys(window->captureState());
    window->Cmd_Can_Click();
    window.reset();

    window = std::make_unique<Tarnel_M>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(window->OfferSessionRestore());
    EXPECT_EQ(order(), (std::vector{1, 2, 3, 4}));
    EXPECT_EQ(shown(), (std::array{2, 3}));
    EXPECT_TRUE(window->Fra_Keys->isVisible());
    const std::vector<ChainKey> after = ChainKeys(window->captureState());
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) {
        EXPECT_EQ(after[k].mesh, before[k].mesh) << k;
        EXPECT_EQ(after[k].source->picture.bitmap->pixelValue(40, 30), before[k].source->picture.bitmap->pixelValue(40, 30))
            << k;
    }
}

}  // namespace
}  // namespace tarnel
