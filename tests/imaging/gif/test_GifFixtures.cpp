// GIF files made by other tools (tools/make_gif_fixtures.sh): giflib's
// decoding of the same file is the reference for what we read, and the
// composites are checked against colours worked out by hand.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/gif/GifPicture.h"
#include "imaging/gif/cGif.h"
#include "support/Files.h"
#include "support/GiflibReader.h"

using namespace tarnel;
using Bytes = std::vector<uint8_t>;
using tarnel::test::GiflibReader;
using tarnel::test::readFile;

namespace {

std::string fixture(const std::string& name) { return std::string(TARNEL_TEST_DATA) + "/gif/" + name; }

// Everything giflib reads from the file must be what we read.
void expectSameAsGiflib(const cGif& gif, const GiflibReader& ref, bool checkInterlace = true) {
    ASSERT_TRUE(ref.ok());
    EXPECT_EQ(gif.ScreenWidth(), ref->SWidth);
    EXPECT_EQ(gif.ScreenHeight(), ref->SHeight);
    EXPECT_EQ(gif.ScreenBackgroundColorIndex(), ref->SBackGroundColor);
    ASSERT_EQ(gif.GlobalPaletteExists(), ref->SColorMap != nullptr);
    if (ref->SColorMap) {
        EXPECT_EQ(gif.GlobalPaletteEntries(), ref->SColorMap->ColorCount);
        for (int i = 0; i < ref->SColorMap->ColorCount; ++i)
            EXPECT_EQ(gif.GlobalPaletteRGBEntry(i),
                      RGBColor(ref->SColorMap->Colors[i].Red, ref->SColorMap->Colors[i].Green,
                               ref->SColorMap->Colors[i].Blue));
    }
    EXPECT_EQ(gif.AnimationLoops(), ref.loops());
    ASSERT_EQ(gif.FramesCount(), ref->ImageCount);
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        const SavedImage& im = ref->SavedImages[n - 1];
        const GcDIB& image = gif.FrameDIBXOR(n);
        EXPECT_EQ(gif.FrameLeft(n), im.ImageDesc.Left);
        EXPECT_EQ(gif.FrameTop(n), im.ImageDesc.Top);
        ASSERT_EQ(image.Width(), im.ImageDesc.Width);
        ASSERT_EQ(image.Height(), im.ImageDesc.Height);
        if (checkInterlace) {
            EXPECT_EQ(gif.FrameInterlaced(n), bool(im.ImageDesc.Interlace));
        }
        for (int y = 0; y < image.Height(); ++y)
            ASSERT_EQ(0, std::memcmp(image.bitmap()->scanline(y), im.RasterBits + y * image.Width(),
                                     size_t(image.Width())))
                << "row " << y;
        EXPECT_EQ(gif.LocalPaletteUsed(n), im.ImageDesc.ColorMap != nullptr);
        const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : ref->SColorMap;
        if (map) {
            EXPECT_EQ(gif.LocalPaletteEntries(n), map->ColorCount);
            for (int i = 0; i < map->ColorCount; ++i)
                EXPECT_EQ(gif.LocalPaletteRGBEntry(n, i),
                          RGBColor(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
        }
        GraphicsControlBlock g = ref.gcb(n - 1);
        EXPECT_EQ(gif.FrameDelay(n), g.DelayTime);
        EXPECT_EQ(gif.FrameDisposalMethod(n), g.DisposalMode);
        EXPECT_EQ(gif.FrameUserInput(n), g.UserInputFlag);
        EXPECT_EQ(gif.FrameUseTransparentColor(n), g.TransparentColor >= 0);
        if (g.TransparentColor >= 0) {
            EXPECT_EQ(gif.FrameTransparentColorIndex(n), g.TransparentColor);
        }
    }
}

// What a viewer shows at the start of each frame, as rows of 0x00RRGGBB:
// frames drawn in turn on a 32-bpp screen filled with the background
// colour, each frame's disposal applied after it.
std::vector<std::vector<uint32_t>> composite(const cGif& gif) {
    GcDIB screen, saved;
    EXPECT_TRUE(screen.Create(gif.ScreenWidth(), gif.ScreenHeight(), 32));
    const ColorRef bg = gif.GlobalPaletteRGBEntry(gif.ScreenBackgroundColorIndex());
    screen.Cls(bg);
    std::vector<std::vector<uint32_t>> shown;
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        if (gif.FrameDisposalMethod(n) == 3) screen.CloneTo(saved);
        gif.FrameDraw(screen.hDIBDC(), n, 0, 0, 1.0f, true);
        std::vector<uint32_t> pixels;
        for (int y = 0; y < screen.Height(); ++y)
            for (int x = 0; x < screen.Width(); ++x) pixels.push_back(screen.bitmap()->pixelValue(x, y));
        shown.push_back(pixels);
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

// Rows of colour letters into 0x00RRGGBB values.
std::vector<uint32_t> picture(const std::vector<std::string>& rows, const std::map<char, uint32_t>& colours) {
    std::vector<uint32_t> out;
    for (const std::string& row : rows)
        for (char c : row) out.push_back(colours.at(c));
    return out;
}

// gs_full_table.gif: gifsicle sends codes against a full LZW table before
// it clears; every pixel after them depends on reading that right.
const char* const kLoadable[] = {"gb_disposal.gif", "gb_interlaced.gif", "gb_comments.gif", "gb_87a.gif",
                                 "im_interlaced.gif", "im_87a.gif",       "im_anim.gif",     "gs_full_table.gif"};

}  // namespace

TEST(GifFixtures, EveryFileReadsAsGiflibReadsIt) {
    for (const char* name : kLoadable) {
        SCOPED_TRACE(name);
        cGif gif;
        ASSERT_TRUE(gif.LoadFromFile(fixture(name)));
        GiflibReader ref(readFile(fixture(name)));
        expectSameAsGiflib(gif, ref);
    }
}

TEST(GifFixtures, OurSaveOfEveryFileReadsTheSameInGiflib) {
    for (const char* name : kLoadable) {
        SCOPED_TRACE(name);
        cGif gif;
        ASSERT_TRUE(gif.LoadFromFile(fixture(name)));
        Bytes ours;
        ASSERT_TRUE(gif.SaveToStream(ours));
        GiflibReader ref(ours);
        // Frames of four rows or fewer are written in row order, unmarked.
        expectSameAsGiflib(gif, ref, false);
    }
}

TEST(GifFixtures, VersionsAndHeaderFields) {
    struct Case { const char* name; const char* version; int frames; };
    for (Case c : {Case{"gb_87a.gif", "87a", 1}, Case{"im_87a.gif", "87a", 1}, Case{"gb_disposal.gif", "89a", 5},
                   Case{"im_anim.gif", "89a", 5}}) {
        cGif gif;
        ASSERT_TRUE(gif.LoadFromFile(fixture(c.name)));
        EXPECT_EQ(gif.Version(), c.version) << c.name;
        EXPECT_EQ(gif.FramesCount(), c.frames) << c.name;
    }
    cGif gif;
    ASSERT_TRUE(gif.LoadFromFile(fixture("gb_disposal.gif")));
    EXPECT_EQ(gif.AnimationLoops(), 5);
    EXPECT_TRUE(gif.FrameUserInput(4));
    EXPECT_TRUE(gif.LocalPaletteUsed(4));
    EXPECT_EQ(gif.LocalPaletteEntries(4), 2);
}

TEST(GifFixtures, CommentsAndAspect) {
    cGif gif;
    ASSERT_TRUE(gif.LoadFromFile(fixture("gb_comments.gif")));
    GiflibReader ref(readFile(fixture("gb_comments.gif")));
    ASSERT_TRUE(ref.ok());
    ASSERT_EQ(gif.CommentsCount(), 2);
    EXPECT_EQ(gif.Comment(1), "first comment");
    EXPECT_EQ(gif.Comment(2), "\x83\x65\x83\x58\x83\x67 second");  // bytes as stored
    EXPECT_EQ(ref.comments(), (std::vector<std::string>{gif.Comment(1), gif.Comment(2)}));
    EXPECT_FLOAT_EQ(gif.ScreenPixelAspectRatio(), 1.0f);
    EXPECT_TRUE(gif.GlobalPaletteSorted());
}

TEST(GifFixtures, InterlacedRowsLandInPlace) {
    cGif gif;
    ASSERT_TRUE(gif.LoadFromFile(fixture("gb_interlaced.gif")));
    ASSERT_EQ(gif.FramesCount(), 3);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(gif.FrameDIBXOR(1).bitmap()->scanline(y)[x], y);
    // Four interlaced rows: stored as 0, 2, 1, 3.
    const uint8_t shortFrame[4][5] = {{15, 0, 15, 0, 15}, {14, 1, 14, 1, 14}, {13, 2, 13, 2, 13}, {12, 3, 12, 3, 12}};
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(0, std::memcmp(gif.FrameDIBXOR(3).bitmap()->scanline(y), shortFrame[y], 5)) << "row " << y;
}

TEST(GifFixtures, MissingControlExtensionIsRefused) {
    // Valid for giflib, but image 2 has no second control extension to take
    // (a GIF87a animation has none at all).
    for (const char* name : {"gb_missing_control.gif", "gs_87a_anim.gif"}) {
        GiflibReader ref(readFile(fixture(name)));
        ASSERT_TRUE(ref.ok()) << name;
        EXPECT_EQ(ref->ImageCount, 2) << name;
        cGif gif;
        EXPECT_FALSE(gif.LoadFromFile(fixture(name))) << name;
        EXPECT_EQ(gif.FramesCount(), 0) << name;
    }
}

TEST(GifFixtures, EveryDisposalMethodComposites) {
    cGif gif;
    ASSERT_TRUE(gif.LoadFromFile(fixture("gb_disposal.gif")));
    const std::map<char, uint32_t> colours = {{'a', 0x000000}, {'b', 0xFF0000}, {'c', 0x00FF00},
                                              {'d', 0x0000FF}, {'w', 0xFFFFFF}, {'y', 0xFFFF00}};
    const std::vector<std::vector<std::string>> expected = {
        {"cccccccc", "cccccccc", "cccccccc", "cccccccc", "cccccccc", "cccccccc"},
        {"cccccccc", "cddddccc", "cdcdcccc", "cddddccc", "cccccccc", "cccccccc"},  // index 0 transparent
        {"cccccccc", "cddddccc", "cdcdcccc", "cdddbabc", "ccccbbbc", "cccccccc"},
        // Frame 3 went back to the background (red); frame 4 is drawn on that.
        {"cccccccc", "cddddccc", "cdcdcccc", "cdddbbbc", "wyccbbbc", "ywcccccc"},
        // Frame 4 restored what was under it; frame 5 shows through index 3.
        {"ccccccac", "cddddcca", "cdcdccac", "cdddbbba", "ccccbbac", "ccccccca"},
    };
    auto shown = composite(gif);
    ASSERT_EQ(shown.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(shown[k], picture(expected[k], colours)) << "frame " << k + 1;
}

TEST(GifFixtures, OptimisedAnimationFromImageMagickComposites) {
    // The frames the generator drew: a blue square moving right over a green
    // field with a red bar.
    cGif gif;
    ASSERT_TRUE(gif.LoadFromFile(fixture("im_anim.gif")));
    auto shown = composite(gif);
    ASSERT_EQ(shown.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        std::vector<uint32_t> want;
        const int left = 2 + 3 * i;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                uint32_t c = 0x00FF00;
                if (y >= 12 && y <= 13) c = 0xFF0000;
                if (x >= left && x <= left + 4 && y >= 3 && y <= 7) c = 0x0000FF;
                want.push_back(c);
            }
        EXPECT_EQ(shown[size_t(i)], want) << "frame " << i + 1;
    }
    // The optimiser cropped and made frames transparent: the file exercises both.
    EXPECT_LT(gif.FrameDIBXOR(2).Width(), 24);
    EXPECT_TRUE(gif.FrameUseTransparentColor(2));
}

TEST(GifFixtures, PictureLoadingShowsTheFirstFrame) {
    // The picture needs the first image only: files whose later images the
    // container refuses load as pictures too.
    for (const char* name : {"im_interlaced.gif", "gb_disposal.gif", "gb_87a.gif", "gs_full_table.gif",
                             "gb_missing_control.gif", "gs_87a_anim.gif"}) {
        SCOPED_TRACE(name);
        Bytes bytes = readFile(fixture(name));
        GiflibReader ref(bytes);
        ASSERT_TRUE(ref.ok());
        Bitmap out;
        ASSERT_TRUE(DecodeGifPicture(bytes.data(), bytes.size(), out));
        ASSERT_EQ(out.width(), ref->SWidth);
        ASSERT_EQ(out.height(), ref->SHeight);
        const SavedImage& im = ref->SavedImages[0];
        const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : ref->SColorMap;
        for (int y = 0; y < im.ImageDesc.Height; ++y)
            for (int x = 0; x < im.ImageDesc.Width; ++x) {
                const GifColorType& c = map->Colors[im.RasterBits[y * im.ImageDesc.Width + x]];
                ASSERT_EQ(out.pixelColor(im.ImageDesc.Left + x, im.ImageDesc.Top + y), (RGBQuad{c.Blue, c.Green, c.Red, 0}))
                    << x << "," << y;
            }
    }
}
