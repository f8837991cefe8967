// Importing AVI frames into an animated GIF container, with AVIs made by the
// ffmpeg tool and the cube colours worked out here from the known pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "imaging/LoadBudget.h"
#include "imaging/gif/cGif.h"
#include "imaging/palette/mDither8bpp.h"
#include "output/mAVIImp.h"
#include "platform/media/AviReader.h"
#include "support/AviFiles.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/GiflibReader.h"
#include "support/TempDir.h"

using namespace tarnel;
using namespace tarnel::test;

namespace {

class RecordingProgress : public ProgressSink {
public:
    void SetMax(int32_t max) override { maxima.push_back(max); }
    void SetValue(int32_t value) override { values.push_back(value); }
    std::vector<int32_t> maxima, values;
};

class AviImport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg tool";
    }
    std::string make(const AviRecipe& recipe, const std::string& name = "video.avi") {
        std::string path = dir_.file(name);
        EXPECT_TRUE(makeAvi(path, recipe));
        return path;
    }
    TempDir dir_;
};

struct DelayCase {
    int frames;
    const char* rate;
    int16_t delay;
};

TEST_F(AviImport, FrameDelaysFromTheStreamDuration) {
    const DelayCase cases[] = {
        {10, "10", 10},       // 100 ms a frame
        {15, "15", 7},        // 1,000 / 15 = 67 ms -> 6.7 -> 7
        {4, "8", 12},         // 125 ms -> 12.5 -> 12, ties to even
        {3, "30000/1001", 3}, // 33 ms (100 / 3 = 33.4 ms -> 33) -> 3.3 -> 3
    };
    for (const DelayCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.frames) + " frames at " + c.rate);
        AviRecipe recipe;
        recipe.frames = c.frames;
        recipe.rate = c.rate;
        recipe.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
        std::string path = make(recipe);
        cGif gif;
        std::string error;
        ASSERT_TRUE(ImportAviFrames(path, gif, nullptr, &error)) << error;
        ASSERT_EQ(gif.FramesCount(), c.frames);
        for (int n = 1; n <= c.frames; ++n) {
            EXPECT_EQ(gif.FrameDelay(n), c.delay) << "frame " << n;
            EXPECT_EQ(gif.FrameDisposalMethod(n), 3) << "frame " << n;
        }
    }
}

TEST_F(AviImport, RawFramesMapToTheNearestCubeColour) {
    for (const char* args : {"-c:v rawvideo -pix_fmt bgr24", // stored bottom-up: flipped rows under a positive height
                             "-vf vflip -c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1",
                             "-c:v ffv1 -pix_fmt bgr0"}) {
        SCOPED_TRACE(args);
        AviRecipe recipe;
        recipe.width = 30;
        recipe.height = 20;
        recipe.frames = 5;
        recipe.codecArgs = args;
        std::string path = make(recipe);
        cGif gif;
        ASSERT_TRUE(ImportAviFrames(path, gif, nullptr));
        ASSERT_EQ(gif.FramesCount(), 5);
        for (int n = 1; n <= 5; ++n) {
            const GcDIB& xor8 = gif.FrameDIBXOR(n);
            ASSERT_EQ(xor8.BPP(), 8);
            ASSERT_EQ(xor8.Width(), 30);
            ASSERT_EQ(xor8.Height(), 20);
            std::vector<uint8_t> bgr = testFrameBgr(30, 20, n - 1);
            int wrong = 0;
            for (int y = 0; y < 20; ++y)
                for (int x = 0; x < 30; ++x) {
                    const uint8_t* p = &bgr[size_t(y * 30 + x) * 3];
                    wrong += GetPixelIndex(xor8, x, y) != nearestCubeIndex(p[2], p[1], p[0]);
                }
            EXPECT_EQ(wrong, 0) << "frame " << n;
        }
    }
}

TEST_F(AviImport, ContainerIsReadyToSave) {
    AviRecipe recipe;
    recipe.codecArgs = "-c:v mjpeg -q:v 3";
    std::string path = make(recipe);
    cGif gif;
    RecordingProgress progress;
    ASSERT_TRUE(ImportAviFrames(path, gif, &progress));
    EXPECT_EQ(progress.maxima, std::vector<int32_t>{10});
    EXPECT_EQ(progress.values, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
    EXPECT_EQ(gif.ScreenWidth(), recipe.width);
    EXPECT_EQ(gif.ScreenHeight(), recipe.height);
    EXPECT_FLOAT_EQ(gif.ScreenPixelAspectRatio(), 1.0f);
    ASSERT_TRUE(gif.GlobalPaletteExists());
    ASSERT_EQ(gif.GlobalPaletteEntries(), 216);
    // The cube, red fastest, levels of 51.
    for (int i : {0, 5, 6, 36, 43, 215}) {
        const uint8_t* q = gif.lpGlobalPalette() + 4 * i;
        EXPECT_EQ(q[2], 51 * (i % 6)) << i;
        EXPECT_EQ(q[1], 51 * (i / 6 % 6)) << i;
        EXPECT_EQ(q[0], 51 * (i / 36)) << i;
    }
    EXPECT_FALSE(gif.LocalPaletteUsed(1));
    EXPECT_EQ(gif.LocalPaletteEntries(1), 216);

    // giflib reads back what we wrote.
    const std::string out = dir_.file("out.gif");
    ASSERT_TRUE(gif.Save(out));
    GiflibReader check(out);
    ASSERT_TRUE(check.ok());
    ASSERT_EQ(check->ImageCount, 10);
    EXPECT_EQ(check.gcb(3).DelayTime, 10);
    EXPECT_EQ(check.gcb(3).DisposalMode, DISPOSE_PREVIOUS);
    EXPECT_EQ(check->SColorMap->ColorCount, 256);
}

TEST_F(AviImport, MissingFrameStopsAndKeepsTheEmptyFrame) {
    AviRecipe recipe;
    recipe.frames = 5;
    recipe.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
    std::vector<uint8_t> bytes = readFile(make(recipe));
    // Cut the file in the middle of the fourth frame's data: three frames
    // decode, the fourth is there but cannot be decoded.
    const std::string tag = "00dc";  // stream 0, video data
    const std::string movi = "movi";
    size_t at = size_t(std::search(bytes.begin(), bytes.end(), movi.begin(), movi.end()) - bytes.begin());
    for (int seen = 0; seen < 4; ++seen) {
        at = size_t(std::search(bytes.begin() + long(at) + 1, bytes.end(), tag.begin(), tag.end()) - bytes.begin());
        ASSERT_LT(at, bytes.size()) << "fewer than four frame chunks";
    }
    bytes.resize(at + 8 + size_t(recipe.width * recipe.height * 3) / 2);

    AviReader reader;
    ASSERT_TRUE(reader.OpenMemory(bytes.data(), bytes.size()));
    ASSERT_EQ(reader.Length(), 4);
    cGif gif;
    std::string error;
    EXPECT_FALSE(ImportAviFrames(reader, gif, nullptr, &error));
    ASSERT_EQ(gif.FramesCount(), 4);  // three frames and the empty one that failed
    const GcDIB& empty = gif.FrameDIBXOR(4);
    EXPECT_EQ(empty.Width(), recipe.width);
    EXPECT_EQ(GetPixelIndex(empty, 5, 5), 0);
    EXPECT_EQ(gif.GlobalPaletteEntries(), 216);
    std::vector<uint8_t> saved;
    EXPECT_TRUE(gif.SaveToStream(saved));
}

TEST_F(AviImport, NoFramesOrNoFileIsAFailure) {
    cGif gif;
    EXPECT_FALSE(ImportAviFrames(dir_.file("missing.avi"), gif, nullptr));
    EXPECT_EQ(gif.FramesCount(), 0);

    const std::string empty = dir_.file("empty.avi");
    ASSERT_TRUE(runFfmpeg("-f lavfi -i color=c=red:s=16x16:r=10 -frames:v 0 -c:v rawvideo -f avi " + ShellQuote(empty)));
    std::string error;
    EXPECT_FALSE(ImportAviFrames(empty, gif, nullptr, &error));
    EXPECT_EQ(gif.FramesCount(), 0);
}

// Hand-made AVIs whose headers claim more than their bytes or a GIF can
// hold: refused before the first frame, the budget of the file's size never
// overdrawn, and the reason named.
struct BudgetCase {
    const char* name;
    int32_t width, height;
    int frames;               // packets, each the RLE8 data `fill` says
    bool fill;                // every frame painted by runs, or ended at once
    GifPaletteChoice palette;
    const char* reason;       // a part of the error; nullptr: the import works
};

std::ostream& operator<<(std::ostream& os, const BudgetCase& c) { return os << c.name; }

class AviImportBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(AviImportBudget, RefusedBeforeTheFirstFrameOrWithinTheBudget) {
    const BudgetCase& c = GetParam();
    HandMadeAvi avi;
    avi.width = c.width;
    avi.height = c.height;
    avi.packets.assign(size_t(c.frames), c.fill ? rle8Fill(c.width, c.height, 9) : rle8Empty());
    const std::vector<uint8_t> bytes = handMadeAvi(avi);
    TempDir dir;
    writeFile(dir.file("claim.avi"), bytes);

    LoadBudget budget = LoadBudget::ForInput(bytes.size());
    AviReader reader;
    std::string error;
    cGif gif;
    bool ok = reader.Open(dir.file("claim.avi"), &error);
    if (ok) {
        AviImportOptions options;
        options.Quality.palette = c.palette;
        options.Budget = &budget;
        ok = ImportAviFrames(reader, gif, nullptr, options, &error);
    }
    if (!c.reason) {
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(gif.FramesCount(), c.frames);
        // Every frame of the container was reserved before it was made.
        EXPECT_GE(budget.Used(), uint64_t(c.frames) * uint64_t(c.width) * uint64_t(c.height));
        EXPECT_LE(budget.Used(), budget.Limit());
        return;
    }
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(gif.FramesCount(), 0) << "refused after frames were imported";
    EXPECT_EQ(budget.Used(), 0u);

    // The file's own import, as the command line and the composer run it, says the same.
    std::string direct;
    EXPECT_FALSE(ImportAviFramesWithQuality(dir.file("claim.avi"), gif, nullptr, GifQuality{}, &direct));
    EXPECT_NE(direct.find(c.reason), std::string::npos) << direct;
}

const BudgetCase kBudgetCases[] = {
    {"small frames", 64, 48, 3, true, GifPaletteChoice::Cube, nullptr},
    {"small frames, all-frames palette", 64, 48, 3, true, GifPaletteChoice::AdaptiveHq, nullptr},
    {"runs that paint large frames", 2560, 2048, 2, true, GifPaletteChoice::Cube, nullptr},
    // 2 bytes a frame: the frame size passes the floor, the count cannot.
    {"empty frames at the floor", 2048, 2048, 40, false, GifPaletteChoice::Cube, "more memory than allowed"},
    {"empty frames, all-frames palette", 1024, 1024, 24, false, GifPaletteChoice::AdaptiveHq,
     "more memory than allowed"},
    {"more frame pixels than a GIF holds", 2048, 2048, 130, false, GifPaletteChoice::Cube,
     "more frames than an animated GIF can hold"},
    {"more frames than a GIF holds", 2, 2, 32768, false, GifPaletteChoice::Cube,
     "more frames than an animated GIF can hold"},
    {"frames beyond their runs", 4096, 4096, 1, false, GifPaletteChoice::Cube, "is implausible for a file of"},
};

INSTANTIATE_TEST_SUITE_P(Claims, AviImportBudget, ::testing::ValuesIn(kBudgetCases), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

}  // namespace
