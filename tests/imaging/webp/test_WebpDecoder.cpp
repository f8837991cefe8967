// Still WebP files (lossy, lossless, with alpha) and the first frame of an
// animated one load through the picture loader to the colours Pillow decodes
// (alpha dropped); damaged and hostile files are refused with their reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/PictureIO.h"
#include "imaging/webp/WebpDecoder.h"
#include "support/Files.h"
#include "support/PillowImages.h"
#include "support/TempDir.h"

using namespace tarnel;
using namespace tarnel::test;

namespace {

int differingPixels(const StdPicture& picture, const RgbPicture& expected) {
    if (!picture.isBitmap() || expected.rgb.empty()) return -1;
    const Bitmap& b = *picture.bitmap;
    if (b.width() != expected.width || b.height() != expected.height || b.bpp() != 32) return -1;
    int count = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const uint8_t* p = b.scanline(y) + 4 * x;
            const uint8_t* e = expected.rgb.data() + 3 * (size_t(y) * size_t(b.width()) + size_t(x));
            count += p[2] != e[0] || p[1] != e[1] || p[0] != e[2] || p[3] != 0;
        }
    return count;
}

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
}

}  // namespace

TEST(WebpDecoder, StillAndAnimatedFilesLoadAsPillowDecodesThem) {
    if (!PillowAvailable()) GTEST_SKIP() << "Pillow or ImageMagick is not installed";
    TempDir dir;
    ASSERT_TRUE(MakePillowFixtures(dir.path()));
    for (const char* name : {"lossy.webp", "lossless.webp", "lossy_alpha.webp", "lossless_alpha.webp", "animated.webp"}) {
        const std::vector<uint8_t> bytes = readFile(dir.file(name));
        EXPECT_EQ(DetectPictureFormat(bytes.data(), bytes.size()), PictureFormat::Webp) << name;
        StdPicture picture;
        const PictureResult loaded = LoadPicture(dir.file(name), picture);
        ASSERT_TRUE(loaded) << name << ": " << loaded.reason;
        EXPECT_EQ(differingPixels(picture, ReadRgbFile(dir.file(std::string(name) + ".rgb"))), 0) << name;
    }

    const std::vector<uint8_t> good = readFile(dir.file("lossless.webp"));
    const std::vector<uint8_t> lossy = readFile(dir.file("lossy.webp"));
    auto cut = [](const std::vector<uint8_t>& b, size_t size) {
        return std::vector<uint8_t>(b.begin(), b.begin() + std::ptrdiff_t(size));
    };
    auto flipped = [](std::vector<uint8_t> b, size_t at) {
        b[at] ^= 0x40;
        return b;
    };
    // A lossless header (after "VP8L" and its size, the signature byte 0x2F)
    // claiming 16384 x 16384 over a stream of a few bytes.
    std::vector<uint8_t> huge = good;
    ASSERT_EQ(huge[20], 0x2F);
    putLe32(huge, 21, (16383u) | (16383u << 14));
    struct Case { const char* name; std::vector<uint8_t> bytes; const char* reason; };
    const Case refused[] = {
        {"RIFF header only", cut(good, 12), "WebP file is truncated"},
        {"lossless cut short", cut(good, good.size() - 20), "WebP file is truncated"},
        {"lossy cut short", cut(lossy, lossy.size() / 2), "WebP file is truncated"},
        {"damaged VP8L signature", flipped(good, 20), "WebP file could not be decoded: damaged header"},
        {"huge header, tiny stream", huge, "WebP needs more memory than allowed"},
    };
    for (const Case& c : refused) {
        Bitmap out;
        std::string why;
        LoadBudget budget = LoadBudget::ForInput(c.bytes.size());
        EXPECT_FALSE(DecodeWebp(c.bytes.data(), c.bytes.size(), out, budget, &why)) << c.name;
        EXPECT_EQ(why.rfind(c.reason, 0), 0u) << c.name << ": " << why;
        EXPECT_TRUE(out.empty()) << c.name;
        StdPicture picture;
        const PictureResult result = LoadPictureFromMemory(c.bytes.data(), c.bytes.size(), picture);
        EXPECT_EQ(result.kind, PictureError::Undecodable) << c.name;
    }
}
