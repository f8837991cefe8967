#include "support/GifCompositor.h"

namespace tarnel::test {

std::vector<std::vector<uint32_t>> CompositeFrames(const GiflibReader& gif) {
    const int w = gif->SWidth, h = gif->SHeight;
    std::vector<uint32_t> screen(size_t(w) * size_t(h), kUnsetPixel);
    std::vector<std::vector<uint32_t>> shown;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        const GifImageDesc& d = image.ImageDesc;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        const GraphicsControlBlock control = gif.gcb(i);
        const std::vector<uint32_t> before = screen;
        // Visits the frame's pixels that fall on the screen.
        auto forEach = [&](auto&& f) {
            for (int y = 0; y < d.Height; ++y)
                for (int x = 0; x < d.Width; ++x) {
                    const int sx = d.Left + x, sy = d.Top + y;
                    if (sx < w && sy < h) f(size_t(sy) * size_t(w) + size_t(sx), image.RasterBits[y * d.Width + x]);
                }
        };
        forEach([&](size_t at, int index) {
            if (index == control.TransparentColor) return;
            if (!map || index >= map->ColorCount) {
                screen[at] = kOutOfTablePixel | uint32_t(index);
                return;
            }
            const GifColorType& c = map->Colors[index];
            screen[at] = (uint32_t(c.Red) << 16) | (uint32_t(c.Green) << 8) | c.Blue;
        });
        shown.push_back(screen);
        if (control.DisposalMode == DISPOSE_BACKGROUND) {
            forEach([&](size_t at, int) { screen[at] = kUnsetPixel; });
        } else if (control.DisposalMode == DISPOSE_PREVIOUS) {
            screen = before;
        }
    }
    return shown;
}

std::vector<std::vector<uint32_t>> CompositeFrames(const cGif& gif) {
    const int w = gif.ScreenWidth(), h = gif.ScreenHeight();
    std::vector<uint32_t> screen(size_t(w) * size_t(h), kUnsetPixel);
    std::vector<std::vector<uint32_t>> shown;
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        const bool local = gif.LocalPaletteUsed(n);
        const uint8_t* table = local ? gif.lpLocalPalette(n) : gif.lpGlobalPalette();
        const int entries = local ? gif.LocalPaletteEntries(n) : gif.GlobalPaletteExists() ? gif.GlobalPaletteEntries() : 0;
        const int transparent = gif.FrameUseTransparentColor(n) ? gif.FrameTransparentColorIndex(n) : -1;
        const Bitmap& image = *gif.FrameDIBXOR(n).bitmap();
        const int left = gif.FrameLeft(n), top = gif.FrameTop(n);
        const std::vector<uint32_t> before = screen;
        auto forEach = [&](auto&& f) {
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const int sx = left + x, sy = top + y;
                    if (sx < w && sy < h) f(size_t(sy) * size_t(w) + size_t(sx), image.scanline(y)[x]);
                }
        };
        forEach([&](size_t at, int index) {
            if (index == transparent) return;
            if (index >= entries) {
                screen[at] = kOutOfTablePixel | uint32_t(index);
                return;
            }
            const uint8_t* q = table + 4 * index;
            screen[at] = (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
        });
        shown.push_back(screen);
        if (gif.FrameDisposalMethod(n) == 2) {
            forEach([&](size_t at, int) { screen[at] = kUnsetPixel; });
        } else if (gif.FrameDisposalMethod(n) == 3) {
            screen = before;
        }
    }
    return shown;
}

}  // namespace tarnel::test
