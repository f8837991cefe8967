// A morph run's frame folder into the GIF container: the three frame kinds,
// and the folders that cannot be read, each with a one-line reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "imaging/gif/cGif.h"
#include "output/FrameFolderImport.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::TempDir;

namespace {

// Cube colours, so the nearest-colour reduction keeps them exactly.
constexpr uint32_t kColours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x336699};

StdPicture frameOf(int k, int w = 12, int h = 8) {
    return test::makePicture(w, h, [k](int x, int) { return kColours[(x / 3 + k) % 4]; });
}

// Writes frame k of the kind (0 BMP, 1 JPG, 2 GIF) under `name`.
void writeFrame(const std::string& path, int kind, const StdPicture& picture) {
    if (kind == 0) {
        ASSERT_TRUE(SavePictureBMP(picture, path));
    } else if (kind == 1) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(EncodeJpeg(*picture.bitmap, 95, 0, -1, bytes));
        test::writeFile(path, bytes);
    } else {
        // A one-frame GIF whose palette holds the picture's colours.
        cGif gif;
        const Bitmap& b = *picture.bitmap;
        ASSERT_TRUE(gif.FrameInsert(1, b.width(), b.height()));
        gif.SetScreenWidth(int16_t(b.width()));
        gif.SetScreenHeight(int16_t(b.height()));
        gif.SetGlobalPaletteExists(true);
        gif.SetGlobalPaletteEntries(4);
        for (int i = 0; i < 4; ++i)
            test::setEntry(gif.lpGlobalPalette(), i, uint8_t(kColours[i] >> 16), uint8_t(kColours[i] >> 8),
                           uint8_t(kColours[i]));
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x) {
                const uint32_t rgb = b.pixelValue(x, y) & 0xFFFFFF;
                int i = 0;
                while (i < 3 && kColours[i] != rgb) ++i;
                gif.FrameDIBXOR(1).bitmap()->scanline(y)[x] = uint8_t(i);
            }
        ASSERT_TRUE(gif.Save(path));
    }
}

const char* const kExtensions[] = {".bmp", ".jpg", ".gif"};

std::string frameName(int k, int kind) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d%s", k, kExtensions[kind]);
    return name;
}

class FrameFolderImport : public ::testing::Test {
protected:
    bool import(const std::string& folder, cGif& gif, std::string& error, int16_t delay = 7) {
        return ImportFrameFolder(folder, gif, nullptr, GifQuality{}, delay, &error);
    }
    TempDir dir_;
};

TEST_F(FrameFolderImport, EveryKindOfFrame) {
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kExtensions[kind]);
        const std::string folder = dir_.file("kind" + std::to_string(kind));
        std::filesystem::create_directory(folder);
        for (int k = 0; k < 3; ++k) writeFrame(folder + "/" + frameName(k, kind), kind, frameOf(k));
        cGif gif;
        std::string error;
        ASSERT_TRUE(import(folder, gif, error)) << error;
        ASSERT_EQ(gif.FramesCount(), 3);
        EXPECT_EQ(gif.ScreenWidth(), 12);
        EXPECT_EQ(gif.ScreenHeight(), 8);
        EXPECT_EQ(gif.GlobalPaletteEntries(), 216);
        for (int n = 1; n <= 3; ++n) {
            EXPECT_EQ(gif.FrameDelay(n), 7);
            EXPECT_EQ(gif.FrameDisposalMethod(n), 3);
        }
        if (kind == 1) continue;  // JPEG colours are near, not exact
        for (int n = 1; n <= 3; ++n)
            for (int x = 0; x < 12; x += 3) {
                const uint8_t index = gif.FrameDIBXOR(n).bitmap()->scanline(4)[x];
                EXPECT_EQ(gif.GlobalPaletteRGBEntry(index), RGBColor(uint8_t(kColours[(x / 3 + n - 1) % 4] >> 16),
                                                                     uint8_t(kColours[(x / 3 + n - 1) % 4] >> 8),
                                                                     uint8_t(kColours[(x / 3 + n - 1) % 4])))
                    << "frame " << n << " x " << x;
            }
    }
}

TEST_F(FrameFolderImport, OtherFilesBesideTheFramesAreLeftAlone) {
    const std::string folder = dir_.path().string();
    for (int k = 0; k < 2; ++k) writeFrame(folder + "/" + frameName(k, 0), 0, frameOf(k));
    test::writeText(folder + "/notes.txt", "not a frame\n");
    writeFrame(folder + "/5.bmp", 0, frameOf(5));        // not a frame name
    writeFrame(folder + "/004.jpg", 1, frameOf(4));      // another kind than frame 000
    cGif gif;
    std::string error;
    ASSERT_TRUE(import(folder, gif, error)) << error;
    EXPECT_EQ(gif.FramesCount(), 2);
}

TEST_F(FrameFolderImport, FoldersThatCannotBeReadSayWhy) {
    struct Case {
        const char* name;
        std::function<void(const std::string& folder)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"missing folder", [](const std::string&) {}, "no such folder"},
        {"empty folder", [](const std::string& f) { std::filesystem::create_directory(f); },
         "no frame 000.bmp, 000.jpg, 000.gif or 000.png in the folder"},
        {"a gap", [](const std::string& f) {
             std::filesystem::create_directory(f);
             for (int k : {0, 1, 3, 4}) writeFrame(f + "/" + frameName(k, 0), 0, frameOf(k));
         },
         "frame 002.bmp is missing before frame 003.bmp"},
        {"a frame that is not a picture", [](const std::string& f) {
             std::filesystem::create_directory(f);
             writeFrame(f + "/000.bmp", 0, frameOf(0));
             test::writeText(f + "/001.bmp", "text\n");
         },
         "frame 001.bmp is not a picture that can be read"},
        {"a frame of another size", [](const std::string& f) {
             std::filesystem::create_directory(f);
             writeFrame(f + "/000.gif", 2, frameOf(0));
             writeFrame(f + "/001.gif", 2, frameOf(1, 8, 6));
         },
         "frame 001.gif is 8x6, frame 000.gif 12x8"},
        {"a file, not a folder", [](const std::string& f) { test::writeText(f, "x"); }, "no such folder"},
    };
    int k = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir_.file("case" + std::to_string(k++));
        c.make(folder);
        cGif gif;
        std::string error;
        EXPECT_FALSE(import(folder, gif, error));
        EXPECT_EQ(error, c.reason);
    }
}

}  // namespace

// The all-frames palettes see colours that only later frames hold; the
// refined one keeps a few flat colours exactly.
TEST_F(FrameFolderImport, PalettesOfAllFramesHoldLaterColours) {
    const uint32_t flat[] = {0xC81E0A, 0x143CC8, 0x28B428};
    const std::string folder = dir_.file("flat");
    std::filesystem::create_directory(folder);
    for (int k = 0; k < 3; ++k)
        writeFrame(folder + "/" + frameName(k, 0), 0, test::makePicture(12, 8, [&](int, int) { return flat[k]; }));
    auto shown = [](const cGif& gif, int n) {
        const ColorRef c = gif.GlobalPaletteRGBEntry(gif.FrameDIBXOR(n).bitmap()->scanline(4)[5]);
        return uint32_t(RedOf(c)) << 16 | uint32_t(GreenOf(c)) << 8 | BlueOf(c);
    };
    auto distance = [](uint32_t a, uint32_t b) {
        int d = 0;
        for (int shift : {0, 8, 16}) d = std::max(d, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
        return d;
    };
    const struct {
        GifPaletteChoice choice;
        int worstLater;  // how far frames 2 and 3 may be from their colour
    } cases[] = {{GifPaletteChoice::AdaptiveAll, 24}, {GifPaletteChoice::AdaptiveHq, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.choice));
        cGif gif;
        std::string error;
        ASSERT_TRUE(ImportFrameFolder(folder, gif, nullptr, GifQuality{c.choice, 0}, 5, &error)) << error;
        ASSERT_EQ(gif.FramesCount(), 3);
        for (int n = 2; n <= 3; ++n) EXPECT_LE(distance(shown(gif, n), flat[n - 1]), c.worstLater) << "frame " << n;
    }
}
