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

}  // namespace tarnel::test
