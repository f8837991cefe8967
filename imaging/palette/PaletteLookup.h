#pragma once
// Exact nearest-entry search in a palette of up to 256 colours, fast enough
// for every pixel of a large frame. RGB space is cut into 32 x 32 x 32 cells;
// a cell, on its first use, lists the few entries that can be nearest to any
// colour inside it (found among those of its 16 x 16 x 16 parent cell), so a
// lookup measures only those, four at a time. A cache of 32K whole colours
// answers the colours seen before.
#include <array>
#include <cstdint>
#include <vector>

#include "platform/gdi.h"

namespace tarnel {

class PaletteLookup {
public:
    PaletteLookup() = default;

    // Searches the first `count` entries (held to 0 … 256). Forgets every cell
    // unless the entries are the ones already in use.
    void SetPalette(const RGBQuad* entries, int count);
    int Count() const { return count_; }

    // Index of the entry nearest to (r, g, b) (each 0 … 255) by squared RGB
    // distance, ties to the lowest index; 0 when the palette is empty.
    uint8_t Nearest(int r, int g, int b) {
        if (count_ <= 1) return 0;  // also before any palette, while the cache is not there yet
        const uint32_t colour = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
        const uint32_t slot = (colour * 2654435761u) >> (32 - kCacheBits);
        if (cacheTags_[slot] == (colour | kValid)) return cacheIndices_[slot];
        const uint8_t index = search(r, g, b);
        cacheTags_[slot] = colour | kValid;
        cacheIndices_[slot] = index;
        return index;
    }

    // The same, trying `hint` first: an entry less than half its gap to the
    // next entry away from the colour is the nearest. Neighbouring pixels
    // mostly share an entry, so the hint is the previous pixel's.
    uint8_t NearestFrom(int r, int g, int b, uint8_t hint) {
        const int dr = r - red_[hint], dg = g - green_[hint], db = b - blue_[hint];
        if (4 * (dr * dr + dg * dg + db * db) < gap_[hint]) return hint;
        return Nearest(r, g, b);
    }

private:
    static constexpr int kCacheBits = 15;
    static constexpr uint32_t kValid = 0x80000000u;
    static constexpr uint32_t kUnbuilt = 0xFFFFFFFFu;

    uint8_t search(int r, int g, int b);
    uint32_t buildCell(uint32_t cell);
    uint32_t buildParent(uint32_t parent);
    // The candidates of `from` that can be nearest somewhere in the box of
    // side `side` at (r0, g0, b0).
    void narrow(const uint8_t* from, size_t n, int r0, int g0, int b0, int side, std::vector<uint8_t>& out) const;

    int count_ = 0;
    std::array<RGBQuad, 256> entries_{};
    std::array<int, 256> red_{}, green_{}, blue_{};
    // Per entry: squared distance to the nearest other entry (0 for none, or
    // beyond the count, so that such a hint is never taken).
    std::array<int, 256> gap_{};
    // Per cell: first candidate << 9 | candidate count (a multiple of 4), or kUnbuilt.
    std::vector<uint32_t> cells_;
    // Per candidate: red, green, blue, 0 as 16-bit lanes, and its index.
    std::vector<int16_t> coords_;
    std::vector<uint32_t> indices_;
    // Per parent cell: first index in parentPool_ << 9 | count, or kUnbuilt.
    std::vector<uint32_t> parents_;
    std::vector<uint8_t> parentPool_;
    std::vector<uint8_t> scratch_;
    // Made by the first SetPalette: a converter that never reduces to an
    // exact palette (most imports) should not pay for 160 KB of cache.
    std::vector<uint32_t> cacheTags_;
    std::vector<uint8_t> cacheIndices_;
};

}  // namespace tarnel
