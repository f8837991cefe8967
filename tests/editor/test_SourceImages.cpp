#include "editor/SourceImages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "core/MorphRun.h"
#include "core/WindowLinks.h"
#include "imaging/PictureIO.h"
#include "platform/FileRead.h"
#include "platform/ProgramFolder.h"
#include "support/FileKinds.h"
#include "support/Files.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

using test::ScriptedDialogs;
using test::TempDir;

// A picture whose pixel (x, y) encodes its position.
std::shared_ptr<Bitmap> pattern(int w, int h) {
    auto b = std::make_shared<Bitmap>();
    EXPECT_TRUE(b->create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->setPixelValue(x, y, uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | 0x40);
    return b;
}

uint32_t patternAt(int x, int y) { return uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | 0x40; }

struct SourceImagesTest : ::testing::Test {
    TempDir folder;
    ScriptedDialogs dialogs;
    MorphSettings settings;
    SourceImages images;

    SourceImagesTest() { SetProgramFolderOverride(folder.path().string()); }
    ~SourceImagesTest() override { SetProgramFolderOverride(""); }

    std::string writeBmp(const std::string& name, int w, int h) {
        std::string path = folder.file(name);
        EXPECT_TRUE(SavePictureBMP(*pattern(w, h), path));
        return path;
    }
    // This process's working copy: temp00.tarnel-tmp-<digits>.bmp, likewise temp01.
    std::string workingCopy(int i) const {
        return ProcessTempFilePath(folder.path().string(), i == 0 ? "temp00.bmp" : "temp01.bmp");
    }
    void load(int i, int w, int h) {
        std::string path = writeBmp("img" + std::to_string(i) + "-" + std::to_string(w) + ".bmp", w, h);
        ASSERT_EQ(images.LoadFile(i, path), SourceImages::LoadOutcome::Loaded);
    }
};

TEST(FolderOf, CutsAtTheLastSeparator) {
    EXPECT_EQ(FolderOf("/a/b/c.bmp"), "/a/b");
    EXPECT_EQ(FolderOf("/c.bmp"), "/");
    EXPECT_EQ(FolderOf("c.bmp"), "");
    EXPECT_EQ(FolderOf("/a/b/"), "/a/b");
}

TEST(SizeText, WidthStarHeight) {
    EXPECT_EQ(SizeText(320, 240), "320 * 240");
    EXPECT_EQ(SizeText(1, 32767), "1 * 32767");
}

TEST(ResetViewBars, BarsForLargerImages) {
    struct Case {
        int w, h;
        bool hv, vv, corner;
        int hmax, vmax;
    } cases[] = {
        {300, 300, false, false, false, 0, 0}, {301, 300, true, false, true, 1, 0},
        {300, 301, false, true, true, 0, 1},   {400, 400, true, true, true, 116, 116},
        {640, 200, true, false, true, 340, 0}, {200, 500, false, true, true, 0, 200},
    };
    for (const Case& c : cases) {
        ViewBars b = ResetViewBars(c.w, c.h);
        EXPECT_EQ(b.hVisible, c.hv) << c.w << "x" << c.h;
        EXPECT_EQ(b.vVisible, c.vv) << c.w << "x" << c.h;
        EXPECT_EQ(b.cornerVisible, c.corner) << c.w << "x" << c.h;
        EXPECT_EQ(b.hMax, c.hmax) << c.w << "x" << c.h;
        EXPECT_EQ(b.vMax, c.vmax) << c.w << "x" << c.h;
    }
}

TEST(FileExists, FilesOnlyAndOneTrailingSeparator) {
    TempDir dir;
    std::string file = dir.file("x.bin");
    std::ofstream(file) << "x";
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(file + "/"));
    EXPECT_FALSE(FileExists(dir.file("missing")));
    EXPECT_FALSE(FileExists(dir.path().string()));
    EXPECT_FALSE(FileExists(""));
}

TEST_F(SourceImagesTest, StartsEmptyWithWhiteViewsAndBlackScratch) {
    EXPECT_FALSE(images.loaded(0));
    EXPECT_EQ(images.P[0].scaleWidth(), 300);
    EXPECT_EQ(images.P[0].image().pixelValue(10, 10), 0xFFFFFFu);
    EXPECT_EQ(images.P[2].backColor, RGBColor(0, 0, 0));
}

TEST_F(SourceImagesTest, CancelledDialogChangesNothing) {
    settings.ImageFolder = "/somewhere";
    dialogs.openAnswers.push_back(std::nullopt);
    EXPECT_EQ(images.Load(0, settings), SourceImages::LoadOutcome::Cancelled);
    EXPECT_EQ(settings.ImageFolder, "/somewhere");
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].title, "ﾌｧｲﾙを開く");
    EXPECT_EQ(dialogs.fileRequests[0].filter, "画像ﾌｧｲﾙ (JPG、BMP、GIF、PNG、WebP)|*.jpg;*.bmp;*.gif;*.png;*.webp");
    EXPECT_EQ(dialogs.fileRequests[0].initialFolder, "/somewhere");
    EXPECT_FALSE(images.loaded(0));
}

TEST_F(SourceImagesTest, LoadMakesWorkingCopySizeLabelsAndPath) {
    std::string path = writeBmp("start.bmp", 640, 480);
    dialogs.openAnswers.push_back("  " + path + "  ");
    ASSERT_EQ(images.Load(0, settings), SourceImages::LoadOutcome::Loaded);
    EXPECT_EQ(settings.ImageFolder, folder.path().string());
    EXPECT_EQ(images.ImagePath[0], path);
    EXPECT_EQ(images.ImgW[0], 640);
    EXPECT_EQ(images.ImgH[0], 480);
    EXPECT_EQ(images.SizeLabel[0], "640 * 480");
    EXPECT_EQ(images.SizeLabelS[0], "640 * 480");
    EXPECT_EQ(images.P[0].scaleWidth(), 640);
    StdPicture copy;
    ASSERT_TRUE(LoadPicture(workingCopy(0), copy));
    EXPECT_EQ(copy.width(), 640);
    EXPECT_EQ(copy.bitmap->pixelValue(123, 45) & 0xFFFFFF, patternAt(123, 45));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SourceImagesTest, UndecodableFileNamesItAndKeepsThePicture) {
    load(1, 320, 200);
    std::string bad = folder.file("broken.jpg");
    std::ofstream(bad) << "not a picture";
    EXPECT_EQ(images.LoadFile(1, bad), SourceImages::LoadOutcome::Failed);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find(bad), std::string::npos);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(images.P[1].scaleWidth(), 320);
    EXPECT_NE(images.ImagePath[1], bad);
}

TEST_F(SourceImagesTest, LoadFailureGivesTheReasonOnASecondLine) {
    auto write = [this](const std::string& name, const std::string& bytes) {
        std::string path = folder.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    };
    std::string fullBmp = folder.file("full.bmp");
    ASSERT_TRUE(SavePictureBMP(*pattern(64, 64), fullBmp));
    std::string bmpBytes;
    {
        std::ifstream in(fullBmp, std::ios::binary);
        bmpBytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    // A 65535 x 65535 GIF in 26 bytes.
    const std::string hugeGif("GIF89a\xFF\xFF\xFF\xFF\0\0\0,\0\0\0\0\xFF\xFF\xFF\xFF\0\x02\x02\x4C\x01\0;", 29);
    std::string fifo = folder.file("pipe.jpg");
    ASSERT_TRUE(test::makeFifo(fifo));
    struct Case {
        std::string path, reason;
    } cases[] = {
        {folder.file("missing.jpg"), "ﾌｧｲﾙが見つかりません"},
        {folder.path().string(), "ﾌｫﾙﾀﾞです。画像ﾌｧｲﾙを選んでください"},
        {fifo, "通常のﾌｧｲﾙではありません (ﾊﾟｲﾌﾟやﾃﾞﾊﾞｲｽ)"},
        {write("text.jpg", "not a picture"), "対応していない形式です (BMP、JPEG、GIF、PNG、WebP のみ)"},
        {write("cut.bmp", bmpBytes.substr(0, bmpBytes.size() / 2)), "ﾌｧｲﾙが途中で切れています"},
        {write("cut.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11)), "ﾌｧｲﾙが途中で切れています"},
        {write("huge.gif", hugeGif), "画像が大きすぎます"},
        {write("cut.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16)), "ﾌｧｲﾙが途中で切れています"},
    };
    for (const Case& c : cases) {
        dialogs.messages.clear();
        EXPECT_EQ(images.LoadFile(0, c.path), SourceImages::LoadOutcome::Failed) << c.path;
        ASSERT_EQ(dialogs.messages.size(), 1u) << c.path;
        EXPECT_EQ(dialogs.messages[0].text, kLoadFailedMessage + c.path + "\n" + c.reason);
    }
}

TEST_F(SourceImagesTest, PreviewKeepsTheAspect) {
    struct Case {
        int w, h, pw, ph;
    } cases[] = {{200, 100, 100, 50}, {100, 200, 50, 100}, {300, 300, 100, 100}, {640, 480, 100, 75},
                 {301, 200, 100, 66}};
    for (const Case& c : cases) {
        load(0, c.w, c.h);
        EXPECT_EQ(images.Pic_Pre.scaleWidth(), c.pw) << c.w << "x" << c.h;
        EXPECT_EQ(images.Pic_Pre.scaleHeight(), c.ph) << c.w << "x" << c.h;
    }
    // The end image has no preview.
    load(1, 50, 400);
    EXPECT_EQ(images.Pic_Pre.scaleWidth(), 100);
}

TEST_F(SourceImagesTest, ReductionStartsFromTheWorkingCopy) {
    load(0, 400, 300);
    EXPECT_EQ(images.StretchSizeText(0, 50), "200 * 150");
    EXPECT_EQ(images.StretchSizeText(1, 50), "");  // nothing loaded there
    ASSERT_TRUE(images.Reduce(0, 50));
    EXPECT_EQ(images.P[0].scaleWidth(), 200);
    EXPECT_EQ(images.P[0].scaleHeight(), 150);
    EXPECT_EQ(images.SizeLabel[0], "200 * 150");
    // Nearest pixel, no blending: destination (10, 7) takes source (21, 15).
    EXPECT_EQ(images.P[0].picture().bitmap->pixelValue(10, 7) & 0xFFFFFF, patternAt(21, 15));
    ASSERT_TRUE(images.Reduce(0, 50));
    EXPECT_EQ(images.P[0].scaleWidth(), 200);
    EXPECT_EQ(images.ImgW[0], 400);
    EXPECT_FALSE(images.Reduce(1, 50));
}

TEST_F(SourceImagesTest, ReductionToNothingLeavesTheImage) {
    load(0, 9, 40);
    EXPECT_FALSE(images.Reduce(0, 10));
    EXPECT_EQ(images.P[0].scaleWidth(), 9);
}

TEST_F(SourceImagesTest, ResetReloadsTheFile) {
    load(1, 400, 300);
    ASSERT_TRUE(images.Reduce(1, 30));
    ASSERT_TRUE(images.Reset(1));
    EXPECT_EQ(images.P[1].scaleWidth(), 400);
    EXPECT_EQ(images.SizeLabel[1], "400 * 300");
    EXPECT_FALSE(images.Reset(0));
}

TEST_F(SourceImagesTest, SynchroniseCutsToTheSmallerSizes) {
    load(0, 640, 480);
    load(1, 320, 400);
    SourceImages::SyncOutcome s = images.Synchronise();
    ASSERT_TRUE(s.done);
    EXPECT_EQ(s.width, 320);
    EXPECT_EQ(s.height, 400);
    EXPECT_TRUE(s.changed[0]);
    EXPECT_FALSE(s.changed[1]);
    EXPECT_EQ(images.P[0].scaleWidth(), 320);
    EXPECT_EQ(images.P[0].scaleHeight(), 400);
    EXPECT_EQ(images.P[0].image().pixelValue(319, 399), patternAt(319, 399));
    EXPECT_EQ(images.SizeLabel[0], "320 * 400");
    EXPECT_EQ(images.SizeLabel[1], "320 * 400");
    EXPECT_EQ(images.SizeLabelS[0], "640 * 480");
    EXPECT_EQ(images.ImgW[0], 640);
    EXPECT_EQ(images.Pic_Pre.scaleWidth(), 80);
}

TEST_F(SourceImagesTest, SynchroniseNeedsBothImages) {
    load(0, 64, 48);
    EXPECT_FALSE(images.Synchronise().done);
    EXPECT_EQ(images.P[0].scaleWidth(), 64);
}

TEST_F(SourceImagesTest, TrimChecksInOrder) {
    struct Case {
        int index;
        const char* w;
        const char* h;
        std::string message;
        SourceImages::TrimFocus focus;
    } cases[] = {
        {0, "", "", kTrimSizeMessage, SourceImages::TrimFocus::Width},
        {0, "abc", "100", kTrimSizeMessage, SourceImages::TrimFocus::Width},
        {0, "0", "100", kTrimSizeMessage, SourceImages::TrimFocus::Width},
        {0, "100", "-5", kTrimSizeMessage, SourceImages::TrimFocus::Width},
        {1, "100", "100", kTrimImageMessage, SourceImages::TrimFocus::None},
        {0, "700", "100", std::string(kTrimMaxWidthMessage) + "640", SourceImages::TrimFocus::Width},
        {0, "70000", "100", std::string(kTrimMaxWidthMessage) + "640", SourceImages::TrimFocus::Width},
        {0, "640", "481", std::string(kTrimMaxHeightMessage) + "480", SourceImages::TrimFocus::Height},
    };
    load(0, 640, 480);
    for (const Case& c : cases) {
        dialogs.messages.clear();
        SourceImages::TrimCheck check = images.CheckTrim(c.index, c.w, c.h, settings);
        EXPECT_FALSE(check.ok) << c.w << " " << c.h;
        ASSERT_EQ(dialogs.messages.size(), 1u) << c.w << " " << c.h;
        EXPECT_EQ(dialogs.messages[0].text, c.message);
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Information);
        EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
        EXPECT_EQ(check.focus, c.focus) << c.w << " " << c.h;
    }
}

TEST_F(SourceImagesTest, TrimCheckPassesTheSizeOn) {
    load(1, 640, 480);
    Links().TrimAccepted = true;
    SourceImages::TrimCheck check = images.CheckTrim(1, " 640 ", "2.5e2", settings);
    EXPECT_TRUE(check.ok);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Links().TrimTarget, 1);
    EXPECT_FALSE(Links().TrimAccepted);
    EXPECT_EQ(settings.TrimWidth, 640);
    EXPECT_EQ(settings.TrimHeight, 250);
}

TEST_F(SourceImagesTest, CutIntoTakesTheRectangleAndFillsOffImageWhite) {
    load(0, 640, 480);
    StdPicture source = images.P[0].picture();
    ASSERT_TRUE(CutInto(images.P[0], source, 80, 130, 200, 100));
    EXPECT_EQ(images.P[0].scaleWidth(), 200);
    EXPECT_EQ(images.P[0].picture().bitmap->pixelValue(0, 0) & 0xFFFFFF, patternAt(80, 130));
    EXPECT_EQ(images.P[0].picture().bitmap->pixelValue(199, 99) & 0xFFFFFF, patternAt(279, 229));
    ASSERT_TRUE(CutInto(images.P[1], source, 600, -10, 100, 50));
    EXPECT_EQ(images.P[1].image().pixelValue(0, 0), 0xFFFFFFu);
    EXPECT_EQ(images.P[1].image().pixelValue(39, 10), patternAt(639, 0));
    EXPECT_EQ(images.P[1].image().pixelValue(40, 10), 0xFFFFFFu);
    EXPECT_FALSE(CutInto(images.P[1], source, 0, 0, 0, 10));
    EXPECT_EQ(images.P[1].scaleWidth(), 100);
}

TEST_F(SourceImagesTest, AcceptTrimRenewsTheWorkingCopy) {
    load(0, 640, 480);
    StdPicture source = images.P[0].picture();
    ASSERT_TRUE(CutInto(images.P[0], source, 0, 0, 200, 100));
    images.AcceptTrim(0);
    EXPECT_EQ(images.ImgW[0], 200);
    EXPECT_EQ(images.SizeLabel[0], "200 * 100");
    StdPicture copy;
    ASSERT_TRUE(LoadPicture(workingCopy(0), copy));
    EXPECT_EQ(copy.width(), 200);
    // A reduction now starts from the trimmed copy.
    ASSERT_TRUE(images.Reduce(0, 50));
    EXPECT_EQ(images.P[0].scaleWidth(), 100);
}

TEST_F(SourceImagesTest, WorkingCopiesAreDeleted) {
    load(0, 10, 10);
    load(1, 10, 10);
    EXPECT_TRUE(FileExists(workingCopy(0)));
    EXPECT_TRUE(FileExists(workingCopy(1)));
    images.DeleteWorkingCopies();
    EXPECT_FALSE(FileExists(workingCopy(0)));
    EXPECT_FALSE(FileExists(workingCopy(1)));
}

// Another editor on the same program folder keeps its working copies.
TEST_F(SourceImagesTest, WorkingCopiesAreThisProcesssOwn) {
    std::ofstream(folder.file("temp00.bmp")) << "another editor's copy";
    std::ofstream(folder.file("temp01.bmp")) << "another editor's copy";
    load(0, 10, 10);
    load(1, 10, 10);
    ASSERT_TRUE(images.Reduce(0, 50));
    images.DeleteWorkingCopies();
    for (const char* name : {"temp00.bmp", "temp01.bmp"}) {
        std::ifstream in(folder.file(name));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "another editor's copy") << name;
    }
}

// The working copies are held while the editor lives: a cleaner in the same
// folder keeps them, they go with the editor, and those of an editor that
// ended without removing them are swept by the next write.
TEST_F(SourceImagesTest, WorkingCopiesAreHeldAndGoWithTheEditor) {
    const std::string ended = folder.file(std::string("temp00") + std::string(kTempMark) + "0123456789abcdef.bmp");
    std::ofstream(ended) << "an ended editor's copy";
    {
        SourceImages editor;
        std::string path = writeBmp("held.bmp", 12, 8);
        ASSERT_EQ(editor.LoadFile(0, path), SourceImages::LoadOutcome::Loaded);
        EXPECT_FALSE(FileExists(ended));
        ASSERT_TRUE(FileExists(workingCopy(0)));
        EXPECT_EQ(RemoveStaleTempFiles(folder.path().string()), 0u);
        // A smaller picture is written over the copy, whole and nothing more.
        path = writeBmp("smaller.bmp", 6, 4);
        ASSERT_EQ(editor.LoadFile(0, path), SourceImages::LoadOutcome::Loaded);
        EXPECT_EQ(test::readFile(workingCopy(0)), test::readFile(path));
    }
    EXPECT_FALSE(FileExists(workingCopy(0)));
}

// A copy that cannot be written leaves no stale copy for the next reduction.
TEST_F(SourceImagesTest, UnwritableWorkingCopyLeavesNoStaleOne) {
    load(0, 40, 20);
    ASSERT_TRUE(FileExists(workingCopy(0)));
    images.P[0].setPicture(StdPicture{});
    images.SaveWorkingCopy(0);
    EXPECT_FALSE(FileExists(workingCopy(0)));
    EXPECT_FALSE(images.Reduce(0, 50));
}

// The canvases through a run as the editor drives it: the meshes come off the
// source canvases, each frame is on the frame canvas as its file holds it,
// and a GIF run leaves its last frame as the canvas's picture, so a clearing
// restores it rather than black.
TEST_F(SourceImagesTest, RunCanvasesShowEachFrameAsWritten) {
    load(0, 24, 18);
    load(1, 24, 18);
    struct Canvases : MorphRunObserver {
        SourceImages& images;
        int kind;
        std::vector<Bitmap> shown;  // the frame canvas at each frameDone
        Canvases(SourceImages& i, int k) : images(i), kind(k) {}
        void folderCreated(const std::string&) override {}
        void runStarting(int w, int h) override { images.PrepareRunCanvases(w, h); }
        void showFrame(int, const Bitmap& frame) override { images.ShowRunFrame(frame, kind); }
        bool frameDone(int, int) override {
            shown.push_back(images.P[2].image());
            return true;
        }
    };
    const MeshGrid startMesh = DefaultMesh(2, 2, 24, 18);
    MeshGrid endMesh = startMesh;
    endMesh(1, 1).x += 5.0f;
    for (int kind : {kSaveBmp, kSaveGif}) {
        SCOPED_TRACE(kind);
        images.P[0].image().setPixelValue(3, 3, 0x123456);  // a mesh line
        images.P[2].resize(300, 300);                       // what a reduction left there
        MorphRunRequest request;
        request.start = images.RunPicture(0);
        request.end = images.RunPicture(1);
        request.background = images.P[2].backColor;
        request.startMesh = &startMesh;
        request.endMesh = &endMesh;
        request.totalFrames = 3;
        request.saveKind = kind;
        request.programFolder = folder.path().string();
        Canvases canvases(images, kind);
        const MorphRunResult run = RunMorph(request, canvases);
        ASSERT_TRUE(run.ok()) << run.error;
        EXPECT_EQ(images.P[0].image().pixelValue(3, 3), patternAt(3, 3));
        ASSERT_EQ(images.P[2].scaleWidth(), 24);
        ASSERT_EQ(images.P[2].scaleHeight(), 18);
        ASSERT_EQ(canvases.shown.size(), 4u);
        for (int k = 0; k <= 3 && kind == kSaveBmp; ++k) {
            StdPicture file;
            ASSERT_TRUE(LoadPicture(run.folder + "/" + FrameFileName(k, kind), file));
            for (int y = 0; y < 18; ++y)
                for (int x = 0; x < 24; ++x)
                    ASSERT_EQ(canvases.shown[size_t(k)].pixelColor(x, y), file.bitmap->pixelColor(x, y)) << k;
        }
        const Bitmap last = images.P[2].image();
        EXPECT_EQ(images.P[2].hasPicture(), kind == kSaveGif);
        images.P[2].Cls();
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 24; ++x) {
                const uint32_t expected = kind == kSaveGif ? last.pixelValue(x, y) : 0u;
                ASSERT_EQ(images.P[2].image().pixelValue(x, y), expected) << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace tarnel
