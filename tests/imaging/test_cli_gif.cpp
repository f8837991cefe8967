// tarnel-cli gif, run as a program: the binary is the one built beside this
// test (build/tarnel-cli next to build/tests/).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "imaging/gif/GifPicture.h"
#include "imaging/PictureIO.h"
#include "imaging/gif/cGif.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/GifCompositor.h"
#include "support/GiflibReader.h"
#include "support/TempDir.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class CliGif : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = test::CliPath();
        if (cli_.empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
    }
    test::CliResult run(const std::string& args) { return test::RunCli(cli_, "gif " + args, dir_.path().string()); }
    std::string file(const std::string& name) { return dir_.file(name); }

    test::TempDir dir_;
    std::string cli_;
};

std::string fixture(const std::string& name) { return std::string(TARNEL_TEST_DATA) + "/gif/" + name; }

// Three-colour picture: red left half, blue right half, a white row.
Bitmap threeColours() {
    Bitmap b;
    b.create(10, 6, 32);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            b.setPixelValue(x, y, y == 2 ? 0xFFFFFFu : x < 5 ? 0xFF0000u : 0x0000FFu);
    return b;
}

}  // namespace

TEST_F(CliGif, InfoListsFramesAndComments) {
    test::CliResult r = run("info '" + fixture("gb_disposal.gif") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("screen: 8x6, background index 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("loops: 5"), std::string::npos);
    EXPECT_NE(r.out.find("frames: 5"), std::string::npos);
    EXPECT_NE(r.out.find("4: 2x2 at (0,4), delay 40, disposal 3 (previous), transparency none, palette local 2 entries, user input"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("5: 2x6 at (6,0), delay 50, disposal 1 (keep), transparency index 3, palette global"),
              std::string::npos);
    r = run("info '" + fixture("gb_comments.gif") + "'");
    EXPECT_NE(r.out.find("  2: \"\\x83e\\x83X\\x83g second\""), std::string::npos) << r.out;
}

TEST_F(CliGif, ExitCodes) {
    struct Case { std::string args; int status; };
    const Case cases[] = {
        {"", 2},
        {"info", 2},
        {"frobnicate x", 2},
        {"info '" + file("missing.gif") + "'", 1},
        {"encode only-one", 2},
        {"encode a b --palette rainbow", 2},
        {"encode a b --palette adaptive-all", 2},
        {"encode a b --palette adaptive-hq-x", 2},
        {"encode a b --dither", 2},
        {"encode '" + file("missing.bmp") + "' '" + file("o.gif") + "'", 1},
        {"optimize a b --transparent-index 256", 2},
        {"optimize a b --transparent-index x", 2},
        {"optimize a b --bogus", 2},
        {"optimize '" + file("missing.gif") + "' '" + file("o.gif") + "'", 1},
    };
    for (const Case& c : cases) {
        test::CliResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        // One line on stderr, from us.
        EXPECT_EQ(r.err.rfind("tarnel-cli gif", 0), 0u) << c.args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args;
    }
    EXPECT_FALSE(fs::exists(file("o.gif")));
}

TEST_F(CliGif, ReadFailuresSayWhy) {
    // A 2-byte image descriptor cut short, a missing file, a second image
    // without its control extension: the loader's reason reaches the user.
    std::ofstream(file("cut.gif"), std::ios::binary) << std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00\x2C\x00", 15);
    struct Case { std::string path, reason; };
    const Case cases[] = {
        {file("cut.gif"), "the data ends early"},
        {file("missing.gif"), "No such file"},
        {fixture("gs_87a_anim.gif"), "an image after the first without its graphic control extension"},
    };
    for (const Case& c : cases) {
        for (const std::string& command : {"info '" + c.path + "'", "optimize '" + c.path + "' '" + file("o.gif") + "'"}) {
            test::CliResult r = run(command);
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_NE(r.err.find("cannot read GIF file: " + c.path + ": " + c.reason), std::string::npos)
                << command << "\n  gave: " << r.err;
        }
    }
}

TEST_F(CliGif, WriteFailuresSayWhy) {
    ASSERT_TRUE(SavePictureBMP(threeColours(), file("in.bmp")));
    fs::create_directory(file("folder.gif"));
    struct Case { std::string target, reason; };
    const Case cases[] = {
        {file("folder.gif"), "Is a directory"},
        {file("none/out.gif"), "No such file"},
    };
    for (const Case& c : cases) {
        test::CliResult r = run("encode '" + file("in.bmp") + "' '" + c.target + "'");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write " + c.target + ": " + c.reason), std::string::npos) << r.err;
    }
}

TEST_F(CliGif, EncodeKeepsColoursThePaletteHolds) {
    ASSERT_TRUE(SavePictureBMP(threeColours(), file("in.bmp")));
    for (const char* options : {"--palette cube --dither none", "--palette adaptive --dither diffusion", "",
                                "--palette adaptive-hq", "--palette adaptive-hq --dither diffusion",
                                "--palette adaptive-hq --dither ordered"}) {
        SCOPED_TRACE(options);
        test::CliResult r = run("encode '" + file("in.bmp") + "' '" + file("out.gif") + "' " + options);
        ASSERT_EQ(r.status, 0) << r.err;
        cGif gif;
        ASSERT_TRUE(gif.LoadFromFile(file("out.gif")));
        ASSERT_EQ(gif.FramesCount(), 1);
        EXPECT_EQ(gif.ScreenWidth(), 10);
        EXPECT_TRUE(gif.GlobalPaletteExists());
        // Pure red, blue and white are in every palette: the picture comes back exactly.
        std::string bytes = test::readText(file("out.gif"));
        Bitmap back;
        ASSERT_TRUE(DecodeGifPicture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), back));
        Bitmap want = threeColours();
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x) ASSERT_EQ(back.pixelValue(x, y), want.pixelValue(x, y)) << x << "," << y;
    }
    cGif cube;
    ASSERT_TRUE(run("encode '" + file("in.bmp") + "' '" + file("cube.gif") + "' --palette cube").status == 0);
    ASSERT_TRUE(cube.LoadFromFile(file("cube.gif")));
    EXPECT_EQ(cube.GlobalPaletteEntries(), 256);  // 216 entries, written as a table of 256
}

TEST_F(CliGif, OptimizeMergesAndCrops) {
    cGif gif;
    const char* frames[3] = {"0000", "0100", "0100"};
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(gif.FrameInsert(n, 4, 1));
        for (int x = 0; x < 4; ++x) gif.FrameDIBXOR(n).bitmap()->scanline(0)[x] = uint8_t(frames[n - 1][x] - '0');
        gif.SetFrameDelay(n, int16_t(n * 10));
    }
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(8);
    for (int i = 0; i < 8; ++i) gif.lpGlobalPalette()[4 * i + 2] = uint8_t(30 * i);
    for (int n = 1; n <= 3; ++n) gif.SetLocalPaletteEntries(n, 8);
    ASSERT_TRUE(gif.Save(file("in.gif")));

    test::CliResult r = run("optimize '" + file("in.gif") + "' '" + file("out.gif") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("palette: 6 of 8 entries removed, 2 left"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames: 3 -> 2"), std::string::npos) << r.out;
    cGif out;
    ASSERT_TRUE(out.LoadFromFile(file("out.gif")));
    ASSERT_EQ(out.FramesCount(), 2);
    EXPECT_EQ(out.FrameDelay(2), 50);
    EXPECT_EQ(out.FrameLeft(2), 1);
    EXPECT_EQ(out.FrameDIBXOR(2).Width(), 1);

    r = run("optimize '" + file("in.gif") + "' '" + file("t.gif") + "' --transparent-index 0");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(out.LoadFromFile(file("t.gif")));
    EXPECT_TRUE(out.FrameUseTransparentColor(1));
    EXPECT_EQ(out.FrameDisposalMethod(1), 3);
}

TEST_F(CliGif, OptimizeMaxShowsWhatOptimizeShows) {
    for (const char* name : {"gb_disposal.gif", "gb_interlaced.gif",
                             "im_anim.gif", "gs_full_table.gif"}) {
        SCOPED_TRACE(name);
        test::CliResult r = run("optimize '" + fixture(name) + "' '" + file("std.gif") + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        r = run("optimize '" + fixture(name) + "' '" + file("max.gif") + "' --max");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("pixels: what already shows written transparent where that codes smaller"),
                  std::string::npos)
            << r.out;
        test::GiflibReader standard(file("std.gif")), max(file("max.gif"));
        ASSERT_TRUE(max.ok());
        const auto expected = test::CompositeFrames(standard);
        EXPECT_EQ(test::CompositeFrames(max), expected) << "giflib";
        cGif ours;
        ASSERT_TRUE(ours.LoadFromFile(file("max.gif"))) << ours.LoadError();
        EXPECT_EQ(test::CompositeFrames(ours), expected) << "our decoder";
    }
}
