#include "imaging/gif/GIF.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "platform/RuntimeError.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"
#include "support/GiflibReader.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// ------------------------------------------------------------- helpers

std::shared_ptr<Bitmap> makeBitmap(int w, int h, int bpp) {
    auto b = std::make_shared<Bitmap>();
    EXPECT_TRUE(b->create(w, h, bpp));
    return b;
}

void setRGB(Bitmap& b, int x, int y, uint8_t r, uint8_t g, uint8_t bl) {
    b.setPixelValue(x, y, b.valueForColor(RGBQuad{bl, g, r, 0}));
}

std::shared_ptr<Bitmap> randomPicture(int w, int h, int bpp, uint32_t seed) {
    auto b = makeBitmap(w, h, bpp);
    std::mt19937 rng(seed);
    if (bpp <= 8)
        for (int i = 0; i < b->colorCount(); ++i)
            b->colorTable()[i] = RGBQuad{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    const uint32_t mask = bpp == 16 ? 0x7FFFu : bpp <= 8 ? uint32_t(b->colorCount() - 1) : 0xFFFFFFu;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->setPixelValue(x, y, rng() & mask);
    return b;
}

// The 125-colour cube as a colour table, entries 125..255 black.
std::array<RGBQuad, 256> cubeTable() {
    const uint8_t levels[5] = {0, 64, 128, 192, 255};
    std::array<RGBQuad, 256> t{};
    for (int b = 0; b < 5; ++b)
        for (int g = 0; g < 5; ++g)
            for (int r = 0; r < 5; ++r) t[size_t(25 * b + 5 * g + r)] = RGBQuad{levels[b], levels[g], levels[r], 0};
    return t;
}

// Expected indices, worked out with the platform's nearest-colour search.
Bytes expectedIndices(const Bitmap& picture, const Bitmap& source) {
    Bytes out(size_t(picture.width()) * size_t(picture.height()), 0);
    const auto cube = cubeTable();
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            uint8_t& o = out[size_t(y) * size_t(picture.width()) + size_t(x)];
            if (picture.bpp() == 8) {
                o = uint8_t(picture.pixelValue(x, y));
            } else if (x < source.width() && y < source.height()) {
                RGBQuad c = source.pixelColor(x, y);
                o = uint8_t(NearestIndex(cube.data(), 256, c.red, c.green, c.blue));
            }
        }
    return out;
}

Bytes expectedPalette(const Bitmap& picture) {
    Bytes p(768, 0);
    const auto cube = cubeTable();
    for (int i = 0; i < 256; ++i) {
        const RGBQuad& c = picture.bpp() == 8 ? picture.colorTable()[i] : cube[size_t(i)];
        p[size_t(3 * i)] = c.red;
        p[size_t(3 * i + 1)] = c.green;
        p[size_t(3 * i + 2)] = c.blue;
    }
    return p;
}

// A literal rendering of the writer as designed: a dictionary keyed by the
// three-digit decimal texts of the indices, and a 256-byte sub-block buffer
// filled bit by bit. Slow on purpose; it shares no code with the writer.
class ReferenceWriter {
public:
    Bytes write(const Bytes& indices, int w, int h, const Bytes& palette, bool useTrans, uint32_t transColor) {
        const char* sig = useTrans ? "GIF89a" : "GIF87a";
        file.assign(sig, sig + 6);
        word(w);
        word(h);
        file.push_back(0xF7);
        file.push_back(0);
        file.push_back(0);
        file.insert(file.end(), palette.begin(), palette.end());
        if (useTrans) {
            int trans = 0;
            for (int i = 255; i >= 0; --i)
                if (palette[size_t(3 * i)] + 256u * palette[size_t(3 * i + 1)] + 65536u * palette[size_t(3 * i + 2)] ==
                    transColor)
                    trans = i;
            const uint8_t gce[8] = {0x21, 0xF9, 0x04, 0x09, 0, 0, uint8_t(trans), 0};
            file.insert(file.end(), gce, gce + 8);
        }
        file.push_back(0x2C);
        word(0);
        word(0);
        word(w);
        word(h);
        file.push_back(0x07);
        file.push_back(8);

        buffer.fill(0);
        buffer[0] = 0;
        bitPos = 8;
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = &indices[size_t(y) * size_t(w)];
            code(256);
            table.clear();
            std::string prefix = key(row[0]);
            int prefixCode = row[0];
            for (int x = 1; x < w; ++x) {
                std::string c = key(row[x]);
                auto it = table.find(prefix + c);
                if (it != table.end()) {
                    prefix += c;
                    prefixCode = it->second;
                    continue;
                }
                if (table.size() == 253) {
                    code(prefixCode);
                    code(256);
                    table.clear();
                } else {
                    table[prefix + c] = 258 + int(table.size());
                    code(prefixCode);
                }
                prefix = c;
                prefixCode = row[x];
            }
            code(prefixCode);
        }
        code(257);
        file.insert(file.end(), buffer.begin(), buffer.begin() + 1 + buffer[0]);
        file.push_back(0);
        file.push_back(0x3B);
        return file;
    }

private:
    static std::string key(int index) {
        char text[4];
        std::snprintf(text, sizeof text, "%03d", index);
        return text;
    }
    void word(int v) {
        file.push_back(uint8_t(v & 0xFF));
        file.push_back(uint8_t((v >> 8) & 0xFF));
    }
    void code(int c) {
        for (int bit = 0; bit < 9; ++bit) {
            if (bitPos == 8) {
                if (buffer[0] == 255) {
                    file.insert(file.end(), buffer.begin(), buffer.end());
                    buffer[0] = 1;
                } else {
                    ++buffer[0];
                }
                buffer[buffer[0]] = 0;
                bitPos = 0;
            }
            if ((c >> bit) & 1) buffer[buffer[0]] = uint8_t(buffer[buffer[0]] | (1 << bitPos));
            ++bitPos;
        }
    }

    Bytes file;
    std::array<uint8_t, 256> buffer{};
    int bitPos = 8;
    std::map<std::string, int> table;
};

Bytes reference(const Bitmap& picture, const Bitmap* source, bool useTrans, uint32_t transColor) {
    return ReferenceWriter().write(expectedIndices(picture, source ? *source : picture), picture.width(),
                                   picture.height(), expectedPalette(picture), useTrans, transColor);
}

// Offset of the LZW minimum code size byte.
size_t imageDataOffset(const Bytes& gif) { return 13 + 768 + (gif[4] == '9' ? 8 : 0) + 10; }

// The 9-bit codes of the image data, up to and including the end code.
std::vector<int> codesOf(const Bytes& gif) {
    size_t at = imageDataOffset(gif) + 1;
    Bytes data;
    while (at < gif.size() && gif[at] != 0) {
        size_t n = gif[at];
        data.insert(data.end(), gif.begin() + std::ptrdiff_t(at + 1), gif.begin() + std::ptrdiff_t(at + 1 + n));
        at += n + 1;
    }
    std::vector<int> codes;
    for (size_t bit = 0; bit + 9 <= data.size() * 8;) {
        int c = 0;
        for (int k = 0; k < 9; ++k, ++bit) c |= ((data[bit / 8] >> (bit % 8)) & 1) << k;
        codes.push_back(c);
        if (c == 257) break;
    }
    return codes;
}

struct Decoded {
    int width = 0, height = 0;
    Bytes indices, palette;
    int transparent = -1;
    int disposal = -1;
};

// Decodes with giflib, a decoder that is not ours.
Decoded decodeWithGiflib(const std::string& path) {
    Decoded d;
    test::GiflibReader gif(path);
    EXPECT_NE(gif.get(), nullptr) << GifErrorString(gif.openError());
    if (!gif.get()) return d;
    EXPECT_EQ(gif.slurpResult(), GIF_OK) << GifErrorString(gif->Error);
    EXPECT_EQ(gif->ImageCount, 1);
    if (gif->ImageCount >= 1 && gif->SColorMap) {
        const SavedImage& image = gif->SavedImages[0];
        d.width = image.ImageDesc.Width;
        d.height = image.ImageDesc.Height;
        d.indices.assign(image.RasterBits, image.RasterBits + size_t(d.width) * size_t(d.height));
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
            d.palette.push_back(gif->SColorMap->Colors[i].Red);
            d.palette.push_back(gif->SColorMap->Colors[i].Green);
            d.palette.push_back(gif->SColorMap->Colors[i].Blue);
        }
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif.get(), 0, &gcb) == GIF_OK) {
            d.transparent = gcb.TransparentColor;
            d.disposal = gcb.DisposalMode;
        }
    }
    return d;
}

const Bytes kHeaderOf1x1 = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0xF7, 0, 0};

// ------------------------------------------------------------- colours

TEST(GifColours, CubeIndexIsTheNearestCubeEntryWithTiesToTheLowest) {
    const auto cube = cubeTable();
    for (int v = 0; v < 256; ++v) {
        uint8_t c = uint8_t(v);
        EXPECT_EQ(GIF::CubeIndex(c, 0, 0), NearestIndex(cube.data(), 256, c, 0, 0)) << v;
        EXPECT_EQ(GIF::CubeIndex(0, c, 0), NearestIndex(cube.data(), 256, 0, c, 0)) << v;
        EXPECT_EQ(GIF::CubeIndex(0, 0, c), NearestIndex(cube.data(), 256, 0, 0, c)) << v;
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        uint8_t r = uint8_t(rng()), g = uint8_t(rng()), b = uint8_t(rng());
        ASSERT_EQ(GIF::CubeIndex(r, g, b), NearestIndex(cube.data(), 256, r, g, b));
    }
    // Midpoints go to the lower level.
    EXPECT_EQ(GIF::CubeIndex(32, 96, 160), 0 + 5 * 1 + 25 * 2);
    EXPECT_EQ(GIF::CubeIndex(33, 97, 161), 1 + 5 * 2 + 25 * 3);
    EXPECT_EQ(GIF::CubeIndex(223, 224, 255), 3 + 5 * 4 + 25 * 4);
}

TEST(GifColours, TrueColourFrameGetsTheCubePalette) {
    auto pic = randomPicture(5, 4, 32, 1);
    Bytes gif = GIF::Encode(*pic, nullptr, false, 0);
    Bytes palette(gif.begin() + 13, gif.begin() + 13 + 768);
    const uint8_t levels[5] = {0, 64, 128, 192, 255};
    for (int i = 0; i < 125; ++i) {
        EXPECT_EQ(palette[size_t(3 * i)], levels[i % 5]) << i;
        EXPECT_EQ(palette[size_t(3 * i + 1)], levels[(i / 5) % 5]) << i;
        EXPECT_EQ(palette[size_t(3 * i + 2)], levels[i / 25]) << i;
    }
    for (size_t i = 3 * 125; i < 768; ++i) EXPECT_EQ(palette[i], 0) << i;
}

TEST(GifColours, EightBitPictureKeepsItsPaletteAndIndices) {
    auto pic = randomPicture(17, 9, 8, 2);
    test::TempDir dir;
    std::string path = dir.file("p8.gif");
    ASSERT_TRUE(GIF().SaveGIF(StdPicture{pic}, path, nullptr, false, 0));
    Decoded d = decodeWithGiflib(path);
    EXPECT_EQ(d.palette, expectedPalette(*pic));
    EXPECT_EQ(d.indices, expectedIndices(*pic, *pic));
}

struct DepthCase {
    int bpp;
    int width, height;
};

class GifDepths : public ::testing::TestWithParam<DepthCase> {};

TEST_P(GifDepths, EveryDepthDecodesToTheExpectedIndices) {
    const DepthCase c = GetParam();
    auto pic = randomPicture(c.width, c.height, c.bpp, uint32_t(c.bpp * 1000 + c.width));
    test::TempDir dir;
    std::string path = dir.file("d.gif");
    ASSERT_TRUE(GIF().SaveGIF(*pic, path, nullptr, false, 0));
    Decoded d = decodeWithGiflib(path);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    EXPECT_EQ(d.indices, expectedIndices(*pic, *pic));
    EXPECT_EQ(d.palette, expectedPalette(*pic));
    EXPECT_EQ(test::readFile(path), reference(*pic, nullptr, false, 0));
}

INSTANTIATE_TEST_SUITE_P(AllDepths, GifDepths,
                         ::testing::Values(DepthCase{1, 13, 5}, DepthCase{4, 9, 7}, DepthCase{8, 31, 3},
                                           DepthCase{16, 20, 6}, DepthCase{24, 11, 11}, DepthCase{32, 40, 4}));

// ------------------------------------------------------------- layout

TEST(GifLayout, OnePixelFileByteForByte) {
    auto pic = makeBitmap(1, 1, 32);
    setRGB(*pic, 0, 0, 255, 0, 0);  // red: cube entry 4
    Bytes gif = GIF::Encode(*pic, nullptr, false, 0);
    Bytes expected = kHeaderOf1x1;
    Bytes palette = expectedPalette(*pic);
    expected.insert(expected.end(), palette.begin(), palette.end());
    const Bytes tail = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x07,  // image descriptor
                        0x08,                                 // minimum code size
                        0x04, 0x00, 0x09, 0x04, 0x04,         // codes 256, 4, 257
                        0x00, 0x3B};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(gif, expected);
}

TEST(GifLayout, TransparentFileByteForByte) {
    auto pic = makeBitmap(2, 1, 32);
    setRGB(*pic, 0, 0, 0, 0, 0);
    setRGB(*pic, 1, 0, 255, 255, 255);  // cube entry 124
    Bytes gif = GIF::Encode(*pic, nullptr, true, 0xFFFFFF);
    Bytes expected = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0xF7, 0, 0};
    Bytes palette = expectedPalette(*pic);
    expected.insert(expected.end(), palette.begin(), palette.end());
    const Bytes tail = {0x21, 0xF9, 0x04, 0x09, 0, 0, 124, 0x00,  // graphic control extension
                        0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0x07, 0x08,
                        0x05, 0x00, 0x01, 0xF0, 0x09, 0x08,  // codes 256, 0, 124, 257
                        0x00, 0x3B};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(gif, expected);
}

TEST(GifLayout, PlainFileHasNoExtension) {
    auto pic = randomPicture(3, 2, 24, 3);
    Bytes gif = GIF::Encode(*pic, nullptr, false, 0);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF87a");
    EXPECT_EQ(gif[13 + 768], 0x2C);
}

TEST(GifLayout, OnePixelWideRowsAreAClearCodeAndThePixel) {
    auto pic = makeBitmap(1, 4, 32);
    setRGB(*pic, 0, 0, 0, 0, 255);     // 100
    setRGB(*pic, 0, 1, 0, 255, 0);     // 20
    setRGB(*pic, 0, 2, 64, 64, 64);    // 31
    setRGB(*pic, 0, 3, 255, 255, 255); // 124
    EXPECT_EQ(codesOf(GIF::Encode(*pic, nullptr, false, 0)),
              (std::vector<int>{256, 100, 256, 20, 256, 31, 256, 124, 257}));
}

TEST(GifLayout, RepeatedColourGrowsSequences) {
    auto pic = makeBitmap(10, 1, 32);
    for (int x = 0; x < 10; ++x) setRGB(*pic, x, 0, 0, 255, 0);  // 20
    // a | aa | aaa | aaaa
    EXPECT_EQ(codesOf(GIF::Encode(*pic, nullptr, false, 0)), (std::vector<int>{256, 20, 258, 259, 260, 257}));
}

TEST(GifLayout, FullTableIsClearedInsideTheRow) {
    // Random indices make a new sequence at almost every pixel, so one row of
    // 2000 fills the table several times.
    auto pic = randomPicture(2000, 2, 8, 4);
    std::vector<int> codes = codesOf(GIF::Encode(*pic, nullptr, false, 0));
    // A table cleared because it was full held 253 sequences: 253 codes
    // entered them and one more wrote the last prefix.
    int fullTables = 0, highest = 0;
    size_t sinceClear = 0;
    for (int c : codes) {
        if (c == 256 || c == 257) {
            EXPECT_LE(sinceClear, 254u);
            fullTables += sinceClear == 254;
            sinceClear = 0;
        } else {
            ++sinceClear;
            highest = std::max(highest, c);
        }
    }
    EXPECT_GE(fullTables, 8);
    EXPECT_LE(highest, 510);
    test::TempDir dir;
    ASSERT_TRUE(GIF().SaveGIF(*pic, dir.file("full.gif"), nullptr, false, 0));
    EXPECT_EQ(decodeWithGiflib(dir.file("full.gif")).indices, expectedIndices(*pic, *pic));
}

TEST(GifLayout, ExactlyOneFullSubBlock) {
    // Two different pixels a row: clear, two codes; 75 rows and the end code
    // make 226 codes, 2034 bits, 255 bytes.
    auto pic = makeBitmap(2, 75, 32);
    for (int y = 0; y < 75; ++y) {
        setRGB(*pic, 0, y, 255, 0, 0);
        setRGB(*pic, 1, y, 0, 0, 255);
    }
    Bytes gif = GIF::Encode(*pic, nullptr, false, 0);
    size_t at = imageDataOffset(gif);
    ASSERT_EQ(gif.size(), at + 1 + 1 + 255 + 1 + 1);
    EXPECT_EQ(gif[at], 8);
    EXPECT_EQ(gif[at + 1], 255);
    EXPECT_EQ(gif[at + 2 + 255], 0x00);
    EXPECT_EQ(gif.back(), 0x3B);
    EXPECT_EQ(gif, reference(*pic, nullptr, false, 0));
}

TEST(GifLayout, MatchesTheLiteralWriterOnRandomPictures) {
    std::mt19937 rng(11);
    for (int i = 0; i < 40; ++i) {
        int w = 1 + int(rng() % (i < 20 ? 40 : 900));
        int h = 1 + int(rng() % 12);
        int bpp = (i % 3 == 0) ? 8 : 32;
        auto pic = randomPicture(w, h, bpp, uint32_t(rng()));
        if (i % 4 == 1) {
            // Few colours make long sequences.
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) pic->setPixelValue(x, y, (x / 3 + y) % 3 * (bpp == 8 ? 1 : 0x7F7F7F));
        }
        bool useTrans = i % 2 == 0;
        uint32_t trans = i % 5 == 0 ? 0 : uint32_t(rng()) & 0xFFFFFF;
        ASSERT_EQ(GIF::Encode(*pic, nullptr, useTrans, trans), reference(*pic, nullptr, useTrans, trans))
            << w << "x" << h << " at " << bpp << " bpp";
    }
}

TEST(GifLayout, MatchesTheLiteralWriterOnAPhotoLikeFrame) {
    auto pic = makeBitmap(320, 40, 32);
    std::mt19937 rng(5);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 320; ++x)
            setRGB(*pic, x, y, uint8_t(x * 255 / 319), uint8_t(y * 6 + rng() % 24), uint8_t((x + y) % 256));
    EXPECT_EQ(GIF::Encode(*pic, nullptr, false, 0), reference(*pic, nullptr, false, 0));
}

// ------------------------------------------------------------- transparency

TEST(GifTransparency, TransparentIndexIsTheLowestMatchingEntry) {
    auto pic = randomPicture(4, 4, 32, 6);
    struct Case {
        uint32_t color;
        uint8_t index;
    };
    const Case cases[] = {
        {RGBColor(255, 0, 0), 4},
        {RGBColor(64, 128, 192), 1 + 10 + 75},
        {RGBColor(255, 255, 255), 124},
        {RGBColor(0, 0, 0), 0},           // black: entry 0, not one of the 131 black fillers
        {RGBColor(10, 20, 30), 0},        // in no entry
        {0xFF000000u | 255u, 0},          // high bits never match
    };
    for (const auto& c : cases) {
        Bytes gif = GIF::Encode(*pic, nullptr, true, c.color);
        ASSERT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
        EXPECT_EQ(gif[13 + 768 + 6], c.index) << std::hex << c.color;
    }
    // A picture's own palette: the first of two equal entries.
    auto pal = makeBitmap(2, 2, 8);
    pal->colorTable()[7] = RGBQuad{3, 2, 1, 0};
    pal->colorTable()[9] = RGBQuad{3, 2, 1, 0};
    EXPECT_EQ(GIF::Encode(*pal, nullptr, true, RGBColor(1, 2, 3))[13 + 768 + 6], 7);
}

TEST(GifTransparency, GiflibSeesTheControlExtension) {
    auto pic = randomPicture(6, 6, 32, 8);
    test::TempDir dir;
    std::string path = dir.file("t.gif");
    ASSERT_TRUE(GIF().SaveGIF(*pic, path, nullptr, true, RGBColor(192, 192, 64)));
    Decoded d = decodeWithGiflib(path);
    EXPECT_EQ(d.transparent, 3 + 15 + 25);
    EXPECT_EQ(d.disposal, DISPOSE_BACKGROUND);
}

// ------------------------------------------------------------- sources and files

TEST(GifSource, PixelsComeFromTheContextWhenGiven) {
    auto pic = makeBitmap(8, 6, 32);  // black
    auto shown = randomPicture(5, 4, 24, 9);  // smaller: the rest stays index 0
    DC dc;
    dc.select(shown.get());
    test::TempDir dir;
    std::string path = dir.file("dc.gif");
    ASSERT_TRUE(GIF().SaveGIF(StdPicture{pic}, path, &dc, false, 0));
    EXPECT_EQ(decodeWithGiflib(path).indices, expectedIndices(*pic, *shown));
    EXPECT_EQ(test::readFile(path), reference(*pic, shown.get(), false, 0));
}

TEST(GifSource, EightBitPictureIgnoresTheContextPixels) {
    auto pic = randomPicture(7, 3, 8, 10);
    auto shown = randomPicture(7, 3, 32, 11);
    DC dc;
    dc.select(shown.get());
    EXPECT_EQ(GIF::Encode(*pic, shown.get(), false, 0), GIF::Encode(*pic, nullptr, false, 0));
    test::TempDir dir;
    DC empty;
    EXPECT_TRUE(GIF().SaveGIF(*pic, dir.file("a.gif"), &empty, false, 0));
}

TEST(GifSource, UnreadablePicturesRaiseAnError) {
    test::TempDir dir;
    GIF gif;
    auto expectError = [&](auto&& call, int number) {
        try {
            call();
            ADD_FAILURE() << "no error raised";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), number) << e.what();
        }
    };
    expectError([&] { gif.SaveGIF(StdPicture{}, dir.file("a.gif"), nullptr, false, 0); }, 481);
    auto pic = makeBitmap(4, 4, 32);
    DC empty;
    expectError([&] { gif.SaveGIF(*pic, dir.file("b.gif"), &empty, false, 0); }, 481);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    // The object is usable after an error.
    EXPECT_TRUE(gif.SaveGIF(*pic, dir.file("c.gif"), nullptr, false, 0));
}

TEST(GifFile, ExistingFileIsReplaced) {
    test::TempDir dir;
    std::string path = dir.file("000.gif");
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(5000, 'x');
    }
    auto pic = randomPicture(9, 9, 32, 12);
    ASSERT_TRUE(GIF().SaveGIF(*pic, path, nullptr, false, 0));
    EXPECT_EQ(test::readFile(path), GIF::Encode(*pic, nullptr, false, 0));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(GifFile, WriteFailuresRaiseAndKeepTheOldFile) {
    test::TempDir dir;
    auto pic = randomPicture(64, 64, 32, 13);
    GIF gif;
    try {
        gif.SaveGIF(*pic, dir.file("missing/000.gif"), nullptr, false, 0);
        ADD_FAILURE() << "no error raised";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 76);
    }

    std::string path = dir.file("001.gif");
    {
        std::ofstream out(path, std::ios::binary);
        out << "old";
    }
    int number = 0;
    {
        test::FileSizeLimit limit(1000);  // smaller than the file, as on a full disk
        try {
            gif.SaveGIF(*pic, path, nullptr, false, 0);
        } catch (const RuntimeError& e) {
            number = e.number();
        }
    }
    EXPECT_EQ(number, 61);
    EXPECT_EQ(test::readText(path), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tarnel
