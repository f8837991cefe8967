// Saving with inter-frame transparency: giflib decodes both the plain and the
// optimised file, and both must show the same, frame by frame.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "imaging/gif/cGif.h"
#include "support/GifCompositor.h"
#include "support/GiflibReader.h"
#include "support/Images.h"

using namespace tarnel;
using Bytes = std::vector<uint8_t>;
using tarnel::test::GiflibReader;

namespace {

// A colour per palette entry, all different.
void fillPalette(uint8_t* palette, int entries) {
    for (int i = 0; i < entries; ++i)
        test::setEntry(palette, i, uint8_t(i * 37 + 5), uint8_t(i * 91 + 17), uint8_t(i * 13 + 200));
}

// A noisy scene that changes in some 4 x 4 blocks from one frame to the next:
// colour number (below `colours`) at screen position (x, y) in frame k.
uint8_t scene(int x, int y, int k, int colours) {
    uint32_t s = uint32_t(x * 7919 + y * 104729 + 12345);
    const int base = int(test::lcg(s) % uint32_t(colours));
    uint32_t t = uint32_t((x / 4) * 7919 + (y / 4) * 104729 + k * 31337);
    return test::lcg(t) % 3 == 0 ? uint8_t((base + k) % colours) : uint8_t(base);
}

struct FrameSpec {
    int left, top, width, height;
    uint8_t disposal = 1;
    int transparent = -1;  // the frame's own transparent index, -1 for none
    // With a local palette: the global colours rotated by this many entries,
    // the pixels renumbered so that they show the same colours.
    int localShift = -1;
    // Colour number at a frame position; the scene at that screen position by default.
    std::function<int(int x, int y)> colour = {};
};

struct Case {
    const char* name;
    int screenWidth, screenHeight;
    int entries;  // global palette entries
    std::vector<FrameSpec> frames;
    // Per frame: written with the transparency the option adds.
    std::vector<bool> cleared = {};
};

void build(cGif& gif, const Case& c) {
    gif.Destroy();
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(int16_t(c.entries));
    fillPalette(gif.lpGlobalPalette(), c.entries);
    // Two entries are left unused in the scene, so a free index exists.
    const int colours = c.entries - 2;
    for (size_t i = 0; i < c.frames.size(); ++i) {
        const FrameSpec& f = c.frames[i];
        const int n = int(i) + 1;
        ASSERT_TRUE(gif.FrameInsert(n, f.width, f.height));
        gif.SetScreenWidth(int16_t(c.screenWidth));
        gif.SetScreenHeight(int16_t(c.screenHeight));
        gif.SetFrameLeft(n, int16_t(f.left));
        gif.SetFrameTop(n, int16_t(f.top));
        gif.SetFrameDisposalMethod(n, f.disposal);
        gif.SetFrameDelay(n, int16_t(5 + n));
        std::memcpy(gif.lpLocalPalette(n), gif.lpGlobalPalette(), 1024);
        int shift = 0;
        if (f.localShift >= 0) {
            shift = f.localShift;
            gif.SetLocalPaletteUsed(n, true);
            gif.SetLocalPaletteEntries(n, int16_t(c.entries));
            for (int j = 0; j < c.entries; ++j)
                std::memcpy(gif.lpLocalPalette(n) + 4 * j, gif.lpGlobalPalette() + 4 * ((j + shift) % c.entries), 4);
        }
        Bitmap& image = *gif.FrameDIBXOR(n).bitmap();
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const int colour = f.colour ? f.colour(x, y) : scene(f.left + x, f.top + y, n, colours);
                image.scanline(y)[x] = uint8_t((colour - shift + c.entries) % c.entries);
            }
        if (f.transparent >= 0) {
            gif.SetFrameUseTransparentColor(n, true);
            gif.SetFrameTransparentColorIndex(n, uint8_t(f.transparent));
        }
        gif.FrameMask(n, gif.FrameTransparentColorIndex(n));
    }
}

Bytes save(const cGif& gif, bool interFrame) {
    GifSaveOptions options;
    options.interFrameTransparency = interFrame;
    Bytes out;
    EXPECT_TRUE(gif.SaveToStream(out, options));
    return out;
}

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"full screen, disposal 1", 16, 12, 16, {{0, 0, 16, 12}, {0, 0, 16, 12}, {0, 0, 16, 12}, {0, 0, 16, 12}},
         {false, true, true, true}},
        // Frames 3 and 4 are drawn on frame 1 again, not on the frame before.
        {"full screen, disposal 3",
         16,
         12,
         16,
         {{0, 0, 16, 12, 1}, {0, 0, 16, 12, 3}, {0, 0, 16, 12, 3}, {0, 0, 16, 12, 1}},
         {false, true, true, true}},
        // Nothing is certain of the background, so frame 2 meets no known pixel.
        {"restore to background", 16, 12, 16, {{0, 0, 16, 12, 2}, {0, 0, 16, 12, 1}, {0, 0, 16, 12, 1}},
         {false, false, true}},
        // Frame 3 reaches past the screen's right and bottom edges.
        {"cropped frames with offsets",
         20,
         16,
         16,
         {{0, 0, 20, 16, 1}, {3, 2, 10, 8, 1}, {12, 9, 10, 8, 2}, {5, 4, 12, 10, 1}, {0, 0, 20, 16, 1}},
         {false, true, true, true, true}},
        {"a frame with its own transparency",
         16,
         12,
         16,
         {{0, 0, 16, 12}, {0, 0, 16, 12}, {0, 0, 16, 12, 1, 5}, {0, 0, 16, 12}},
         {false, true, false, true}},
        {"local palettes",
         16,
         12,
         16,
         {{0, 0, 16, 12}, {0, 0, 16, 12, 1, -1, 3}, {0, 0, 16, 12, 1, -1, 7}, {0, 0, 16, 12}},
         {false, true, true, true}},
        // Frame 3 still finds frame 1 beside frame 2.
        {"a frame using all 256 indices",
         32,
         16,
         256,
         {{0, 0, 32, 16}, {0, 0, 16, 16, 1, -1, -1, [](int x, int y) { return x + 16 * y; }}, {0, 0, 32, 16}},
         {false, false, true}},
        {"a single frame", 16, 12, 16, {{0, 0, 16, 12}}, {false}},
    };
    return table;
}

TEST(GifSaveOptions, InterFrameTransparencyShowsTheSameAsThePlainFile) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        cGif gif;
        build(gif, c);
        const Bytes plain = save(gif, false);
        const Bytes delta = save(gif, true);
        EXPECT_EQ(save(gif, false), plain) << "the container changed";
        GiflibReader plainGif(plain), deltaGif(delta);
        ASSERT_TRUE(plainGif.ok());
        ASSERT_TRUE(deltaGif.ok());
        ASSERT_EQ(deltaGif->ImageCount, int(c.frames.size()));
        EXPECT_EQ(test::CompositeFrames(deltaGif), test::CompositeFrames(plainGif));
        for (int i = 0; i < deltaGif->ImageCount; ++i) {
            const GraphicsControlBlock p = plainGif.gcb(i), d = deltaGif.gcb(i);
            EXPECT_EQ(d.DisposalMode, p.DisposalMode) << "frame " << i + 1;
            EXPECT_EQ(d.DelayTime, p.DelayTime) << "frame " << i + 1;
            const bool cleared = c.frames[size_t(i)].transparent < 0 && d.TransparentColor != NO_TRANSPARENT_COLOR;
            EXPECT_EQ(cleared, c.cleared[size_t(i)]) << "frame " << i + 1;
        }
        if (c.frames.size() == 1) {
            EXPECT_EQ(delta, plain);
        }
    }
}

TEST(GifSaveOptions, ColoursAreComparedNotIndices) {
    // Frame 2 shows frame 1's colours through a rotated local table: every
    // pixel already shows, though no index is the same.
    const Case c{"same colours", 16, 12, 16, {{0, 0, 16, 12}, {0, 0, 16, 12, 1, -1, 5, [](int x, int y) {
                                                                  return scene(x, y, 1, 14);
                                                              }}},
                 {false, true}};
    cGif gif;
    build(gif, c);
    GiflibReader file(save(gif, true));
    ASSERT_TRUE(file.ok());
    const int transparent = file.gcb(1).TransparentColor;
    ASSERT_NE(transparent, NO_TRANSPARENT_COLOR);
    const SavedImage& frame2 = file->SavedImages[1];
    for (int i = 0; i < 16 * 12; ++i) ASSERT_EQ(frame2.RasterBits[i], transparent) << "pixel " << i;
}

TEST(GifSaveOptions, FramesThatRepeatMostOfTheScreenCodeSmaller) {
    Case c{"large", 96, 64, 64, {}};
    for (int k = 0; k < 6; ++k) c.frames.push_back({0, 0, 96, 64});
    cGif gif;
    build(gif, c);
    EXPECT_LT(save(gif, true).size() * 10, save(gif, false).size() * 9);
}

TEST(GifSaveOptions, PlainSaveIsTheDefault) {
    cGif gif;
    build(gif, cases()[0]);
    Bytes plain;
    ASSERT_TRUE(gif.SaveToStream(plain));
    EXPECT_EQ(save(gif, false), plain);
    EXPECT_NE(save(gif, true), plain);
}

}  // namespace
