// GIF container: any bytes load cleanly or not at all; what loads draws,
// saves, and reads back to the same pixels; the whole-animation operations
// and picture loading run on it too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/gif/GifPicture.h"
#include "imaging/gif/cGif.h"
#include "imaging/gif/mGIFExt.h"

using namespace tarnel;

namespace {

// Loading takes any size the budget allows, as in the product; drawing and
// coding every pixel again afterwards is only done for smaller animations
// (three saves and four whole-animation passes: at 2^16 pixels they still
// held the target to a few hundred executions a second, and larger frames
// take no path that smaller ones do not).
constexpr int64_t kMaxWorkPixels = 1 << 14;
// Frames are drawn onto a screen smaller than many of them, so that clipping
// is taken as often as not.
constexpr int kScreenSide = 96;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bitmap picture;
    DecodeGifPicture(data, size, picture);

    cGif gif;
    if (!gif.LoadFromStream(data, size)) {
        check(gif.FramesCount() == 0 && gif.CommentsCount() == 0);
        return 0;
    }
    int64_t pixels = 0;
    for (int n = 1; n <= gif.FramesCount(); ++n)
        pixels += int64_t(gif.FrameDIBXOR(n).Width()) * gif.FrameDIBXOR(n).Height();
    if (pixels > kMaxWorkPixels) return 0;

    GcDIB screen;
    if (screen.Create(kScreenSide, kScreenSide, 32)) {
        for (int n = 1; n <= gif.FramesCount(); ++n) {
            gif.FrameDraw(screen.hDIBDC(), n, 0, 0, 1.0f, true);
            gif.FrameDraw(screen.hDIBDC(), n, -3, 5, 0.37f, false);
        }
    }

    std::vector<uint8_t> saved;
    if (gif.SaveToStream(saved)) {
        cGif back;
        check(back.LoadFromStream(saved));
        check(back.FramesCount() == gif.FramesCount());
        for (int n = 1; n <= gif.FramesCount(); ++n) {
            const GcDIB& a = gif.FrameDIBXOR(n);
            const GcDIB& b = back.FrameDIBXOR(n);
            check(a.Width() == b.Width() && a.Height() == b.Height());
            for (int y = 0; y < a.Height(); ++y)
                check(std::memcmp(a.bitmap()->scanline(y), b.bitmap()->scanline(y), size_t(a.Width())) == 0);
        }
    }

    OptimizePalette(gif, nullptr);
    SortPaletteByUse(gif, nullptr);
    OptimizeFrames(gif, nullptr);
    SetFramesTransparency(gif, true, data[size / 2], nullptr);
    gif.SaveToStream(saved);
    GifSaveOptions smallest;
    smallest.smallestDelta = true;
    if (gif.SaveToStream(saved, smallest)) {
        cGif back;
        check(back.LoadFromStream(saved));
        check(back.FramesCount() == gif.FramesCount());
    }
    return 0;
}
