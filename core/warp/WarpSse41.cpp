// The triangle run with SSE4.1: four pixels per step (doubles two at a time),
// lanes outside the triangle or past the scanline left unwritten. Built with
// -msse4.1 -ffp-contract=off and used only when the CPU has SSE4.1.
#include "core/warp/WarpKernels.h"
#include "core/warp/WarpRows.h"

#if defined(TARNEL_WARP_X86)
#include <smmintrin.h>

namespace tarnel::warp {

namespace {

// Four sample indices along one axis: double -> float -> clamp above ->
// nearest (ties to even) -> clamp below. min(limit, NaN) keeps the NaN, which
// converts to INT_MIN and so to 0, as in the portable loop.
inline __m128i axisIndex(__m128d pxLow, __m128d pxHigh, __m128d base, __m128d step, __m128 limit) {
    const __m128 f = _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(base, _mm_mul_pd(pxLow, step))),
                                   _mm_cvtpd_ps(_mm_add_pd(base, _mm_mul_pd(pxHigh, step))));
    return _mm_max_epi32(_mm_cvtps_epi32(_mm_min_ps(limit, f)), _mm_setzero_si128());
}

// s + t·(e − s) of two byte values in double, rounded to an integer ties to
// even (what adding 1.5·2^52 does in the portable blend), in the low lanes.
inline __m128i blendTwo(__m128d t, __m128i s, __m128i d) {
    return _mm_cvtpd_epi32(_mm_add_pd(_mm_cvtepi32_pd(s), _mm_mul_pd(t, _mm_cvtepi32_pd(d))));
}

template <int shift>
inline __m128i blendByte(__m128d t, __m128i s, __m128i e) {
    const __m128i mask = _mm_set1_epi32(0xFF);
    const __m128i sc = _mm_and_si128(_mm_srli_epi32(s, shift), mask);
    const __m128i d = _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(e, shift), mask), sc);
    const __m128i low = blendTwo(t, sc, d);
    const __m128i high = blendTwo(t, _mm_shuffle_epi32(sc, 0xEE), _mm_shuffle_epi32(d, 0xEE));
    return _mm_slli_epi32(_mm_unpacklo_epi64(low, high), shift);
}

inline __m128i blend(__m128d t, __m128i s, __m128i e) {
    __m128i color = _mm_or_si128(_mm_or_si128(blendByte<0>(t, s, e), blendByte<8>(t, s, e)), blendByte<16>(t, s, e));
    // The top byte is blended like the others; pixel arrays hold 0 there, so
    // it is skipped unless a sample has it set.
    const __m128i top = _mm_set1_epi32(int(0xFF000000u));
    if (!_mm_testz_si128(_mm_or_si128(s, e), top)) color = _mm_or_si128(color, blendByte<24>(t, s, e));
    return color;
}

inline void prefetch(const uint32_t* base, int index, ptrdiff_t ahead) {
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(base) + uintptr_t((index + ahead) * 4)),
                 _MM_HINT_T0);
}

// One source image: the steps of its position per pixel are the triangle's,
// the bases the scanline's.
struct Source {
    __m128d xBase, xStep, yBase, yStep;
    __m128 xLimit, yLimit;
    __m128i stride;
    const uint32_t* pixels;
    ptrdiff_t ahead;

    Source(const Affine& x, const Affine& y, float maxX, float maxY, size_t rowStride, const uint32_t* p,
           ptrdiff_t a)
        : xBase(_mm_setzero_pd()), xStep(_mm_set1_pd(x.dx)), yBase(_mm_setzero_pd()), yStep(_mm_set1_pd(y.dx)),
          xLimit(_mm_set1_ps(maxX)), yLimit(_mm_set1_ps(maxY)), stride(_mm_set1_epi32(int(rowStride))), pixels(p),
          ahead(a) {}

    void setRow(double x0, double y0) {
        xBase = _mm_set1_pd(x0);
        yBase = _mm_set1_pd(y0);
    }

    __m128i sample(__m128d pxLow, __m128d pxHigh) const {
        const __m128i index = _mm_add_epi32(_mm_mullo_epi32(axisIndex(pxLow, pxHigh, yBase, yStep, yLimit), stride),
                                            axisIndex(pxLow, pxHigh, xBase, xStep, xLimit));
        const int i0 = _mm_cvtsi128_si32(index), i3 = _mm_extract_epi32(index, 3);
        // Later scanlines sample about as many source rows further on.
        prefetch(pixels, i0, ahead);
        prefetch(pixels, i3, ahead);
        return _mm_setr_epi32(int(pixels[i0]), int(pixels[_mm_extract_epi32(index, 1)]),
                              int(pixels[_mm_extract_epi32(index, 2)]), int(pixels[i3]));
    }
};

inline unsigned aboveMask(__m128d low, __m128d high, __m128d limit) {
    // cmpgt is false for a NaN sum: such a pixel is drawn, as in the portable loop.
    return unsigned(_mm_movemask_pd(_mm_cmpgt_pd(low, limit))) |
           unsigned(_mm_movemask_pd(_mm_cmpgt_pd(high, limit))) << 2;
}

// The portable loop's test of whether pixels lie inside the triangle.
struct Inside {
    __m128d u0, ud, v0, vd, w0, wd, nearLimit, farLimit;
    const AcceptTest& test;

    Inside(const TriangleRows& r, const AcceptTest& t)
        : u0(_mm_setzero_pd()), ud(_mm_set1_pd(r.su.dx)), v0(_mm_setzero_pd()), vd(_mm_set1_pd(r.sv.dx)),
          w0(_mm_setzero_pd()), wd(_mm_set1_pd(r.sw.dx)), nearLimit(_mm_set1_pd(t.nearLimit)),
          farLimit(_mm_set1_pd(t.farLimit)), test(t) {}

    void setRow(const RowCoefficients& c) {
        u0 = _mm_set1_pd(c.u0);
        v0 = _mm_set1_pd(c.v0);
        w0 = _mm_set1_pd(c.w0);
    }

    __m128d sum(__m128d px) const {
        const __m128d sign = _mm_set1_pd(-0.0);
        const __m128d u = _mm_add_pd(u0, _mm_mul_pd(px, ud));
        const __m128d v = _mm_add_pd(v0, _mm_mul_pd(px, vd));
        const __m128d w = _mm_add_pd(w0, _mm_mul_pd(px, wd));
        return _mm_add_pd(_mm_add_pd(_mm_andnot_pd(sign, u), _mm_andnot_pd(sign, v)), _mm_andnot_pd(sign, w));
    }

    // The lanes of `lanes` (one bit each: pixels x, x + 1, ... of scanline y) inside the triangle.
    unsigned accepted(__m128d pxLow, __m128d pxHigh, int x, int y, unsigned lanes) const {
        const __m128d low = sum(pxLow), high = sum(pxHigh);
        const unsigned far = aboveMask(low, high, farLimit), near = aboveMask(low, high, nearLimit);
        unsigned keep = lanes & ~far;
        for (unsigned check = near & keep; check; check &= check - 1) {
            const int lane = __builtin_ctz(check);
            if (!LiteralAccepts(test, x + lane, y)) keep &= ~(1u << lane);
        }
        return keep;
    }
};

template <Blend mode>
void run(const TriangleRows& r, const PixelSources& src, const AcceptTest& test) {
    Source start(r.sx, r.sy, src.startMaxX, src.startMaxY, src.startStride, src.start, src.startAhead);
    Source end(r.ex, r.ey, src.endMaxX, src.endMaxY, src.endStride, src.end, src.endAhead);
    Inside inside(r, test);
    const __m128d t = _mm_set1_pd(src.t);
    const __m128d four = _mm_set1_pd(4.0);
    for (int y = r.yFirst; y <= r.yLast; ++y) {
        int xFirst, xLast;
        if (!rowSpan(r.edges, y, r.width, xFirst, xLast)) continue;
        const RowCoefficients c = rowCoefficients(r, y);
        inside.setRow(c);
        if constexpr (mode != Blend::EndOnly) start.setRow(c.sx0, c.sy0);
        if constexpr (mode != Blend::StartOnly) end.setRow(c.ex0, c.ey0);
        uint32_t* dst = reinterpret_cast<uint32_t*>(r.row0 + ptrdiff_t(y) * r.rowStep) + xFirst;
        const __m128d px = _mm_set1_pd(double(xFirst) - r.ax);
        __m128d pxLow = _mm_add_pd(px, _mm_setr_pd(0, 1));
        __m128d pxHigh = _mm_add_pd(px, _mm_setr_pd(2, 3));
        for (int x = xFirst; x <= xLast;
             x += 4, dst += 4, pxLow = _mm_add_pd(pxLow, four), pxHigh = _mm_add_pd(pxHigh, four)) {
            const int left = xLast - x + 1;
            const unsigned keep = inside.accepted(pxLow, pxHigh, x, y, left >= 4 ? 0xFu : (1u << left) - 1u);
            if (!keep) continue;
            // Lanes left out sample clamped positions too, so their reads stay inside the arrays.
            __m128i color;
            if constexpr (mode == Blend::StartOnly) color = start.sample(pxLow, pxHigh);
            else if constexpr (mode == Blend::EndOnly) color = end.sample(pxLow, pxHigh);
            else color = blend(t, start.sample(pxLow, pxHigh), end.sample(pxLow, pxHigh));
            if (keep == 0xF) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), color);
                continue;
            }
            alignas(16) uint32_t lanes[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), color);
            for (unsigned bits = keep; bits; bits &= bits - 1) {
                const int lane = __builtin_ctz(bits);
                _mm_storeu_si32(dst + lane, _mm_cvtsi32_si128(int(lanes[lane])));
            }
        }
    }
}

}  // namespace

constinit const TriangleRuns kSse41TriangleRuns{run<Blend::StartOnly>, run<Blend::EndOnly>, run<Blend::Mix>};

}  // namespace tarnel::warp

#else

constinit const tarnel::warp::TriangleRuns tarnel::warp::kSse41TriangleRuns{};

#endif
