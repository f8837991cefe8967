#include "imaging/gif/GifPicture.h"

#include <exception>

#include "imaging/gif/cGif.h"

namespace tarnel {

bool DecodeGifPicture(const uint8_t* data, size_t size, Bitmap& out) {
    LoadBudget budget = LoadBudget::ForInput(size);
    return DecodeGifPicture(data, size, out, budget);
}

bool DecodeGifPicture(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    out.clear();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        out.clear();
        return false;
    };
    try {
        cGif gif;
        if (!gif.LoadFirstImage(data, size, budget)) return fail(gif.LoadError());
        if (gif.FramesCount() < 1) return fail("no image");
        int width = gif.ScreenWidth(), height = gif.ScreenHeight();
        // Some writers leave the screen size at zero; the first frame's extent stands in.
        if (width <= 0) width = gif.FrameLeft(1) + gif.FrameDIBXOR(1).Width();
        if (height <= 0) height = gif.FrameTop(1) + gif.FrameDIBXOR(1).Height();
        // The screen is not proven by any data: the budget alone bounds it.
        if (!Bitmap::sizeAllowed(width, height)) return fail("screen size out of range");
        if (!budget.Reserve(SurfaceBytes(width, height, 32))) return fail("the screen needs more memory than allowed");
        if (!out.create(width, height, 32, true)) return fail("screen size out of range");

        ColorRef background = 0;
        if (gif.GlobalPaletteExists()) background = gif.GlobalPaletteRGBEntry(gif.ScreenBackgroundColorIndex());
        const uint32_t pixel = uint32_t(BlueOf(background)) | (uint32_t(GreenOf(background)) << 8) |
                               (uint32_t(RedOf(background)) << 16);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(out.scanline(y));
            for (int x = 0; x < width; ++x) row[x] = pixel;
        }
        // Drawing clips at the bitmap's edges, which is the screen.
        DC dc;
        dc.select(&out);
        gif.FrameDraw(&dc, 1, 0, 0, 1.0f, false);
        return true;
    } catch (const std::exception&) {
        return fail("out of memory");
    }
}

}  // namespace tarnel
