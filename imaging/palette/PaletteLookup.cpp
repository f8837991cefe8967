#include "imaging/palette/PaletteLookup.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnel {

void PaletteLookup::SetPalette(const RGBQuad* entries, int count) {
    count = std::clamp(count, 0, 256);
    const bool same = count == count_ && !cells_.empty() &&
                      std::memcmp(entries_.data(), entries, size_t(count) * sizeof(RGBQuad)) == 0;
    if (same) return;
    count_ = count;
    entries_.fill(RGBQuad{});
    std::copy_n(entries, count, entries_.begin());
    for (size_t i = 0; i < 256; ++i) {
        red_[i] = entries_[i].red;
        green_[i] = entries_[i].green;
        blue_[i] = entries_[i].blue;
    }
    gap_.fill(0);
    for (int a = 0; a < count; ++a) {
        int least = count > 1 ? 1 << 30 : 0;
        for (int b = 0; b < count; ++b) {
            if (a == b) continue;
            const int dr = red_[size_t(a)] - red_[size_t(b)], dg = green_[size_t(a)] - green_[size_t(b)],
                      db = blue_[size_t(a)] - blue_[size_t(b)];
            least = std::min(least, dr * dr + dg * dg + db * db);
        }
        gap_[size_t(a)] = least;
    }
    cells_.assign(size_t(1) << 15, kUnbuilt);
    parents_.assign(size_t(1) << 12, kUnbuilt);
    coords_.clear();
    indices_.clear();
    parentPool_.clear();
    cacheTags_.assign(size_t(1) << kCacheBits, 0u);
    cacheIndices_.resize(size_t(1) << kCacheBits);
}

// Distances and indices are compared as one key, distance << 8 | index, so
// the smallest key is the nearest entry with ties to the lowest index.
uint8_t PaletteLookup::search(int r, int g, int b) {
    if (count_ <= 1) return 0;
    const uint32_t cell = uint32_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    uint32_t slot = cells_[cell];
    if (slot == kUnbuilt) slot = buildCell(cell);
    const size_t first = slot >> 9;
    const uint32_t n = slot & 0x1FF;
    const int16_t* c = coords_.data() + 4 * first;
    const uint32_t* k = indices_.data() + first;
#if defined(__SSE2__)
    const __m128i pixel = _mm_setr_epi16(int16_t(r), int16_t(g), int16_t(b), 0, int16_t(r), int16_t(g), int16_t(b), 0);
    __m128i best = _mm_set1_epi32(0x7FFFFFFF);
    for (uint32_t i = 0; i < n; i += 4, c += 16, k += 4) {
        const __m128i d0 = _mm_sub_epi16(pixel, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c)));
        const __m128i d1 = _mm_sub_epi16(pixel, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8)));
        // Per candidate: red² + green² in one lane, blue² in the next.
        const __m128 s0 = _mm_castsi128_ps(_mm_madd_epi16(d0, d0));
        const __m128 s1 = _mm_castsi128_ps(_mm_madd_epi16(d1, d1));
        const __m128i lo = _mm_castps_si128(_mm_shuffle_ps(s0, s1, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i hi = _mm_castps_si128(_mm_shuffle_ps(s0, s1, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m128i key = _mm_or_si128(_mm_slli_epi32(_mm_add_epi32(lo, hi), 8),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(k)));
        const __m128i smaller = _mm_cmplt_epi32(key, best);
        best = _mm_or_si128(_mm_and_si128(smaller, key), _mm_andnot_si128(smaller, best));
    }
    // The smallest lane, kept in registers.
    auto least = [](__m128i a, __m128i b) {
        const __m128i smaller = _mm_cmplt_epi32(a, b);
        return _mm_or_si128(_mm_and_si128(smaller, a), _mm_andnot_si128(smaller, b));
    };
    best = least(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(1, 0, 3, 2)));
    best = least(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(2, 3, 0, 1)));
    const uint32_t result = uint32_t(_mm_cvtsi128_si32(best));
#else
    uint32_t result = 0x7FFFFFFF;
    for (uint32_t i = 0; i < n; ++i, c += 4) {
        const int dr = r - c[0], dg = g - c[1], db = b - c[2];
        result = std::min(result, uint32_t(dr * dr + dg * dg + db * db) << 8 | k[i]);
    }
#endif
    return uint8_t(result & 0xFF);
}

void PaletteLookup::narrow(const uint8_t* from, size_t n, int r0, int g0, int b0, int side,
                           std::vector<uint8_t>& out) const {
    // Squared distance from each entry to the nearest and the farthest point
    // of the box, over gathered coordinates so that the loops vectorise.
    int cr[256], cg[256], cb[256], dMin[256], dMax[256];
    for (size_t i = 0; i < n; ++i) {
        cr[i] = red_[from[i]];
        cg[i] = green_[from[i]];
        cb[i] = blue_[from[i]];
    }
    const int hiR = r0 + side - 1, hiG = g0 + side - 1, hiB = b0 + side - 1;
    auto outside = [](int v, int low, int high) { return std::max(low - v, 0) + std::max(v - high, 0); };
    auto across = [](int v, int low, int high) { return std::max(v - low, high - v); };
    for (size_t i = 0; i < n; ++i) {
        const int nr = outside(cr[i], r0, hiR), ng = outside(cg[i], g0, hiG), nb = outside(cb[i], b0, hiB);
        const int fr = across(cr[i], r0, hiR), fg = across(cg[i], g0, hiG), fb = across(cb[i], b0, hiB);
        dMin[i] = nr * nr + ng * ng + nb * nb;
        dMax[i] = fr * fr + fg * fg + fb * fb;
    }
    int bound = 1 << 30;
    for (size_t i = 0; i < n; ++i) bound = std::min(bound, dMax[i]);
    // Whatever colour of the box is looked up, its nearest entry is no farther
    // than `bound`, so entries whose nearest point lies beyond cannot win.
    out.resize(n);
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        out[kept] = from[i];
        kept += dMin[i] <= bound ? 1 : 0;
    }
    out.resize(kept);
}

uint32_t PaletteLookup::buildParent(uint32_t parent) {
    std::array<uint8_t, 256> all{};
    std::iota(all.begin(), all.end(), uint8_t(0));
    narrow(all.data(), size_t(count_), int(parent >> 8) << 4, int((parent >> 4) & 15) << 4, int(parent & 15) << 4, 16,
           scratch_);
    const uint32_t slot = uint32_t(parentPool_.size()) << 9 | uint32_t(scratch_.size());
    parentPool_.insert(parentPool_.end(), scratch_.begin(), scratch_.end());
    parents_[parent] = slot;
    return slot;
}

uint32_t PaletteLookup::buildCell(uint32_t cell) {
    const int r0 = int(cell >> 10) << 3, g0 = int((cell >> 5) & 31) << 3, b0 = int(cell & 31) << 3;
    const uint32_t parent = uint32_t((r0 >> 4) << 8 | (g0 >> 4) << 4 | (b0 >> 4));
    uint32_t parentSlot = parents_[parent];
    if (parentSlot == kUnbuilt) parentSlot = buildParent(parent);
    // A colour of this cell is a colour of its parent: its nearest entry is
    // among the parent's candidates.
    narrow(parentPool_.data() + (parentSlot >> 9), parentSlot & 0x1FF, r0, g0, b0, 8, scratch_);
    const size_t first = indices_.size();
    for (uint8_t k : scratch_) {
        coords_.insert(coords_.end(), {int16_t(red_[k]), int16_t(green_[k]), int16_t(blue_[k]), 0});
        indices_.push_back(k);
    }
    // Padded to whole groups of four with copies of the first candidate.
    while ((indices_.size() - first) % 4 != 0) {
        const int16_t copy[4] = {coords_[4 * first], coords_[4 * first + 1], coords_[4 * first + 2], 0};
        coords_.insert(coords_.end(), copy, copy + 4);
        indices_.push_back(indices_[first]);
    }
    const uint32_t slot = uint32_t(first) << 9 | uint32_t(indices_.size() - first);
    cells_[cell] = slot;
    return slot;
}

}  // namespace tarnel
