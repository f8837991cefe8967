// Saving with the smallest delta coding: giflib and our own decoder read the
// file back, and every frame must show what the plain file shows.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "imaging/gif/GifDeltaCoder.h"
#include "imaging/gif/GifLzwSequence.h"
#include "imaging/gif/cGif.h"
#include "support/GifCompositor.h"
#include "support/GiflibReader.h"
#include "support/Pillow.h"
#include "support/TempDir.h"
#include "support/Images.h"

using namespace tarnel;
using Bytes = std::vector<uint8_t>;
using tarnel::test::GiflibReader;

namespace {

// Colour number (below `colours`) at screen position (x, y) in frame k: a
// noisy picture in which some 4 x 4 blocks change from frame to frame.
int scene(int x, int y, int k, int colours) {
    uint32_t s = uint32_t(x * 7919 + y * 104729 + 12345);
    const int base = int(test::lcg(s) % uint32_t(colours));
    uint32_t t = uint32_t((x / 4) * 7919 + (y / 4) * 104729 + k * 31337);
    return test::lcg(t) % 3 == 0 ? (base + k) % colours : base;
}

// Smooth areas as a dithered morph leaves them: runs of a few colours.
int smooth(int x, int y, int k) { return ((x + k) / 5 + y / 3) % 60; }

// Flat bands crossed by stretches of fixed noise, some blocks changing each
// frame: unchanged stretches of one colour and of many colours side by side.
int bands(int x, int y, int k) {
    uint32_t s = uint32_t(x * 7919 + y * 104729 + 99);
    if ((x / 16 + y / 8) % 3 == 0) return 8 + int(test::lcg(s) % 40u);
    uint32_t t = uint32_t((x / 4) * 7919 + (y / 4) * 104729 + k * 31337);
    return (y / 8 + (test::lcg(t) % 4 == 0 ? k : 0)) % 8;
}

struct FrameSpec {
    int left, top, width, height;
    uint8_t disposal = 1;
    int transparent = -1;  // the frame's own transparent index
    bool interlaced = false;
    int localShift = -1;   // a local table: the global one rotated by this much
    std::function<int(int x, int y, int k)> colour = {};  // at a screen position; scene() by default
};

struct Case {
    const char* name;
    int screenWidth, screenHeight;
    int entries;  // global palette entries; the pictures use all but the last two
    std::vector<FrameSpec> frames;
    std::vector<bool> deltaTransparent = {};  // per frame, when given: written with a transparent index
};

void build(cGif& gif, const Case& c) {
    gif.Destroy();
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(int16_t(c.entries));
    for (int i = 0; i < c.entries; ++i)
        test::setEntry(gif.lpGlobalPalette(), i, uint8_t(i * 37 + 5), uint8_t(i * 91 + 17), uint8_t(i * 13 + 200));
    const int colours = std::max(c.entries - 2, 1);
    for (size_t i = 0; i < c.frames.size(); ++i) {
        const FrameSpec& f = c.frames[i];
        const int n = int(i) + 1;
        ASSERT_TRUE(gif.FrameInsert(n, f.width, f.height));
        gif.SetScreenWidth(int16_t(c.screenWidth));
        gif.SetScreenHeight(int16_t(c.screenHeight));
        gif.SetFrameLeft(n, int16_t(f.left));
        gif.SetFrameTop(n, int16_t(f.top));
        gif.SetFrameDisposalMethod(n, f.disposal);
        gif.SetFrameInterlaced(n, f.interlaced);
        gif.SetFrameDelay(n, int16_t(3 + n));
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
                const int sx = f.left + x, sy = f.top + y;
                const int colour = f.colour ? f.colour(sx, sy, n) : scene(sx, sy, n, colours);
                image.scanline(y)[x] = uint8_t((colour - shift + c.entries) % c.entries);
            }
        if (f.transparent >= 0) {
            gif.SetFrameUseTransparentColor(n, true);
            gif.SetFrameTransparentColorIndex(n, uint8_t(f.transparent));
        }
        gif.FrameMask(n, gif.FrameTransparentColorIndex(n));
    }
}

Bytes save(const cGif& gif, bool smallest, bool interFrame = false) {
    GifSaveOptions options;
    options.smallestDelta = smallest;
    options.interFrameTransparency = interFrame;
    Bytes out;
    EXPECT_TRUE(gif.SaveToStream(out, options));
    return out;
}

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"full screen, disposal 1", 40, 30, 16, {{0, 0, 40, 30}, {0, 0, 40, 30}, {0, 0, 40, 30}, {0, 0, 40, 30}},
         {false, true, true, true}},
        // Frames 3 and 4 are drawn on frame 1 again, not on the frame before.
        {"full screen, disposal 3", 40, 30, 16,
         {{0, 0, 40, 30, 1}, {0, 0, 40, 30, 3}, {0, 0, 40, 30, 3}, {0, 0, 40, 30, 1}}},
        // Nothing is certain of the background, so frame 2 meets no known pixel.
        {"restore to background", 40, 30, 16, {{0, 0, 40, 30, 2}, {0, 0, 40, 30, 1}, {0, 0, 40, 30, 1}},
         {false, false, true}},
        // Frame 3 reaches past the screen's right and bottom edges.
        {"cropped frames with offsets", 40, 32, 16,
         {{0, 0, 40, 32, 1}, {3, 2, 20, 16, 1}, {30, 20, 20, 16, 2}, {5, 4, 24, 20, 1}, {0, 0, 40, 32, 1}}},
        // Frames only in the middle of the screen: the screen model covers them alone.
        {"frames away from the screen's corner", 90, 70, 16,
         {{30, 20, 40, 30, 1}, {34, 22, 20, 16, 1}, {30, 20, 40, 30, 1}},
         {false, true, true}},
        // Two frames far apart on a large screen: no model of the screen is
        // made, so nothing becomes transparent, and both still show exactly.
        {"small frames far apart on a large screen", 4000, 3000, 16,
         {{0, 0, 8, 6, 1}, {3990, 2992, 8, 6, 1}, {0, 0, 8, 6, 1}},
         {false, false, false}},
        // Its own index 5 stays; what already shows may be written with it too.
        {"frames with their own transparency", 40, 30, 16,
         {{0, 0, 40, 30}, {0, 0, 40, 30, 1, 5}, {0, 0, 40, 30, 3, 5}, {0, 0, 40, 30}},
         {false, true, true, true}},
        {"transparency in every frame", 40, 30, 16,
         {{0, 0, 40, 30, 1, 3}, {0, 0, 40, 30, 1, 3}, {0, 0, 40, 30, 1, 3}}},
        {"local palettes", 40, 30, 16,
         {{0, 0, 40, 30}, {0, 0, 40, 30, 1, -1, false, 3}, {0, 0, 40, 30, 1, -1, false, 7}, {0, 0, 40, 30}}},
        {"interlaced frames", 40, 30, 16,
         {{0, 0, 40, 30, 1, -1, true}, {0, 0, 40, 30, 1, -1, true}, {0, 0, 40, 30, 1, -1, true}},
         {false, true, true}},
        // Frame 2 has no index to spare but those whose pixel already shows.
        {"a frame using all 256 indices", 16, 16, 256,
         {{0, 0, 16, 16}, {0, 0, 16, 16, 1, -1, false, -1, [](int x, int y, int) { return x + 16 * y; }},
          {0, 0, 16, 16}}},
        {"a single frame", 40, 30, 16, {{0, 0, 40, 30}}, {false}},
        // Large frames: the string table fills and clears many times.
        {"large noisy frames", 160, 120, 200, {{0, 0, 160, 120}, {0, 0, 160, 120}, {0, 0, 160, 120}}},
        {"large smooth frames", 160, 120, 64,
         {{0, 0, 160, 120, 1, -1, false, -1, smooth},
          {0, 0, 160, 120, 1, -1, false, -1, smooth},
          {0, 0, 160, 120, 1, -1, false, -1, smooth}}},
        {"flat bands and fixed noise", 160, 120, 64,
         {{0, 0, 160, 120, 1, -1, false, -1, bands},
          {0, 0, 160, 120, 1, -1, false, -1, bands},
          {0, 0, 160, 120, 1, -1, false, -1, bands}},
         {false, true, true}},
        // Few colours: the code size shrinks below the table's.
        {"four colours of a large table", 40, 30, 256,
         {{0, 0, 40, 30, 1, -1, false, -1, [](int x, int y, int k) { return scene(x, y, k, 4); }},
          {0, 0, 40, 30, 1, -1, false, -1, [](int x, int y, int k) { return scene(x, y, k, 4); }}}},
    };
    return table;
}

TEST(GifDeltaCoder, EveryFrameShowsWhatThePlainFileShows) {
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
        const auto expected = test::CompositeFrames(plainGif);
        EXPECT_EQ(test::CompositeFrames(deltaGif), expected) << "giflib";
        cGif ours;
        ASSERT_TRUE(ours.LoadFromStream(delta)) << ours.LoadError();
        EXPECT_EQ(test::CompositeFrames(ours), expected) << "our decoder";
        for (int i = 0; i < deltaGif->ImageCount; ++i) {
            const GraphicsControlBlock p = plainGif.gcb(i), d = deltaGif.gcb(i);
            EXPECT_EQ(d.DisposalMode, p.DisposalMode) << "frame " << i + 1;
            EXPECT_EQ(d.DelayTime, p.DelayTime) << "frame " << i + 1;
            EXPECT_EQ(deltaGif->SavedImages[i].ImageDesc.Interlace, plainGif->SavedImages[i].ImageDesc.Interlace);
            if (p.TransparentColor != NO_TRANSPARENT_COLOR) {
                EXPECT_EQ(d.TransparentColor, p.TransparentColor);
            }
            if (!c.deltaTransparent.empty()) {
                EXPECT_EQ(d.TransparentColor != NO_TRANSPARENT_COLOR, c.deltaTransparent[size_t(i)])
                    << "frame " << i + 1;
            }
        }
    }
}

TEST(GifDeltaCoder, SmallerThanEveryPixelTransparentOnAnimationsThatChangeInPlaces) {
    for (const Case& c : cases()) {
        if (c.frames.size() < 3 || c.frames[0].width < 100) continue;
        SCOPED_TRACE(c.name);
        cGif gif;
        build(gif, c);
        const Bytes delta = save(gif, true);
        EXPECT_LE(delta.size(), save(gif, false, true).size());
        EXPECT_LT(delta.size(), save(gif, false).size());
    }
}

TEST(GifDeltaCoder, AColourWhosePixelsAllShowAlreadyCanBeTheTransparentIndex) {
    // Frame 2 uses all eight entries of its table, so no index is free; it
    // repeats frame 1 except in one corner, and colour 0 shows only where
    // frame 1 showed it too: it may serve as the transparent index.
    Case c{"reuse", 48, 32, 8, {}};
    auto picture = [](int x, int y, int k) {
        if (k == 2 && x < 8 && y < 8) return 4 + (x + y) % 4;
        return (x / 6 + y / 4) % 4;
    };
    c.frames = {{0, 0, 48, 32, 1, -1, false, -1, picture}, {0, 0, 48, 32, 1, -1, false, -1, picture}};
    cGif gif;
    build(gif, c);
    const Bytes delta = save(gif, true);
    GiflibReader plainGif(save(gif, false)), deltaGif(delta);
    ASSERT_TRUE(deltaGif.ok());
    EXPECT_EQ(test::CompositeFrames(deltaGif), test::CompositeFrames(plainGif));
    EXPECT_EQ(save(gif, false, true), save(gif, false)) << "every pixel transparent needs a free index";
    const int transparent = deltaGif.gcb(1).TransparentColor;
    EXPECT_GE(transparent, 0);
    EXPECT_LT(transparent, 4);
}

TEST(GifDeltaCoder, CodeSizeIsTheSmallestThatHoldsThePixels) {
    const struct {
        int highest;  // largest pixel value
        int codeSize;
    } table[] = {{0, 2}, {3, 2}, {4, 3}, {15, 4}, {16, 5}, {127, 7}, {128, 8}, {255, 8}};
    for (const auto& t : table) {
        SCOPED_TRACE(t.highest);
        GcDIB frame;
        ASSERT_TRUE(frame.Create(9, 7, 8));
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) frame.bitmap()->scanline(y)[x] = uint8_t((x * y) % (t.highest + 1));
        frame.bitmap()->scanline(6)[8] = uint8_t(t.highest);
        const GifDeltaCoding coding = CodeSmallestDelta(frame, nullptr, 0, false, false);
        EXPECT_EQ(coding.codeSize, t.codeSize);
        EXPECT_EQ(coding.transparent, -1);
    }
}

TEST(GifLzwTable, AFullTableFindsOnlyWhatWasEntered) {
    GifLzwTable table(256);
    for (uint32_t prefix = 0; !table.full(); ++prefix) table.add(prefix, 0);
    EXPECT_EQ(table.find(0, 0), 258);
    EXPECT_EQ(table.find(300, 0), 258 + 300);
    EXPECT_EQ(table.find(300, 1), -1);
    for (int pixel = 0; pixel < 256; ++pixel) {
        SCOPED_TRACE(pixel);
        // Code 4095 is the last made: no string extends it yet.
        EXPECT_EQ(table.find(4095, uint8_t(pixel)), -1);
    }
}

TEST(GifLzwSequence, DecodesToThePixelsAcrossTableClears) {
    // Random pixels fill the table within a few thousand pixels, so several
    // clears come up; giflib decodes the frame written around the data.
    const struct {
        int codeSize;
        int width, height;
    } table[] = {{2, 64, 48}, {5, 200, 100}, {8, 320, 200}, {8, 1, 1}};
    for (const auto& t : table) {
        SCOPED_TRACE(t.codeSize);
        std::vector<uint8_t> pixels(size_t(t.width) * size_t(t.height));
        uint32_t s = 99;
        for (uint8_t& p : pixels) p = uint8_t(test::lcg(s) % (1u << t.codeSize));
        cGif gif;
        ASSERT_TRUE(gif.FrameInsert(1, t.width, t.height));
        gif.SetGlobalPaletteExists(true);
        gif.SetGlobalPaletteEntries(256);
        gif.SetScreenWidth(int16_t(t.width));
        gif.SetScreenHeight(int16_t(t.height));
        for (int y = 0; y < t.height; ++y)
            std::memcpy(gif.FrameDIBXOR(1).bitmap()->scanline(y), pixels.data() + size_t(y) * size_t(t.width),
                        size_t(t.width));
        GiflibReader file(save(gif, true));
        ASSERT_TRUE(file.ok());
        const SavedImage& image = file->SavedImages[0];
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), image.RasterBits));
    }
}

// The pixels (below 32) as a one-frame GIF of the smallest coding read back
// by giflib and Pillow.
void checkDecodes(const std::vector<uint8_t>& pixels, int w, int h) {
    cGif gif;
    ASSERT_TRUE(gif.FrameInsert(1, w, h));
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(256);
    gif.SetScreenWidth(int16_t(w));
    gif.SetScreenHeight(int16_t(h));
    for (int i = 0; i < 32; ++i) test::setEntry(gif.lpGlobalPalette(), i, uint8_t(i * 8), uint8_t(255 - i * 8), uint8_t(i * 7));
    for (int y = 0; y < h; ++y)
        std::memcpy(gif.FrameDIBXOR(1).bitmap()->scanline(y), pixels.data() + size_t(y) * size_t(w), size_t(w));
    const Bytes bytes = save(gif, true);
    GiflibReader file(bytes);
    ASSERT_TRUE(file.ok());
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), file->SavedImages[0].RasterBits));
    if (!test::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    test::TempDir scratch;
    const std::string path = scratch.file("kept.gif");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const test::PillowAnimation a = test::DecodeWithPillow(path, scratch.path().string());
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_EQ(a.frames.size(), 1u);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RGBQuad c = a.frames[0].pixelColor(x, y);
            const int i = pixels[size_t(y) * size_t(w) + size_t(x)];
            wrong += c.red != i * 8 || c.green != 255 - i * 8 || c.blue != i * 7;
        }
    EXPECT_EQ(wrong, 0);
}

// Frames whose table, once full, codes what follows shorter kept than
// cleared: to the end (pieces of the start repeated), or until the picture
// changes (then a new table codes the new part). Both giflib and Pillow must
// read a table that stays full for a while.
TEST(GifLzwSequence, AKeptTableCodesShorterAndDecodes) {
    const int w = 400, h = 400;
    const size_t start = 30000;
    // Pixels [from, to): pieces of [0, start) repeated, or new noise of
    // 16 values, 16 up (disjoint from the start's).
    auto repeats = [&](std::vector<uint8_t>& p, size_t from, size_t to, uint32_t& s) {
        for (size_t i = from; i < to;) {
            const size_t at = test::lcg(s) % (start - 16), length = 3 + test::lcg(s) % 8;
            for (size_t k = 0; k < length && i < to; ++k) p[i++] = p[at + k];
        }
    };
    auto noise = [](std::vector<uint8_t>& p, size_t from, size_t to, uint32_t& s, int base) {
        for (size_t i = from; i < to; ++i) p[i] = uint8_t(base + int(test::lcg(s) % 16));
    };
    struct Case {
        const char* name;
        size_t repeatedUntil;  // then noise of other values to the end
        double mostOfCleared;  // the coded size is at most this share of always clearing
    };
    for (const Case& t : {Case{"kept to the end", size_t(w) * size_t(h), 0.9},
                          Case{"kept until the picture changes", 100000, 0.93}}) {
        SCOPED_TRACE(t.name);
        std::vector<uint8_t> pixels(size_t(w) * size_t(h));
        uint32_t s = 7;
        noise(pixels, 0, start, s, 0);
        repeats(pixels, start, t.repeatedUntil, s);
        noise(pixels, t.repeatedUntil, pixels.size(), s, 16);
        std::vector<uint8_t> cleared, smallest;
        CompressSequence(cleared, pixels.data(), pixels.size(), 9);
        RecodeSequenceSmallest(smallest, pixels.data(), pixels.size(), 9);
        EXPECT_LT(double(smallest.size()), t.mostOfCleared * double(cleared.size()));
        checkDecodes(pixels, w, h);
    }
}

}  // namespace
