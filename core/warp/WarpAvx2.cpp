// The triangle run with AVX2: eight pixels per step (doubles four at a time),
// the last step of a scanline masked. Built with -mavx2 -ffp-contract=off and
// used only when the CPU has AVX2.
#include "core/warp/WarpKernels.h"
#include "core/warp/WarpRows.h"

#if defined(TARNEL_WARP_X86)
#include <immintrin.h>

#include "core/warp/WarpRowBatch.h"

namespace tarnel::warp {

namespace {

// Eight sample indices along one axis: double -> float -> clamp above ->
// nearest (ties to even) -> clamp below. min(limit, NaN) keeps the NaN, which
// converts to INT_MIN and so to 0, as in the portable loop.
inline __m256i axisIndex(__m256d pxLow, __m256d pxHigh, __m256d base, __m256d step, __m256 limit) {
    const __m128 low = _mm256_cvtpd_ps(_mm256_add_pd(base, _mm256_mul_pd(pxLow, step)));
    const __m128 high = _mm256_cvtpd_ps(_mm256_add_pd(base, _mm256_mul_pd(pxHigh, step)));
    const __m256 f = _mm256_set_m128(high, low);
    return _mm256_max_epi32(_mm256_cvtps_epi32(_mm256_min_ps(limit, f)), _mm256_setzero_si256());
}

// s + t·(e − s) of four byte values in double, rounded to an integer ties to
// even (what adding 1.5·2^52 does in the portable blend).
inline __m128i blendFour(__m256d t, __m128i s, __m128i e) {
    return _mm256_cvtpd_epi32(
        _mm256_add_pd(_mm256_cvtepi32_pd(s), _mm256_mul_pd(t, _mm256_cvtepi32_pd(_mm_sub_epi32(e, s)))));
}

template <int shift>
inline __m256i blendByte(__m256d t, __m256i s, __m256i e) {
    const __m256i mask = _mm256_set1_epi32(0xFF);
    const __m256i sc = _mm256_and_si256(_mm256_srli_epi32(s, shift), mask);
    const __m256i ec = _mm256_and_si256(_mm256_srli_epi32(e, shift), mask);
    const __m128i low = blendFour(t, _mm256_castsi256_si128(sc), _mm256_castsi256_si128(ec));
    const __m128i high = blendFour(t, _mm256_extracti128_si256(sc, 1), _mm256_extracti128_si256(ec, 1));
    return _mm256_slli_epi32(_mm256_set_m128i(high, low), shift);
}

inline __m256i blend(__m256d t, __m256i s, __m256i e) {
    __m256i color = _mm256_or_si256(_mm256_or_si256(blendByte<0>(t, s, e), blendByte<8>(t, s, e)),
                                    blendByte<16>(t, s, e));
    // The top byte is blended like the others; pixel arrays hold 0 there, so
    // it is skipped unless a sample has it set.
    const __m256i top = _mm256_set1_epi32(int(0xFF000000u));
    if (!_mm256_testz_si256(_mm256_or_si256(s, e), top)) color = _mm256_or_si256(color, blendByte<24>(t, s, e));
    return color;
}

inline void prefetch(const uint32_t* base, int index, ptrdiff_t ahead) {
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(base) + uintptr_t((index + ahead) * 4)),
                 _MM_HINT_T0);
}

// One source image: the steps of its position per pixel are the triangle's,
// the bases the scanline's.
struct Source {
    __m256d xBase, xStep, yBase, yStep;
    __m256 xLimit, yLimit;
    __m256i stride;
    const uint32_t* pixels;
    ptrdiff_t ahead;

    Source(const Affine& x, const Affine& y, float maxX, float maxY, size_t rowStride, const uint32_t* p,
           ptrdiff_t a)
        : xBase(_mm256_setzero_pd()), xStep(_mm256_set1_pd(x.dx)), yBase(_mm256_setzero_pd()),
          yStep(_mm256_set1_pd(y.dx)), xLimit(_mm256_set1_ps(maxX)), yLimit(_mm256_set1_ps(maxY)),
          stride(_mm256_set1_epi32(int(rowStride))), pixels(p), ahead(a) {}

    void setRow(double x0, double y0) {
        xBase = _mm256_set1_pd(x0);
        yBase = _mm256_set1_pd(y0);
    }

    __m256i sample(__m256d pxLow, __m256d pxHigh) const {
        const __m256i index =
            _mm256_add_epi32(_mm256_mullo_epi32(axisIndex(pxLow, pxHigh, yBase, yStep, yLimit), stride),
                             axisIndex(pxLow, pxHigh, xBase, xStep, xLimit));
        // Later scanlines sample about as many source rows further on.
        prefetch(pixels, _mm256_cvtsi256_si32(index), ahead);
        prefetch(pixels, _mm256_extract_epi32(index, 7), ahead);
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(pixels), index, 4);
    }
};

inline unsigned aboveMask(__m256d low, __m256d high, __m256d limit) {
    // Ordered compares: a NaN sum is drawn, as in the portable loop.
    return unsigned(_mm256_movemask_pd(_mm256_cmp_pd(low, limit, _CMP_GT_OQ))) |
           unsigned(_mm256_movemask_pd(_mm256_cmp_pd(high, limit, _CMP_GT_OQ))) << 4;
}

// The portable loop's test of whether pixels lie inside the triangle.
struct Inside {
    __m256d u0, ud, v0, vd, w0, wd, nearLimit, farLimit;
    const AcceptTest& test;

    Inside(const TriangleRows& r, const AcceptTest& t)
        : u0(_mm256_setzero_pd()), ud(_mm256_set1_pd(r.su.dx)), v0(_mm256_setzero_pd()),
          vd(_mm256_set1_pd(r.sv.dx)), w0(_mm256_setzero_pd()), wd(_mm256_set1_pd(r.sw.dx)),
          nearLimit(_mm256_set1_pd(t.nearLimit)), farLimit(_mm256_set1_pd(t.farLimit)), test(t) {}

    void setRow(const RowCoefficients& c) {
        u0 = _mm256_set1_pd(c.u0);
        v0 = _mm256_set1_pd(c.v0);
        w0 = _mm256_set1_pd(c.w0);
    }

    __m256d sum(__m256d px) const {
        const __m256d sign = _mm256_set1_pd(-0.0);
        const __m256d u = _mm256_add_pd(u0, _mm256_mul_pd(px, ud));
        const __m256d v = _mm256_add_pd(v0, _mm256_mul_pd(px, vd));
        const __m256d w = _mm256_add_pd(w0, _mm256_mul_pd(px, wd));
        return _mm256_add_pd(_mm256_add_pd(_mm256_andnot_pd(sign, u), _mm256_andnot_pd(sign, v)),
                             _mm256_andnot_pd(sign, w));
    }

    // The lanes of `lanes` (one bit each: pixels x, x + 1, ... of scanline y) inside the triangle.
    unsigned accepted(__m256d pxLow, __m256d pxHigh, int x, int y, unsigned lanes) const {
        const __m256d low = sum(pxLow), high = sum(pxHigh);
        const unsigned far = aboveMask(low, high, farLimit), near = aboveMask(low, high, nearLimit);
        unsigned keep = lanes & ~far;
        for (unsigned check = near & keep; check; check &= check - 1) {
            const int lane = __builtin_ctz(check);
            if (!LiteralAccepts(test, x + lane, y)) keep &= ~(1u << lane);
        }
        return keep;
    }
};

// Scanlines at least this long (pixels less one) look for their interior.
constexpr int kLongScanline = 48;

template <Blend mode>
void run(const TriangleRows& r, const PixelSources& src, const AcceptTest& test) {
    Source start(r.sx, r.sy, src.startMaxX, src.startMaxY, src.startStride, src.start, src.startAhead);
    Source end(r.ex, r.ey, src.endMaxX, src.endMaxY, src.endStride, src.end, src.endAhead);
    Inside inside(r, test);
    const __m256d t = _mm256_set1_pd(src.t);
    const __m256d eight = _mm256_set1_pd(8.0);
    const __m256i laneBits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    RowBatch batch;
    for (int y = r.yFirst; y <= r.yLast; ++y) {
        const int lane = (y - r.yFirst) & 7;
        if (lane == 0) batch.fill(r, y);
        const int xFirst = batch.xFirst[lane], xLast = batch.xLast[lane];
        if (xFirst > xLast) continue;
        const RowCoefficients c = batch.row(r, lane);
        inside.setRow(c);
        if constexpr (mode != Blend::EndOnly) start.setRow(c.sx0, c.sy0);
        if constexpr (mode != Blend::StartOnly) end.setRow(c.ex0, c.ey0);
        uint32_t* dst = reinterpret_cast<uint32_t*>(r.row0 + ptrdiff_t(y) * r.rowStep) + xFirst;
        const __m256d px = _mm256_set1_pd(double(xFirst) - r.ax);
        __m256d pxLow = _mm256_add_pd(px, _mm256_setr_pd(0, 1, 2, 3));
        __m256d pxHigh = _mm256_add_pd(px, _mm256_setr_pd(4, 5, 6, 7));
        // On long scanlines finding the interior (the portable loop's way)
        // costs less than testing every step; steps inside it skip the test.
        int inFirst = xLast + 1, inLast = xLast;
        if (xLast - xFirst >= kLongScanline) interior(r, c, xFirst, xLast, inFirst, inLast);
        for (int x = xFirst; x <= xLast;
             x += 8, dst += 8, pxLow = _mm256_add_pd(pxLow, eight), pxHigh = _mm256_add_pd(pxHigh, eight)) {
            const int left = xLast - x + 1;
            const unsigned keep = x >= inFirst && x + 7 <= inLast
                                      ? 0xFFu
                                      : inside.accepted(pxLow, pxHigh, x, y, left >= 8 ? 0xFFu : (1u << left) - 1u);
            _mm_prefetch(
                reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(dst) + uintptr_t(src.frameAhead)),
                _MM_HINT_T0);
            if (!keep) continue;
            // Lanes left out sample clamped positions too, so their reads stay inside the arrays.
            __m256i color;
            if constexpr (mode == Blend::StartOnly) color = start.sample(pxLow, pxHigh);
            else if constexpr (mode == Blend::EndOnly) color = end.sample(pxLow, pxHigh);
            else color = blend(t, start.sample(pxLow, pxHigh), end.sample(pxLow, pxHigh));
            if (keep == 0xFF) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), color);
            } else {
                const __m256i bits = _mm256_and_si256(_mm256_set1_epi32(int(keep)), laneBits);
                _mm256_maskstore_epi32(reinterpret_cast<int*>(dst), _mm256_cmpeq_epi32(bits, laneBits), color);
            }
        }
    }
}

}  // namespace

constinit const TriangleRuns kAvx2TriangleRuns{run<Blend::StartOnly>, run<Blend::EndOnly>, run<Blend::Mix>};

}  // namespace tarnel::warp

#else

constinit const tarnel::warp::TriangleRuns tarnel::warp::kAvx2TriangleRuns{};

#endif
