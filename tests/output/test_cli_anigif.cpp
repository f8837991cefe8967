// tarnel-cli anigif, run as a program: the binary is the one built beside this
// test (build/tarnel-cli next to build/tests/).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/PictureIO.h"
#include "imaging/gif/cGif.h"
#include "support/AviFiles.h"
#include "support/Files.h"
#include "support/GifCompositor.h"
#include "support/GiflibReader.h"
#include "support/Cli.h"
#include "support/Images.h"
#include "support/Pillow.h"
#include "support/TempDir.h"

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

class CliAniGif : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = CliPath();
        if (cli_.empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
        if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg tool";
        AviRecipe recipe;
        recipe.frames = 6;
        recipe.codecArgs = "-c:v mjpeg -q:v 3";
        ASSERT_TRUE(makeAvi(avi_, recipe));
    }
    CliResult run(const std::string& args) { return RunCli(cli_, "anigif " + args, dir_.path().string()); }

    TempDir dir_;
    std::string cli_;
    std::string avi_ = dir_.file("in.avi");
    std::string gif_ = dir_.file("out.gif");
};

TEST_F(CliAniGif, WritesEveryFrame) {
    CliResult r = run(ShellQuote(avi_) + " " + ShellQuote(gif_));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    GiflibReader check(gif_);
    ASSERT_TRUE(check.ok());
    EXPECT_EQ(check->ImageCount, 6);
    EXPECT_EQ(check.gcb(0).DelayTime, 10);
    EXPECT_EQ(check.gcb(0).TransparentColor, NO_TRANSPARENT_COLOR);
}

TEST_F(CliAniGif, OptimizeMergesRepeatedFramesAndDropsUnusedColours) {
    const std::string solid = dir_.file("solid.avi");
    ASSERT_TRUE(runFfmpeg("-f lavfi -i color=c=red:s=24x16:r=10 -frames:v 4 -c:v rawvideo -pix_fmt bgr24 " +
                          ShellQuote(solid)));
    CliResult r = run(ShellQuote(solid) + " " + ShellQuote(gif_) + " --optimize");
    ASSERT_EQ(r.status, 0) << r.err;
    cGif gif;
    ASSERT_TRUE(gif.LoadFromFile(gif_));
    ASSERT_EQ(gif.FramesCount(), 1);
    EXPECT_EQ(gif.FrameDelay(1), 40);
    EXPECT_EQ(gif.GlobalPaletteEntries(), 2);  // one colour used; the table keeps two
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(0), 0x0000FFu);
    EXPECT_FALSE(gif.FrameUseTransparentColor(1));
}

TEST_F(CliAniGif, TransparentIndexOnEveryFrame) {
    CliResult r = run(ShellQuote(avi_) + " " + ShellQuote(gif_) + " --transparent-index 43");
    ASSERT_EQ(r.status, 0) << r.err;
    GiflibReader check(gif_);
    ASSERT_TRUE(check.ok());
    ASSERT_EQ(check->ImageCount, 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(check.gcb(i).TransparentColor, 43) << i;
}

TEST_F(CliAniGif, NotAnAviFailsWithOneLineAndNoFile) {
    const std::string text = dir_.file("text.avi");
    writeText(text, "no video here\n");
    CliResult r = run(ShellQuote(text) + " " + ShellQuote(gif_));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("cannot read AVI file"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(gif_));
}

TEST_F(CliAniGif, BadArguments) {
    for (const std::string& args :
         {std::string(""), ShellQuote(avi_), ShellQuote(avi_) + " out.gif --transparent-index 256",
          ShellQuote(avi_) + " out.gif --transparent-index", ShellQuote(avi_) + " out.gif --fast",
          ShellQuote(avi_) + " out.gif --optimize=fast", ShellQuote(avi_) + " out.gif --optimize=max --optimize=max",
          ShellQuote(avi_) + " out.gif --delay 5"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(run(args).status, 2);
    }
    EXPECT_FALSE(fs::exists(gif_));
}

TEST_F(CliAniGif, OptimizeMaxShowsTheSameFramesInLessSpace) {
    const std::string plain = dir_.file("plain.gif"), standard = dir_.file("standard.gif");
    ASSERT_EQ(run(ShellQuote(avi_) + " " + ShellQuote(plain)).status, 0);
    ASSERT_EQ(run(ShellQuote(avi_) + " " + ShellQuote(standard) + " --optimize").status, 0);
    CliResult r = run(ShellQuote(avi_) + " " + ShellQuote(gif_) + " --optimize=max");
    ASSERT_EQ(r.status, 0) << r.err;
    GiflibReader plainGif(plain), maxGif(gif_);
    ASSERT_TRUE(maxGif.ok());
    EXPECT_EQ(CompositeFrames(maxGif), CompositeFrames(plainGif));
    EXPECT_LE(fs::file_size(gif_), fs::file_size(standard));
}

// Frame folders made by `tarnel-cli morph` from two generated pictures.
class CliAniGifFolder : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = CliPath();
        if (cli_.empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
        auto wave = [](int phase) {
            return makePicture(48, 32, [phase](int x, int y) {
                return uint32_t(((x * 5 + phase) & 0xFF) << 16 | ((y * 7) & 0xFF) << 8 | ((x * y + phase) & 0xFF));
            });
        };
        ASSERT_TRUE(SavePictureBMP(wave(0), start_));
        ASSERT_TRUE(SavePictureBMP(wave(90), end_));
    }
    // The folder of a 6-frame morph of the given kind.
    std::string morph(const std::string& kind) {
        const std::string out = dir_.file("run-" + kind);
        CliResult r = RunCli(cli_,
                             "morph " + ShellQuote(start_) + " " + ShellQuote(end_) +
                                 " --rows 2 --columns 2 --frames 6 --kind " + kind + " --out " + ShellQuote(out),
                             dir_.path().string());
        EXPECT_EQ(r.status, 0) << r.err;
        for (const auto& entry : fs::directory_iterator(out)) return entry.path().string();
        return "";
    }
    CliResult run(const std::string& args) { return RunCli(cli_, "anigif " + args, dir_.path().string()); }

    TempDir dir_;
    std::string cli_;
    std::string start_ = dir_.file("start.bmp"), end_ = dir_.file("end.bmp");
    std::string gif_ = dir_.file("out.gif");
};

TEST_F(CliAniGifFolder, EveryKindOfRunBecomesAnAnimation) {
    const struct {
        const char* kind;
        const char* options;
        int delay;
    } cases[] = {{"bmp", "", 5}, {"jpg", " --delay 12", 12}, {"gif", " --optimize --delay 0", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string folder = morph(c.kind);
        ASSERT_FALSE(folder.empty());
        CliResult r = run(ShellQuote(folder) + " " + ShellQuote(gif_) + c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        GiflibReader check(gif_);
        ASSERT_TRUE(check.ok());
        EXPECT_EQ(check->SWidth, 48);
        EXPECT_EQ(check->SHeight, 32);
        EXPECT_GE(check->ImageCount, 2);
        EXPECT_LE(check->ImageCount, 6);
        EXPECT_EQ(check.gcb(0).DelayTime, c.delay);
    }
}

TEST_F(CliAniGifFolder, OptimizeMaxShowsWhatThePlainFileShows) {
    const std::string folder = morph("bmp");
    const std::string plain = dir_.file("plain.gif");
    const struct {
        const char* options;
    } cases[] = {{" --optimize=max"}, {" --optimize=max --transparent-index 0"},
                 {" --optimize=max --palette adaptive --dither diffusion"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        std::string unoptimised = c.options;
        unoptimised.erase(0, std::string(" --optimize=max").size());
        ASSERT_EQ(run(ShellQuote(folder) + " " + ShellQuote(plain) + unoptimised).status, 0);
        CliResult r = run(ShellQuote(folder) + " " + ShellQuote(gif_) + c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        GiflibReader plainGif(plain), maxGif(gif_);
        ASSERT_TRUE(maxGif.ok());
        const auto expected = CompositeFrames(plainGif);
        EXPECT_EQ(CompositeFrames(maxGif), expected) << "giflib";
        cGif ours;
        ASSERT_TRUE(ours.LoadFromFile(gif_)) << ours.LoadError();
        EXPECT_EQ(CompositeFrames(ours), expected) << "our decoder";
        EXPECT_LT(fs::file_size(gif_), fs::file_size(plain));
    }
}

TEST_F(CliAniGifFolder, UnreadableFoldersFailWithOneLineAndNoFile) {
    const std::string empty = dir_.file("empty"), gap = dir_.file("gap"), foreign = dir_.file("foreign");
    fs::create_directory(empty);
    fs::create_directory(gap);
    fs::create_directory(foreign);
    const std::string run6 = morph("bmp");
    fs::copy_file(run6 + "/000.bmp", gap + "/000.bmp");
    fs::copy_file(run6 + "/002.bmp", gap + "/002.bmp");
    fs::copy_file(run6 + "/000.bmp", foreign + "/000.bmp");
    writeText(foreign + "/001.bmp", "not a picture\n");
    const struct {
        std::string in;
        const char* message;
    } cases[] = {
        {dir_.file("missing"), "no such file or folder"},
        {empty, "no frame 000.bmp, 000.jpg, 000.gif or 000.png in the folder"},
        {gap, "frame 001.bmp is missing before frame 002.bmp"},
        {foreign, "frame 001.bmp is not a picture that can be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        CliResult r = run(ShellQuote(c.in) + " " + ShellQuote(gif_));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(gif_));
    }
    for (const char* bad : {" --delay -1", " --delay 40000", " --delay x"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(run(ShellQuote(run6) + " " + ShellQuote(gif_) + bad).status, 2);
    }
}

}  // namespace

namespace {

// --pingpong, --size and --loop, from a folder and from an AVI, read back by
// Pillow: the frame count, the loop count, the size, and frames that mirror
// each other going back.
TEST_F(CliAniGifFolder, ShapedAnimationsReadBack) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    const std::string folder = morph("bmp");
    ASSERT_FALSE(folder.empty());
    const std::string avi = dir_.file("run.avi");
    ASSERT_EQ(RunCli(cli_, "avi " + ShellQuote(folder) + " " + ShellQuote(avi) + " --codec raw", dir_.path().string()).status,
              0);
    const struct {
        const char* name;
        bool fromAvi;
        const char* options;
        int frames, loop, width, height;
    } cases[] = {
        {"pingpong", false, "--pingpong", 10, 0, 48, 32},
        {"sized", false, "--size 24x --loop 4", 6, 4, 24, 16},
        {"avi-pingpong-sized", true, "--pingpong --size x8 --palette adaptive-hq --optimize=max", 10, 0, 12, 8},
        {"avi-loop", true, "--loop 1", 6, 1, 48, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CliResult r = run(ShellQuote(c.fromAvi ? avi : folder) + " " + ShellQuote(gif_) + " " + c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string scratch = dir_.file(std::string("decoded-") + c.name);
        fs::create_directory(scratch);
        const PillowAnimation a = DecodeWithPillow(gif_, scratch);
        ASSERT_TRUE(a.ok) << a.error;
        ASSERT_EQ(int(a.frames.size()), c.frames);
        EXPECT_EQ(a.loop, c.loop);
        EXPECT_EQ(a.frames[0].width(), c.width);
        EXPECT_EQ(a.frames[0].height(), c.height);
        // Going back shows the frames of the way forward: 4 3 2 1 after 0..5.
        if (c.frames == 10) {
            for (int k = 1; k <= 4; ++k) EXPECT_EQ(RgbPsnr(a.frames[size_t(k)], a.frames[size_t(10 - k)]), 99.0) << k;
        }
    }
    // Without the options the bytes are those of the plain command.
    ASSERT_EQ(run(ShellQuote(folder) + " " + ShellQuote(gif_)).status, 0);
    const std::string plain = dir_.file("plain.gif");
    ASSERT_EQ(run(ShellQuote(folder) + " " + ShellQuote(plain) + " --loop 0").status, 0);
    EXPECT_EQ(readFile(gif_), readFile(plain));
}

TEST_F(CliAniGifFolder, ShapeOptionsRefuseBadValues) {
    const std::string folder = morph("bmp");
    for (const char* bad : {"--size 0x", "--size 12", "--loop -1", "--loop 40000", "--pingpong=1"}) {
        SCOPED_TRACE(bad);
        CliResult r = run(ShellQuote(folder) + " " + ShellQuote(gif_) + " " + bad);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_FALSE(fs::exists(gif_));
    }
}

}  // namespace
