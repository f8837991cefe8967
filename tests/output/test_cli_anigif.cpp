// tarnel-cli anigif, run as a program: the binary is the one built beside this
// test (build/tarnel-cli next to build/tests/).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/cGif.h"
#include "support/AviFiles.h"
#include "support/Files.h"
#include "support/GiflibReader.h"
#include "support/Cli.h"
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
    for (const std::string& args : {std::string(""), ShellQuote(avi_), ShellQuote(avi_) + " out.gif --transparent-index 256",
                                    ShellQuote(avi_) + " out.gif --transparent-index", ShellQuote(avi_) + " out.gif --fast"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(run(args).status, 2);
    }
    EXPECT_FALSE(fs::exists(gif_));
}

}  // namespace
