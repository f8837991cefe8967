// The one animation import: each import reduces with its own converter, and
// the AVI and frame-folder sources feed it alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "imaging/PictureIO.h"
#include "imaging/gif/cGif.h"
#include "output/AnimationImport.h"
#include "output/FrameFolderImport.h"
#include "output/mAVIImp.h"
#include "support/AviFiles.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::TempDir;

namespace {

constexpr int kW = 24, kH = 16, kFrames = 6;

// Pixel (x, y) of frame k of the test videos as 0x00RRGGBB.
uint32_t testPixel(const std::vector<uint8_t>& bgr, int x, int y) {
    const uint8_t* p = &bgr[size_t(y * kW + x) * 3];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

StdPicture testFrame(int k) {
    const std::vector<uint8_t> bgr = test::testFrameBgr(kW, kH, k);
    return test::makePicture(kW, kH, [&](int x, int y) { return testPixel(bgr, x, y); });
}

// The test frames from memory; `onFrame` runs before each frame is handed out.
class MemoryFrames : public FrameSource {
public:
    explicit MemoryFrames(int count, std::function<void(int32_t)> onFrame = {}) : onFrame_(std::move(onFrame)) {
        for (int k = 0; k < count; ++k) frames_.push_back(testFrame(k));
    }
    int32_t Count() const override { return int32_t(frames_.size()); }
    int32_t Width() const override { return kW; }
    int32_t Height() const override { return kH; }
    bool Frame(int32_t index, Bitmap& out, std::string* error) override {
        if (onFrame_) onFrame_(index);
        if (index == failAt) {
            if (error) *error = "frame gone";
            return false;
        }
        out = *frames_[size_t(index)].bitmap;
        return true;
    }
    std::string TooManyFrames() const override { return "too many"; }
    int32_t failAt = -1;

private:
    std::vector<StdPicture> frames_;
    std::function<void(int32_t)> onFrame_;
};

std::vector<uint8_t> bytesOf(const cGif& gif) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(gif.SaveToStream(out));
    return out;
}

const GifQuality kQualities[] = {{GifPaletteChoice::Cube, 0},        {GifPaletteChoice::Cube, 1},
                                 {GifPaletteChoice::Adaptive, 2},    {GifPaletteChoice::Adaptive, 0},
                                 {GifPaletteChoice::AdaptiveAll, 1}, {GifPaletteChoice::AdaptiveHq, 2}};

std::string nameOf(const GifQuality& q) {
    return std::to_string(int(q.palette)) + "/" + std::to_string(q.ditherMethod);
}

TEST(AnimationImport, AnImportRunningInsideAnotherLeavesBothAsAlone) {
    std::vector<std::vector<uint8_t>> alone;
    for (const GifQuality& q : kQualities) {
        MemoryFrames source(kFrames);
        cGif gif;
        ASSERT_TRUE(ImportAnimation(source, gif, nullptr, q, 5));
        alone.push_back(bytesOf(gif));
    }
    // While each outer import is between frames 2 and 3, another quality's
    // import runs from start to end.
    const size_t n = std::size(kQualities);
    for (size_t a = 0; a < n; ++a) {
        const size_t b = (a + 1) % n;
        SCOPED_TRACE(nameOf(kQualities[a]) + " around " + nameOf(kQualities[b]));
        cGif inner;
        bool innerDone = false;
        MemoryFrames outerSource(kFrames, [&](int32_t index) {
            if (index != 2 || innerDone) return;
            innerDone = true;
            MemoryFrames innerSource(kFrames);
            EXPECT_TRUE(ImportAnimation(innerSource, inner, nullptr, kQualities[b], 5));
        });
        cGif outer;
        ASSERT_TRUE(ImportAnimation(outerSource, outer, nullptr, kQualities[a], 5));
        ASSERT_TRUE(innerDone);
        EXPECT_EQ(bytesOf(outer), alone[a]);
        EXPECT_EQ(bytesOf(inner), alone[b]);
    }
}

TEST(AnimationImport, ProgressAndAFrameThatCannotBeRead) {
    struct Recorder : ProgressSink {
        void SetMax(int32_t m) override { maxima.push_back(m); }
        void SetValue(int32_t v) override { values.push_back(v); }
        std::vector<int32_t> maxima, values;
    };
    const struct {
        GifPaletteChoice palette;
        int32_t failAt;
        std::vector<int32_t> maxima, values;
        int frames;
    } cases[] = {
        {GifPaletteChoice::Cube, -1, {4}, {1, 2, 3, 4, 0}, 4},
        // The sampling counts the frames first.
        {GifPaletteChoice::AdaptiveAll, -1, {4, 4}, {1, 2, 3, 4, 0, 1, 2, 3, 4, 0}, 4},
        // Frame index 2 is missing: frames 1 and 2 and the empty third stay.
        {GifPaletteChoice::Adaptive, 2, {4}, {1, 2, 0}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.palette));
        MemoryFrames source(4);
        cGif gif;
        Recorder progress;
        std::string error;
        source.failAt = c.failAt;
        EXPECT_EQ(ImportAnimation(source, gif, &progress, {c.palette, 0}, 9, &error), c.failAt < 0);
        EXPECT_EQ(error, c.failAt < 0 ? "" : "frame gone");
        EXPECT_EQ(progress.maxima, c.maxima);
        EXPECT_EQ(progress.values, c.values);
        ASSERT_EQ(gif.FramesCount(), c.frames);
        EXPECT_EQ(gif.FrameDelay(1), 9);
        EXPECT_EQ(gif.ScreenWidth(), kW);
        EXPECT_TRUE(gif.GlobalPaletteExists());
    }
}

TEST(AnimationImport, FolderAndVideoOfTheSameFramesGiveTheSameFile) {
    if (!test::haveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    TempDir dir;
    // 20 frames a second: the frame time of a folder's default delay.
    test::AviRecipe recipe;
    recipe.width = kW;
    recipe.height = kH;
    recipe.frames = kFrames;
    recipe.rate = "20";
    recipe.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
    const std::string avi = dir.file("clip.avi");
    ASSERT_TRUE(test::makeAvi(avi, recipe));
    const std::string folder = dir.file("frames");
    std::filesystem::create_directory(folder);
    for (int k = 0; k < kFrames; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "/%03d.bmp", k);
        ASSERT_TRUE(SavePictureBMP(testFrame(k), folder + name));
    }
    for (const GifQuality& q : kQualities) {
        SCOPED_TRACE(nameOf(q));
        cGif fromVideo, fromFolder;
        std::string error;
        ASSERT_TRUE(ImportAviFramesWithQuality(avi, fromVideo, nullptr, q, &error)) << error;
        ASSERT_TRUE(ImportFrameFolder(folder, fromFolder, nullptr, q, kDefaultFolderFrameDelay, &error)) << error;
        ASSERT_EQ(fromVideo.FramesCount(), kFrames);
        EXPECT_EQ(bytesOf(fromVideo), bytesOf(fromFolder));
    }
}

}  // namespace
