#include "platform/media/VideoWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/FFprobe.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/TempDir.h"
#include "support/VideoFrames.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

struct NameCase {
    const char* path;
    std::optional<VideoContainer> container;
};

TEST(VideoWriter, TheContainerComesFromTheExtensionInAnyCase) {
    const NameCase cases[] = {
        {"a.mp4", VideoContainer::Mp4},   {"/x/y/CLIP.MP4", VideoContainer::Mp4}, {"a.Mp4", VideoContainer::Mp4},
        {"a.webm", VideoContainer::WebM}, {"b.WEBM", VideoContainer::WebM},      {"dir.mp4/b.WebM", VideoContainer::WebM},
        {"a.avi", std::nullopt},          {"mp4", std::nullopt},                 {"a.mp4.part", std::nullopt},
        {"a.mp", std::nullopt},           {"a.webmx", std::nullopt},             {"", std::nullopt},
    };
    for (const NameCase& c : cases) EXPECT_EQ(VideoContainerFor(c.path), c.container) << c.path;
}

// What each container is written as.
struct WriteCase {
    VideoContainer container;
    int width, height;
    int fps;
    const char* codec;
    int codedWidth, codedHeight;
    // What the writer reaches on the moving picture at its default quality
    // (measured: 37.5, 34.4, 37.0, 33.7 dB), less a margin for other
    // encoder builds.
    double minPsnr;
};

class VideoWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(VideoWrite, FramesDecodeBackCloseToTheirPictures) {
    const WriteCase c = GetParam();
    test::TempDir dir;
    const std::string path = dir.file(c.container == VideoContainer::Mp4 ? "v.mp4" : "v.webm");
    constexpr int kFrames = 12;
    std::vector<StdPicture> pictures;
    for (int k = 0; k < kFrames; ++k) pictures.push_back(test::movingPicture(c.width, c.height, k));

    VideoWriter writer;
    VideoOptions options;
    options.container = c.container;
    options.width = c.width;
    options.height = c.height;
    options.framesPerSecond = c.fps;
    ASSERT_TRUE(writer.Open(path, options)) << writer.LastError();
    std::vector<int> encoded;
    writer.onEncoded([&](int n) { encoded.push_back(n); });
    for (const StdPicture& p : pictures) ASSERT_TRUE(writer.Write(*p.bitmap)) << writer.LastError();
    EXPECT_EQ(writer.framesWritten(), kFrames);
    EXPECT_EQ(writer.framesEncoded(), int(encoded.size()));
    EXPECT_FALSE(fs::exists(path)) << "the file appears only when complete";
    ASSERT_TRUE(writer.Commit()) << writer.LastError();
    // Every frame counted once, in order, the held-back ones by Commit.
    std::vector<int> expected(kFrames);
    for (int k = 0; k < kFrames; ++k) expected[size_t(k)] = k + 1;
    EXPECT_EQ(encoded, expected);
    EXPECT_EQ(writer.codedWidth(), c.codedWidth);
    EXPECT_EQ(writer.codedHeight(), c.codedHeight);
    EXPECT_EQ(test::listFolder(dir.path().string()), std::vector<std::string>{fs::path(path).filename().string()})
        << "no temporary file is left";

    if (!test::HaveFFprobe() || !test::HaveFFmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg are not installed";
    const test::ProbedVideo v = test::ProbeVideo(path);
    EXPECT_EQ(v.codec, c.codec);
    EXPECT_EQ(v.pixelFormat, "yuv420p");
    EXPECT_EQ(v.width, c.codedWidth);
    EXPECT_EQ(v.height, c.codedHeight);
    EXPECT_EQ(v.frames, kFrames);
    EXPECT_EQ(v.frameRate, std::to_string(c.fps) + "/1");
    EXPECT_NEAR(v.duration, double(kFrames) / c.fps, 0.5 / c.fps);
    EXPECT_EQ(v.colorSpace, "bt709");
    EXPECT_EQ(v.colorRange, "tv");

    const auto planes = test::DecodeYuv420(path, c.codedWidth, c.codedHeight);
    ASSERT_EQ(planes.size(), size_t(kFrames));
    std::vector<std::vector<uint8_t>> decoded;
    for (const auto& p : planes) decoded.push_back(test::Bt709ToBgr24(p, c.codedWidth, c.codedHeight));
    for (int k = 0; k < kFrames; ++k)
        EXPECT_GT(test::Psnr(decoded[size_t(k)], c.codedWidth, pictures[size_t(k)]), c.minPsnr) << "frame " << k;
    // Padding repeats the last column and row: the padded picture's edge
    // matches the picture stretched by one pixel.
    if (c.codedWidth != c.width || c.codedHeight != c.height) {
        const StdPicture& last = pictures.back();
        const StdPicture padded = test::makePicture(c.codedWidth, c.codedHeight, [&](int x, int y) {
            return last.bitmap->pixelValue(std::min(x, c.width - 1), std::min(y, c.height - 1));
        });
        EXPECT_GT(test::Psnr(decoded.back(), c.codedWidth, padded), c.minPsnr);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, VideoWrite,
                         ::testing::Values(WriteCase{VideoContainer::Mp4, 64, 48, 20, "h264", 64, 48, 36.0},
                                           WriteCase{VideoContainer::Mp4, 33, 25, 10, "h264", 34, 26, 33.0},
                                           WriteCase{VideoContainer::WebM, 64, 48, 20, "vp9", 64, 48, 35.5},
                                           WriteCase{VideoContainer::WebM, 33, 25, 7, "vp9", 33, 25, 32.0}));

TEST(VideoWriter, BottomUpAnd24BitFramesAreTakenAsTheyShow) {
    if (!test::HaveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    const StdPicture picture = test::movingPicture(32, 24, 3);
    for (int bpp : {24, 32}) {
        for (bool topDown : {true, false}) {
            Bitmap frame;
            ASSERT_TRUE(frame.create(32, 24, bpp, topDown));
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 32; ++x) frame.setPixelValue(x, y, picture.bitmap->pixelValue(x, y));
            const std::string path = dir.file("f" + std::to_string(bpp) + (topDown ? "t" : "b") + ".mp4");
            VideoWriter writer;
            VideoOptions options;
            options.width = 32;
            options.height = 24;
            ASSERT_TRUE(writer.Open(path, options)) << writer.LastError();
            ASSERT_TRUE(writer.Write(frame)) << writer.LastError();
            ASSERT_TRUE(writer.Commit()) << writer.LastError();
            const auto decoded = test::DecodeYuv420(path, 32, 24);
            ASSERT_EQ(decoded.size(), 1u);
            // 33.4 dB measured for this single frame.
            EXPECT_GT(test::Psnr(test::Bt709ToBgr24(decoded[0], 32, 24), 32, picture), 32.0) << bpp << " " << topDown;
        }
    }
}

// The pixels are converted by the matrix the stream is tagged with: flat
// patches of saturated colour, decoded back by BT.709, keep their colour.
// Under the BT.601 matrix some of them come back 10 to 20 levels off.
TEST(VideoWriter, ColourPatchesDecodeBackByTheTaggedMatrix) {
    if (!test::HaveFFprobe() || !test::HaveFFmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg are not installed";
    // 2 x 2 patches of 32 x 32 pixels, kept away from full scale so that no
    // channel clips under either matrix.
    const uint32_t patches[4] = {0xC82828, 0x28B43C, 0x323CC8, 0xC8C83C};
    constexpr int kSide = 64, kPatch = 32;
    const StdPicture picture = test::makePicture(kSide, kSide, [&](int x, int y) {
        return patches[(y / kPatch) * 2 + x / kPatch];
    });
    test::TempDir dir;
    for (VideoContainer container : {VideoContainer::Mp4, VideoContainer::WebM}) {
        const std::string path = dir.file(container == VideoContainer::Mp4 ? "p.mp4" : "p.webm");
        VideoWriter writer;
        VideoOptions options;
        options.container = container;
        options.width = options.height = kSide;
        options.crf = 10;  // fine quantising: what is left off is the matrix
        ASSERT_TRUE(writer.Open(path, options)) << writer.LastError();
        for (int k = 0; k < 3; ++k) ASSERT_TRUE(writer.Write(*picture.bitmap)) << writer.LastError();
        ASSERT_TRUE(writer.Commit()) << writer.LastError();
        EXPECT_EQ(test::ProbeVideo(path).colorSpace, "bt709");
        const auto planes = test::DecodeYuv420(path, kSide, kSide);
        ASSERT_EQ(planes.size(), 3u);
        const std::vector<uint8_t> bgr = test::Bt709ToBgr24(planes.back(), kSide, kSide);
        for (int p = 0; p < 4; ++p) {
            // The mean of the patch's inner 16 x 16, clear of the chroma edges.
            const int x0 = (p % 2) * kPatch + 8, y0 = (p / 2) * kPatch + 8;
            double sum[3] = {0, 0, 0};
            for (int y = y0; y < y0 + 16; ++y)
                for (int x = x0; x < x0 + 16; ++x)
                    for (int c = 0; c < 3; ++c) sum[c] += bgr[(size_t(y) * kSide + size_t(x)) * 3 + size_t(c)];
            for (int c = 0; c < 3; ++c) {
                const double expected = double((patches[p] >> (8 * c)) & 0xFF);  // B, G, R
                EXPECT_NEAR(sum[c] / 256.0, expected, 2.5)
                    << (container == VideoContainer::Mp4 ? "mp4" : "webm") << " patch " << p << " channel " << "BGR"[c];
            }
        }
    }
}

TEST(VideoWriter, AMissingEncoderIsReportedBeforeAnyFileIsMade) {
    test::TempDir dir;
    for (VideoContainer container : {VideoContainer::Mp4, VideoContainer::WebM}) {
        VideoOptions options;
        options.container = container;
        options.width = options.height = 16;
        options.encoder = "tarnel-no-such-encoder";
        std::string why;
        EXPECT_FALSE(VideoEncoderAvailable(options, &why));
        EXPECT_NE(why.find("tarnel-no-such-encoder"), std::string::npos) << why;
        VideoWriter writer;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(writer.Open(dir.file("x.mp4"), options));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(writer.LastError(), why);
        options.encoder.clear();
        EXPECT_TRUE(VideoEncoderAvailable(options)) << "this FFmpeg has " << VideoEncoderName(container);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Opening fails with the reason, and nothing is left behind.
struct OpenFailure {
    const char* name;
    const char* path;  // under the test folder
    int width, height, fps, crf;
    const char* says;
};

class VideoOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(VideoOpenFailure, LeavesNoFile) {
    const OpenFailure c = GetParam();
    test::TempDir dir;
    fs::create_directory(dir.path() / "folder.mp4");
    VideoWriter writer;
    VideoOptions options;
    options.container = VideoContainerFor(c.path).value_or(VideoContainer::Mp4);
    options.width = c.width;
    options.height = c.height;
    options.framesPerSecond = c.fps;
    options.crf = c.crf;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writer.Open(dir.file(c.path), options));
    writer.Release();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "FFmpeg keeps quiet";
    EXPECT_NE(writer.LastError().find(c.says), std::string::npos) << writer.LastError();
    EXPECT_EQ(test::listFolder(dir.path().string()), std::vector<std::string>{"folder.mp4"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VideoOpenFailure,
    ::testing::Values(OpenFailure{"NoFolder", "no/such/x.mp4", 16, 16, 20, -1, "No such file"},
                      OpenFailure{"AFolder", "folder.mp4", 16, 16, 20, -1, "folder.mp4"},
                      OpenFailure{"NoSize", "x.webm", 0, 16, 20, -1, "size"},
                      OpenFailure{"NoRate", "x.mp4", 16, 16, 0, -1, "frame rate"},
                      OpenFailure{"TooFast", "x.mp4", 16, 16, 241, -1, "frame rate"},
                      OpenFailure{"CrfBeyondH264", "x.mp4", 16, 16, 20, 52, "0 to 51"},
                      OpenFailure{"CrfBeyondVp9", "x.webm", 16, 16, 20, 64, "0 to 63"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VideoWriter, AnUnfinishedFileLeavesTheTargetAsItWas) {
    test::TempDir dir;
    const std::string path = dir.file("keep.webm");
    std::ofstream(path) << "earlier";
    const StdPicture picture = test::movingPicture(16, 16, 0);
    {
        VideoWriter writer;
        VideoOptions options;
        options.container = VideoContainer::WebM;
        options.width = options.height = 16;
        ASSERT_TRUE(writer.Open(path, options)) << writer.LastError();
        ASSERT_TRUE(writer.Write(*picture.bitmap));
        // A frame of another size is refused and spoils the file.
        const StdPicture other = test::movingPicture(18, 16, 0);
        EXPECT_FALSE(writer.Write(*other.bitmap));
        EXPECT_NE(writer.LastError().find("18x16"), std::string::npos) << writer.LastError();
        EXPECT_EQ(test::listFolder(dir.path().string()).size(), 2u) << "the temporary file is there while writing";
    }
    EXPECT_EQ(test::readText(path), "earlier");
    EXPECT_EQ(test::listFolder(dir.path().string()), std::vector<std::string>{"keep.webm"});

    // No frames: nothing to commit.
    VideoWriter empty;
    VideoOptions options;
    options.width = options.height = 16;
    ASSERT_TRUE(empty.Open(dir.file("empty.mp4"), options));
    EXPECT_FALSE(empty.Commit());
    empty.Release();
    EXPECT_EQ(test::listFolder(dir.path().string()), std::vector<std::string>{"keep.webm"});
}

TEST(VideoWriter, ACommittedFileReplacesTheOldOneAndKeepsItsPermissions) {
    test::TempDir dir;
    const std::string path = dir.file("out.mp4");
    std::ofstream(path) << "earlier";
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    VideoWriter writer;
    VideoOptions options;
    options.width = options.height = 16;
    ASSERT_TRUE(writer.Open(path, options));
    ASSERT_TRUE(writer.Write(*test::movingPicture(16, 16, 0).bitmap));
    ASSERT_TRUE(writer.Commit()) << writer.LastError();
    EXPECT_NE(test::readText(path), "earlier");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
