#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/gif/cGif.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "output/GifQuality.h"
#include "output/mAVIImp.h"
#include "platform/media/AviReader.h"
#include "support/AviFiles.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/GiflibReader.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::TempDir;

namespace {

struct Bgr {
    uint8_t b, g, r;
};

// An uncompressed AVI of flat frames, one colour each.
bool makeFlatAvi(const std::string& path, int w, int h, const std::vector<Bgr>& colours, const TempDir& scratch) {
    std::vector<uint8_t> raw;
    for (const Bgr& c : colours)
        for (int i = 0; i < w * h; ++i) raw.insert(raw.end(), {c.b, c.g, c.r});
    const std::string input = scratch.file("frames.bgr");
    test::writeFile(input, raw);
    return test::runFfmpeg("-f rawvideo -pix_fmt bgr24 -s " + std::to_string(w) + "x" + std::to_string(h) +
                           " -r 10 -i " + test::ShellQuote(input) + " -c:v rawvideo -pix_fmt bgr24 -f avi " +
                           test::ShellQuote(path));
}

// The colour frame n shows at (0, 0), from its own palette.
Bgr shownColour(const cGif& gif, int n) {
    const uint8_t index = gif.FrameDIBXOR(n).lpBits()[0];
    const uint8_t* entry = gif.lpLocalPalette(n) + index * 4;
    return {entry[0], entry[1], entry[2]};
}

int distance(Bgr a, Bgr b) { return std::abs(a.b - b.b) + std::abs(a.g - b.g) + std::abs(a.r - b.r); }

TEST(GifQuality, ParsesTheChoices) {
    const struct {
        const char* text;
        bool ok;
        GifPaletteChoice choice;
    } palettes[] = {{"cube", true, GifPaletteChoice::Cube},
                    {"adaptive", true, GifPaletteChoice::Adaptive},
                    {"adaptive-all", true, GifPaletteChoice::AdaptiveAll},
                    {"adaptive-hq", true, GifPaletteChoice::AdaptiveHq},
                    {"adaptive-HQ", false, GifPaletteChoice::Cube},
                    {"Adaptive", false, GifPaletteChoice::Cube},
                    {"", false, GifPaletteChoice::Cube}};
    for (const auto& p : palettes) {
        GifPaletteChoice out = GifPaletteChoice::Cube;
        EXPECT_EQ(ParseGifPaletteChoice(p.text, out), p.ok) << p.text;
        if (p.ok) {
            EXPECT_EQ(out, p.choice) << p.text;
        }
    }
    const struct {
        const char* text;
        bool ok;
        int32_t method;
    } dithers[] = {{"none", true, 0}, {"ordered", true, 1}, {"diffusion", true, 2}, {"fs", false, 0}};
    for (const auto& d : dithers) {
        int32_t out = -1;
        EXPECT_EQ(ParseGifDitherMethod(d.text, out), d.ok) << d.text;
        if (d.ok) {
            EXPECT_EQ(out, d.method) << d.text;
        }
    }
}

TEST(GifQuality, AppliesModeAndMethodToTheGivenDitherer) {
    Dither8bpp dither;
    ApplyGifQuality({GifPaletteChoice::AdaptiveAll, 2}, dither);
    EXPECT_EQ(dither.PaletteMode(), 1);
    EXPECT_EQ(dither.DitherMethod(), 2);
    EXPECT_FALSE(dither.RefinedPalette());
    ApplyGifQuality({GifPaletteChoice::AdaptiveHq, 2}, dither);
    EXPECT_EQ(dither.PaletteMode(), 1);
    EXPECT_TRUE(dither.RefinedPalette());
    ApplyGifQuality({}, dither);
    EXPECT_EQ(dither.PaletteMode(), 0);
    EXPECT_EQ(dither.DitherMethod(), 0);
    EXPECT_FALSE(dither.RefinedPalette());
}

class GifQualityAvi : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
        // Red, then a blue the cube has no entry near, then a green.
        ASSERT_TRUE(makeFlatAvi(avi, 16, 12, {red, blue, green}, dir));
    }

    TempDir dir;
    const std::string avi = dir.file("flat.avi");
    const Bgr red{0, 0, 255}, blue{200, 60, 20}, green{40, 180, 40};
};

TEST_F(GifQualityAvi, PaletteOfAllFramesKeepsTheColoursOfLaterFrames) {
    cGif frameOne, allFrames;
    ASSERT_TRUE(ImportAviFramesWithQuality(avi, frameOne, nullptr, {GifPaletteChoice::Adaptive, 0}));
    ASSERT_TRUE(ImportAviFramesWithQuality(avi, allFrames, nullptr, {GifPaletteChoice::AdaptiveAll, 0}));
    ASSERT_EQ(allFrames.FramesCount(), 3);
    // A palette fitted to a red frame has nothing near blue or green.
    EXPECT_GT(distance(shownColour(frameOne, 2), blue), 60);
    EXPECT_GT(distance(shownColour(frameOne, 3), green), 60);
    // One fitted to every frame keeps all three within a step of the palette's grid.
    const Bgr expected[] = {red, blue, green};
    for (int n = 1; n <= 3; ++n) EXPECT_LE(distance(shownColour(allFrames, n), expected[n - 1]), 24) << "frame " << n;
    // Every frame shares the one global palette.
    EXPECT_EQ(0, std::memcmp(allFrames.lpGlobalPalette(), allFrames.lpLocalPalette(3),
                             size_t(allFrames.GlobalPaletteEntries()) * 4));
}

TEST_F(GifQualityAvi, RefinedPaletteHoldsTheColoursOfEveryFrameExactly) {
    for (int32_t method : {0, 2}) {
        SCOPED_TRACE(method);
        cGif gif;
        ASSERT_TRUE(ImportAviFramesWithQuality(avi, gif, nullptr, {GifPaletteChoice::AdaptiveHq, method}));
        ASSERT_EQ(gif.FramesCount(), 3);
        // Three flat colours: the refined palette is those three, and each
        // frame shows its own colour everywhere.
        EXPECT_EQ(gif.GlobalPaletteEntries(), 3);
        const Bgr expected[] = {red, blue, green};
        for (int n = 1; n <= 3; ++n) {
            EXPECT_EQ(distance(shownColour(gif, n), expected[n - 1]), 0) << "frame " << n;
            const GcDIB& frame = gif.FrameDIBXOR(n);
            const uint8_t first = frame.lpBits()[0];
            for (int y = 0; y < frame.Height(); ++y)
                for (int x = 0; x < frame.Width(); ++x)
                    ASSERT_EQ(frame.bitmap()->scanline(y)[x], first) << "frame " << n << " at " << x << "," << y;
        }
    }
}

TEST_F(GifQualityAvi, RefinedSamplingCountsFramesOnTheProgress) {
    std::vector<int32_t> values;
    struct Recorder : ProgressSink {
        explicit Recorder(std::vector<int32_t>& v) : values(v) {}
        void SetMax(int32_t) override {}
        void SetValue(int32_t v) override { values.push_back(v); }
        std::vector<int32_t>& values;
    } progress(values);
    AviReader reader;
    ASSERT_TRUE(reader.Open(avi));
    cPal8bpp palette;
    ASSERT_TRUE(BuildRefinedPaletteFromAllFrames(reader, palette, &progress));
    EXPECT_EQ(values, (std::vector<int32_t>{1, 2, 3, 0}));
    EXPECT_EQ(palette.Entries(), 3);
    AviReader closed;
    std::string error;
    EXPECT_FALSE(BuildRefinedPaletteFromAllFrames(closed, palette, nullptr, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(GifQualityAvi, GivenPaletteServesEveryFrameFromTheFirst) {
    // 16 greys: red, blue and green all land on greys.
    cPal8bpp greys;
    greys.CreateGreyScale(1);
    AviReader reader;
    ASSERT_TRUE(reader.Open(avi));
    AviImportOptions options;
    options.Quality = {GifPaletteChoice::Adaptive, 0};
    options.Palette = &greys;
    cGif gif;
    ASSERT_TRUE(ImportAviFrames(reader, gif, nullptr, options));
    EXPECT_EQ(gif.GlobalPaletteEntries(), 16);
    for (int n = 1; n <= 3; ++n) {
        const Bgr c = shownColour(gif, n);
        EXPECT_TRUE(c.b == c.g && c.g == c.r) << "frame " << n;
    }
}

TEST_F(GifQualityAvi, CubeByNearestColourIsTheDefault) {
    cGif gif;
    ASSERT_TRUE(ImportAviFramesWithQuality(avi, gif, nullptr, {}));
    EXPECT_EQ(gif.GlobalPaletteEntries(), 216);
    EXPECT_EQ(gif.FrameDIBXOR(1).lpBits()[0], test::nearestCubeIndex(255, 0, 0));
    EXPECT_EQ(gif.FrameDIBXOR(2).lpBits()[0], test::nearestCubeIndex(blue.r, blue.g, blue.b));
}

TEST_F(GifQualityAvi, SamplingCountsFramesOnTheProgress) {
    struct Recorder : ProgressSink {
        void SetMax(int32_t m) override { max = m; }
        void SetValue(int32_t v) override { values.push_back(v); }
        int32_t max = 0;
        std::vector<int32_t> values;
    } progress;
    AviReader reader;
    ASSERT_TRUE(reader.Open(avi));
    cPal8bpp palette;
    ASSERT_TRUE(BuildPaletteFromAllFrames(reader, palette, &progress));
    EXPECT_EQ(progress.max, 3);
    EXPECT_EQ(progress.values, (std::vector<int32_t>{1, 2, 3, 0}));
    EXPECT_GE(palette.Entries(), 3);
}

TEST_F(GifQualityAvi, FailsOnAFileThatIsNoVideo) {
    const std::string bad = dir.file("bad.avi");
    test::writeFile(bad, {1, 2, 3});
    cGif gif;
    std::string error;
    EXPECT_FALSE(ImportAviFramesWithQuality(bad, gif, nullptr, {GifPaletteChoice::AdaptiveAll, 0}, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(GifQualityAvi, CommandLineTakesThePaletteAndDitherOptions) {
    const std::string cli = test::CliPath();
    if (cli.empty()) GTEST_SKIP() << "tarnel-cli is not built";
    const struct {
        const char* options;
        int status;
    } cases[] = {{"--palette adaptive-all", 0},     {"--palette adaptive --dither diffusion", 0},
                 {"--palette adaptive-hq", 0},      {"--palette adaptive-hq --dither diffusion", 0},
                 {"--dither ordered", 0},           {"--palette octree", 2},
                 {"--dither", 2},                   {"--palette", 2}};
    for (const auto& c : cases) {
        const std::string out = dir.file("out.gif");
        std::filesystem::remove(out);
        test::CliResult run = test::RunCli(
            cli, "anigif " + test::ShellQuote(avi) + " " + test::ShellQuote(out) + " " + c.options, dir.path().string());
        EXPECT_EQ(run.status, c.status) << c.options << ": " << run.err;
        EXPECT_EQ(std::filesystem::exists(out), c.status == 0) << c.options;
    }
    // The all-frames palette reaches giflib as a palette that holds the later frames' blue.
    const std::string out = dir.file("all.gif");
    ASSERT_EQ(test::RunCli(cli, "anigif " + test::ShellQuote(avi) + " " + test::ShellQuote(out) +
                                    " --palette adaptive-all",
                           dir.path().string())
                  .status,
              0);
    test::GiflibReader gif(out);
    ASSERT_TRUE(gif.ok());
    ASSERT_EQ(gif->ImageCount, 3);
    const ColorMapObject* map = gif->SColorMap;
    ASSERT_NE(map, nullptr);
    const GifColorType c = map->Colors[gif->SavedImages[1].RasterBits[0]];
    EXPECT_LE(distance({c.Blue, c.Green, c.Red}, blue), 24);
}

}  // namespace
