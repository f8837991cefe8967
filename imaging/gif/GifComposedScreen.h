#pragma once
// The logical screen as a decoder composites it while the frames of a GIF
// play, kept in colours rather than indices (frames may bring their own
// tables). A pixel is known only where every decoder must agree on it: the
// screen starts unknown, and a restore to the background makes it unknown
// again, since decoders differ on what the background is.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnel {

class GifComposedScreen {
public:
    // The colour each index of a frame shows: 0x00RRGGBB, or kUnknown for an
    // index beyond the table written (nothing can be said of its colour).
    using Colours = std::array<uint32_t, 256>;
    static constexpr uint32_t kUnknown = 0xFFFFFFFF;

    // One 8-bpp frame placed on the screen: `pixels` is its top row, the next
    // row `stride` bytes on (negative for a bottom-up surface).
    struct Frame {
        const uint8_t* pixels = nullptr;
        ptrdiff_t stride = 0;
        int left = 0, top = 0, width = 0, height = 0;
    };

    GifComposedScreen(int width, int height);

    // Replaces, in a frame about to be drawn, every pixel whose colour is
    // already known to show beneath it by `transparent`; `pixels` is
    // frame.pixels, writable. Gives the number replaced.
    size_t ClearUnchanged(uint8_t* pixels, const Frame& frame, const Colours& colours, uint8_t transparent) const;
    // Draws the frame (its transparent index, or -1 for none, is skipped) and
    // applies its disposal, leaving the screen the next frame is drawn on.
    void Draw(const Frame& frame, const Colours& colours, int transparent, uint8_t disposal);

private:
    // Cells hold the colour with kKnownBit set, or 0 when unknown.
    static constexpr uint32_t kKnownBit = 0x01000000;
    // The part of the frame inside the screen, in frame coordinates.
    struct Span {
        int x0, y0, x1, y1;
        bool empty() const { return x0 >= x1 || y0 >= y1; }
    };
    Span clip(const Frame& frame) const;

    int width_, height_;
    std::vector<uint32_t> cells_;
};

}  // namespace tarnel
