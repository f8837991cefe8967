// PNG files of every colour type and bit depth, made by Pillow and
// ImageMagick, load through the picture loader to the colours Pillow decodes
// (alpha dropped, 16-bit samples by their high byte); damaged and hostile
// files are refused with their reason, within the load budget.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/resource.h>
#include <string>
#include <vector>

#include "imaging/PictureIO.h"
#include "imaging/png/PngDecoder.h"
#include "support/Files.h"
#include "support/PillowImages.h"
#include "support/TempDir.h"

using namespace tarnel;
using namespace tarnel::test;

namespace {

class PngDecoder : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!PillowAvailable()) return;
        dir_ = new TempDir;
        made_ = MakePillowFixtures(dir_->path());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!PillowAvailable()) GTEST_SKIP() << "Pillow or ImageMagick is not installed";
        ASSERT_TRUE(made_);
    }
    static std::string file(const std::string& name) { return dir_->file(name); }
    static TempDir* dir_;
    static bool made_;
};
TempDir* PngDecoder::dir_ = nullptr;
bool PngDecoder::made_ = false;

// Where `picture`'s colours differ from Pillow's, or "" when they do not.
std::string compareWithPillow(const StdPicture& picture, const RgbPicture& expected) {
    if (!picture.isBitmap() || expected.rgb.empty()) return "no picture";
    const Bitmap& b = *picture.bitmap;
    if (b.width() != expected.width || b.height() != expected.height || b.bpp() != 32) return "size or depth";
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const uint8_t* p = b.scanline(y) + 4 * x;
            const uint8_t* e = expected.rgb.data() + 3 * (size_t(y) * size_t(b.width()) + size_t(x));
            if (p[2] != e[0] || p[1] != e[1] || p[0] != e[2] || p[3] != 0)
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        }
    return "";
}

uint32_t crc32Of(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void putBe32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

uint32_t be32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

// The offset of the first chunk of that type (its length field), or 0.
size_t findChunk(const std::vector<uint8_t>& png, const char* type) {
    for (size_t at = 8; at + 12 <= png.size(); at += 12 + be32(png, at))
        if (std::memcmp(png.data() + at + 4, type, 4) == 0) return at;
    return 0;
}

// A chunk inserted before IDAT, its CRC right.
std::vector<uint8_t> withChunk(std::vector<uint8_t> png, const char* type, const std::string& body) {
    std::vector<uint8_t> chunk(12 + body.size());
    putBe32(chunk, 0, uint32_t(body.size()));
    std::memcpy(chunk.data() + 4, type, 4);
    std::memcpy(chunk.data() + 8, body.data(), body.size());
    putBe32(chunk, 8 + body.size(), crc32Of(chunk.data() + 4, 4 + body.size()));
    png.insert(png.begin() + std::ptrdiff_t(findChunk(png, "IDAT")), chunk.begin(), chunk.end());
    return png;
}

}  // namespace

TEST_F(PngDecoder, EveryColourTypeAndDepthLoadsAsPillowDecodesIt) {
    struct Case { const char* name; int depth, colourType, interlace; };
    const Case cases[] = {
        {"grey1.png", 1, 0, 0},          {"grey2.png", 2, 0, 0},          {"grey4.png", 4, 0, 0},
        {"grey8.png", 8, 0, 0},          {"grey16.png", 16, 0, 0},        {"grey8_key.png", 8, 0, 0},
        {"rgb8.png", 8, 2, 0},           {"rgb16.png", 16, 2, 0},         {"rgb8_key.png", 8, 2, 0},
        {"palette1.png", 1, 3, 0},       {"palette2.png", 2, 3, 0},       {"palette4.png", 4, 3, 0},
        {"palette8.png", 8, 3, 0},       {"palette1_trns.png", 1, 3, 0},  {"palette2_trns.png", 2, 3, 0},
        {"palette4_trns.png", 4, 3, 0},  {"palette8_trns.png", 8, 3, 0},  {"greyalpha8.png", 8, 4, 0},
        {"greyalpha16.png", 16, 4, 0},   {"rgba8.png", 8, 6, 0},          {"rgba16.png", 16, 6, 0},
        {"rgb8_interlaced.png", 8, 2, 1}, {"rgba16_interlaced.png", 16, 6, 1}, {"palette_interlaced.png", 8, 3, 1},
        // A zTXt chunk that would inflate to 64 MB is skipped unread.
        {"rgb8_ztxt_bomb.png", 8, 2, 0},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = readFile(file(c.name));
        ASSERT_GT(bytes.size(), 29u) << c.name;
        // The fixture is what its name says.
        EXPECT_EQ(bytes[24], c.depth) << c.name;
        EXPECT_EQ(bytes[25], c.colourType) << c.name;
        EXPECT_EQ(bytes[28], c.interlace) << c.name;
        EXPECT_EQ(DetectPictureFormat(bytes.data(), bytes.size()), PictureFormat::Png) << c.name;
        StdPicture picture;
        const PictureResult loaded = LoadPicture(file(c.name), picture);
        ASSERT_TRUE(loaded) << c.name << ": " << loaded.reason;
        EXPECT_EQ(compareWithPillow(picture, ReadRgbFile(file(std::string(c.name) + ".rgb"))), "") << c.name;
    }
}

TEST_F(PngDecoder, DamagedAndHostileFilesAreRefusedWithinTheBudget) {
    const std::vector<uint8_t> good = readFile(file("rgb8.png"));
    const size_t ihdr = findChunk(good, "IHDR"), idat = findChunk(good, "IDAT"), iend = findChunk(good, "IEND");
    ASSERT_EQ(ihdr, 8u);
    ASSERT_GT(idat, 0u);
    ASSERT_GT(iend, idat);
    auto flip = [&](size_t at) {
        std::vector<uint8_t> b = good;
        b[at] ^= 0x20;
        return b;
    };
    auto cut = [&](size_t size) { return std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(size)); };
    auto sized = [&](uint32_t w, uint32_t h) {
        std::vector<uint8_t> b = good;
        putBe32(b, 16, w);
        putBe32(b, 20, h);
        putBe32(b, 29, crc32Of(b.data() + 12, 17));
        return b;
    };
    const uint32_t idatLength = be32(good, idat);
    struct Case { const char* name; std::vector<uint8_t> bytes; const char* reason; };
    const Case refused[] = {
        {"signature only", cut(8), "PNG file is truncated"},
        {"cut in IDAT", cut(idat + 8 + idatLength / 2), "PNG file is truncated"},
        {"cut after IHDR", cut(idat), "PNG file is truncated"},
        // Critical chunks must be whole: a bad CRC is refused.
        {"bad CRC in IHDR", flip(29), "PNG file could not be decoded: IHDR: CRC error"},
        {"bad CRC in IDAT", flip(idat + 8 + idatLength), "PNG file could not be decoded: IDAT: CRC error"},
        {"damaged deflate data", flip(idat + 8 + 4), "PNG file could not be decoded: "},
        {"no width", sized(0, 23), "PNG file could not be decoded: "},
        {"beyond libpng's width limit", sized(1u << 20, 23), "PNG file could not be decoded: "},
        // A small stream claiming a picture of 256 MB.
        {"huge header, tiny stream", sized(8000, 8000), "PNG needs more memory than allowed"},
        {"beyond the surface limit", sized(20000, 20000), "PNG size out of range"},
        {"unknown critical chunk", withChunk(good, "CRIT", "x"), "PNG file could not be decoded: CRIT: unhandled critical chunk"},
    };
    for (const Case& c : refused) {
        Bitmap out;
        std::string why;
        LoadBudget budget = LoadBudget::ForInput(c.bytes.size());
        EXPECT_FALSE(DecodePng(c.bytes.data(), c.bytes.size(), out, budget, &why)) << c.name;
        EXPECT_EQ(why.rfind(c.reason, 0), 0u) << c.name << ": " << why;
        EXPECT_TRUE(out.empty()) << c.name;
        EXPECT_LE(budget.Used(), budget.Limit()) << c.name;
        StdPicture picture;
        const PictureResult result = LoadPictureFromMemory(c.bytes.data(), c.bytes.size(), picture);
        EXPECT_EQ(result.kind, PictureError::Undecodable) << c.name;
        EXPECT_EQ(result.reason, why) << c.name;
    }

    // A text chunk before the pixels claiming 1.9 GB in a file of a few
    // hundred bytes: refused before anything of that size is allocated.
    std::vector<uint8_t> hugeText = withChunk(good, "tEXt", "Comment\0x");
    putBe32(hugeText, findChunk(hugeText, "tEXt"), 0x74A40025u);
    hugeText.resize(findChunk(hugeText, "tEXt") + 40);
    auto peakKb = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKb();
    Bitmap none;
    std::string whyHuge;
    EXPECT_FALSE(DecodePng(hugeText.data(), hugeText.size(), none, &whyHuge));
    EXPECT_EQ(whyHuge, "PNG file is truncated");
    EXPECT_LT(peakKb() - before, 256L << 10);

    // Ancillary damage is skipped as browsers skip it; a file that ends
    // after its pixels is whole enough.
    std::vector<uint8_t> badText = withChunk(good, "tEXt", "Comment\0x");
    badText[findChunk(badText, "tEXt") + 8 + 9] ^= 1;
    const Case tolerated[] = {
        {"bad CRC in tEXt", badText, ""},
        {"no IEND", cut(iend), ""},
        {"unknown ancillary chunk", withChunk(good, "abCd", "whatever"), ""},
    };
    const RgbPicture expected = ReadRgbFile(file("rgb8.png.rgb"));
    for (const Case& c : tolerated) {
        StdPicture picture;
        const PictureResult result = LoadPictureFromMemory(c.bytes.data(), c.bytes.size(), picture);
        ASSERT_TRUE(result) << c.name << ": " << result.reason;
        EXPECT_EQ(compareWithPillow(picture, expected), "") << c.name;
    }
}
