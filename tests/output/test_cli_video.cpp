// tarnel-cli video, run as a program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "imaging/PictureIO.h"
#include "support/AsNobody.h"
#include "support/Cli.h"
#include "support/FFprobe.h"
#include "support/Pillow.h"
#include "support/TempDir.h"
#include "support/VideoFrames.h"

using namespace tarnel;
using test::ShellQuote;
namespace fs = std::filesystem;

namespace {

class CliVideo : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = test::CliPath();
        if (cli_.empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
        fs::create_directory(dir_.path() / "frames");
        fs::create_directory(dir_.path() / "out");
        std::ofstream(dir_.path() / "notes.txt") << "not a video";
    }
    test::CliResult run(const std::string& args) { return test::RunCli(cli_, "video " + args, dir_.path().string()); }
    std::string frames(const std::string& name = "") { return (dir_.path() / "frames" / name).string(); }
    std::string out(const std::string& name) { return (dir_.path() / "out" / name).string(); }

    test::TempDir dir_;
    std::string cli_;
};

// A folder written to each container, with and without options.
struct WriteCase {
    const char* name;
    const char* file;
    int width, height;
    const char* options;
    const char* line;  // after "OUT: "
    const char* codec;
    int codedWidth, codedHeight;
    int fps;
};

class CliVideoWrite : public CliVideo, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(CliVideoWrite, WritesTheFolder) {
    const WriteCase c = GetParam();
    ASSERT_TRUE(test::writeMovingFrames(frames(), 10, c.width, c.height));
    const test::CliResult r = run(ShellQuote(frames()) + " " + ShellQuote(out(c.file)) + " " + c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out(c.file) + ": " + c.line + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::listFolder((dir_.path() / "out").string()), std::vector<std::string>{c.file});
    if (!test::HaveFFprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const test::ProbedVideo v = test::ProbeVideo(out(c.file));
    EXPECT_EQ(v.codec, c.codec);
    EXPECT_EQ(v.pixelFormat, "yuv420p");
    EXPECT_EQ(v.width, c.codedWidth);
    EXPECT_EQ(v.height, c.codedHeight);
    EXPECT_EQ(v.frames, 10);
    EXPECT_NEAR(v.duration, 10.0 / c.fps, 0.5 / c.fps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliVideoWrite,
    ::testing::Values(WriteCase{"Mp4Defaults", "a.mp4", 48, 32, "", "10 frames, 48x32, 20 fp/s, h264 crf 23", "h264", 48, 32, 20},
                      WriteCase{"Mp4Odd", "b.MP4", 33, 25, "--fps 10 --crf 18",
                                "10 frames, 33x25 (padded to 34x26), 10 fp/s, h264 crf 18", "h264", 34, 26, 10},
                      WriteCase{"WebMDefaults", "c.webm", 48, 32, "", "10 frames, 48x32, 20 fp/s, vp9 crf 32", "vp9", 48, 32, 20},
                      WriteCase{"WebMOddSized", "d.WebM", 33, 25, "--fps=25 --size 65x41 --crf 40",
                                "10 frames, 65x41, 25 fp/s, vp9 crf 40", "vp9", 65, 41, 25}),
    [](const auto& info) { return std::string(info.param.name); });

// Each failure: its exit status, one line on stderr, no file.
struct FailureCase {
    const char* name;
    const char* args;  // FOLDER and OUT stand for the frame folder and the output file
    int frames;        // 24 x 16 images in the folder
    bool otherSize;    // one image of 30 x 16 after them
    int status;
    const char* says;
};

class CliVideoFailure : public CliVideo, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliVideoFailure, ExitsWithOneLine) {
    const FailureCase c = GetParam();
    ASSERT_TRUE(test::writeMovingFrames(frames(), c.frames, 24, 16));
    fs::create_directory(frames("dir.mp4"));
    if (c.otherSize) {
        ASSERT_TRUE(SavePictureBMP(test::movingPicture(30, 16, 0), frames("zz.bmp")));
    }
    std::string args = c.args;
    for (auto [from, to] : {std::pair<std::string, std::string>{"FOLDER", ShellQuote(frames())},
                            {"OUT", ShellQuote(out("x"))}})
        if (size_t at = args.find(from); at != std::string::npos) args.replace(at, from.size(), to);
    const test::CliResult r = run(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.rfind("tarnel-cli video: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir_.path() / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliVideoFailure,
    ::testing::Values(FailureCase{"CrfForWebP", "FOLDER OUT.webp --crf 20", 2, false, 2, "--crf is for .mp4 and .webm"},
                      FailureCase{"QualityForApng", "FOLDER OUT.apng --quality 50", 2, false, 2, "--quality is for .webp"},
                      FailureCase{"LosslessForMp4", "FOLDER OUT.mp4 --lossless", 2, false, 2, "--lossless is for .webp"},
                      FailureCase{"LoopForWebM", "FOLDER OUT.webm --loop 2", 2, false, 2, "--loop is for .webp"},
                      FailureCase{"QualityWithLossless", "FOLDER OUT.webp --lossless --quality 9", 2, false, 2,
                                  "not with --lossless"},
                      FailureCase{"QualityTooHigh", "FOLDER OUT.webp --quality 101", 2, false, 2, "0 to 100"},
                      FailureCase{"LoopTooHigh", "FOLDER OUT.png --loop 65536", 2, false, 2, "--loop takes"},
                      FailureCase{"NoSide", "FOLDER OUT.webp --size x", 2, false, 2, "--size takes"},
                      FailureCase{"ZeroSide", "FOLDER OUT.apng --size x0", 2, false, 2, "--size takes"},
                      FailureCase{"NotAnAvi", "FOLDER/../notes.txt OUT.webp", 2, false, 1, "cannot read AVI file"},
                      FailureCase{"OtherExtension", "FOLDER OUT.avi", 2, false, 2, ".mp4 (H.264) or .webm (VP9)"},
                      FailureCase{"NoExtension", "FOLDER OUT", 2, false, 2, ".mp4"},
                      FailureCase{"OneArgument", "FOLDER", 2, false, 2, "FOLDER and OUT.mp4"},
                      FailureCase{"CrfTooHighForH264", "FOLDER OUT.mp4 --crf 52", 2, false, 2, "0 to 51 for MP4"},
                      FailureCase{"CrfTooHighForVp9", "FOLDER OUT.webm --crf 64", 2, false, 2, "0 to 63 for WebM"},
                      FailureCase{"NoRate", "FOLDER OUT.mp4 --fps 0", 2, false, 2, "--fps takes 1 to 240"},
                      FailureCase{"BadSize", "FOLDER OUT.mp4 --size 10", 2, false, 2, "--size"},
                      FailureCase{"EmptyFolder", "FOLDER OUT.mp4", 0, false, 1, "no images"},
                      FailureCase{"SizesDiffer", "FOLDER OUT.webm", 2, true, 1, "zz.bmp: 30x16 where the first image is 24x16"},
                      FailureCase{"NoOutputFolder", "FOLDER OUT/y.mp4", 2, false, 1, "No such file or directory"},
                      FailureCase{"OutputIsAFolder", "FOLDER FOLDER/dir.mp4", 2, false, 1, "dir.mp4"},
                      FailureCase{"ReadOnlyFileSystem", "FOLDER /proc/tarnel-video.mp4", 2, false, 1,
                                  "cannot write /proc/tarnel-video.mp4: "}),
    [](const auto& info) { return std::string(info.param.name); });

// The animation formats read back by Pillow (and FFmpeg for APNG): frame
// count and order, loop count, durations, size, and the pixels: exact for
// the lossless kinds, close by SSIM for lossy WebP, close to Pillow's own
// box reduction for a requested size.
struct AnimationCase {
    const char* name;
    const char* file;
    const char* options;
    bool fromAvi;        // the folder written to a raw AVI first, that read
    const char* order;   // the source frame each output frame shows
    int loop;            // as Pillow reads it
    int milliseconds;    // each frame's duration
    int width, height;   // of the output (the source is 40 x 24)
    bool lossless;
};

class CliVideoAnimation : public CliVideo, public ::testing::WithParamInterface<AnimationCase> {};

TEST_P(CliVideoAnimation, ReadsBackAsWritten) {
    if (!test::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    const AnimationCase c = GetParam();
    constexpr int kFrames = 4, kW = 40, kH = 24;
    ASSERT_TRUE(test::writeMovingFrames(frames(), kFrames, kW, kH));
    std::string in = ShellQuote(frames());
    if (c.fromAvi) {
        const test::CliResult avi = test::RunCli(cli_, "avi " + in + " " + ShellQuote(out("in.avi")) + " --codec raw",
                                                 dir_.path().string());
        ASSERT_EQ(avi.status, 0) << avi.err;
        in = ShellQuote(out("in.avi"));
    }
    const test::CliResult r = run(in + " " + ShellQuote(out(c.file)) + " " + c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    fs::create_directory(dir_.path() / "decoded");
    const test::PillowAnimation a = test::DecodeWithPillow(out(c.file), (dir_.path() / "decoded").string());
    ASSERT_TRUE(a.ok) << a.error;
    const std::string order = c.order;
    ASSERT_EQ(a.frames.size(), order.size());
    EXPECT_EQ(a.loop, c.loop);
    // This Pillow reads a WebP frame's duration from the frame before; the
    // muxing tool reads them as stored.
    const std::string name = c.file;
    const bool webp = name.find("webp") != std::string::npos || name.find("WEBP") != std::string::npos;
    const test::WebPInfo info = webp ? test::WebPMuxInfo(out(c.file)) : test::WebPInfo{};
    if (webp) {
        ASSERT_TRUE(info.ok) << "webpmux could not read " << c.file;
        EXPECT_EQ(info.loop, c.loop);
        EXPECT_EQ(info.durations, std::vector<int>(order.size(), c.milliseconds));
    }
    for (size_t k = 0; k < order.size(); ++k) {
        SCOPED_TRACE("frame " + std::to_string(k));
        if (!webp) {
            EXPECT_EQ(a.durations[k], c.milliseconds);
        }
        ASSERT_EQ(a.frames[k].width(), c.width);
        ASSERT_EQ(a.frames[k].height(), c.height);
        const std::string source = frames(std::string("00") + order[k] + ".bmp");
        Bitmap expected;
        if (c.width == kW && c.height == kH) {
            StdPicture p;
            ASSERT_TRUE(LoadPicture(source, p));
            expected = *p.bitmap;
        } else {
            expected = test::PillowBoxResize(source, c.width, c.height, (dir_.path() / "decoded").string());
        }
        ASSERT_EQ(expected.width(), c.width);
        if (c.width != kW)  // 4:2:0 chroma costs a tiny lossy picture most
            EXPECT_GT(test::RgbPsnr(a.frames[k], expected), c.lossless ? 45.0 : 33.0);
        else if (c.lossless)
            EXPECT_EQ(test::RgbPsnr(a.frames[k], expected), 99.0);
        else
            EXPECT_GT(test::LumaSsim(a.frames[k], expected), 0.97);
    }
    if (!webp && test::HaveFFprobe()) {
        const test::ProbedVideo v = test::ProbeVideo(out(c.file));
        EXPECT_EQ(v.codec, "apng");
        EXPECT_EQ(v.frames, int(order.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliVideoAnimation,
    ::testing::Values(AnimationCase{"Apng", "a.apng", "", false, "0123", 0, 50, 40, 24, true},
                      AnimationCase{"PngPingpongLoop", "b.png", "--pingpong --loop 3 --fps 10", false, "012321", 3, 100,
                                    40, 24, true},
                      AnimationCase{"ApngFromAvi", "c.APNG", "--fps 25", true, "0123", 0, 40, 40, 24, true},
                      AnimationCase{"ApngReduced", "d.apng", "--size x12", false, "0123", 0, 50, 20, 12, true},
                      AnimationCase{"WebP", "e.webp", "", false, "0123", 0, 50, 40, 24, false},
                      AnimationCase{"WebPLosslessPingpong", "f.webp", "--lossless --pingpong --fps 25", false,
                                    "012321", 0, 40, 40, 24, true},
                      AnimationCase{"WebPFromAviPingpong", "g.webp", "--quality 95 --loop 2 --pingpong", true, "012321",
                                    2, 50, 40, 24, false},
                      AnimationCase{"WebPReduced", "h.WEBP", "--size 20x --quality 100", false, "0123", 0, 50, 20, 12,
                                    false}),
    [](const auto& info) { return std::string(info.param.name); });

// A frame that repeats the one before is stored once, shown for both.
TEST_F(CliVideo, WebPStoresARepeatedFrameOnce) {
    ASSERT_TRUE(test::writeMovingFrames(frames(), 2, 40, 24));
    fs::copy_file(frames("001.bmp"), frames("002.bmp"));
    ASSERT_TRUE(SavePictureBMP(test::movingPicture(40, 24, 5), frames("003.bmp")));
    for (const char* options : {"", "--lossless"}) {
        SCOPED_TRACE(options);
        ASSERT_EQ(run(ShellQuote(frames()) + " " + ShellQuote(out("x.webp")) + " " + options).status, 0);
        const test::WebPInfo info = test::WebPMuxInfo(out("x.webp"));
        ASSERT_TRUE(info.ok);
        EXPECT_EQ(info.durations, (std::vector<int>{50, 100, 50}));
    }
}

// Run as nobody: root writes into read-only folders.
TEST_F(CliVideo, AnUnwritableFolderIsReported) {
    ASSERT_TRUE(test::writeMovingFrames(frames(), 2, 24, 16));
    const fs::perms readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(dir_.path() / "out", readOnly);
    // Where the child's outputs are caught: a folder it may write; and a copy
    // of the program it may run wherever the build lies.
    fs::create_directory(dir_.path() / "io");
    fs::permissions(dir_.path() / "io", fs::perms::all);
    const fs::path cli = dir_.path() / "tarnel-cli";
    fs::copy_file(cli_, cli);
    fs::permissions(cli, readOnly);
    test::ShareWithNobody(dir_.path());
    const std::optional<std::string> report = test::RunAsNobody([&] {
        const std::string args = "video " + ShellQuote(frames()) + " " + ShellQuote(out("x.mp4"));
        const test::CliResult r = test::RunCli(cli.string(), args, (dir_.path() / "io").string());
        return std::to_string(r.status) + "\n" + r.err;
    });
    fs::permissions(dir_.path() / "out", fs::perms::owner_all);
    ASSERT_TRUE(report) << "the child could not run as nobody";
    EXPECT_EQ(report->substr(0, 2), "1\n") << *report;
    EXPECT_NE(report->find("Permission denied"), std::string::npos) << *report;
    EXPECT_TRUE(fs::is_empty(dir_.path() / "out"));
}

TEST_F(CliVideo, AnExistingFileIsReplacedOnlyBySuccess) {
    ASSERT_TRUE(test::writeMovingFrames(frames(), 2, 24, 16));
    std::ofstream(out("x.mp4")) << "earlier";
    ASSERT_TRUE(SavePictureBMP(test::movingPicture(30, 16, 0), frames("zz.bmp")));
    EXPECT_EQ(run(ShellQuote(frames()) + " " + ShellQuote(out("x.mp4"))).status, 1);
    EXPECT_EQ(test::listFolder((dir_.path() / "out").string()), std::vector<std::string>{"x.mp4"});
    EXPECT_EQ(fs::file_size(out("x.mp4")), 7u);
    fs::remove(frames("zz.bmp"));
    EXPECT_EQ(run(ShellQuote(frames()) + " " + ShellQuote(out("x.mp4"))).status, 0);
    EXPECT_GT(fs::file_size(out("x.mp4")), 100u);
}

}  // namespace
