#include "imaging/palette/SerpentineDither.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarnel {

namespace {

constexpr int kOrderedOffset[4][4] = {{-7, 1, -5, 3}, {5, -3, 7, -1}, {-4, 4, -6, 2}, {8, 0, 6, -2}};
// Of each pixel's error, 14/16 travels on: the full error, carried over
// hundreds of entries, adds more noise than it takes away banding.
constexpr int kCarried = 14;

inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

void nearestRows(const Bitmap& source, Bitmap& target, PaletteLookup& lookup) {
    const int width = source.width(), height = source.height();
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = source.scanline(y);
        uint8_t* t = target.scanline(y);
        // Runs of one colour are common: the previous answer serves them.
        uint32_t last = 0xFFFFFFFFu;
        uint8_t lastIndex = 0;
        for (int x = 0; x < width; ++x, s += 4) {
            const uint32_t v = uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16;
            if (v != last) {
                last = v;
                lastIndex = lookup.Nearest(s[2], s[1], s[0]);
            }
            t[x] = lastIndex;
        }
    }
}

void orderedRows(const Bitmap& source, Bitmap& target, PaletteLookup& lookup) {
    const int width = source.width(), height = source.height();
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = source.scanline(y);
        uint8_t* t = target.scanline(y);
        const int* offsets = kOrderedOffset[y & 3];
        for (int x = 0; x < width; ++x, s += 4) {
            const int o = offsets[x & 3];
            t[x] = lookup.Nearest(clamp255(s[2] + o), clamp255(s[1] + o), clamp255(s[0] + o));
        }
    }
}

// Errors are kept in 256ths (sixteenths of the carried part, itself in
// sixteenths) in two rows of (red, green, blue) with a guard pixel at each
// end, so the neighbours need no bounds tests.
void serpentineRows(const Bitmap& source, Bitmap& target, PaletteLookup& lookup, const RGBQuad* entries) {
    const int width = source.width(), height = source.height();
    const size_t span = 3 * size_t(width + 2);
    std::vector<int32_t> rowA(span, 0), rowB(span, 0);
    int32_t* cur = rowA.data();
    int32_t* next = rowB.data();
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = source.scanline(y);
        uint8_t* t = target.scanline(y);
        const bool forward = (y & 1) == 0;
        const int step = forward ? 1 : -1;
        const ptrdiff_t ahead = 3 * step;
        int x = forward ? 0 : width - 1;
        uint8_t last = 0;
        for (int i = 0; i < width; ++i, x += step) {
            const uint8_t* p = s + 4 * size_t(x);
            int32_t* e = cur + 3 * size_t(x + 1);
            int32_t* below = next + 3 * size_t(x + 1);
            const int r = clamp255(p[2] + ((e[0] + 128) >> 8));
            const int g = clamp255(p[1] + ((e[1] + 128) >> 8));
            const int b = clamp255(p[0] + ((e[2] + 128) >> 8));
            const uint8_t index = last = lookup.NearestFrom(r, g, b, last);
            t[x] = index;
            const int er = kCarried * (r - entries[index].red), eg = kCarried * (g - entries[index].green),
                      eb = kCarried * (b - entries[index].blue);
            e[ahead + 0] += 7 * er;
            e[ahead + 1] += 7 * eg;
            e[ahead + 2] += 7 * eb;
            below[-ahead + 0] += 3 * er;
            below[-ahead + 1] += 3 * eg;
            below[-ahead + 2] += 3 * eb;
            below[0] += 5 * er;
            below[1] += 5 * eg;
            below[2] += 5 * eb;
            below[ahead + 0] += er;
            below[ahead + 1] += eg;
            below[ahead + 2] += eb;
        }
        std::swap(cur, next);
        std::fill(next, next + span, 0);
        // What fell off the ends is dropped, not carried into the next row.
        std::fill(cur, cur + 3, 0);
        std::fill(cur + span - 3, cur + span, 0);
    }
}

}  // namespace

void ReduceToPalette(const Bitmap& source, Bitmap& target, PaletteLookup& lookup, const RGBQuad* entries,
                     int32_t method) {
    if (source.bpp() != 32 || target.bpp() != 8 || source.width() != target.width() ||
        source.height() != target.height())
        return;
    if (lookup.Count() == 0) {
        for (int y = 0; y < target.height(); ++y) std::memset(target.scanline(y), 0, size_t(target.width()));
        return;
    }
    switch (method) {
        case 0: nearestRows(source, target, lookup); break;
        case 1: orderedRows(source, target, lookup); break;
        default: serpentineRows(source, target, lookup, entries); break;
    }
}

}  // namespace tarnel
