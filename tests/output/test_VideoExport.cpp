#include "output/VideoExport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "imaging/PictureIO.h"
#include "output/FolderChooser.h"
#include "support/FFprobe.h"
#include "support/TempDir.h"
#include "support/VideoFrames.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class CountingProgress : public ProgressSink {
public:
    void SetMax(int32_t max) override { this->max = max; }
    void SetValue(int32_t value) override { values.push_back(value); }
    int32_t max = -1;
    std::vector<int32_t> values;
};

class VideoExportTest : public ::testing::Test {
protected:
    std::vector<std::string> frames(int count, int w, int h) {
        EXPECT_TRUE(test::writeMovingFrames(in.path().string(), count, w, h));
        std::vector<std::string> paths;
        for (const std::string& name : ListPatternFiles(in.path().string())) paths.push_back(in.file(name));
        return paths;
    }
    test::TempDir in, out;
};

TEST_F(VideoExportTest, WritesEveryImageInListOrderAndCountsThem) {
    VideoExportRequest request;
    request.framePaths = frames(6, 40, 30);
    request.outputPath = out.file("clip.mp4");
    request.framesPerSecond = 12;
    CountingProgress progress;
    std::string error;
    VideoExportSummary summary;
    ASSERT_EQ(ExportVideo(request, &progress, &error, &summary), VideoExportResult::Written) << error;
    EXPECT_EQ(progress.max, 6);
    EXPECT_EQ(progress.values, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(summary.frames, 6);
    EXPECT_EQ(summary.width, 40);
    EXPECT_EQ(summary.codedHeight, 30);
    if (!test::HaveFFprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const test::ProbedVideo v = test::ProbeVideo(request.outputPath);
    EXPECT_EQ(v.codec, "h264");
    EXPECT_EQ(v.frames, 6);
    EXPECT_EQ(v.frameRate, "12/1");
    // Frame k is image k: each decoded frame is closest to its own image.
    const auto planes = test::DecodeYuv420(request.outputPath, 40, 30);
    ASSERT_EQ(planes.size(), 6u);
    for (int k = 0; k < 6; ++k) {
        const auto bgr = test::Bt709ToBgr24(planes[size_t(k)], 40, 30);
        const double own = test::Psnr(bgr, 40, test::movingPicture(40, 30, k));
        for (int other : {k - 2, k + 2}) {
            if (other >= 0 && other < 6) {
                EXPECT_GT(own, test::Psnr(bgr, 40, test::movingPicture(40, 30, other))) << k;
            }
        }
    }
}

TEST_F(VideoExportTest, ARequestedSizeStretchesEveryImage) {
    VideoExportRequest request;
    request.framePaths = frames(2, 40, 30);
    ASSERT_TRUE(SavePictureBMP(test::movingPicture(20, 50, 9), in.file("002.bmp")));
    request.framePaths.push_back(in.file("002.bmp"));
    request.outputPath = out.file("clip.webm");
    request.width = 31;
    request.height = 17;
    VideoExportSummary summary;
    std::string error;
    ASSERT_EQ(ExportVideo(request, nullptr, &error, &summary), VideoExportResult::Written) << error;
    EXPECT_EQ(summary.frames, 3);
    if (!test::HaveFFprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const test::ProbedVideo v = test::ProbeVideo(request.outputPath);
    EXPECT_EQ(v.codec, "vp9");
    EXPECT_EQ(v.width, 31);
    EXPECT_EQ(v.height, 17);
    EXPECT_EQ(v.frames, 3);
}

// A failed export: its result, a line naming the cause, and no file.
struct FailureCase {
    const char* name;
    const char* output;      // under the output folder
    int imagesOfOtherSize;   // appended after two 24 x 16 images
    bool badImage;           // a third image that is no picture
    bool noImages;
    const char* encoder;
    VideoExportResult result;
    const char* says;
};

class VideoExportFailure : public VideoExportTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(VideoExportFailure, LeavesNothingBehind) {
    const FailureCase c = GetParam();
    VideoExportRequest request;
    if (!c.noImages) request.framePaths = frames(2, 24, 16);
    if (c.imagesOfOtherSize) {
        ASSERT_TRUE(SavePictureBMP(test::movingPicture(26, 16, 0), in.file("z.bmp")));
        request.framePaths.push_back(in.file("z.bmp"));
    }
    if (c.badImage) {
        std::ofstream(in.file("bad.bmp")) << "not a picture";
        request.framePaths.push_back(in.file("bad.bmp"));
    }
    request.outputPath = out.file(c.output);
    request.encoder = c.encoder;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ExportVideo(request, nullptr, &error), c.result);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(out.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VideoExportFailure,
    ::testing::Values(
        FailureCase{"OtherExtension", "a.avi", 0, false, false, "", VideoExportResult::Unsupported, ".mp4 or .webm"},
        FailureCase{"NoEncoder", "a.mp4", 0, false, false, "tarnel-none", VideoExportResult::Unsupported, "tarnel-none"},
        FailureCase{"NoImages", "a.mp4", 0, false, true, "", VideoExportResult::NoFrames, "no images"},
        FailureCase{"SizesDiffer", "a.webm", 1, false, false, "", VideoExportResult::SizeMismatch, "26x16 where the first image is 24x16"},
        FailureCase{"BadImage", "a.mp4", 0, true, false, "", VideoExportResult::ImageLoadFailed, "bad.bmp"},
        FailureCase{"NoFolder", "none/a.mp4", 0, false, false, "", VideoExportResult::WriteFailed, "No such file"}),
    [](const auto& info) { return std::string(info.param.name); });

struct MessageCase {
    const char* output;
    const char* encoder;
    VideoExportResult result;
    const char* message;
};

TEST(VideoExportMessages, AreTheWindowsJapaneseTexts) {
    const MessageCase cases[] = {
        {"a.mp4", "", VideoExportResult::Written, ""},
        {"a.mp4", "", VideoExportResult::Unsupported, "この形式で保存できません： MP4 (libx264 がありません)"},
        {"a.WEBM", "", VideoExportResult::Unsupported, "この形式で保存できません： WebM (libvpx-vp9 がありません)"},
        {"a.webm", "x", VideoExportResult::Unsupported, "この形式で保存できません： WebM (x がありません)"},
        {"a.mp4", "", VideoExportResult::NoFrames, "ﾌｫﾙﾀﾞの中にﾓｰﾌ画像ﾃﾞｰﾀが見つかりません！"},
        {"a.mp4", "", VideoExportResult::ImageLoadFailed, "画像ﾌｧｲﾙのﾛｰﾄﾞで失敗しました!"},
        {"a.mp4", "", VideoExportResult::SizeMismatch, "動画ﾌｧｲﾙの作成は失敗しました!"},
        {"a.mp4", "", VideoExportResult::WriteFailed, "動画ﾌｧｲﾙの作成は失敗しました!"},
    };
    for (const MessageCase& c : cases) {
        VideoExportRequest request;
        request.outputPath = c.output;
        request.encoder = c.encoder;
        EXPECT_EQ(VideoExportMessage(request, c.result), c.message) << c.output << " " << int(c.result);
    }
}

}  // namespace
