// Area-averaged resizing of animation frames, against Pillow's box filter.
#include <gtest/gtest.h>

#include "core/AreaResize.h"
#include "imaging/PictureIO.h"
#include "support/PhotoImages.h"
#include "support/FFprobe.h"
#include "support/Pillow.h"
#include "support/TempDir.h"

using namespace tarnel;

namespace {

// The size forms --size takes, and the sizes they give for a source.
struct SizeCase {
    const char* text;
    bool valid;
    int sourceWidth, sourceHeight;
    int width, height;  // resolved
};

class FrameSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FrameSizes, ParseAndResolve) {
    const SizeCase c = GetParam();
    const std::optional<FrameSizeRequest> r = ParseFrameSize(c.text);
    ASSERT_EQ(r.has_value(), c.valid) << c.text;
    if (!r) return;
    int w = 0, h = 0;
    ResolveFrameSize(*r, c.sourceWidth, c.sourceHeight, w, h);
    EXPECT_EQ(w, c.width) << c.text;
    EXPECT_EQ(h, c.height) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameSizes,
                         ::testing::Values(SizeCase{"480x270", true, 1920, 1080, 480, 270},
                                           SizeCase{"480x", true, 1920, 1080, 480, 270},
                                           SizeCase{"x270", true, 1920, 1080, 480, 270},
                                           SizeCase{"x10", true, 33, 25, 13, 10},
                                           SizeCase{"1x", true, 5, 3, 1, 1},
                                           SizeCase{"200x", true, 100, 50, 200, 100},
                                           SizeCase{"640x480", true, 20, 10, 640, 480},
                                           SizeCase{"x", false, 0, 0, 0, 0},
                                           SizeCase{"", false, 0, 0, 0, 0},
                                           SizeCase{"480", false, 0, 0, 0, 0},
                                           SizeCase{"0x10", false, 0, 0, 0, 0},
                                           SizeCase{"10x0", false, 0, 0, 0, 0},
                                           SizeCase{"-4x10", false, 0, 0, 0, 0},
                                           SizeCase{"10x10x", false, 0, 0, 0, 0},
                                           SizeCase{"480X270", false, 0, 0, 0, 0},
                                           SizeCase{"99999999x1", false, 0, 0, 0, 0}));

// Our averaging against independent area reductions on photo-like
// pictures: Pillow's box filter for whole factors (where it averages exact
// areas), FFmpeg's area scaler for fractional ones and enlarging.
struct ResizeCase {
    const char* name;
    test::Photo photo;
    int sourceWidth, sourceHeight, width, height;
    int bpp;
    bool pillow;     // else FFmpeg
    double leastDb;  // PSNR against the reference
};

class AreaResizeReference : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(AreaResizeReference, MatchesAnAreaReduction) {
    const ResizeCase c = GetParam();
    if (c.pillow && !test::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    if (!c.pillow && !test::HaveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    GcDIB photo = test::makePhoto(c.photo, c.sourceWidth, c.sourceHeight);
    Bitmap source;
    ASSERT_TRUE(source.create(c.sourceWidth, c.sourceHeight, c.bpp, false));
    for (int y = 0; y < c.sourceHeight; ++y)
        for (int x = 0; x < c.sourceWidth; ++x) {
            const RGBQuad q = photo.bitmap()->pixelColor(x, y);
            uint8_t* p = source.scanline(y) + x * (c.bpp / 8);
            p[0] = q.blue;
            p[1] = q.green;
            p[2] = q.red;
        }
    ASSERT_TRUE(SavePictureBMP(source, dir.file("in.bmp")));
    const Bitmap reference = c.pillow
                                 ? test::PillowBoxResize(dir.file("in.bmp"), c.width, c.height, dir.path().string())
                                 : test::FFmpegAreaResize(dir.file("in.bmp"), c.width, c.height, dir.path().string());
    ASSERT_EQ(reference.width(), c.width);
    Bitmap ours;
    ASSERT_TRUE(AreaResize(source, c.width, c.height, ours));
    ASSERT_EQ(ours.width(), c.width);
    ASSERT_EQ(ours.height(), c.height);
    EXPECT_GT(test::RgbPsnr(ours, reference), c.leastDb);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AreaResizeReference,
    ::testing::Values(ResizeCase{"Quarter", test::Photo::Landscape, 640, 360, 160, 90, 32, true, 50},
                      ResizeCase{"WidthOnly", test::Photo::Portrait, 400, 300, 8, 300, 32, true, 50},
                      ResizeCase{"Fractional", test::Photo::Stripes, 500, 300, 333, 123, 24, false, 45},
                      ResizeCase{"FractionalPhoto", test::Photo::Landscape, 480, 270, 333, 187, 32, false, 45},
                      ResizeCase{"EnlargedThrice", test::Photo::Plasma, 61, 37, 183, 111, 24, true, 50}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
