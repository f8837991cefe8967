#include "imaging/GifPicture.h"

#include <exception>

#include "imaging/cGif.h"

namespace tarnel {

bool DecodeGifPicture(const uint8_t* data, size_t size, Bitmap& out) {
    out.clear();
    try {
        cGif gif;
        if (!gif.LoadFromStream(data, size) || gif.FramesCount() < 1) return false;
        int width = gif.ScreenWidth(), height = gif.ScreenHeight();
        // Some writers leave the screen size at zero; the first frame's extent stands in.
        if (width <= 0) width = gif.FrameLeft(1) + gif.FrameDIBXOR(1).Width();
        if (height <= 0) height = gif.FrameTop(1) + gif.FrameDIBXOR(1).Height();
        if (!out.create(width, height, 32, true)) return false;

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
        out.clear();
        return false;
    }
}

}  // namespace tarnel
