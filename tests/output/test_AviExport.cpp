// The export's writer without the window: frame folders to AVI files, read
// back with our own RIFF reader.
#include "output/AviExport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "imaging/PictureIO.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/RiffReader.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

// Colour of pixel (x, y) of frame n: distinct across pixels and frames.
uint32_t frameColour(int n, int x, int y) {
    return uint32_t(((x * 37 + n * 11) & 0xFF) << 16 | ((y * 53 + n * 7) & 0xFF) << 8 | ((x * y + n * 29) & 0xFF));
}

struct Frame {
    int width, height;
};

class AviExportTest : public ::testing::Test {
protected:
    // 000.bmp, 001.bmp, ... in `frames`' sizes; returns the paths.
    std::vector<std::string> makeFolder(const std::vector<Frame>& frames) {
        fs::create_directories(dir_.path() / "frames");
        std::vector<std::string> paths;
        for (size_t n = 0; n < frames.size(); ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "%03zu.bmp", n);
            const std::string path = (dir_.path() / "frames" / name).string();
            StdPicture p = test::makePicture(frames[n].width, frames[n].height,
                                             [n](int x, int y) { return frameColour(int(n), x, y); });
            EXPECT_TRUE(SavePictureBMP(p, path));
            paths.push_back(path);
        }
        sizes_ = frames;
        return paths;
    }

    AviExportRequest request(std::vector<std::string> paths, int w, int h, int fps) {
        AviExportRequest r;
        r.framePaths = std::move(paths);
        r.outputPath = dir_.file("movie.avi");
        r.width = w;
        r.height = h;
        r.framesPerSecond = fps;
        r.tempBmpPath = dir_.file("AVI_Temp.bmp");
        return r;
    }

    static AviOptionsChooser raw() {
        return [] { return std::optional<AviCompressOptions>(AviCompressOptions{}); };
    }

    // Frame n stretched to w x h by the nearest-pixel rule, as 24-bpp bottom-up rows.
    std::vector<uint8_t> expectedFrame(int n, int w, int h) const {
        const Frame src = sizes_[size_t(n)];
        const size_t stride = size_t((w * 3 + 3) / 4 * 4);
        std::vector<uint8_t> bits(stride * size_t(h), 0);
        for (int y = 0; y < h; ++y) {
            const int sy = int((2 * int64_t(y) + 1) * src.height / (2 * int64_t(h)));
            uint8_t* row = bits.data() + stride * size_t(h - 1 - y);
            for (int x = 0; x < w; ++x) {
                const int sx = int((2 * int64_t(x) + 1) * src.width / (2 * int64_t(w)));
                const uint32_t c = frameColour(n, sx, sy);
                row[3 * x] = uint8_t(c);
                row[3 * x + 1] = uint8_t(c >> 8);
                row[3 * x + 2] = uint8_t(c >> 16);
            }
        }
        return bits;
    }

    test::TempDir dir_;
    test::ScriptedDialogs dialogs_;  // every message box would be recorded
    std::vector<Frame> sizes_;
};

struct RecordingProgress : ProgressSink {
    int max = -1;
    std::vector<int> values;
    void SetMax(int32_t m) override { max = m; }
    void SetValue(int32_t v) override { values.push_back(v); }
};

}  // namespace

TEST(ClampAviFrameRate, LimitsToOneToThirty) {
    const std::pair<int, int> cases[] = {{0, 1}, {-5, 1}, {1, 1}, {20, 20}, {30, 30}, {31, 30}, {60, 30}};
    for (auto [in, out] : cases) EXPECT_EQ(ClampAviFrameRate(in), out) << in;
}

TEST_F(AviExportTest, TenFramesAt20FpsAnd320x240) {
    auto paths = makeFolder(std::vector<Frame>(10, Frame{64, 48}));
    RecordingProgress progress;
    std::string error;
    ASSERT_EQ(ExportAvi(request(paths, 320, 240, 20), raw(), &progress, &error), AviExportResult::Written) << error;

    const std::vector<uint8_t> bytes = test::readFile(dir_.file("movie.avi"));
    test::AviContents avi;
    ASSERT_TRUE(test::ReadAvi(bytes, avi, error)) << error;
    const uint32_t frameBytes = 320 * 3 * 240;
    EXPECT_EQ(avi.main.totalFrames, 10u);
    EXPECT_EQ(avi.main.width, 320u);
    EXPECT_EQ(avi.main.height, 240u);
    EXPECT_EQ(avi.stream.fccType, "vids");
    EXPECT_EQ(avi.stream.scale, 1u);
    EXPECT_EQ(avi.stream.rate, 20u);
    EXPECT_EQ(avi.stream.length, 10u);
    EXPECT_EQ(avi.stream.suggestedBufferSize, frameBytes);
    EXPECT_EQ(avi.stream.right, 320);
    EXPECT_EQ(avi.stream.bottom, 240);
    EXPECT_EQ(avi.format.compression, 0u);  // BI_RGB
    EXPECT_EQ(avi.format.bitCount, 24);
    EXPECT_EQ(avi.format.width, 320);
    EXPECT_EQ(avi.format.height, 240);
    EXPECT_EQ(avi.format.sizeImage, frameBytes);
    ASSERT_EQ(avi.frames.size(), 10u);
    ASSERT_EQ(avi.index.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(avi.index[size_t(i)].flags, AVIIF_KEYFRAME);
        const test::AviFrameChunk& chunk = avi.frames[size_t(i)];
        ASSERT_EQ(chunk.size, frameBytes);
        const std::vector<uint8_t> expected = expectedFrame(i, 320, 240);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + long(chunk.dataOffset)))
            << "frame " << i;
    }
    EXPECT_EQ(progress.max, 10);
    EXPECT_EQ(progress.values, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(AviExportTest, ImagesOfOtherSizesAreStretchedInListOrder) {
    auto paths = makeFolder({{64, 48}, {17, 90}, {300, 7}});
    std::string error;
    ASSERT_EQ(ExportAvi(request(paths, 33, 21, 20), raw(), nullptr, &error), AviExportResult::Written) << error;
    const std::vector<uint8_t> bytes = test::readFile(dir_.file("movie.avi"));
    test::AviContents avi;
    ASSERT_TRUE(test::ReadAvi(bytes, avi, error)) << error;
    ASSERT_EQ(avi.frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const std::vector<uint8_t> expected = expectedFrame(i, 33, 21);  // 99-byte rows padded to 100
        ASSERT_EQ(avi.frames[size_t(i)].size, expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + long(avi.frames[size_t(i)].dataOffset)))
            << "frame " << i;
    }
}

TEST_F(AviExportTest, StreamRateIsTheClampedFrameRate) {
    auto paths = makeFolder({{8, 8}});
    const std::pair<int, uint32_t> cases[] = {{0, 1}, {60, 30}, {20, 20}};
    for (auto [fps, rate] : cases) {
        std::string error;
        ASSERT_EQ(ExportAvi(request(paths, 8, 8, fps), raw(), nullptr, &error), AviExportResult::Written) << error;
        test::AviContents avi;
        ASSERT_TRUE(test::ReadAvi(test::readFile(dir_.file("movie.avi")), avi, error)) << error;
        EXPECT_EQ(avi.stream.rate, rate) << fps;
        EXPECT_EQ(avi.stream.scale, 1u);
    }
}

TEST_F(AviExportTest, CancelledOptionsLeaveNoFileAndShowNothing) {
    auto paths = makeFolder({{8, 8}, {8, 8}});
    bool asked = false;
    auto cancel = [&] {
        asked = true;
        return std::optional<AviCompressOptions>();
    };
    EXPECT_EQ(ExportAvi(request(paths, 8, 8, 20), cancel), AviExportResult::Cancelled);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(fs::exists(dir_.file("movie.avi")));

    test::writeText(dir_.file("movie.avi"), "keep me");
    EXPECT_EQ(ExportAvi(request(paths, 8, 8, 20), cancel), AviExportResult::Cancelled);
    EXPECT_EQ(test::readText(dir_.file("movie.avi")), "keep me");
    EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(AviExportTest, FailuresLeaveNoFileAndAnExistingOneUntouched) {
    auto paths = makeFolder({{8, 8}, {8, 8}, {8, 8}});
    test::writeText(dir_.path() / "frames" / "001.bmp", "not a picture");
    test::writeText(dir_.file("movie.avi"), "keep me");

    struct Case {
        const char* what;
        std::string output;
        AviExportResult result;
    } cases[] = {
        {"unreadable frame", dir_.file("movie.avi"), AviExportResult::Abandoned},
        {"missing folder", dir_.file("nowhere/movie.avi"), AviExportResult::WriteFailed},
        {"a folder", dir_.path().string(), AviExportResult::WriteFailed},
    };
    for (const Case& c : cases) {
        AviExportRequest r = request(paths, 8, 8, 20);
        r.outputPath = c.output;
        std::string error;
        EXPECT_EQ(ExportAvi(r, raw(), nullptr, &error), c.result) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    EXPECT_EQ(test::readText(dir_.file("movie.avi")), "keep me");
    EXPECT_FALSE(fs::exists(dir_.path() / "nowhere"));
    for (const auto& e : fs::directory_iterator(dir_.path()))
        EXPECT_EQ(e.path().filename().string().find(".tarnel-tmp-"), std::string::npos) << e.path();
    EXPECT_TRUE(dialogs_.messages.empty()) << dialogs_.messages[0].text;
}

TEST_F(AviExportTest, AWriteThatRunsOutOfRoomLeavesTheOldFile) {
    // Frames of 9 KB each, the file limited to 40 KB: the temporary BMPs fit,
    // the AVI does not.
    auto paths = makeFolder(std::vector<Frame>(10, Frame{64, 48}));
    test::writeText(dir_.file("movie.avi"), "keep me");
    std::string error;
    AviExportResult result;
    {
        test::FileSizeLimit limit(40 * 1024);
        ASSERT_TRUE(limit.ok());
        result = ExportAvi(request(paths, 64, 48, 20), raw(), nullptr, &error);
    }

    EXPECT_EQ(result, AviExportResult::WriteFailed) << error;
    EXPECT_EQ(test::readText(dir_.file("movie.avi")), "keep me");
    for (const auto& e : fs::directory_iterator(dir_.path()))
        EXPECT_EQ(e.path().filename().string().find(".tarnel-tmp-"), std::string::npos) << e.path();
}

TEST_F(AviExportTest, FifoTargetIsRefusedAndSymlinkWrittenThrough) {
    auto paths = makeFolder({{8, 8}});
    ASSERT_EQ(::mkfifo(dir_.file("pipe.avi").c_str(), 0600), 0);
    AviExportRequest r = request(paths, 8, 8, 20);
    r.outputPath = dir_.file("pipe.avi");
    EXPECT_EQ(ExportAvi(r, raw()), AviExportResult::WriteFailed);
    EXPECT_TRUE(fs::is_fifo(dir_.file("pipe.avi")));

    test::writeText(dir_.file("real.avi"), "old");
    fs::create_symlink("real.avi", dir_.path() / "link.avi");
    r.outputPath = dir_.file("link.avi");
    EXPECT_EQ(ExportAvi(r, raw()), AviExportResult::Written);
    EXPECT_TRUE(fs::is_symlink(dir_.path() / "link.avi"));
    EXPECT_EQ(test::readText(dir_.file("real.avi")).substr(0, 4), "RIFF");
    EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(AviExportTest, CompressedExportCarriesEveryFrame) {
    auto paths = makeFolder(std::vector<Frame>(4, Frame{40, 30}));
    AviOptionsChooser ffv1 = [] {
        AviCompressOptions o;
        o.codec = AviCodec::FFV1;
        return std::optional<AviCompressOptions>(o);
    };
    std::string error;
    ASSERT_EQ(ExportAvi(request(paths, 40, 30, 10), ffv1, nullptr, &error), AviExportResult::Written) << error;
    test::AviContents avi;
    ASSERT_TRUE(test::ReadAvi(test::readFile(dir_.file("movie.avi")), avi, error)) << error;
    EXPECT_EQ(avi.main.totalFrames, 4u);
    EXPECT_EQ(avi.format.compression, mmioStringToFOURCC("FFV1"));
}

// Uncompressed frames whose total is known to pass the file limit are refused
// before the first is written; a count that fits is written.
TEST_F(AviExportTest, UncompressedFramesBeyondTheFileLimitAreRefusedBeforeWriting) {
    const auto paths = makeFolder({{16, 16}});
    struct Case {
        int width, height, frames;
        bool refused;
    };
    const Case cases[] = {{2048, 2048, 90, true}, {1024, 1024, 400, true}, {2048, 2048, 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " x " + std::to_string(c.frames));
        RecordingProgress progress;
        std::string error;
        const AviExportResult r = ExportAvi(
            request(std::vector<std::string>(size_t(c.frames), paths[0]), c.width, c.height, 20), raw(), &progress,
            &error);
        if (!c.refused) {
            EXPECT_EQ(r, AviExportResult::Written) << error;
            continue;
        }
        EXPECT_EQ(r, AviExportResult::WriteFailed);
        EXPECT_NE(error.find("would grow beyond 1 GB: " + std::to_string(c.frames) + " uncompressed frames of " +
                             std::to_string(c.width) + "x" + std::to_string(c.height)),
                  std::string::npos)
            << error;
        EXPECT_TRUE(progress.values.empty()) << "frames were written first";
        EXPECT_FALSE(fs::exists(dir_.file("movie.avi")));
    }
}
