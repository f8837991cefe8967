#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "imaging/gif/GifPicture.h"
#include "imaging/gif/cGif.h"
#include "platform/RuntimeError.h"
#include "support/GiflibReader.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using Bytes = std::vector<uint8_t>;
using tarnel::test::GiflibReader;
using tarnel::test::setEntry;

namespace {

// ---- building GIF bytes by hand

// Clear code then end code at code size 2: the image keeps index 0.
const Bytes kEmptyImageData = {0x02, 0x01, 0x2C, 0x00};

struct GifBytes {
    Bytes b;
    GifBytes& raw(std::initializer_list<int> v) {
        for (int x : v) b.push_back(uint8_t(x));
        return *this;
    }
    GifBytes& word(int v) { return raw({v & 0xFF, (v >> 8) & 0xFF}); }
    GifBytes& header(const char* version = "89a") {
        b.insert(b.end(), {'G', 'I', 'F'});
        b.insert(b.end(), version, version + 3);
        return *this;
    }
    // Screen with a 2-entry global table (black, white) unless packed says otherwise.
    GifBytes& screen(int w, int h, int packed = 0x80, int background = 0, int aspect = 0) {
        word(w).word(h).raw({packed, background, aspect});
        if (packed & 0x80)
            for (int i = 0; i < (2 << (packed & 7)); ++i) raw({i == 1 ? 255 : 0, i == 1 ? 255 : 0, i == 1 ? 255 : 0});
        return *this;
    }
    GifBytes& control(int packed, int delay, int index) { return raw({0x21, 0xF9, 4, packed}).word(delay).raw({index, 0}); }
    GifBytes& comment(const std::string& text) {
        raw({0x21, 0xFE, int(text.size())});
        b.insert(b.end(), text.begin(), text.end());
        return raw({0});
    }
    GifBytes& loops(int count) {
        raw({0x21, 0xFF, 11});
        const char* id = "NETSCAPE2.0";
        b.insert(b.end(), id, id + 11);
        return raw({3, 1}).word(count).raw({0});
    }
    GifBytes& image(int left, int top, int w, int h, int packed = 0, const Bytes& data = kEmptyImageData) {
        raw({0x2C}).word(left).word(top).word(w).word(h).raw({packed});
        b.insert(b.end(), data.begin(), data.end());
        return *this;
    }
    GifBytes& trailer() { return raw({0x3B}); }
};

// ---- containers made in code

void fillPixels(GcDIB& image, const std::function<uint8_t(int, int)>& f) {
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) image.bitmap()->scanline(y)[x] = f(x, y);
}

// One frame, global palette of `entries` grey-ish colours, pixels (x + y) % entries.
void makeSimple(cGif& gif, int w, int h, int entries) {
    ASSERT_TRUE(gif.FrameInsert(1, w, h));
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(int16_t(entries));
    for (int i = 0; i < entries; ++i) setEntry(gif.lpGlobalPalette(), i, uint8_t(i * 10), uint8_t(i * 20), uint8_t(i));
    std::memcpy(gif.lpLocalPalette(1), gif.lpGlobalPalette(), 1024);
    fillPixels(gif.FrameDIBXOR(1), [&](int x, int y) { return uint8_t((x + y) % entries); });
    gif.FrameMask(1, 0);
}

Bytes saved(const cGif& gif) {
    Bytes out;
    EXPECT_TRUE(gif.SaveToStream(out));
    return out;
}

// Offset of the first image separator after the header, screen and table.
size_t firstImageDescriptor(const Bytes& file) {
    size_t pos = 13;
    if (file[10] & 0x80) pos += 3u * (2u << (file[10] & 7));
    while (pos < file.size() && file[pos] != 0x2C) {
        if (file[pos] == 0x21) {  // skip an extension with its sub-blocks
            pos += 2;
            while (file[pos] != 0) pos += file[pos] + 1u;
            ++pos;
        } else {
            ++pos;
        }
    }
    return pos;
}

bool contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

struct Lcg {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
};

}  // namespace

// ====================================================================== edge cases

TEST(cGifSave, FiveEntryGlobalPaletteIsWrittenAsEightWithPackedA2) {
    cGif gif;
    makeSimple(gif, 3, 2, 5);
    Bytes file = saved(gif);
    ASSERT_GT(file.size(), 13u + 24u);
    EXPECT_EQ(file[10], 0xA2);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(file[13 + 3 * i], i * 10);
        EXPECT_EQ(file[13 + 3 * i + 1], i * 20);
        EXPECT_EQ(file[13 + 3 * i + 2], i);
    }
    for (int i = 5; i < 8; ++i)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(file[13 + 3 * i + k], 0) << "entry " << i;
    EXPECT_EQ(file[13 + 24], 0x21);  // the looping extension follows the table
}

TEST(cGifSave, TwoColourFrameUsesMinimumCodeSizeTwo) {
    cGif gif;
    makeSimple(gif, 4, 4, 2);
    Bytes file = saved(gif);
    size_t at = firstImageDescriptor(file);
    ASSERT_LT(at + 10, file.size());
    EXPECT_EQ(file[at + 9], 0x00);  // packed: no local table, size field n - 1 = 0
    EXPECT_EQ(file[at + 10], 2);
    GiflibReader check(file);
    ASSERT_TRUE(check.ok());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(check->SavedImages[0].RasterBits[i], (i % 4 + i / 4) % 2);
}

TEST(cGifLoad, CommentIsLoadedButNotSaved) {
    Bytes in = GifBytes().header().screen(2, 1).comment("made \x83\x65 here").control(0, 0, 0).image(0, 0, 2, 1).trailer().b;
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(in));
    ASSERT_EQ(gif.CommentsCount(), 1);
    EXPECT_EQ(gif.Comment(1), std::string("made \x83\x65 here"));
    Bytes out = saved(gif);
    EXPECT_FALSE(contains(out, {0x21, 0xFE}));
    cGif again;
    ASSERT_TRUE(again.LoadFromStream(out));
    EXPECT_EQ(again.CommentsCount(), 0);
}

TEST(cGifSave, LoopsZeroIsWrittenAsZeroZero) {
    cGif gif;
    makeSimple(gif, 2, 2, 2);
    gif.SetAnimationLoops(0);
    Bytes file = saved(gif);
    const Bytes loop = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01, 0x00, 0x00, 0x00};
    ASSERT_GE(file.size(), 19u + 19u);
    EXPECT_TRUE(std::equal(loop.begin(), loop.end(), file.begin() + 13 + 6));
    gif.SetAnimationLoops(258);
    file = saved(gif);
    EXPECT_EQ(file[13 + 6 + 16], 0x02);
    EXPECT_EQ(file[13 + 6 + 17], 0x01);
}

TEST(cGifLoad, AspectByte49ReadsOne) {
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(GifBytes().header().screen(1, 1, 0x80, 0, 49).image(0, 0, 1, 1).trailer().b));
    EXPECT_FLOAT_EQ(gif.ScreenPixelAspectRatio(), 1.0f);
    gif.SetScreenPixelAspectRatio(2.0f);
    EXPECT_EQ(saved(gif)[12], 113);
    EXPECT_THROW(gif.SetScreenPixelAspectRatio(5.0f), RuntimeError);
}

// ====================================================================== reading

TEST(cGifLoad, HeaderFieldsAndGlobalPalette) {
    GifBytes g;
    g.header("87a").word(7).word(5).raw({0x80 | 0x08 | 0x01, 3, 0});
    for (int i = 0; i < 4; ++i) g.raw({i * 50, i * 60, i * 70});
    g.image(0, 0, 7, 5).trailer();
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(g.b));
    EXPECT_EQ(gif.Version(), "87a");
    EXPECT_EQ(gif.ScreenWidth(), 7);
    EXPECT_EQ(gif.ScreenHeight(), 5);
    EXPECT_EQ(gif.ScreenBackgroundColorIndex(), 3);
    EXPECT_TRUE(gif.GlobalPaletteExists());
    EXPECT_TRUE(gif.GlobalPaletteSorted());
    EXPECT_EQ(gif.GlobalPaletteEntries(), 4);
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(2), RGBColor(100, 120, 140));
    // A frame without a local table carries a copy of the global one.
    EXPECT_FALSE(gif.LocalPaletteUsed(1));
    EXPECT_EQ(gif.LocalPaletteEntries(1), 4);
    EXPECT_TRUE(gif.LocalPaletteSorted(1));
    EXPECT_EQ(gif.LocalPaletteRGBEntry(1, 3), RGBColor(150, 180, 210));
    EXPECT_EQ(gif.FrameDIBXOR(1).BPP(), 8);
    EXPECT_EQ(gif.FrameDIBAND(1).BPP(), 1);
}

TEST(cGifLoad, RejectsWhatIsNotAGif) {
    const std::vector<Bytes> cases = {
        {},
        {'G', 'I', 'F'},
        {'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B},
        {'J', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B},
    };
    for (const Bytes& c : cases) {
        cGif gif;
        EXPECT_FALSE(gif.LoadFromStream(c));
        EXPECT_EQ(gif.FramesCount(), 0);
        EXPECT_EQ(gif.Version(), "");
    }
    cGif gif;
    EXPECT_FALSE(gif.LoadFromStream(nullptr, 100));
    EXPECT_FALSE(gif.LoadFromFile("/nonexistent/dir/x.gif"));
}

TEST(cGifLoad, EveryTruncationFailsAndEmptiesTheContainer) {
    Bytes full = GifBytes()
                     .header()
                     .screen(3, 2)
                     .loops(2)
                     .comment("c")
                     .control(0x05, 7, 1)
                     .image(0, 0, 3, 2, 0x80, {2, 1, 0x2C, 0})
                     .trailer()
                     .b;
    // The local table of the image: 2 entries after its descriptor.
    full.insert(full.end() - 5, {1, 2, 3, 4, 5, 6});
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(full));
    EXPECT_EQ(gif.AnimationLoops(), 2);
    for (size_t n = 0; n < full.size(); ++n) {
        cGif cut;
        EXPECT_FALSE(cut.LoadFromStream(full.data(), n)) << "length " << n;
        EXPECT_EQ(cut.FramesCount(), 0);
        EXPECT_EQ(cut.CommentsCount(), 0);
        EXPECT_EQ(cut.AnimationLoops(), 0);
        EXPECT_FALSE(cut.GlobalPaletteExists());
    }
}

TEST(cGifLoad, UnknownBytesAndExtensionsAreScannedOver) {
    // Padding zeros between blocks, a plain-text extension (label 0x01) whose
    // bytes are then skipped one by one, and an unknown application block.
    Bytes in = GifBytes()
                   .header()
                   .screen(2, 1)
                   .raw({0, 0, 0x21, 0x01, 3, 'a', 'b', 'c', 0})
                   .raw({0x21, 0xFF, 11, 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P', 2, 9, 9, 0})
                   .image(0, 0, 2, 1)
                   .raw({0x00})
                   .trailer()
                   .b;
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(in));
    EXPECT_EQ(gif.FramesCount(), 1);
    EXPECT_EQ(gif.AnimationLoops(), 0);
}

TEST(cGifLoad, ImageNTakesTheNthControlExtension) {
    // Two extensions first, then two images: image 1 takes the first, image 2 the second.
    Bytes in = GifBytes()
                   .header()
                   .screen(2, 1)
                   .control(0x04 | 0x01, 11, 1)
                   .control(0x08 | 0x02, 22, 0)
                   .image(0, 0, 2, 1)
                   .image(0, 0, 2, 1)
                   .trailer()
                   .b;
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(in));
    ASSERT_EQ(gif.FramesCount(), 2);
    EXPECT_EQ(gif.FrameDelay(1), 11);
    EXPECT_EQ(gif.FrameDisposalMethod(1), 1);
    EXPECT_TRUE(gif.FrameUseTransparentColor(1));
    EXPECT_EQ(gif.FrameTransparentColorIndex(1), 1);
    EXPECT_EQ(gif.FrameDelay(2), 22);
    EXPECT_EQ(gif.FrameDisposalMethod(2), 2);
    EXPECT_TRUE(gif.FrameUserInput(2));
    EXPECT_FALSE(gif.FrameUseTransparentColor(2));

    // The first image may go without; a second one without its own may not.
    cGif first;
    EXPECT_TRUE(first.LoadFromStream(GifBytes().header().screen(2, 1).image(0, 0, 2, 1).trailer().b));
    EXPECT_EQ(first.FrameDelay(1), 0);
    cGif second;
    EXPECT_FALSE(second.LoadFromStream(
        GifBytes().header().screen(2, 1).control(0, 5, 0).image(0, 0, 2, 1).image(0, 0, 2, 1).trailer().b));
    EXPECT_EQ(second.FramesCount(), 0);
}

TEST(cGifLoad, TransparentIndexIsTakenOnlyWithItsFlag) {
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(GifBytes().header().screen(2, 1).control(0x00, 0, 1).image(0, 0, 2, 1).trailer().b));
    EXPECT_FALSE(gif.FrameUseTransparentColor(1));
    EXPECT_EQ(gif.FrameTransparentColorIndex(1), 0);
}

TEST(cGifLoad, TransparentFrameGetsMaskAndBlackEntry) {
    // Index 1 (white in the global table) is transparent; the two pixels
    // are index 0 (the empty data).
    cGif gif;
    ASSERT_TRUE(gif.LoadFromStream(GifBytes().header().screen(2, 1, 0x80).control(0x01, 0, 1).image(0, 0, 2, 1).trailer().b));
    const Bitmap& mask = *gif.FrameDIBAND(1).bitmap();
    EXPECT_EQ(mask.pixelValue(0, 0), 0u);
    EXPECT_EQ(mask.pixelValue(1, 0), 0u);
    EXPECT_EQ(mask.colorTable()[1], (RGBQuad{255, 255, 255, 0}));
    EXPECT_EQ(gif.FrameDIBXOR(1).colorTable()[1], (RGBQuad{0, 0, 0, 0}));
    EXPECT_EQ(gif.LocalPaletteRGBEntry(1, 1), RGBColor(255, 255, 255));
    // The same with index 0 transparent: every mask bit set.
    ASSERT_TRUE(gif.LoadFromStream(GifBytes().header().screen(2, 1, 0x80).control(0x01, 0, 0).image(0, 0, 2, 1).trailer().b));
    EXPECT_EQ(gif.FrameDIBAND(1).bitmap()->pixelValue(0, 0), 1u);
    EXPECT_EQ(gif.FrameDIBAND(1).bitmap()->pixelValue(1, 0), 1u);
}

TEST(cGifLoad, LoopCountRules) {
    struct Case { int loops; bool ok; };
    for (Case c : {Case{0, true}, Case{1, true}, Case{32767, true}, Case{32768, false}, Case{65535, false}}) {
        cGif gif;
        EXPECT_EQ(gif.LoadFromStream(GifBytes().header().screen(1, 1).loops(c.loops).image(0, 0, 1, 1).trailer().b), c.ok)
            << c.loops;
        if (c.ok) {
            EXPECT_EQ(gif.AnimationLoops(), c.loops);
        }
    }
    // A NETSCAPE block too short to hold the count.
    Bytes shortBlock = GifBytes().header().screen(1, 1).raw({0x21, 0xFF, 11}).b;
    const char* id = "NETSCAPE2.0";
    shortBlock.insert(shortBlock.end(), id, id + 11);
    GifBytes tail;
    tail.raw({1, 1, 0}).image(0, 0, 1, 1).trailer();
    shortBlock.insert(shortBlock.end(), tail.b.begin(), tail.b.end());
    cGif gif;
    EXPECT_FALSE(gif.LoadFromStream(shortBlock));
}

TEST(cGifLoad, RefusesAbsurdSizes) {
    struct Case { int w, h; };
    for (Case c : {Case{32768, 1}, Case{1, 40000}, Case{20000, 20000}, Case{0, 5}, Case{5, 0}}) {
        cGif gif;
        EXPECT_FALSE(gif.LoadFromStream(GifBytes().header().screen(1, 1).image(0, 0, c.w, c.h).trailer().b))
            << c.w << "x" << c.h;
    }
    // Many large frames from a few bytes: refused before memory runs out.
    GifBytes many;
    many.header().screen(1, 1);
    for (int i = 0; i < 40; ++i) many.control(0, 0, 0).image(0, 0, 16000, 16000);
    many.trailer();
    cGif gif;
    EXPECT_FALSE(gif.LoadFromStream(many.b));
    // A screen field that does not fit 16 signed bits.
    cGif screen;
    EXPECT_FALSE(screen.LoadFromStream(GifBytes().header().screen(40000, 1).image(0, 0, 1, 1).trailer().b));
}

TEST(cGifLoad, FramesCostMemoryOnlyAsTheirDataProvesThem) {
    // Each case: the load fails with this reason, and nothing of its size
    // was allocated (the budget would not have allowed it).
    struct Case { const char* name; Bytes file; const char* reason; };
    GifBytes many;
    many.header().screen(1, 1);
    for (int i = 0; i < 300; ++i) many.control(0, 0, 0).image(0, 0, 1024, 1024);  // 1.1 MB each from 12 bytes
    many.trailer();
    const Case cases[] = {
        {"a few bytes declaring a 32767x8192 image", GifBytes().header().screen(32767, 8192).image(0, 0, 32767, 8192).trailer().b,
         "larger than its data"},
        {"a 2048x2048 image from 4 bytes of data", GifBytes().header().screen(1, 1).image(0, 0, 2048, 2048).trailer().b,
         "larger than its data"},
        {"300 small-data 1024x1024 images", many.b, "more memory than allowed"},
    };
    for (const Case& c : cases) {
        cGif gif;
        EXPECT_FALSE(gif.LoadFromStream(c.file)) << c.name;
        EXPECT_NE(gif.LoadError().find(c.reason), std::string::npos) << c.name << ": " << gif.LoadError();
        EXPECT_EQ(gif.FramesCount(), 0) << c.name;
    }
    // A huge screen alone allocates nothing in the container.
    cGif screenOnly;
    EXPECT_TRUE(screenOnly.LoadFromStream(GifBytes().header().screen(32767, 8192).image(0, 0, 1, 1).trailer().b));
    EXPECT_EQ(screenOnly.ScreenWidth(), 32767);
}

TEST(cGifLoad, AFrameAsLargeAsItsDataAllowsLoads) {
    // 2000x1000 of one colour codes to a few kilobytes, the densest a real
    // encoder gets (some 700 pixels a byte, below the 2731 that LZW allows).
    cGif gif;
    makeSimple(gif, 2000, 1000, 4);
    fillPixels(gif.FrameDIBXOR(1), [](int, int) { return uint8_t(2); });
    const Bytes file = saved(gif);
    ASSERT_LT(file.size(), 4000u);
    cGif back;
    ASSERT_TRUE(back.LoadFromStream(file)) << back.LoadError();
    EXPECT_EQ(back.FrameDIBXOR(1).bitmap()->pixelValue(1999, 999), 2u);
}

TEST(cGifLoad, TheReasonOfAFailureIsKept) {
    struct Case { const char* name; Bytes file; const char* reason; };
    const Case cases[] = {
        {"not a GIF", Bytes{'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0}, "not a GIF"},
        {"cut short", GifBytes().header().screen(1, 1).b, "ends"},
        {"second image without its extension",
         GifBytes().header().screen(1, 1).image(0, 0, 1, 1).image(0, 0, 1, 1).trailer().b, "graphic control"},
        {"loop count", GifBytes().header().screen(1, 1).loops(40000).image(0, 0, 1, 1).trailer().b, "loop count"},
    };
    for (const Case& c : cases) {
        cGif gif;
        EXPECT_FALSE(gif.LoadFromStream(c.file)) << c.name;
        EXPECT_NE(gif.LoadError().find(c.reason), std::string::npos) << c.name << ": " << gif.LoadError();
    }
    cGif gif;
    EXPECT_FALSE(gif.LoadFromFile("/nonexistent/x.gif"));
    EXPECT_NE(gif.LoadError().find("No such file"), std::string::npos) << gif.LoadError();
    EXPECT_EQ(gif.LoadError().find("/nonexistent"), std::string::npos) << "the caller names the file";
    EXPECT_TRUE(gif.LoadFromStream(GifBytes().header().screen(1, 1).image(0, 0, 1, 1).trailer().b));
    EXPECT_EQ(gif.LoadError(), "");
}

// ====================================================================== writing

TEST(cGifSave, NeverLoadedObjectWritesNothing) {
    test::TempDir dir;
    cGif gif;
    Bytes out;
    EXPECT_FALSE(gif.SaveToStream(out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(gif.Save(dir.file("x.gif")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.gif")));
}

TEST(cGifSave, ClearedContainerIsHeaderScreenAndTrailer) {
    cGif gif;
    gif.Destroy();
    gif.SetScreenWidth(300);
    gif.SetScreenHeight(2);
    EXPECT_EQ(saved(gif), (Bytes{'G', 'I', 'F', '8', '7', 'a', 0x2C, 0x01, 2, 0, 0, 0, 0, 0x3B}));
    gif.CommentAdd();
    EXPECT_EQ(saved(gif)[4], '9');  // a comment asks for 89a even though it is not written
    EXPECT_EQ(saved(gif).size(), 14u);
}

TEST(cGifSave, FrameWithoutAnyPaletteFailsAndKeepsTheOldFile) {
    test::TempDir dir;
    std::string path = dir.file("keep.gif");
    {
        std::ofstream f(path, std::ios::binary);
        f << "old";
    }
    cGif gif;
    ASSERT_TRUE(gif.FrameInsert(1, 2, 2));
    EXPECT_FALSE(gif.Save(path));
    std::ifstream f(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(cGifSave, RefusesImagesThatCannotBeCoded) {
    cGif gif;
    makeSimple(gif, 2, 2, 2);
    Bytes out;
    gif.SetGlobalPaletteEntries(300);
    EXPECT_FALSE(gif.SaveToStream(out));
    gif.SetGlobalPaletteEntries(2);
    ASSERT_TRUE(gif.FrameDIBXOR(1).Create(2, 2, 32));
    EXPECT_FALSE(gif.SaveToStream(out));
    EXPECT_TRUE(out.empty());
}

TEST(cGifSave, ControlExtensionAndDescriptorFields) {
    cGif gif;
    makeSimple(gif, 5, 6, 4);
    gif.SetFrameDelay(1, 300);
    gif.SetFrameDisposalMethod(1, 3);
    gif.SetFrameUserInput(1, true);
    gif.SetFrameTransparentColorIndex(1, 2);
    gif.SetFrameLeft(1, 7);
    gif.SetFrameTop(1, 258);
    Bytes file = saved(gif);
    size_t at = firstImageDescriptor(file);
    // Not transparent: the index field is written as 0.
    EXPECT_EQ(Bytes(file.begin() + at - 8, file.begin() + at), (Bytes{0x21, 0xF9, 4, 0x0E, 0x2C, 0x01, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + at, file.begin() + at + 10), (Bytes{0x2C, 7, 0, 2, 1, 5, 0, 6, 0, 0x01}));

    gif.SetFrameUseTransparentColor(1, true);
    gif.SetLocalPaletteUsed(1, true);
    gif.SetLocalPaletteEntries(1, 3);
    gif.SetLocalPaletteSorted(1, true);
    gif.SetFrameInterlaced(1, true);
    file = saved(gif);
    at = firstImageDescriptor(file);
    EXPECT_EQ(Bytes(file.begin() + at - 8, file.begin() + at), (Bytes{0x21, 0xF9, 4, 0x0F, 0x2C, 0x01, 2, 0}));
    EXPECT_EQ(file[at + 9], 0x80 | 0x40 | 0x20 | 1);
    EXPECT_EQ(file[at + 10 + 12], 2);  // 4 local triplets, then the code size
}

TEST(cGifSave, CodeSizeCoversPixelsBeyondTheTable) {
    cGif gif;
    makeSimple(gif, 3, 1, 2);
    gif.FrameDIBXOR(1).bitmap()->scanline(0)[1] = 9;
    Bytes file = saved(gif);
    EXPECT_EQ(file[firstImageDescriptor(file) + 10], 4);
    GiflibReader check(file);
    ASSERT_TRUE(check.ok());
    EXPECT_EQ(check->SavedImages[0].RasterBits[1], 9);
}

TEST(cGifSave, ShortInterlacedFramesAreWrittenInRowOrder) {
    for (int h : {3, 4, 5}) {
        cGif gif;
        makeSimple(gif, 2, h, 8);
        fillPixels(gif.FrameDIBXOR(1), [](int x, int y) { return uint8_t(y * 2 + x % 2); });
        gif.SetFrameInterlaced(1, true);
        Bytes file = saved(gif);
        EXPECT_EQ((file[firstImageDescriptor(file) + 9] & 0x40) != 0, h > 4) << h;
        GiflibReader check(file);
        ASSERT_TRUE(check.ok());
        for (int i = 0; i < 2 * h; ++i) EXPECT_EQ(check->SavedImages[0].RasterBits[i], (i / 2) * 2 + i % 2) << h;
        cGif back;
        ASSERT_TRUE(back.LoadFromStream(file));
        for (int y = 0; y < h; ++y) EXPECT_EQ(back.FrameDIBXOR(1).bitmap()->scanline(y)[1], y * 2 + 1);
    }
}

TEST(cGifSave, GiflibReadsWhatWeWrite) {
    // Frames of every kind: global and local palettes, transparency,
    // interlace, offsets, delays, disposal; one large noisy frame to run the
    // coder through full tables and clears.
    cGif gif;
    ASSERT_TRUE(gif.FrameInsert(1, 64, 48));
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(16);
    for (int i = 0; i < 16; ++i) setEntry(gif.lpGlobalPalette(), i, uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i * 7));
    gif.SetAnimationLoops(3);
    gif.SetScreenBackgroundColorIndex(5);
    struct FrameShape { int w, h, left, top, delay, disposal, transparent, localEntries; bool interlaced; };
    const FrameShape shapes[] = {
        {64, 48, 0, 0, 10, 0, -1, 0, false},  {20, 9, 3, 4, 25, 1, 3, 0, true},
        {7, 30, 50, 10, 0, 2, -1, 4, false},   {33, 17, 1, 2, 100, 3, 200, 256, true},
        {300, 200, 0, 0, 7, 1, -1, 256, false},
    };
    Lcg rng{42};
    for (size_t k = 0; k < std::size(shapes); ++k) {
        const FrameShape& s = shapes[k];
        int n = int(k) + 1;
        if (n > 1) {
            ASSERT_TRUE(gif.FrameInsert(n, s.w, s.h));
        }
        gif.SetFrameLeft(n, int16_t(s.left));
        gif.SetFrameTop(n, int16_t(s.top));
        gif.SetFrameDelay(n, int16_t(s.delay));
        gif.SetFrameDisposalMethod(n, uint8_t(s.disposal));
        gif.SetFrameInterlaced(n, s.interlaced);
        int colours = s.localEntries ? s.localEntries : 16;
        if (s.localEntries) {
            gif.SetLocalPaletteUsed(n, true);
            gif.SetLocalPaletteEntries(n, int16_t(s.localEntries));
            for (int i = 0; i < s.localEntries; ++i)
                setEntry(gif.lpLocalPalette(n), i, uint8_t(i), uint8_t(i * 3), uint8_t(255 - i));
        } else {
            std::memcpy(gif.lpLocalPalette(n), gif.lpGlobalPalette(), 1024);
            gif.SetLocalPaletteEntries(n, 16);
        }
        bool noisy = s.w == 300;
        fillPixels(gif.FrameDIBXOR(n), [&](int x, int y) {
            return uint8_t(noisy ? rng.next() >> 24 : (x * 3 + y * 5 + n) % colours);
        });
        gif.SetFrameUseTransparentColor(n, s.transparent >= 0);
        if (s.transparent >= 0) gif.SetFrameTransparentColorIndex(n, uint8_t(s.transparent));
        gif.FrameMask(n, gif.FrameTransparentColorIndex(n));
    }
    Bytes file = saved(gif);
    GiflibReader check(file);
    ASSERT_TRUE(check.ok());
    ASSERT_EQ(check->ImageCount, gif.FramesCount());
    EXPECT_EQ(check->SWidth, 64);
    EXPECT_EQ(check->SBackGroundColor, 5);
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        const SavedImage& im = check->SavedImages[n - 1];
        const GcDIB& xorImage = gif.FrameDIBXOR(n);
        EXPECT_EQ(im.ImageDesc.Left, gif.FrameLeft(n));
        EXPECT_EQ(im.ImageDesc.Top, gif.FrameTop(n));
        ASSERT_EQ(im.ImageDesc.Width, xorImage.Width());
        ASSERT_EQ(im.ImageDesc.Height, xorImage.Height());
        EXPECT_EQ(bool(im.ImageDesc.Interlace), gif.FrameInterlaced(n));
        for (int y = 0; y < xorImage.Height(); ++y)
            ASSERT_EQ(0, std::memcmp(im.RasterBits + y * xorImage.Width(), xorImage.bitmap()->scanline(y),
                                     size_t(xorImage.Width())))
                << "frame " << n << " row " << y;
        const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : check->SColorMap;
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(bool(im.ImageDesc.ColorMap), gif.LocalPaletteUsed(n));
        for (int i = 0; i < gif.LocalPaletteEntries(n); ++i) {
            ColorRef c = gif.LocalPaletteRGBEntry(n, i);
            EXPECT_EQ(map->Colors[i].Red, RedOf(c));
            EXPECT_EQ(map->Colors[i].Green, GreenOf(c));
            EXPECT_EQ(map->Colors[i].Blue, BlueOf(c));
        }
        GraphicsControlBlock g = check.gcb(n - 1);
        EXPECT_EQ(g.DelayTime, gif.FrameDelay(n));
        EXPECT_EQ(g.DisposalMode, gif.FrameDisposalMethod(n));
        EXPECT_EQ(g.TransparentColor, gif.FrameUseTransparentColor(n) ? gif.FrameTransparentColorIndex(n) : -1);
    }

    // And our own reader gives back the same container.
    cGif back;
    ASSERT_TRUE(back.LoadFromStream(file));
    EXPECT_EQ(back.AnimationLoops(), 3);
    ASSERT_EQ(back.FramesCount(), gif.FramesCount());
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        EXPECT_EQ(back.FrameDelay(n), gif.FrameDelay(n));
        EXPECT_EQ(back.FrameTransparentColorIndex(n), gif.FrameTransparentColorIndex(n));
        EXPECT_EQ(0, std::memcmp(back.lpLocalPalette(n), gif.lpLocalPalette(n), 4u * size_t(gif.LocalPaletteEntries(n))));
        const GcDIB& a = back.FrameDIBXOR(n);
        const GcDIB& b = gif.FrameDIBXOR(n);
        ASSERT_EQ(a.Size(), b.Size());
        EXPECT_EQ(0, std::memcmp(a.lpBits(), b.lpBits(), size_t(a.Size()))) << "frame " << n;
        EXPECT_EQ(0, std::memcmp(back.FrameDIBAND(n).lpBits(), gif.FrameDIBAND(n).lpBits(),
                                 size_t(gif.FrameDIBAND(n).Size())));
    }
}

TEST(cGifSave, FileIsReplacedAndNoTemporaryIsLeft) {
    test::TempDir dir;
    std::string path = dir.file("a.gif");
    {
        std::ofstream f(path, std::ios::binary);
        f << std::string(5000, 'x');
    }
    cGif gif;
    makeSimple(gif, 3, 3, 4);
    ASSERT_TRUE(gif.Save(path));
    cGif back;
    ASSERT_TRUE(back.LoadFromFile(path));
    EXPECT_EQ(back.FramesCount(), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_FALSE(gif.Save(dir.file("missing/dir/a.gif")));
}

// ====================================================================== frames, comments, indices

TEST(cGifFrames, InsertRemoveAndMove) {
    cGif gif;
    ASSERT_TRUE(gif.FrameInsert(5, 4, 3));  // into an empty container: appended
    EXPECT_EQ(gif.ScreenWidth(), 4);
    EXPECT_EQ(gif.ScreenHeight(), 3);
    EXPECT_EQ(gif.FrameDelay(1), 0);
    EXPECT_EQ(gif.FrameDIBXOR(1).BPP(), 8);
    EXPECT_EQ(gif.FrameDIBAND(1).colorTable()[1], (RGBQuad{255, 255, 255, 0}));
    gif.SetFrameDelay(1, 1);
    ASSERT_TRUE(gif.FrameInsert(9, 2, 2));  // appended
    gif.SetFrameDelay(2, 2);
    ASSERT_TRUE(gif.FrameInsert(1, 1, 1));  // in front
    gif.SetFrameDelay(1, 3);
    EXPECT_EQ(gif.ScreenWidth(), 4);  // only the first frame sets the screen
    auto delays = [&] {
        std::vector<int> d;
        for (int n = 1; n <= gif.FramesCount(); ++n) d.push_back(gif.FrameDelay(n));
        return d;
    };
    EXPECT_EQ(delays(), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(gif.FrameDIBXOR(1).Width(), 1);
    ASSERT_TRUE(gif.FrameInsert(2, 6, 6));
    EXPECT_EQ(delays(), (std::vector<int>{3, 0, 1, 2}));
    gif.FrameMoveDown(1);
    EXPECT_EQ(delays(), (std::vector<int>{0, 3, 1, 2}));
    EXPECT_EQ(gif.FrameDIBXOR(2).Width(), 1);  // frame and control move together
    gif.FrameMoveUp(4);
    EXPECT_EQ(delays(), (std::vector<int>{0, 3, 2, 1}));
    gif.FrameRemove(1);
    EXPECT_EQ(delays(), (std::vector<int>{3, 2, 1}));
    gif.FrameRemove(3);
    gif.FrameRemove(1);
    gif.FrameRemove(1);
    EXPECT_EQ(gif.FramesCount(), 0);
    EXPECT_FALSE(gif.FrameInsert(1, 40000, 1));
    EXPECT_EQ(gif.FramesCount(), 0);
}

TEST(cGifFrames, IndicesOutsideTheRangeRaiseSubscript) {
    cGif gif;
    ASSERT_TRUE(gif.FrameInsert(1, 2, 2));
    gif.CommentAdd();
    const std::vector<std::function<void()>> calls = {
        [&] { gif.FrameDelay(0); },
        [&] { gif.FrameDelay(2); },
        [&] { gif.SetFrameLeft(2, 1); },
        [&] { gif.FrameDIBXOR(-1); },
        [&] { gif.LocalPaletteRGBEntry(1, 256); },
        [&] { gif.GlobalPaletteRGBEntry(-1); },
        [&] { gif.FrameMoveUp(1); },
        [&] { gif.FrameMoveDown(1); },
        [&] { gif.FrameRemove(2); },
        [&] { gif.FrameMask(3, 0); },
        [&] { gif.FrameInsert(0, 1, 1); },
        [&] { gif.FrameDraw(nullptr, 2, 0, 0); },
        [&] { gif.Comment(2); },
        [&] { gif.SetComment(0, "x"); },
        [&] { gif.CommentRemove(2); },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        try {
            calls[i]();
            ADD_FAILURE() << "call " << i << " did not raise";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), RuntimeError::Subscript) << "call " << i;
        }
    }
    EXPECT_EQ(gif.FramesCount(), 1);
}

TEST(cGifFrames, Comments) {
    cGif gif;
    gif.CommentAdd();
    gif.CommentAdd();
    gif.SetComment(1, "one");
    gif.SetComment(2, "two");
    EXPECT_EQ(gif.CommentsCount(), 2);
    gif.CommentRemove(1);
    EXPECT_EQ(gif.Comment(1), "two");
    gif.CommentRemove(1);
    EXPECT_EQ(gif.CommentsCount(), 0);
}

TEST(cGifFrames, GlobalPaletteEntryIsZeroWithoutAGlobalPalette) {
    cGif gif;
    setEntry(gif.lpGlobalPalette(), 1, 1, 2, 3);
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(1), 0u);
    gif.SetGlobalPaletteExists(true);
    EXPECT_EQ(gif.GlobalPaletteRGBEntry(1), RGBColor(1, 2, 3));
}

// ====================================================================== masks and drawing

TEST(cGifDraw, FrameMaskFollowsTheTransparency) {
    cGif gif;
    makeSimple(gif, 5, 2, 3);  // pixels (x + y) % 3
    gif.SetFrameUseTransparentColor(1, true);
    gif.FrameMask(1, 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(gif.FrameDIBAND(1).bitmap()->pixelValue(x, y), (x + y) % 3 == 1 ? 1u : 0u) << x << "," << y;
    EXPECT_EQ(gif.FrameDIBXOR(1).colorTable()[1], (RGBQuad{0, 0, 0, 0}));
    EXPECT_EQ(gif.FrameDIBXOR(1).colorTable()[2], (RGBQuad{2, 40, 20, 0}));
    gif.SetFrameUseTransparentColor(1, false);
    gif.FrameMask(1, 1);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(gif.FrameDIBAND(1).bitmap()->pixelValue(x, 0), 0u);
    EXPECT_EQ(gif.FrameDIBXOR(1).colorTable()[1], (RGBQuad{1, 20, 10, 0}));
}

TEST(cGifDraw, TransparentPixelsKeepTheDestination) {
    cGif gif;
    makeSimple(gif, 3, 1, 3);  // pixels 0, 1, 2
    setEntry(gif.lpLocalPalette(1), 0, 200, 0, 0);
    setEntry(gif.lpLocalPalette(1), 2, 0, 0, 200);
    gif.SetFrameLeft(1, 1);
    gif.SetFrameUseTransparentColor(1, true);
    gif.FrameMask(1, 1);
    GcDIB screen;
    ASSERT_TRUE(screen.Create(5, 1, 32));
    screen.Cls(RGBColor(9, 9, 9));
    gif.FrameDraw(screen.hDIBDC(), 1, 0, 0);
    const Bitmap& s = *screen.bitmap();
    EXPECT_EQ(s.pixelColor(0, 0), (RGBQuad{9, 9, 9, 0}));
    EXPECT_EQ(s.pixelColor(1, 0), (RGBQuad{0, 0, 200, 0}));
    EXPECT_EQ(s.pixelColor(2, 0), (RGBQuad{9, 9, 9, 0}));
    EXPECT_EQ(s.pixelColor(3, 0), (RGBQuad{200, 0, 0, 0}));
    // Opaque: index 1 shows its colour.
    gif.SetFrameUseTransparentColor(1, false);
    gif.FrameMask(1, 1);
    gif.FrameDraw(screen.hDIBDC(), 1, 0, 0);
    EXPECT_EQ(s.pixelColor(2, 0), (RGBQuad{1, 20, 10, 0}));
}

TEST(cGifDraw, ScaleOffsetAndScreenCrop) {
    cGif gif;
    makeSimple(gif, 4, 2, 8);
    fillPixels(gif.FrameDIBXOR(1), [](int, int) { return uint8_t(5); });
    gif.SetScreenWidth(4);
    gif.SetScreenHeight(4);
    gif.SetFrameLeft(1, 3);
    gif.SetFrameTop(1, 1);
    const RGBQuad frameColour{5, 100, 50, 0};
    auto painted = [](const GcDIB& s, RGBQuad c) {
        std::vector<std::pair<int, int>> at;
        for (int y = 0; y < s.Height(); ++y)
            for (int x = 0; x < s.Width(); ++x)
                if (s.bitmap()->pixelColor(x, y) == c) at.emplace_back(x, y);
        return at;
    };
    GcDIB screen;
    ASSERT_TRUE(screen.Create(16, 16, 32));
    // Scale 1.5: x = 1.5 * 3 + 1 = 5.5 -> 6 (ties to even), y = 1.5 + 2 = 3.5 -> 4,
    // width 6, height 3. Cropped to the screen: 1 x 2 source pixels, 1.5 x 3 -> 2 x 3.
    gif.FrameDraw(screen.hDIBDC(), 1, 1, 2, 1.5f, false);
    auto all = painted(screen, frameColour);
    ASSERT_EQ(all.size(), 18u);
    EXPECT_EQ(all.front(), std::make_pair(6, 4));
    EXPECT_EQ(all.back(), std::make_pair(11, 6));
    screen.Cls(0);
    gif.FrameDraw(screen.hDIBDC(), 1, 1, 2, 1.5f, true);
    auto cropped = painted(screen, frameColour);
    ASSERT_EQ(cropped.size(), 6u);
    EXPECT_EQ(cropped.front(), std::make_pair(6, 4));
    EXPECT_EQ(cropped.back(), std::make_pair(7, 6));
    // A frame wholly off the screen draws nothing when cropped.
    gif.SetFrameLeft(1, 9);
    screen.Cls(0);
    gif.FrameDraw(screen.hDIBDC(), 1, 0, 0, 1.0f, true);
    EXPECT_TRUE(painted(screen, frameColour).empty());
}

// ====================================================================== picture loading

TEST(GifPicture, FirstFrameOnItsScreenOverTheBackground) {
    cGif gif;
    makeSimple(gif, 2, 1, 4);  // pixels 0, 1
    gif.SetScreenWidth(3);
    gif.SetScreenHeight(2);
    gif.SetScreenBackgroundColorIndex(3);
    gif.SetFrameLeft(1, 1);
    gif.SetFrameTop(1, 1);
    gif.SetFrameUseTransparentColor(1, true);
    gif.SetFrameTransparentColorIndex(1, 0);
    gif.FrameMask(1, 0);
    ASSERT_TRUE(gif.FrameInsert(2, 3, 2));  // later frames are not shown
    Bytes file = saved(gif);
    Bitmap out;
    ASSERT_TRUE(DecodeGifPicture(file.data(), file.size(), out));
    ASSERT_EQ(out.width(), 3);
    ASSERT_EQ(out.height(), 2);
    EXPECT_EQ(out.bpp(), 32);
    const RGBQuad background{3, 60, 30, 0}, one{1, 20, 10, 0};
    EXPECT_EQ(out.pixelColor(0, 0), background);
    EXPECT_EQ(out.pixelColor(2, 0), background);
    EXPECT_EQ(out.pixelColor(0, 1), background);
    EXPECT_EQ(out.pixelColor(1, 1), background);  // transparent pixel
    EXPECT_EQ(out.pixelColor(2, 1), one);

    // Without a global palette the background is black.
    Bytes noGlobal = GifBytes().header().screen(2, 1, 0).image(1, 0, 1, 1, 0x80, {2, 1, 0x2C, 0}).trailer().b;
    noGlobal.insert(noGlobal.end() - 5, {9, 8, 7, 0, 0, 0});
    ASSERT_TRUE(DecodeGifPicture(noGlobal.data(), noGlobal.size(), out));
    EXPECT_EQ(out.pixelColor(0, 0), (RGBQuad{0, 0, 0, 0}));
    EXPECT_EQ(out.pixelColor(1, 0), (RGBQuad{7, 8, 9, 0}));

    const uint8_t junk[] = {'G', 'I', 'F', '8', '9', 'a', 1};
    EXPECT_FALSE(DecodeGifPicture(junk, sizeof junk, out));
    EXPECT_TRUE(out.empty());
}

TEST(GifPicture, OnlyTheFirstImageIsRead) {
    // Whatever follows the first image (an image without its control
    // extension, damage, no trailer) does not keep the picture from loading.
    const Bytes first = GifBytes().header().screen(2, 1).image(1, 0, 1, 1, 0, {2, 2, 0x4C, 0x01, 0}).b;
    struct Case { const char* name; Bytes tail; };
    const Case cases[] = {
        {"a second image without its extension", GifBytes().image(0, 0, 1, 1).trailer().b},
        {"a second image cut short", GifBytes().raw({0x2C, 0, 0}).b},
        {"no trailer", {}},
    };
    for (const Case& c : cases) {
        Bytes file = first;
        file.insert(file.end(), c.tail.begin(), c.tail.end());
        Bitmap out;
        std::string error;
        LoadBudget budget = LoadBudget::ForInput(file.size());
        ASSERT_TRUE(DecodeGifPicture(file.data(), file.size(), out, budget, &error)) << c.name << ": " << error;
        EXPECT_EQ(out.pixelColor(0, 0), (RGBQuad{0, 0, 0, 0})) << c.name;
        EXPECT_EQ(out.pixelColor(1, 0), (RGBQuad{255, 255, 255, 0})) << c.name;
    }
}

TEST(GifPicture, TheScreenComesOutOfTheBudget) {
    // A 1x1 image on a 32767x8192 screen: a gigabyte of canvas for 40 bytes.
    const Bytes file = GifBytes().header().screen(32767, 8192).image(0, 0, 1, 1).trailer().b;
    Bitmap out;
    std::string error;
    LoadBudget budget = LoadBudget::ForInput(file.size());
    EXPECT_FALSE(DecodeGifPicture(file.data(), file.size(), out, budget, &error));
    EXPECT_NE(error.find("more memory than allowed"), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
    // A screen the budget holds is drawn.
    LoadBudget roomy(uint64_t(2) << 30);
    const Bytes small = GifBytes().header().screen(3000, 2000).image(0, 0, 1, 1).trailer().b;
    EXPECT_TRUE(DecodeGifPicture(small.data(), small.size(), out, roomy, &error)) << error;
    EXPECT_EQ(out.width(), 3000);
}
