#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>

#include "imaging/bmp/BmpDecoder.h"

#include "support/Bytes.h"
#include "support/Files.h"

using namespace tarnel;
using tarnel::test::put16;
using tarnel::test::put32;
using tarnel::test::readFile;

namespace {

// A BMP file laid out field by field, so tests can bend any of them.
struct BmpFile {
    uint32_t headerSize = 40;  // 12 core, 40 info, 52/56 V2/V3, 108 V4, 124 V5
    std::optional<uint32_t> writtenHeaderSize;  // a biSize that lies about the layout
    int32_t width = 0;
    int32_t height = 0;  // negative: top-down
    uint16_t bpp = 24;
    uint32_t compression = 0;
    std::vector<RGBQuad> palette;  // entries written
    uint32_t clrUsed = 0;
    std::vector<uint32_t> masks;   // after a 40-byte header, inside a longer one
    std::vector<uint8_t> pixels;   // as stored
    std::optional<uint32_t> sizeImage;
    std::optional<uint32_t> offBits;

    std::vector<uint8_t> bytes() const {
        const bool core = headerSize == 12;
        const size_t entry = core ? 3 : 4;
        const size_t maskBytes = headerSize == 40 ? masks.size() * 4 : 0;
        const size_t tableAt = 14 + headerSize + maskBytes;
        const size_t pixelsAt = tableAt + palette.size() * entry;
        std::vector<uint8_t> v(pixelsAt + pixels.size(), 0);
        v[0] = 'B';
        v[1] = 'M';
        put32(v, 2, uint32_t(v.size()));
        put32(v, 10, offBits.value_or(uint32_t(pixelsAt)));
        put32(v, 14, writtenHeaderSize.value_or(headerSize));
        if (core) {
            put16(v, 18, uint32_t(width));
            put16(v, 20, uint32_t(height));
            put16(v, 22, 1);
            put16(v, 24, bpp);
        } else {
            put32(v, 18, uint32_t(width));
            put32(v, 22, uint32_t(height));
            put16(v, 26, 1);
            put16(v, 28, bpp);
            put32(v, 30, compression);
            put32(v, 34, sizeImage.value_or(uint32_t(pixels.size())));
            put32(v, 46, clrUsed);
            for (size_t i = 0; i < masks.size(); ++i) {
                if (headerSize > 40 && 40 + 4 * (i + 1) > headerSize) break;
                put32(v, 54 + 4 * i, masks[i]);  // straight after the first 40 bytes either way
            }
        }
        for (size_t i = 0; i < palette.size(); ++i) {
            uint8_t* e = v.data() + tableAt + i * entry;
            e[0] = palette[i].blue;
            e[1] = palette[i].green;
            e[2] = palette[i].red;
        }
        std::copy(pixels.begin(), pixels.end(), v.begin() + long(pixelsAt));
        return v;
    }
};

// Rows in file order, each padded to 4 bytes; value(x, fileRow) is the
// stored value (index, 16-bit word, 0xRRGGBB or 32-bit word).
std::vector<uint8_t> packRows(int w, int h, int bpp, const std::function<uint32_t(int, int)>& value) {
    size_t stride = size_t(((w * bpp + 31) / 32) * 4);
    std::vector<uint8_t> v(stride * size_t(h), 0);
    for (int r = 0; r < h; ++r) {
        uint8_t* row = v.data() + size_t(r) * stride;
        for (int x = 0; x < w; ++x) {
            uint32_t p = value(x, r);
            switch (bpp) {
                case 1: row[x / 8] |= uint8_t((p & 1) << (7 - x % 8)); break;
                case 4: row[x / 2] |= uint8_t((p & 15) << (x % 2 ? 0 : 4)); break;
                case 8: row[x] = uint8_t(p); break;
                case 16: row[2 * x] = uint8_t(p), row[2 * x + 1] = uint8_t(p >> 8); break;
                case 24:
                    for (int i = 0; i < 3; ++i) row[3 * x + i] = uint8_t(p >> (8 * i));
                    break;
                case 32:
                    for (int i = 0; i < 4; ++i) row[4 * x + i] = uint8_t(p >> (8 * i));
                    break;
            }
        }
    }
    return v;
}

// The test picture, counted from the top.
RGBQuad colourAt(int x, int y) {
    return RGBQuad{uint8_t((x + y) * 19), uint8_t((x * 5) ^ (y * 29)), uint8_t(x * 37 + y * 11), 0};
}

std::vector<RGBQuad> testPalette(int count) {
    std::vector<RGBQuad> p;
    for (int i = 0; i < count; ++i) p.push_back(RGBQuad{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 13), 0});
    return p;
}

int fieldBits(uint32_t mask) { return mask ? std::popcount(mask >> std::countr_zero(mask)) : 0; }

// Packs an 8-bit channel into a mask field, and what an 8-bit reader makes of it.
uint32_t toField(uint8_t c, uint32_t mask) {
    if (!mask) return 0;
    int bits = fieldBits(mask);
    uint32_t f = bits <= 8 ? uint32_t(c) >> (8 - bits) : uint32_t(c) << (bits - 8);
    return f << std::countr_zero(mask);
}
uint8_t fromField(uint8_t c, uint32_t mask) {
    if (!mask) return 0;
    int bits = fieldBits(mask);
    if (bits > 8) return c;
    uint32_t f = uint32_t(c) >> (8 - bits);
    return uint8_t(std::lround(f * 255.0 / double((1u << bits) - 1)));
}

bool decode(const std::vector<uint8_t>& file, Bitmap& out, std::string* error = nullptr) {
    return DecodeBmp(file.data(), file.size(), out, error);
}

}  // namespace

// ---------------------------------------------------------------- palettes

TEST(BmpDecoder, PaletteDepthsKeepDepthRowOrderAndColours) {
    struct Case { uint32_t header; uint16_t bpp; bool topDown; int written; uint32_t clrUsed; };
    const Case cases[] = {
        {40, 1, false, 2, 0},  {40, 1, true, 2, 2},   {40, 4, false, 16, 0}, {40, 4, true, 5, 5},
        {40, 8, false, 256, 0}, {40, 8, true, 20, 20}, {108, 8, false, 7, 7}, {124, 4, true, 16, 0},
        {12, 1, false, 2, 0},  {12, 4, false, 16, 0}, {12, 8, false, 256, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "header " << c.header << " bpp " << c.bpp << " topDown " << c.topDown);
        const int w = 13, h = 5, colours = c.written;
        auto index = [&](int x, int y) { return uint32_t((x + 3 * y) % colours); };
        BmpFile f;
        f.headerSize = c.header;
        f.width = w;
        f.height = c.topDown ? -h : h;
        f.bpp = c.bpp;
        f.palette = testPalette(colours);
        f.clrUsed = c.clrUsed;
        f.pixels = packRows(w, h, c.bpp, [&](int x, int r) { return index(x, c.topDown ? r : h - 1 - r); });
        Bitmap out;
        std::string error;
        ASSERT_TRUE(decode(f.bytes(), out, &error)) << error;
        EXPECT_EQ(out.width(), w);
        EXPECT_EQ(out.height(), h);
        EXPECT_EQ(out.bpp(), c.bpp);
        EXPECT_EQ(out.topDown(), c.topDown);
        for (int i = 0; i < colours; ++i) EXPECT_EQ(out.colorTable()[i], f.palette[size_t(i)]) << i;
        for (int i = colours; i < out.colorCount(); ++i) EXPECT_EQ(out.colorTable()[i], RGBQuad{}) << i;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) ASSERT_EQ(out.pixelValue(x, y), index(x, y)) << x << "," << y;
    }
}

TEST(BmpDecoder, ColourTableIsCutToTheGapBeforeThePixels) {
    // clrUsed 0 promises 256 entries, but the pixels start after 4 of them.
    BmpFile f;
    f.width = 4;
    f.height = 1;
    f.bpp = 8;
    f.palette = testPalette(4);
    f.pixels = {0, 1, 2, 3};
    Bitmap out;
    ASSERT_TRUE(decode(f.bytes(), out));
    EXPECT_EQ(out.pixelColor(3, 0), f.palette[3]);
    EXPECT_EQ(out.colorTable()[4], RGBQuad{});
}

// ---------------------------------------------------------------- direct colour

TEST(BmpDecoder, DirectColourVariants) {
    struct Case {
        const char* name;
        uint32_t header;
        uint16_t bpp;
        uint32_t compression;
        std::vector<uint32_t> masks;  // written; empty for BI_RGB
        bool topDown;
        int outBpp;
    };
    const std::vector<uint32_t> m555{0x7C00, 0x03E0, 0x001F}, m565{0xF800, 0x07E0, 0x001F};
    const std::vector<uint32_t> m888{0xFF0000, 0x00FF00, 0x0000FF};
    const Case cases[] = {
        {"16 rgb", 40, 16, 0, {}, false, 16},
        {"16 rgb top-down", 40, 16, 0, {}, true, 16},
        {"16 bitfields 555", 40, 16, 3, m555, false, 16},
        {"16 bitfields 565", 40, 16, 3, m565, false, 32},
        {"16 bitfields 565 V3", 56, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, true, 32},
        {"16 alphabitfields 4444", 40, 16, 6, {0x0F00, 0x00F0, 0x000F, 0xF000}, false, 32},
        {"16 bitfields 5-5-5 V4", 108, 16, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}, false, 16},
        {"24 rgb", 40, 24, 0, {}, false, 24},
        {"24 rgb top-down", 40, 24, 0, {}, true, 24},
        {"24 core", 12, 24, 0, {}, false, 24},
        {"24 V4", 108, 24, 0, {}, false, 24},
        {"24 V5 top-down", 124, 24, 0, {}, true, 24},
        {"32 rgb", 40, 32, 0, {}, false, 32},
        {"32 rgb top-down", 40, 32, 0, {}, true, 32},
        {"32 bitfields 888", 40, 32, 3, m888, false, 32},
        {"32 bitfields RGBA order V2", 52, 32, 3, {0xFF000000, 0x00FF0000, 0x0000FF00}, false, 32},
        {"32 bitfields 10-10-10 V5", 124, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, true, 32},
        {"32 alphabitfields", 40, 32, 6, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, false, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int w = 7, h = 4;
        const bool plain = c.outBpp == c.bpp;
        const std::vector<uint32_t>& m = c.masks.empty() ? (c.bpp == 16 ? m555 : m888) : c.masks;
        auto stored = [&](int x, int y) {
            RGBQuad q = colourAt(x, y);
            if (c.bpp == 24 || (c.bpp == 32 && c.masks.empty()))
                return uint32_t(q.blue) | (uint32_t(q.green) << 8) | (uint32_t(q.red) << 16) | 0xAB000000u;
            return toField(q.red, m[0]) | toField(q.green, m[1]) | toField(q.blue, m[2]);
        };
        BmpFile f;
        f.headerSize = c.header;
        f.width = w;
        f.height = c.topDown ? -h : h;
        f.bpp = c.bpp;
        f.compression = c.compression;
        f.masks = c.masks;
        f.pixels = packRows(w, h, c.bpp, [&](int x, int r) { return stored(x, c.topDown ? r : h - 1 - r); });
        Bitmap out;
        std::string error;
        ASSERT_TRUE(decode(f.bytes(), out, &error)) << error;
        EXPECT_EQ(out.bpp(), c.outBpp);
        EXPECT_EQ(out.topDown(), c.topDown);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (plain) {
                    uint32_t expect = stored(x, y) & (c.bpp == 16 ? 0x7FFFu : 0xFFFFFFu);
                    ASSERT_EQ(out.pixelValue(x, y), expect) << x << "," << y;
                } else {
                    RGBQuad q = colourAt(x, y);
                    RGBQuad expect{fromField(q.blue, m[2]), fromField(q.green, m[1]), fromField(q.red, m[0]), 0};
                    ASSERT_EQ(out.pixelColor(x, y), expect) << x << "," << y;
                    ASSERT_EQ(out.scanline(y)[4 * x + 3], 0) << "reserved byte";
                }
            }
        }
    }
}

TEST(BmpDecoder, LastRowMayLackItsPadding) {
    BmpFile f;
    f.width = 3;
    f.height = 2;
    f.pixels = packRows(3, 2, 24, [](int x, int r) { return uint32_t(x * 0x10203 + r); });
    f.pixels.resize(f.pixels.size() - 3);  // 9 bytes of the last row, no padding
    Bitmap out;
    ASSERT_TRUE(decode(f.bytes(), out));
    EXPECT_EQ(out.pixelValue(2, 0), uint32_t(2 * 0x10203 + 1));
    f.pixels.pop_back();
    EXPECT_FALSE(decode(f.bytes(), out));
}

// ---------------------------------------------------------------- run-length

TEST(BmpDecoder, Rle8RunsAbsoluteRunsDeltasAndLineEnds) {
    BmpFile f;
    f.width = 6;
    f.height = 3;
    f.bpp = 8;
    f.compression = 1;
    f.palette = testPalette(16);
    f.pixels = {
        3, 5, 0, 3, 7, 8, 9, 0, 0, 0,  // bottom: run of three 5s, absolute 7 8 9 + pad, end of line
        0, 2, 2, 0, 2, 10, 0, 0,       // delta right by 2, two 10s, end of line
        0, 4, 1, 2, 3, 4, 2, 11, 0, 1  // absolute 1 2 3 4, two 11s, end of bitmap
    };
    Bitmap out;
    std::string error;
    ASSERT_TRUE(decode(f.bytes(), out, &error)) << error;
    EXPECT_EQ(out.bpp(), 8);
    EXPECT_FALSE(out.topDown());
    const uint32_t expect[3][6] = {{1, 2, 3, 4, 11, 11}, {0, 0, 10, 10, 0, 0}, {5, 5, 5, 7, 8, 9}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(out.pixelValue(x, y), expect[y][x]) << x << "," << y;
    EXPECT_EQ(out.colorTable()[15], f.palette[15]);
}

TEST(BmpDecoder, Rle8DeltaAcrossLines) {
    BmpFile f;
    f.width = 4;
    f.height = 3;
    f.bpp = 8;
    f.compression = 1;
    f.palette = testPalette(4);
    f.pixels = {1, 1, 0, 2, 1, 2, 2, 2, 0, 1};  // one 1, delta (+1, +2), two 2s, end
    Bitmap out;
    ASSERT_TRUE(decode(f.bytes(), out));
    EXPECT_EQ(out.pixelValue(0, 2), 1u);  // bottom row
    EXPECT_EQ(out.pixelValue(2, 0), 2u);  // top row, x 2..3
    EXPECT_EQ(out.pixelValue(3, 0), 2u);
    EXPECT_EQ(out.pixelValue(1, 0), 0u);
    EXPECT_EQ(out.pixelValue(1, 1), 0u);
}

TEST(BmpDecoder, Rle4NibbleRunsAndOddAbsoluteRuns) {
    BmpFile f;
    f.width = 8;
    f.height = 2;
    f.bpp = 4;
    f.compression = 2;
    f.palette = testPalette(16);
    f.pixels = {
        2, 0x12, 0, 3, 0x34, 0x50, 3, 0x67, 0, 0,       // 1 2 | 3 4 5 (two bytes) | 6 7 6 | end of line
        0, 2, 1, 0, 0, 5, 0xAB, 0xCD, 0xE0, 0, 2, 0xFF,  // delta 1 | A B C D E (three bytes + pad) | F F
        0, 1,
    };
    Bitmap out;
    std::string error;
    ASSERT_TRUE(decode(f.bytes(), out, &error)) << error;
    EXPECT_EQ(out.bpp(), 4);
    const uint32_t expect[2][8] = {{0, 10, 11, 12, 13, 14, 15, 15}, {1, 2, 3, 4, 5, 6, 7, 6}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(out.pixelValue(x, y), expect[y][x]) << x << "," << y;
}

TEST(BmpDecoder, RlePixelsInTheRowPaddingAreDropped) {
    // Width 3 at 8 bpp pads to 4 bytes; some encoders code that fourth pixel.
    BmpFile f;
    f.width = 3;
    f.height = 2;
    f.bpp = 8;
    f.compression = 1;
    f.palette = testPalette(8);
    f.pixels = {4, 7, 0, 0, 0, 4, 1, 2, 3, 4, 0, 1};
    Bitmap out;
    std::string error;
    ASSERT_TRUE(decode(f.bytes(), out, &error)) << error;
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(out.pixelValue(x, 1), 7u);
        EXPECT_EQ(out.pixelValue(x, 0), uint32_t(x + 1));
    }
}

TEST(BmpDecoder, RleWithoutEndMarker) {
    BmpFile f;
    f.width = 2;
    f.height = 1;
    f.bpp = 8;
    f.compression = 1;
    f.palette = testPalette(4);
    f.pixels = {2, 3};
    f.sizeImage = 0;  // the stream runs to the end of the file
    Bitmap out;
    ASSERT_TRUE(decode(f.bytes(), out));
    EXPECT_EQ(out.pixelValue(1, 0), 3u);
    f.sizeImage = 8;  // promises more than the file holds
    EXPECT_FALSE(decode(f.bytes(), out));
}

TEST(BmpDecoder, RleOverrunsAreRefused) {
    struct Case { const char* name; uint16_t bpp; int w, h; std::vector<uint8_t> stream; };
    const Case cases[] = {
        {"run past the row", 8, 4, 2, {5, 1, 0, 1}},
        {"run after a run", 8, 4, 2, {3, 1, 2, 1, 0, 1}},
        {"absolute past the row", 8, 4, 2, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}},
        {"pixels above the top", 8, 4, 1, {0, 0, 1, 1, 0, 1}},
        {"line ends beyond the top", 8, 4, 1, {0, 0, 0, 0, 0, 1}},
        {"delta past the right", 8, 4, 2, {0, 2, 5, 0, 0, 1}},
        {"delta past the top", 8, 4, 2, {0, 2, 0, 3, 0, 1}},
        {"delta cut short", 8, 4, 2, {0, 2, 1}},
        {"absolute cut short", 8, 4, 2, {0, 4, 1, 2}},
        {"absolute padding missing", 8, 4, 2, {0, 3, 1, 2, 3}},
        {"odd trailing byte", 8, 4, 2, {2, 1, 0}},
        {"rle4 run past the padded row", 4, 3, 1, {9, 0x11, 0, 1}},
        {"rle4 absolute past the padded row", 4, 3, 1, {0, 9, 0x12, 0x34, 0x56, 0x78, 0x90, 0, 0, 1}},
        {"rle4 delta past the padded row", 4, 3, 1, {0, 2, 9, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        BmpFile f;
        f.width = c.w;
        f.height = c.h;
        f.bpp = c.bpp;
        f.compression = c.bpp == 8 ? 1 : 2;
        f.palette = testPalette(c.bpp == 8 ? 256 : 16);
        f.pixels = c.stream;
        Bitmap out;
        std::string error;
        EXPECT_FALSE(decode(f.bytes(), out, &error)) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

// ---------------------------------------------------------------- bad input

TEST(BmpDecoder, EveryTruncationIsRefused) {
    std::vector<std::pair<const char*, std::vector<uint8_t>>> files;
    {
        BmpFile f;  // 24 bpp, rows without padding
        f.width = 4;
        f.height = 3;
        f.pixels = packRows(4, 3, 24, [](int x, int r) { return uint32_t(x * 77 + r); });
        files.emplace_back("24", f.bytes());
        f.headerSize = 12;
        files.emplace_back("core 24", f.bytes());
        f.headerSize = 124;
        f.height = -3;
        files.emplace_back("V5 top-down 24", f.bytes());
    }
    {
        BmpFile f;
        f.width = 4;
        f.height = 2;
        f.bpp = 8;
        f.palette = testPalette(6);
        f.clrUsed = 6;
        f.pixels = packRows(4, 2, 8, [](int x, int) { return uint32_t(x); });
        files.emplace_back("8 palette", f.bytes());
        f.compression = 1;
        f.pixels = {1, 1, 0, 3, 1, 2, 3, 0, 0, 0, 4, 5, 0, 1};
        files.emplace_back("rle8", f.bytes());
    }
    {
        BmpFile f;
        f.width = 2;
        f.height = 2;
        f.bpp = 16;
        f.compression = 3;
        f.masks = {0xF800, 0x07E0, 0x001F};
        f.pixels = packRows(2, 2, 16, [](int x, int r) { return uint32_t(0x1234 * (x + r)); });
        files.emplace_back("16 bitfields", f.bytes());
    }
    for (auto& [name, file] : files) {
        Bitmap out;
        ASSERT_TRUE(decode(file, out)) << name;
        for (size_t n = 0; n < file.size(); ++n) {
            std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
            EXPECT_FALSE(DecodeBmp(cut.data(), cut.size(), out)) << name << " cut at " << n;
            EXPECT_TRUE(out.empty());
        }
    }
}

TEST(BmpDecoder, CorruptHeadersAreRefused) {
    auto base = [] {
        BmpFile f;
        f.width = 4;
        f.height = 2;
        f.bpp = 8;
        f.palette = testPalette(4);
        f.pixels = packRows(4, 2, 8, [](int x, int) { return uint32_t(x); });
        return f;
    };
    struct Case { const char* name; std::function<void(BmpFile&)> bend; };
    const Case cases[] = {
        {"100000 x 100000", [](BmpFile& f) { f.width = 100000, f.height = 100000; }},
        {"width beyond 32767", [](BmpFile& f) { f.width = 32768; }},
        {"height beyond 32767", [](BmpFile& f) { f.height = -32768; }},
        {"beyond 2^28 pixels", [](BmpFile& f) { f.width = 30000, f.height = 30000; }},
        {"negative width", [](BmpFile& f) { f.width = -4; }},
        {"zero width", [](BmpFile& f) { f.width = 0; }},
        {"zero height", [](BmpFile& f) { f.height = 0; }},
        {"INT_MIN height", [](BmpFile& f) { f.height = INT32_MIN; }},
        {"huge clrUsed", [](BmpFile& f) { f.clrUsed = 0xFFFFFFFF; }},
        {"clrUsed 257", [](BmpFile& f) { f.clrUsed = 257; }},
        {"bfOffBits past the end", [](BmpFile& f) { f.offBits = 5000; }},
        {"bfOffBits far past the end", [](BmpFile& f) { f.offBits = 0xFFFFFFF0; }},
        {"bfOffBits inside the header", [](BmpFile& f) { f.offBits = 20; }},
        {"bfOffBits zero", [](BmpFile& f) { f.offBits = 0; }},
        {"pixels missing", [](BmpFile& f) { f.pixels.clear(); }},
        {"header size 64", [](BmpFile& f) { f.writtenHeaderSize = 64; }},
        {"header size 0", [](BmpFile& f) { f.writtenHeaderSize = 0; }},
        {"header size 124 on a 40-byte layout", [](BmpFile& f) { f.writtenHeaderSize = 124, f.pixels.resize(4); }},
        {"header size huge", [](BmpFile& f) { f.writtenHeaderSize = 0xFFFFFFF0; }},
        {"2 bpp", [](BmpFile& f) { f.bpp = 2; }},
        {"0 bpp", [](BmpFile& f) { f.bpp = 0; }},
        {"64 bpp", [](BmpFile& f) { f.bpp = 64; }},
        {"BI_JPEG", [](BmpFile& f) { f.compression = 4; }},
        {"BI_PNG", [](BmpFile& f) { f.compression = 5; }},
        {"RLE4 on 8 bpp", [](BmpFile& f) { f.compression = 2; }},
        {"top-down RLE8", [](BmpFile& f) { f.compression = 1, f.height = -2, f.pixels = {0, 1}; }},
        {"bit fields on 24 bpp", [](BmpFile& f) { f.bpp = 24, f.compression = 3, f.masks = {0xFF0000, 0xFF00, 0xFF}; }},
        {"bit fields with holes",
         [](BmpFile& f) { f.bpp = 16, f.compression = 3, f.palette.clear(), f.masks = {0xF00F, 0x07E0, 0x001F}; }},
        {"bit fields all zero",
         [](BmpFile& f) { f.bpp = 32, f.compression = 3, f.palette.clear(), f.masks = {0, 0, 0}; }},
        {"16-bit mask wider than 16 bits",
         [](BmpFile& f) { f.bpp = 16, f.compression = 3, f.palette.clear(), f.masks = {0x1F0000, 0x07E0, 0x001F}; }},
        {"palette depth without a table", [](BmpFile& f) { f.palette.clear(); }},
        {"core 32 bpp", [](BmpFile& f) { f.headerSize = 12, f.bpp = 32, f.palette.clear(); }},
    };
    for (const Case& c : cases) {
        BmpFile f = base();
        c.bend(f);
        std::vector<uint8_t> file = f.bytes();
        Bitmap out;
        std::string error;
        EXPECT_FALSE(decode(file, out, &error)) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
    Bitmap out;
    EXPECT_FALSE(DecodeBmp(nullptr, 0, out));
    const uint8_t bm[] = {'B', 'M'};
    EXPECT_FALSE(DecodeBmp(bm, 0, out));
    EXPECT_FALSE(DecodeBmp(bm, sizeof bm, out));
    std::vector<uint8_t> file = base().bytes();
    file[1] = 'A';
    EXPECT_FALSE(decode(file, out));
}

TEST(BmpDecoder, RefusesAHugeHeaderWithoutPixelsRightAway) {
    // Within the surface limits but with no pixel data: refused before any
    // allocation (a 32767 x 8192 x 32 bpp surface would be a gigabyte).
    BmpFile f;
    f.width = 32767;
    f.height = 8192;
    f.bpp = 32;
    Bitmap out;
    std::string error;
    EXPECT_FALSE(decode(f.bytes(), out, &error));
    EXPECT_NE(error.find("ends early"), std::string::npos) << error;
}

TEST(BmpDecoder, RunLengthDataMustBeAbleToCoverTheSurface) {
    // Runs give at most 255 pixels for 2 bytes; skipped areas count as runs.
    // Beyond 4M pixels (16 MB at 32 bpp) a file must hold data for its size.
    auto endOfLines = [](int lines) {
        std::vector<uint8_t> v;
        for (int i = 0; i < lines; ++i) v.insert(v.end(), {0, 0});
        v.insert(v.end(), {0, 1});
        return v;
    };
    auto fullRuns = [](int width, int height) {  // every pixel coded, 250 at a time
        std::vector<uint8_t> v;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; x += 250) v.insert(v.end(), {uint8_t(std::min(250, width - x)), 3});
            v.insert(v.end(), {0, 0});
        }
        v.insert(v.end(), {0, 1});
        return v;
    };
    struct Case { const char* name; int width, height, bpp; std::vector<uint8_t> runs; bool loads; };
    const Case cases[] = {
        {"RLE8 16384x16384, end marker only", 16384, 16384, 8, {0, 1}, false},
        {"RLE4 16384x16384, end marker only", 16384, 16384, 4, {0, 1}, false},
        {"RLE8 no end marker, no data", 16384, 16384, 8, {}, false},
        {"RLE8 32767x8192, a line end for each row", 32767, 8192, 8, endOfLines(8192), false},
        {"RLE8 16384x16384 one delta", 16384, 16384, 8, {0, 2, 255, 255, 0, 1}, false},
        {"RLE8 2000x2000 end marker only: small enough", 2000, 2000, 8, {0, 1}, true},
        {"RLE8 5000x1000 every pixel coded", 5000, 1000, 8, fullRuns(5000, 1000), true},
    };
    for (const Case& c : cases) {
        BmpFile f;
        f.width = c.width;
        f.height = c.height;
        f.bpp = uint16_t(c.bpp);
        f.compression = c.bpp == 8 ? 1 : 2;
        f.palette = testPalette(16);
        f.pixels = c.runs;
        Bitmap out;
        std::string error;
        EXPECT_EQ(decode(f.bytes(), out, &error), c.loads) << c.name << ": " << error;
        if (!c.loads) {
            EXPECT_NE(error.find("too short for the BMP size"), std::string::npos) << c.name << ": " << error;
        }
    }
}

TEST(BmpDecoder, TheSurfaceComesOutOfTheBudget) {
    BmpFile f;
    f.width = 100;
    f.height = 100;
    f.bpp = 32;
    f.pixels.assign(100 * 100 * 4, 7);
    const std::vector<uint8_t> file = f.bytes();
    struct Case { uint64_t limit; bool loads; };
    for (Case c : {Case{100 * 100 * 4 - 1, false}, Case{100 * 100 * 4, true}}) {
        LoadBudget budget(c.limit);
        Bitmap out;
        std::string error;
        EXPECT_EQ(DecodeBmp(file.data(), file.size(), out, budget, &error), c.loads) << c.limit << ": " << error;
        if (!c.loads) {
            EXPECT_NE(error.find("more memory than allowed"), std::string::npos) << error;
            EXPECT_EQ(budget.Used(), 0u);
        }
    }
}

// ---------------------------------------------------------------- the loader's form

// The one-pass path for plain 24-bpp files and the general decoder with its
// 32-bpp copy must give the same picture, whichever of them a file takes.
TEST(BmpDecoder, ThePictureFormIsTheSameOnEveryPath) {
    auto rgb = [](int x, int y) {
        const RGBQuad c = colourAt(x, y);
        return uint32_t(c.blue) | uint32_t(c.green) << 8 | uint32_t(c.red) << 16;
    };
    struct Case { const char* name; BmpFile file; };
    std::vector<Case> cases;
    auto add = [&](const char* name, uint32_t headerSize, int h, uint16_t bpp, std::optional<uint32_t> gap) {
        BmpFile f;
        f.headerSize = headerSize;
        f.width = 7;
        f.height = h;
        f.bpp = bpp;
        const int rows = h < 0 ? -h : h;
        f.pixels = packRows(7, rows, bpp, [&](int x, int r) {
            const uint32_t c = rgb(x, h < 0 ? r : rows - 1 - r);
            return bpp == 32 ? c | 0xAB000000u : c;  // a reserved byte that must not survive
        });
        if (gap) {
            f.offBits = uint32_t(14 + headerSize + *gap);
            f.pixels.insert(f.pixels.begin(), *gap, 0xEE);
        }
        cases.push_back({name, f});
    };
    add("24 bpp bottom-up", 40, 5, 24, std::nullopt);
    add("24 bpp top-down", 40, -5, 24, std::nullopt);
    add("24 bpp, V5 header, a gap before the pixels", 124, 5, 24, 6);
    add("32 bpp top-down", 40, -5, 32, std::nullopt);
    add("32 bpp bottom-up", 40, 5, 32, std::nullopt);
    BmpFile unpadded = cases[0].file;  // the one-pass path wants every row padded
    unpadded.pixels.resize(unpadded.pixels.size() - 3);
    cases.push_back({"24 bpp, last row unpadded", unpadded});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = c.file.bytes();
        LoadBudget budget = LoadBudget::ForInput(file.size());
        Bitmap picture;
        std::string error;
        ASSERT_TRUE(DecodeBmpPicture(file.data(), file.size(), picture, budget, &error)) << error;
        ASSERT_EQ(picture.bpp(), 32);
        ASSERT_TRUE(picture.topDown());
        ASSERT_EQ(picture.width(), 7);
        ASSERT_EQ(picture.height(), 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                uint32_t pixel;
                std::memcpy(&pixel, picture.scanline(y) + 4 * x, 4);
                ASSERT_EQ(pixel, rgb(x, y)) << x << "," << y;
            }
    }
}

TEST(BmpDecoder, ThePictureFormComesOutOfTheBudgetToo) {
    BmpFile f;
    f.width = 100;
    f.height = 100;
    f.bpp = 8;
    f.palette = testPalette(256);
    f.pixels.assign(100 * 100, 3);
    const std::vector<uint8_t> file = f.bytes();
    // The 8-bpp surface fits; its 32-bpp copy does not.
    LoadBudget budget(100 * 100 + 100 * 100 * 4 - 1);
    Bitmap out;
    std::string error;
    EXPECT_FALSE(DecodeBmpPicture(file.data(), file.size(), out, budget, &error));
    EXPECT_EQ(error, "picture needs more memory than allowed");
    EXPECT_TRUE(out.empty());
}

// ---------------------------------------------------------------- files from another encoder

namespace {

// A binary PPM (P6, maxval 255) as ImageMagick writes it.
bool readPpm(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> bytes = readFile(path);
    std::string head(bytes.begin(), bytes.begin() + long(std::min<size_t>(bytes.size(), 64)));
    std::istringstream in(head);
    std::string magic;
    int maxval = 0;
    if (!(in >> magic >> w >> h >> maxval) || magic != "P6" || maxval != 255) return false;
    size_t at = size_t(in.tellg()) + 1;
    if (bytes.size() < at + size_t(w) * size_t(h) * 3) return false;
    rgb.assign(bytes.begin() + long(at), bytes.begin() + long(at + size_t(w) * size_t(h) * 3));
    return true;
}

}  // namespace

TEST(BmpDecoder, MatchesImageMagickFixtures) {
    struct Case { const char* name; int bpp; bool topDown; };
    const Case cases[] = {
        {"core24", 24, false}, {"core4", 4, false},   {"core8", 8, false},  {"info1", 1, false},
        {"info4", 4, false},   {"info8", 8, false},   {"info24", 24, false}, {"rle8", 8, false},
        {"v5_24", 24, false},  {"v5_555", 16, false}, {"v5_565", 32, false}, {"v5_argb32", 32, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string base = std::string(TARNEL_TEST_DATA) + "/bmp/" + c.name;
        std::vector<uint8_t> file = readFile(base + ".bmp");
        int w = 0, h = 0;
        std::vector<uint8_t> rgb;
        ASSERT_FALSE(file.empty());
        ASSERT_TRUE(readPpm(base + ".ppm", w, h, rgb));
        Bitmap out;
        std::string error;
        ASSERT_TRUE(decode(file, out, &error)) << error;
        EXPECT_EQ(out.bpp(), c.bpp);
        EXPECT_EQ(out.topDown(), c.topDown);
        ASSERT_EQ(out.width(), w);
        ASSERT_EQ(out.height(), h);
        // 16-bit fields are widened to 8 bits slightly differently by each decoder.
        const int tolerance = c.bpp == 16 || std::string(c.name) == "v5_565" ? 4 : 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                RGBQuad q = out.pixelColor(x, y);
                const uint8_t* e = rgb.data() + (size_t(y) * size_t(w) + size_t(x)) * 3;
                ASSERT_NEAR(q.red, e[0], tolerance) << x << "," << y;
                ASSERT_NEAR(q.green, e[1], tolerance) << x << "," << y;
                ASSERT_NEAR(q.blue, e[2], tolerance) << x << "," << y;
            }
        }
    }
}
