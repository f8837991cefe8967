#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "core/MorphRun.h"
#include "core/warp/Warp.h"
#include "imaging/PictureIO.h"
#include "support/GiflibReader.h"
#include "platform/ProgramFolder.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/FileKinds.h"
#include "support/TempDir.h"
#include "support/TempLocks.h"
#include "platform/StaleTempFiles.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

StdPicture noisePicture(int w, int h, uint32_t seed) {
    return test::makePicture(w, h, [seed](int x, int y) {
        uint32_t v = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u) ^ seed;
        return (v ^ (v >> 13)) & 0x00FFFFFFu;
    });
}

class Recorder : public MorphRunObserver {
public:
    void folderCreated(const std::string& f) override {
        folder = f;
        if (onFolder) onFolder(f);
    }
    bool frameDone(int k, int last) override {
        frames.push_back({k, last});
        return k != stopAfter;
    }
    std::string folder;
    std::vector<std::pair<int, int>> frames;
    int stopAfter = -1;
    std::function<void(const std::string&)> onFolder;
};

struct Fixture {
    StdPicture start, end;
    MeshGrid startMesh, endMesh;
    MorphRunRequest request;

    Fixture(int w, int h, int rows, int columns, const std::string& folder) {
        start = noisePicture(w, h, 1);
        end = noisePicture(w, h, 2);
        startMesh = DefaultMesh(rows, columns, w, h);
        endMesh = DefaultMesh(rows, columns, w, h);
        request.start = start.bitmap.get();
        request.end = end.bitmap.get();
        request.startMesh = &startMesh;
        request.endMesh = &endMesh;
        request.programFolder = folder;
        request.totalFrames = 1;
    }
};

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool samePixels(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixelColor(x, y) != b.pixelColor(x, y)) return false;
    return true;
}

StdPicture loadFrame(const std::string& path) {
    StdPicture p;
    EXPECT_TRUE(LoadPicture(path, p)) << path;
    return p;
}

}  // namespace

TEST(MorphRun, PreconditionsNeedBothImagesOfOneSize) {
    StdPicture a = noisePicture(300, 200, 1), b = noisePicture(300, 201, 1);
    EXPECT_EQ(CheckRunPreconditions("", "b.bmp", a.bitmap.get(), b.bitmap.get()), RunPrecondition::MissingImage);
    EXPECT_EQ(CheckRunPreconditions("a.bmp", "b.bmp", a.bitmap.get(), nullptr), RunPrecondition::MissingImage);
    EXPECT_EQ(CheckRunPreconditions("a.bmp", "b.bmp", a.bitmap.get(), b.bitmap.get()), RunPrecondition::SizeMismatch);
    b = noisePicture(300, 200, 1);
    EXPECT_EQ(CheckRunPreconditions("a.bmp", "b.bmp", a.bitmap.get(), b.bitmap.get()), RunPrecondition::Ready);
}

TEST(MorphRun, TwoFramesAreStartAndEndImages) {
    test::TempDir dir;
    // Cells taller than 100 pixels, where a substitute slope would leave gaps.
    Fixture f(64, 260, 2, 2, dir.path().string());
    Recorder rec;
    MorphRunResult r = RunMorph(f.request, rec);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.framesWritten, 2);
    EXPECT_EQ(rec.frames, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}}));
    EXPECT_EQ(rec.folder, r.folder);
    EXPECT_EQ(listFolder(r.folder), (std::vector<std::string>{"000.bmp", "001.bmp"}));
    EXPECT_TRUE(samePixels(*loadFrame(r.folder + "/000.bmp").bitmap, *f.start.bitmap));
    EXPECT_TRUE(samePixels(*loadFrame(r.folder + "/001.bmp").bitmap, *f.end.bitmap));
}

TEST(MorphRun, HundredFramesNumberedFrom000To099) {
    test::TempDir dir;
    Fixture f(8, 6, 1, 1, dir.path().string());
    f.request.totalFrames = 99;
    Recorder rec;
    MorphRunResult r = RunMorph(f.request, rec);
    ASSERT_TRUE(r.ok()) << r.error;
    auto names = listFolder(r.folder);
    ASSERT_EQ(names.size(), 100u);
    EXPECT_EQ(names.front(), "000.bmp");
    EXPECT_EQ(names.back(), "099.bmp");
}

TEST(MorphRun, JpgFramesLeaveNoTemporaryFile) {
    test::TempDir dir;
    Fixture f(40, 30, 2, 2, dir.path().string());
    f.request.saveKind = kSaveJpg;
    Recorder rec;
    MorphRunResult r = RunMorph(f.request, rec);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(listFolder(r.folder), (std::vector<std::string>{"000.jpg", "001.jpg"}));
    EXPECT_FALSE(fs::exists(ProcessTempPath(dir.path().string(), "Dumy.bmp")));
    EXPECT_EQ(loadFrame(r.folder + "/001.jpg").width(), 40);
}

TEST(MorphRun, GifFramesDecodeAndKeepThePreviousFrameWhereNothingIsDrawn) {
    test::TempDir dir;
    Fixture f(32, 24, 2, 2, dir.path().string());
    // Pull the right border of the end mesh inwards: later frames leave a
    // strip on the right uncovered, which in GIF mode keeps the previous frame.
    for (int j = 0; j < f.endMesh.countJ(); ++j) f.endMesh(3, j).x = 16.0f;
    f.request.saveKind = kSaveGif;
    f.request.totalFrames = 2;
    Recorder rec;
    MorphRunResult r = RunMorph(f.request, rec);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(listFolder(r.folder), (std::vector<std::string>{"000.gif", "001.gif", "002.gif"}));
    Bitmap frames[3];
    for (int k = 0; k < 3; ++k) {
        std::string path = r.folder + "/00" + std::to_string(k) + ".gif";
        test::GiflibReader gif(path);
        ASSERT_NE(gif.get(), nullptr);
        ASSERT_EQ(gif.slurpResult(), GIF_OK);
        EXPECT_EQ(gif->SWidth, 32);
        EXPECT_EQ(gif->SHeight, 24);
        frames[k] = *loadFrame(path).bitmap;
    }
    // Column 31 is covered in frame 0 only; later frames keep its colours.
    int nonBlack = 0;
    for (int y = 0; y < 24; ++y) {
        nonBlack += frames[0].pixelColor(31, y) != RGBQuad{};
        EXPECT_EQ(frames[1].pixelColor(31, y), frames[0].pixelColor(31, y)) << y;
        EXPECT_EQ(frames[2].pixelColor(31, y), frames[0].pixelColor(31, y)) << y;
    }
    EXPECT_GT(nonBlack, 12);
}

TEST(MorphRun, CancelStopsBetweenFramesAndKeepsWrittenFrames) {
    test::TempDir dir;
    Fixture f(16, 16, 1, 1, dir.path().string());
    f.request.totalFrames = 9;
    Recorder rec;
    rec.stopAfter = 2;
    MorphRunResult r = RunMorph(f.request, rec);
    EXPECT_EQ(r.status, MorphRunResult::Status::Cancelled);
    EXPECT_EQ(r.framesWritten, 3);
    EXPECT_EQ(listFolder(r.folder).size(), 3u);
}

TEST(MorphRun, RunsInTheSameSecondGetDistinctFolders) {
    test::TempDir dir;
    Fixture f(8, 8, 1, 1, dir.path().string());
    std::tm t{};
    t.tm_year = 126;
    t.tm_mday = 1;
    f.request.startTime = &t;
    Recorder a, b, c;
    auto r1 = RunMorph(f.request, a), r2 = RunMorph(f.request, b), r3 = RunMorph(f.request, c);
    ASSERT_TRUE(r1.ok() && r2.ok() && r3.ok());
    EXPECT_EQ(fs::path(r1.folder).filename(), "20260101-00-00-00");
    EXPECT_EQ(fs::path(r2.folder).filename(), "20260101-00-00-00-2");
    EXPECT_EQ(fs::path(r3.folder).filename(), "20260101-00-00-00-3");
}

TEST(MorphRun, FailuresNameTheirCauseAndKeepWrittenFrames) {
    test::TempDir dir;
    {
        std::ofstream(dir.file("not-a-folder")) << "x";
        Fixture f(8, 8, 1, 1, dir.file("not-a-folder"));
        Recorder rec;
        MorphRunResult r = RunMorph(f.request, rec);
        EXPECT_EQ(r.status, MorphRunResult::Status::Failed);
        EXPECT_NE(r.error.find("not-a-folder"), std::string::npos) << r.error;
        EXPECT_EQ(r.framesWritten, 0);
    }
    for (int kind : {kSaveBmp, kSaveJpg, kSaveGif}) {
        Fixture f(8, 8, 1, 1, dir.path().string());
        f.request.totalFrames = 3;
        f.request.saveKind = kind;
        Recorder rec;
        // A folder in the way of frame 001 makes its file unwritable.
        rec.onFolder = [kind](const std::string& folder) { fs::create_directory(folder + "/" + FrameFileName(1, kind)); };
        MorphRunResult r = RunMorph(f.request, rec);
        EXPECT_EQ(r.status, MorphRunResult::Status::Failed) << kind;
        EXPECT_EQ(r.framesWritten, 1);
        EXPECT_NE(r.error.find(FrameFileName(1, kind)), std::string::npos) << r.error;
        EXPECT_TRUE(fs::exists(r.folder + "/" + FrameFileName(0, kind)));
        EXPECT_FALSE(fs::exists(ProcessTempPath(dir.path().string(), "Dumy.bmp")));
    }
}

// Runs in other processes use the same program folder: their Dumy.bmp is theirs.
TEST(MorphRun, JpgRunLeavesOtherRunsTemporaryFilesAlone) {
    test::TempDir dir;
    const std::string other = dir.file("Dumy.bmp"), otherLive = dir.file("Dumy.1.bmp");
    test::writeText(other, "another run's frame");
    test::writeText(otherLive, "pid 1's frame");
    Fixture f(40, 30, 2, 2, dir.path().string());
    f.request.saveKind = kSaveJpg;
    Recorder rec;
    MorphRunResult r = RunMorph(f.request, rec);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(test::readText(other), "another run's frame");
    EXPECT_EQ(test::readText(otherLive), "pid 1's frame");
    EXPECT_EQ(listFolder(r.folder), (std::vector<std::string>{"000.jpg", "001.jpg"}));
}

TEST(MorphRun, StartRemovesTheLitterOfKilledRuns) {
    test::TempDir dir;
    const std::string dead = std::to_string(test::deadProcessId());
    fs::create_directories(dir.path() / "20200101-00-00-00");
    fs::create_directories(dir.path() / "20200101-00-00-00-2");
    fs::create_directories(dir.path() / "photos");
    const std::string held = "20200101-00-00-00/" + NewTempFileName(".004.bmp", "");
    struct Case {
        std::string file;
        bool removed;
    };
    const Case cases[] = {
        {"20200101-00-00-00/" + NewTempFileName(".003.bmp", ""), true},
        {"20200101-00-00-00-2/" + NewTempFileName(".000.gif", ""), true},
        {NewTempFileName(".Tarnel.ini", ""), true},
        {NewTempFileName("AVI_Temp", ".bmp"), true},
        {held, false},  // a run still writing it
        {"20200101-00-00-00/003.bmp", false},
        {"photos/" + NewTempFileName(".x.jpg", ""), false},  // not a frame folder
        {".notes.txt.tmp-99999-1", false},                   // a user's files
        {"Dumy.99998.bmp", false},
        {"20200101-00-00-00/.important.tmp-4194000-7", false},
        {"Dumy." + dead + ".bmp", false},
    };
    for (const Case& c : cases) test::writeText(dir.path() / c.file, "x");
    test::ForeignLock writer((dir.path() / held).string());
    ASSERT_TRUE(writer.held());
    Fixture f(8, 8, 1, 1, dir.path().string());
    Recorder rec;
    MorphRunResult r = RunMorph(f.request, rec);
    ASSERT_TRUE(r.ok()) << r.error;
    for (const Case& c : cases) EXPECT_EQ(fs::exists(dir.path() / c.file), !c.removed) << c.file;
}
