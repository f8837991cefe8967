// The in-memory JPEG path against the BMP-file path it stands in for.
#include <gtest/gtest.h>

#include <filesystem>

#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::readFile;
using tarnel::test::TempDir;

namespace {

// A picture of any depth with varied colours; 32-bpp pictures get junk in
// their reserved bytes, which a BMP file does not keep.
Bitmap patterned(int w, int h, int bpp, bool topDown) {
    Bitmap b;
    EXPECT_TRUE(b.create(w, h, bpp, topDown));
    for (int i = 0; i < b.colorCount(); ++i)
        b.colorTable()[i] = RGBQuad{uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 73 + 5), 0};
    uint32_t s = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s = s * 1103515245u + 12345u;
            uint32_t v = (s >> 8) ^ uint32_t(x * 7 + y * 13);
            if (bpp == 32) {
                uint8_t* p = b.scanline(y) + 4 * x;
                p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
            } else {
                b.setPixelValue(x, y, bpp <= 8 ? v % uint32_t(b.colorCount()) : v);
            }
        }
    return b;
}

struct Params {
    int32_t subsampling, quality, options;
};

}  // namespace

TEST(JpegConvert, InMemoryBytesEqualThoseOfTheSavedBmp) {
    const struct {
        int bpp;
        bool topDown;
    } depths[] = {{32, true}, {32, false}, {24, false}, {16, true}, {8, false}, {4, true}, {1, false}};
    const Params params[] = {{-1, 100, -1}, {2, 75, kJpegProgressive}, {1, 40, kJpegFastDct}, {3, 90, -1}};
    TempDir dir;
    JpegEncoder encoder;  // one encoder for every case: its buffers carry over
    for (const auto& d : depths)
        for (const Params& p : params) {
            SCOPED_TRACE(testing::Message() << d.bpp << " bpp, top-down " << d.topDown << ", sampling "
                                            << p.subsampling << ", quality " << p.quality);
            const Bitmap picture = patterned(45 + d.bpp, 29, d.bpp, d.topDown);
            ASSERT_TRUE(SavePictureBMP(picture, dir.file("frame.bmp")));
            ASSERT_EQ(ConvertBMPtoJPG(dir.file("frame.bmp"), dir.file("file.jpg"), p.subsampling, p.quality,
                                      p.options),
                      kConvertOk);
            ASSERT_EQ(ConvertBitmapToJPG(picture, dir.file("memory.jpg"), p.subsampling, p.quality, p.options),
                      kConvertOk);
            const std::vector<uint8_t> expected = readFile(dir.file("file.jpg"));
            ASSERT_GT(expected.size(), 100u);
            EXPECT_EQ(readFile(dir.file("memory.jpg")), expected);
            std::vector<uint8_t> bytes{1, 2, 3};
            ASSERT_EQ(encoder.encode(picture, bytes, p.subsampling, p.quality, p.options), kConvertOk);
            EXPECT_EQ(bytes, expected);
        }
}

TEST(JpegConvert, AnEncoderGivesTheSameBytesWhateverItEncodedBefore) {
    const Bitmap small = patterned(16, 9, 32, true), large = patterned(300, 200, 32, true);
    const Params params[] = {{-1, 100, -1}, {2, 75, kJpegProgressive}, {-1, 100, kJpegProgressive | kJpegFastDct}};
    JpegEncoder reused;
    std::vector<uint8_t> bytes;
    // Each picture and setting twice in a row, then the next: sizes and
    // settings change under the reused handle and buffer.
    for (const Params& p : params)
        for (const Bitmap* picture : {&small, &small, &large, &large, &small}) {
            JpegEncoder fresh;
            std::vector<uint8_t> expected;
            ASSERT_EQ(fresh.encode(*picture, expected, p.subsampling, p.quality, p.options), kConvertOk);
            ASSERT_EQ(reused.encode(*picture, bytes, p.subsampling, p.quality, p.options), kConvertOk);
            EXPECT_EQ(bytes, expected) << p.options << " " << picture->width();
        }
}

TEST(JpegConvert, InMemoryFailuresReturnTheirCodeAndWriteNothing) {
    TempDir dir;
    const Bitmap picture = patterned(8, 8, 32, true);
    const struct {
        const char* name;
        Bitmap picture;
        std::string path;
        Params params;
        int result;
    } cases[] = {
        {"quality 0", picture, dir.file("a.jpg"), {-1, 0, -1}, kConvertBadArguments},
        {"sampling 4", picture, dir.file("a.jpg"), {4, 100, -1}, kConvertBadArguments},
        {"options 4", picture, dir.file("a.jpg"), {-1, 100, 4}, kConvertBadArguments},
        {"no path", picture, "", {-1, 100, -1}, kConvertBadArguments},
        {"empty picture", Bitmap{}, dir.file("a.jpg"), {-1, 100, -1}, kConvertEncodeFailed},
        {"folder missing", picture, dir.file("missing/a.jpg"), {-1, 100, -1}, kConvertWriteFailed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConvertBitmapToJPG(c.picture, c.path, c.params.subsampling, c.params.quality, c.params.options),
                  c.result)
            << c.name;
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << c.name;
    }
}
