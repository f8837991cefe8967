#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "imaging/gif/cGif.h"
#include "imaging/gif/mGIFExt.h"
#include "support/Images.h"

using namespace tarnel;
using tarnel::test::setEntry;

namespace {

class RecordingProgress : public ProgressSink {
public:
    void SetMax(int32_t max) override { calls.push_back("max " + std::to_string(max)); }
    void SetValue(int32_t value) override { calls.push_back(std::to_string(value)); }
    std::vector<std::string> calls;
};

uint8_t& px(cGif& gif, int n, int x, int y) { return gif.FrameDIBXOR(n).bitmap()->scanline(y)[x]; }

// Full-screen frames drawn from rows of characters '0'..'9' (palette
// indices), global palette of `entries` distinct colours.
void makeAnimation(cGif& gif, const std::vector<std::vector<std::string>>& frames, int entries = 10) {
    const int h = int(frames[0].size()), w = int(frames[0][0].size());
    for (size_t k = 0; k < frames.size(); ++k) {
        int n = int(k) + 1;
        ASSERT_TRUE(gif.FrameInsert(n, w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) px(gif, n, x, y) = uint8_t(frames[k][size_t(y)][size_t(x)] - '0');
        gif.SetFrameDelay(n, int16_t(10 * n));
    }
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(int16_t(entries));
    for (int i = 0; i < entries; ++i) setEntry(gif.lpGlobalPalette(), i, uint8_t(20 * i), uint8_t(255 - 20 * i), uint8_t(7 * i));
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        std::memcpy(gif.lpLocalPalette(n), gif.lpGlobalPalette(), 1024);
        gif.SetLocalPaletteEntries(n, int16_t(entries));
        gif.FrameMask(n, 0);
    }
}

std::vector<std::string> rows(const cGif& gif, int n) {
    const GcDIB& image = gif.FrameDIBXOR(n);
    std::vector<std::string> out;
    for (int y = 0; y < image.Height(); ++y) {
        std::string row;
        for (int x = 0; x < image.Width(); ++x) row += char('0' + image.bitmap()->scanline(y)[x]);
        out.push_back(row);
    }
    return out;
}

// What a viewer shows at the start of every frame: frames drawn in turn on
// a 32-bpp screen, disposal applied after each.
std::vector<std::vector<uint32_t>> composite(const cGif& gif) {
    GcDIB screen, saved;
    EXPECT_TRUE(screen.Create(gif.ScreenWidth(), gif.ScreenHeight(), 32));
    ColorRef bg = gif.GlobalPaletteRGBEntry(gif.ScreenBackgroundColorIndex());
    screen.Cls(bg);
    std::vector<std::vector<uint32_t>> shown;
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        if (gif.FrameDisposalMethod(n) == 3) screen.CloneTo(saved);
        gif.FrameDraw(screen.hDIBDC(), n, 0, 0);
        const auto* p = reinterpret_cast<const uint32_t*>(screen.lpBits());
        shown.emplace_back(p, p + screen.Width() * screen.Height());
        if (gif.FrameDisposalMethod(n) == 2) {
            Rect r{gif.FrameLeft(n), gif.FrameTop(n), gif.FrameLeft(n) + gif.FrameDIBXOR(n).Width(),
                   gif.FrameTop(n) + gif.FrameDIBXOR(n).Height()};
            FillRect(screen.hDIBDC(), r, Brush::solid(bg));
        } else if (gif.FrameDisposalMethod(n) == 3) {
            saved.CloneTo(screen);
        }
    }
    return shown;
}

std::vector<int> delays(const cGif& gif) {
    std::vector<int> d;
    for (int n = 1; n <= gif.FramesCount(); ++n) d.push_back(gif.FrameDelay(n));
    return d;
}

}  // namespace

// ====================================================================== transparency

TEST(SetFramesTransparency, EveryFrameGetsFlagIndexAndMask) {
    cGif gif;
    makeAnimation(gif, {{"012", "210"}, {"111", "222"}, {"000", "000"}});
    RecordingProgress progress;
    SetFramesTransparency(gif, true, 2, &progress);
    EXPECT_EQ(progress.calls, (std::vector<std::string>{"max 3", "1", "2", "3", "0"}));
    for (int n = 1; n <= 3; ++n) {
        EXPECT_TRUE(gif.FrameUseTransparentColor(n));
        EXPECT_EQ(gif.FrameTransparentColorIndex(n), 2);
        EXPECT_EQ(gif.FrameDIBXOR(n).colorTable()[2], (RGBQuad{0, 0, 0, 0}));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(gif.FrameDIBAND(n).bitmap()->pixelValue(x, y), px(gif, n, x, y) == 2 ? 1u : 0u);
    }
    SetFramesTransparency(gif, false, 2, nullptr);
    EXPECT_FALSE(gif.FrameUseTransparentColor(1));
    EXPECT_EQ(gif.FrameDIBAND(1).bitmap()->pixelValue(2, 0), 0u);
    EXPECT_EQ(gif.FrameDIBXOR(1).colorTable()[2], (RGBQuad{14, 215, 40, 0}));
}

// ====================================================================== palette

TEST(OptimizePalette, KeepsTheUsedEntriesInOrder) {
    cGif gif;
    makeAnimation(gif, {{"1441", "6666"}, {"4444", "1111"}});
    RecordingProgress progress;
    EXPECT_EQ(OptimizePalette(gif, &progress), 10 - 3);
    EXPECT_EQ(progress.calls.front(), "max 4");
    EXPECT_EQ(progress.calls.back(), "0");
    EXPECT_EQ(gif.GlobalPaletteEntries(), 3);
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(0), RGBColor(20, 235, 7));
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(1), RGBColor(80, 175, 28));
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(2), RGBColor(120, 135, 42));
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(3), 0u);
    EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"0110", "2222"}));
    EXPECT_EQ(rows(gif, 2), (std::vector<std::string>{"1111", "0000"}));
    for (int n = 1; n <= 2; ++n) {
        EXPECT_EQ(gif.LocalPaletteEntries(n), 3);
        EXPECT_EQ(gif.LocalPaletteRGBEntry(n, 2), RGBColor(120, 135, 42));
        EXPECT_EQ(gif.FrameDIBXOR(n).colorTable()[1], (RGBQuad{28, 175, 80, 0}));
    }
    EXPECT_EQ(OptimizePalette(gif, nullptr), 0);  // nothing left to remove
}

TEST(OptimizePalette, SmallResults) {
    struct Case { std::vector<std::string> frame; bool local; int entries; uint8_t removed; };
    const Case cases[] = {
        {{"55", "55"}, false, 2, 8},  // one used entry: it, then old entry 0
        {{"00", "00"}, false, 2, 8},
        {{"37", "73"}, true, 1, 9},   // only a local-palette frame: nothing used
    };
    for (const Case& c : cases) {
        cGif gif;
        makeAnimation(gif, {c.frame});
        gif.SetLocalPaletteUsed(1, c.local);
        EXPECT_EQ(OptimizePalette(gif, nullptr), c.removed);
        EXPECT_EQ(gif.GlobalPaletteEntries(), c.entries);
        if (c.local) {
            EXPECT_EQ(gif.GlobalPaletteRGBEntry(0), 0u);
            EXPECT_EQ(rows(gif, 1), c.frame);  // untouched
            EXPECT_EQ(gif.LocalPaletteEntries(1), 10);
        } else {
            EXPECT_EQ(gif.GlobalPaletteRGBEntry(0), RGBColor(uint8_t(20 * (c.frame[0][0] - '0')), uint8_t(255 - 20 * (c.frame[0][0] - '0')), uint8_t(7 * (c.frame[0][0] - '0'))));
            EXPECT_EQ(gif.GlobalPaletteRGBEntry(1), RGBColor(0, 255, 0));
            EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"00", "00"}));
        }
    }
}

TEST(OptimizePalette, TransparentIndexKeepsItsEntry) {
    // Index 9 is transparent but no pixel shows it. Renumbered to 0 it would
    // hide the pixels of colour 2 (the new entry 0).
    cGif gif;
    makeAnimation(gif, {{"23", "32"}});
    gif.SetFrameUseTransparentColor(1, true);
    gif.SetFrameTransparentColorIndex(1, 9);
    gif.FrameMask(1, 9);
    EXPECT_EQ(OptimizePalette(gif, nullptr), 7);
    EXPECT_EQ(gif.GlobalPaletteEntries(), 3);
    EXPECT_EQ(gif.FrameTransparentColorIndex(1), 2);
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(2), RGBColor(180, 75, 63));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(gif.FrameDIBAND(1).bitmap()->pixelValue(x, y), 0u);
}

TEST(OptimizePalette, WithoutGlobalPaletteNothingHappens) {
    cGif gif;
    makeAnimation(gif, {{"12"}});
    gif.SetGlobalPaletteExists(false);
    EXPECT_EQ(OptimizePalette(gif, nullptr), 0);
    EXPECT_EQ(gif.GlobalPaletteEntries(), 10);
    EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"12"}));
}

TEST(SortPaletteByUse, ColoursOfMostFramesFirstThenMostPixels) {
    cGif gif;
    makeAnimation(gif, {{"1199", "9999"}, {"9966", "9999"}, {"9966", "6633"}});
    gif.SetFrameUseTransparentColor(2, true);
    gif.SetFrameTransparentColorIndex(2, 1);
    gif.FrameMask(2, 1);
    gif.SetScreenWidth(4);
    gif.SetScreenHeight(2);
    gif.SetScreenBackgroundColorIndex(6);
    const auto before = composite(gif);
    RecordingProgress progress;
    EXPECT_TRUE(SortPaletteByUse(gif, &progress));
    EXPECT_EQ(progress.calls.front(), "max 6");
    EXPECT_EQ(progress.calls.back(), "0");
    // 9 in three frames, 6 in two, then 1 and 3 (one frame, two pixels each)
    // in their old order, then the unused entries.
    const int order[] = {9, 6, 1, 3, 0, 2, 4, 5, 7, 8};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(gif.GlobalPaletteRGBEntry(i), RGBColor(uint8_t(20 * order[i]), uint8_t(255 - 20 * order[i]),
                                                         uint8_t(7 * order[i])))
            << i;
    EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"2200", "0000"}));
    EXPECT_EQ(rows(gif, 2), (std::vector<std::string>{"0011", "0000"}));
    EXPECT_EQ(rows(gif, 3), (std::vector<std::string>{"0011", "1133"}));
    EXPECT_EQ(gif.FrameTransparentColorIndex(2), 2);
    EXPECT_EQ(gif.ScreenBackgroundColorIndex(), 1);
    EXPECT_EQ(composite(gif), before);
}

// The other two orders the smallest coding tries: the composed frames stay
// as they were, the palette is the expected permutation.
TEST(SortPaletteOrders, RenumberWithoutChangingWhatShows) {
    const struct {
        const char* name;
        bool (*sort)(cGif&, ProgressSink*);
        std::vector<int> order;  // old entry of each new one
    } cases[] = {
        // Frame 1's colours by pixels (9, 1), then frame 2's new 6, frame 3's new 3.
        {"first use", SortPaletteByFirstUse, {9, 1, 6, 3, 0, 2, 4, 5, 7, 8}},
        // Changed pixels: 9 in frames 1-2 (8), 6 in 2-3 (4), 1 and 3 in one each.
        {"change", SortPaletteByChange, {9, 6, 1, 3, 0, 2, 4, 5, 7, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cGif gif;
        makeAnimation(gif, {{"1199", "9999"}, {"9966", "9999"}, {"9966", "6633"}});
        gif.SetScreenWidth(4);
        gif.SetScreenHeight(2);
        const auto before = composite(gif);
        EXPECT_TRUE(c.sort(gif, nullptr));
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(gif.GlobalPaletteRGBEntry(i), RGBColor(uint8_t(20 * c.order[size_t(i)]),
                                                             uint8_t(255 - 20 * c.order[size_t(i)]),
                                                             uint8_t(7 * c.order[size_t(i)])))
                << i;
        EXPECT_EQ(composite(gif), before);
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(CodeSmallestFile(gif, bytes, nullptr));
        EXPECT_EQ(composite(gif), before);
        cGif back;
        ASSERT_TRUE(back.LoadFromStream(bytes));
        EXPECT_EQ(composite(back), before);
    }
}

TEST(CodeSmallestFile, GivesTheFramesOfMostPixelsTheSmallerCodeSizes) {
    // Frames 2-5 repaint half the screen in colours 20-25; frames 6-12 each
    // touch a small block in colours 30-35. Ordered by frames of use, 30-35
    // come first and the large frames need 4-bit codes; the coded file puts
    // 20-25 first, so that they need 3.
    const int w = 64, h = 48;
    uint32_t seed = 7;
    auto noise = [&](int from, int count) { return char('0' + from + int(test::lcg(seed) % uint32_t(count))); };
    std::vector<std::vector<std::string>> frames(1, std::vector<std::string>(h, std::string(w, '0')));
    for (auto& row : frames[0])
        for (char& c : row) c = noise(0, 36);
    for (int k = 1; k < 12; ++k) {
        frames.push_back(frames.back());
        const bool large = k < 5;
        for (int y = 0; y < (large ? h : 4); ++y)
            for (int x = 0; x < (large ? w / 2 : 4); ++x) frames.back()[size_t(y)][size_t(x + (large ? 0 : 4 * k))] = large ? noise(20, 6) : noise(30, 6);
    }
    cGif gif;
    makeAnimation(gif, frames, 40);
    gif.SetScreenWidth(w);
    gif.SetScreenHeight(h);
    const auto before = composite(gif);
    ASSERT_TRUE(SortPaletteByChange(gif, nullptr));
    GifSaveOptions options;
    options.smallestDelta = true;
    std::vector<uint8_t> byChange, bytes;
    ASSERT_TRUE(gif.SaveToStream(byChange, options));
    ASSERT_TRUE(CodeSmallestFile(gif, bytes, nullptr));
    EXPECT_LT(bytes.size(), byChange.size());
    for (int i = 0; i < 6; ++i) {
        const int was = BlueOf(gif.GlobalPaletteRGBEntry(i)) / 7;  // makeAnimation's blue is 7 x the entry
        EXPECT_TRUE(was >= 20 && was < 26) << "entry " << i << " was " << was;
    }
    cGif back;
    ASSERT_TRUE(back.LoadFromStream(bytes));
    EXPECT_EQ(composite(back), before);
}

TEST(SortPaletteByUse, WithoutGlobalPaletteNothingHappens) {
    cGif gif;
    makeAnimation(gif, {{"12"}});
    gif.SetGlobalPaletteExists(false);
    EXPECT_FALSE(SortPaletteByUse(gif, nullptr));
    EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"12"}));
}

// ====================================================================== frames

TEST(OptimizeFrames, IdenticalFramesTwoAndThreeMerge) {
    cGif gif;
    makeAnimation(gif, {{"000", "000"}, {"010", "000"}, {"010", "000"}, {"010", "002"}});
    ASSERT_EQ(delays(gif), (std::vector<int>{10, 20, 30, 40}));
    RecordingProgress progress;
    ASSERT_TRUE(OptimizeFrames(gif, &progress));
    EXPECT_EQ(progress.calls.front(), "max 4");
    EXPECT_EQ(progress.calls.back(), "0");
    ASSERT_EQ(gif.FramesCount(), 3);
    EXPECT_EQ(delays(gif), (std::vector<int>{10, 50, 40}));
    // Frame 1 stays whole; the others shrink to what changed.
    EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"000", "000"}));
    EXPECT_EQ(rows(gif, 2), (std::vector<std::string>{"1"}));
    EXPECT_EQ(gif.FrameLeft(2), 1);
    EXPECT_EQ(gif.FrameTop(2), 0);
    EXPECT_EQ(rows(gif, 3), (std::vector<std::string>{"2"}));
    EXPECT_EQ(gif.FrameLeft(3), 2);
    EXPECT_EQ(gif.FrameTop(3), 1);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(gif.FrameDisposalMethod(n), 1);
}

TEST(OptimizeFrames, CropsToTheChangedRectangleWithTheGlobalColours) {
    cGif gif;
    makeAnimation(gif, {{"000000", "000000", "000000", "000000"},
                        {"000000", "003000", "000040", "000000"},
                        {"500000", "003000", "000040", "000005"}});
    // A local palette on frame 2: the crop takes the global colours, and the
    // mask rebuild puts the frame palette back as its colour table.
    setEntry(gif.lpLocalPalette(2), 3, 1, 2, 3);
    ASSERT_TRUE(OptimizeFrames(gif, nullptr));
    ASSERT_EQ(gif.FramesCount(), 3);
    EXPECT_EQ(rows(gif, 2), (std::vector<std::string>{"300", "004"}));
    EXPECT_EQ(gif.FrameLeft(2), 2);
    EXPECT_EQ(gif.FrameTop(2), 1);
    EXPECT_EQ(gif.FrameDIBXOR(2).colorTable()[3], (RGBQuad{3, 2, 1, 0}));
    EXPECT_EQ(gif.FrameDIBXOR(2).colorTable()[4], (RGBQuad{28, 175, 80, 0}));
    EXPECT_EQ(rows(gif, 3), (std::vector<std::string>{"500000", "003000", "000040", "000005"}));
    EXPECT_EQ(gif.FrameDIBAND(3).Width(), 6);
    EXPECT_EQ(gif.FrameDIBAND(2).Width(), 3);
    EXPECT_EQ(gif.FrameDIBAND(2).BPP(), 1);
}

TEST(OptimizeFrames, TransparentAnimationsCropToTheOpaquePixels) {
    // Index 0 transparent in every frame: each frame keeps only its opaque
    // part and restores what was under it (disposal 3).
    cGif gif;
    makeAnimation(gif, {{"0000", "0120", "0000"}, {"0000", "0000", "0000"}, {"3000", "0000", "0003"}});
    SetFramesTransparency(gif, true, 0, nullptr);
    ASSERT_TRUE(OptimizeFrames(gif, nullptr));
    ASSERT_EQ(gif.FramesCount(), 2);
    EXPECT_EQ(delays(gif), (std::vector<int>{30, 30}));
    EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"12"}));
    EXPECT_EQ(gif.FrameLeft(1), 1);
    EXPECT_EQ(gif.FrameTop(1), 1);
    EXPECT_EQ(rows(gif, 2), (std::vector<std::string>{"3000", "0000", "0003"}));
    for (int n = 1; n <= 2; ++n) EXPECT_EQ(gif.FrameDisposalMethod(n), 3);
    EXPECT_EQ(gif.FrameDIBAND(2).bitmap()->pixelValue(1, 0), 1u);
    EXPECT_EQ(gif.FrameDIBAND(2).bitmap()->pixelValue(0, 0), 0u);
}

TEST(OptimizeFrames, EmptyFrameWithNothingBeforeItStaysAsOnePixel) {
    cGif gif;
    makeAnimation(gif, {{"000", "000"}, {"000", "010"}});
    SetFramesTransparency(gif, true, 0, nullptr);
    ASSERT_TRUE(OptimizeFrames(gif, nullptr));
    ASSERT_EQ(gif.FramesCount(), 2);
    EXPECT_EQ(delays(gif), (std::vector<int>{10, 20}));
    EXPECT_EQ(rows(gif, 1), (std::vector<std::string>{"0"}));
    EXPECT_EQ(gif.FrameDIBAND(1).bitmap()->pixelValue(0, 0), 1u);  // and it is transparent
    EXPECT_EQ(rows(gif, 2), (std::vector<std::string>{"1"}));
}

TEST(OptimizeFrames, DelaysThatWouldOverflowAreNotMerged) {
    cGif gif;
    makeAnimation(gif, {{"00", "00"}, {"00", "00"}, {"00", "00"}});
    gif.SetFrameDelay(1, 20000);
    gif.SetFrameDelay(2, 12000);
    gif.SetFrameDelay(3, 1000);
    ASSERT_TRUE(OptimizeFrames(gif, nullptr));
    ASSERT_EQ(gif.FramesCount(), 2);
    EXPECT_EQ(delays(gif), (std::vector<int>{32000, 1000}));
    EXPECT_EQ(gif.FrameDIBXOR(2).Width(), 1);
    EXPECT_EQ(gif.FrameDIBXOR(2).Height(), 1);
}

TEST(OptimizeFrames, PreconditionsLeaveEverythingAsItWas) {
    struct Case { std::function<void(cGif&)> spoil; int firstDisposal = 0; };
    const Case cases[] = {
        {[](cGif& g) { g.SetFrameLeft(2, 1); }},
        {[](cGif& g) { g.SetFrameTop(1, 1); }},
        {[](cGif& g) { g.SetScreenWidth(5); }},
        {[](cGif& g) { ASSERT_TRUE(g.FrameInsert(3, 2, 2)); }},
        // Frames whose transparent pixels show the frame before them.
        {[](cGif& g) {
            g.SetFrameUseTransparentColor(2, true);
            g.SetFrameTransparentColorIndex(2, 1);
        }},
        {[](cGif& g) {
             SetFramesTransparency(g, true, 0, nullptr);
             g.SetFrameDisposalMethod(1, 1);
         },
         1},
    };
    for (const Case& c : cases) {
        cGif gif;
        makeAnimation(gif, {{"010", "000"}, {"010", "000"}});
        c.spoil(gif);
        const int count = gif.FramesCount();
        EXPECT_FALSE(OptimizeFrames(gif, nullptr));
        EXPECT_EQ(gif.FramesCount(), count);
        EXPECT_EQ(gif.FrameDIBXOR(1).Width(), 3);
        EXPECT_EQ(gif.FrameDIBXOR(2).Width(), 3);
        EXPECT_EQ(gif.FrameDisposalMethod(1), c.firstDisposal);
    }
    cGif empty;
    empty.Destroy();
    EXPECT_TRUE(OptimizeFrames(empty, nullptr));
}

TEST(OptimizeFrames, PlaysBackTheSameAnimation) {
    // A small animation with moving, repeating and vanishing parts, opaque
    // and transparent: what a viewer shows at every moment is unchanged.
    const std::vector<std::vector<std::string>> frames = {
        {"11111111", "12222221", "11111111", "13333331", "11111111"},
        {"11111111", "12222221", "11411111", "13333331", "11111111"},
        {"11111111", "12222221", "11411111", "13333331", "11111111"},
        {"11111111", "12222221", "11114111", "13333331", "11111111"},
        {"11111111", "12222221", "11111141", "13333331", "15111111"},
        {"11111111", "12222221", "11111141", "13333331", "15111111"},
    };
    for (bool transparent : {false, true}) {
        cGif original, optimised;
        makeAnimation(original, frames);
        makeAnimation(optimised, frames);
        if (transparent) {
            SetFramesTransparency(original, true, 1, nullptr);
            SetFramesTransparency(optimised, true, 1, nullptr);
            for (int n = 1; n <= original.FramesCount(); ++n) original.SetFrameDisposalMethod(n, 3);
        }
        ASSERT_TRUE(OptimizeFrames(optimised, nullptr));
        // Opaque: the repeats go. Transparent: every frame has opaque pixels.
        EXPECT_EQ(optimised.FramesCount(), transparent ? 6 : 4);
        auto before = composite(original), after = composite(optimised);
        // Match frames by the moment they start.
        std::vector<int> startBefore, startAfter;
        for (int t = 0, n = 1; n <= original.FramesCount(); t += original.FrameDelay(n++)) startBefore.push_back(t);
        for (int t = 0, n = 1; n <= optimised.FramesCount(); t += optimised.FrameDelay(n++)) startAfter.push_back(t);
        int totalBefore = 0, totalAfter = 0;
        for (int d : delays(original)) totalBefore += d;
        for (int d : delays(optimised)) totalAfter += d;
        EXPECT_EQ(totalBefore, totalAfter);
        for (size_t k = 0; k < after.size(); ++k) {
            auto it = std::find(startBefore.begin(), startBefore.end(), startAfter[k]);
            ASSERT_NE(it, startBefore.end());
            size_t i = size_t(it - startBefore.begin());
            EXPECT_EQ(after[k], before[i]) << "frame " << k + 1 << (transparent ? " transparent" : "");
            // Frames that were merged away showed the same picture.
            for (size_t j = i + 1; j < before.size() && (k + 1 == after.size() || startBefore[j] < startAfter[k + 1]); ++j)
                EXPECT_EQ(before[j], before[i]);
        }
    }
}
