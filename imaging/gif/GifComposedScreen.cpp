#include "imaging/gif/GifComposedScreen.h"

#include <algorithm>

namespace tarnel {

GifComposedScreen::GifComposedScreen(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), cells_(size_t(width_) * size_t(height_), 0) {}

GifComposedScreen::Span GifComposedScreen::clip(const Frame& f) const {
    // Pixels off the screen are never shown, so nothing is known of them.
    return {std::max(0, -f.left), std::max(0, -f.top), std::min(f.width, width_ - f.left),
            std::min(f.height, height_ - f.top)};
}

size_t GifComposedScreen::ClearUnchanged(uint8_t* pixels, const Frame& f, const Colours& colours,
                                         uint8_t transparent) const {
    // Cell values the indices would leave: a match needs a known cell, so an
    // index of unknown colour (0 here) never matches.
    std::array<uint32_t, 256> shown{};
    for (int i = 0; i < 256; ++i) shown[i] = colours[i] == kUnknown ? 0 : (colours[i] | kKnownBit);
    const Span s = clip(f);
    if (s.empty()) return 0;
    size_t replaced = 0;
    for (int y = s.y0; y < s.y1; ++y) {
        uint8_t* row = pixels + ptrdiff_t(y) * f.stride;
        const uint32_t* cell = cells_.data() + size_t(f.top + y) * size_t(width_) + size_t(f.left);
        for (int x = s.x0; x < s.x1; ++x) {
            const uint32_t c = cell[x];
            if (c != 0 && c == shown[row[x]]) {
                row[x] = transparent;
                ++replaced;
            }
        }
    }
    return replaced;
}

void GifComposedScreen::Draw(const Frame& f, const Colours& colours, int transparent, uint8_t disposal) {
    const Span s = clip(f);
    if (s.empty()) return;
    // Restoring what was there before leaves the screen as this frame found it.
    if (disposal == 3) return;
    const bool keep = disposal == 0 || disposal == 1;
    for (int y = s.y0; y < s.y1; ++y) {
        const uint8_t* row = f.pixels + ptrdiff_t(y) * f.stride;
        uint32_t* cell = cells_.data() + size_t(f.top + y) * size_t(width_) + size_t(f.left);
        for (int x = s.x0; x < s.x1; ++x) {
            if (!keep) {
                // Restore to the background, or a disposal no decoder agrees on.
                cell[x] = 0;
            } else if (row[x] != transparent) {
                const uint32_t c = colours[row[x]];
                cell[x] = c == kUnknown ? 0 : (c | kKnownBit);
            }
        }
    }
}

}  // namespace tarnel
