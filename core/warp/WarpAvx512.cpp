// The triangle run with AVX-512 (F and VL): sixteen pixels per step (doubles
// eight at a time), the last step of a scanline masked. Built with
// -mavx512f -mavx512vl -ffp-contract=off and used only when the CPU has both.
#include "core/warp/WarpKernels.h"
#include "core/warp/WarpRows.h"

#if defined(TARNEL_WARP_X86)
#include <immintrin.h>

#include "core/warp/WarpRowBatch.h"

// GCC 12 reports the deliberately undefined pass-through operand inside its
// own AVX-512 conversion intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace tarnel::warp {

namespace {

// Two halves of eight doubles, lanes 0-7 and 8-15.
struct Lanes {
    __m512d low, high;
};

inline __m512i joinHalves(__m256i low, __m256i high) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
}

// Sixteen sample indices along one axis: double -> float -> clamp above ->
// nearest (ties to even) -> clamp below. min(limit, NaN) keeps the NaN, which
// converts to INT_MIN and so to 0, as in the portable loop.
inline __m512i axisIndex(const Lanes& px, __m512d base, __m512d step, __m512 limit) {
    const __m256 low = _mm512_cvtpd_ps(_mm512_add_pd(base, _mm512_mul_pd(px.low, step)));
    const __m256 high = _mm512_cvtpd_ps(_mm512_add_pd(base, _mm512_mul_pd(px.high, step)));
    const __m512 f = _mm512_castpd_ps(
        _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(low)), _mm256_castps_pd(high), 1));
    return _mm512_max_epi32(_mm512_cvtps_epi32(_mm512_min_ps(limit, f)), _mm512_setzero_si512());
}

// The same for eight pixels.
inline __m256i axisIndex(__m512d px, __m512d base, __m512d step, __m512 limit) {
    const __m256 f = _mm512_cvtpd_ps(_mm512_add_pd(base, _mm512_mul_pd(px, step)));
    return _mm256_max_epi32(_mm256_cvtps_epi32(_mm256_min_ps(_mm512_castps512_ps256(limit), f)),
                            _mm256_setzero_si256());
}

// s + t·(e − s) of eight byte values in double, rounded to an integer ties to
// even (what adding 1.5·2^52 does in the portable blend).
inline __m256i blendEight(__m512d t, __m256i s, __m256i d) {
    return _mm512_cvtpd_epi32(_mm512_add_pd(_mm512_cvtepi32_pd(s), _mm512_mul_pd(t, _mm512_cvtepi32_pd(d))));
}

template <int shift>
inline __m512i blendByte(__m512d t, __m512i s, __m512i e) {
    const __m512i mask = _mm512_set1_epi32(0xFF);
    const __m512i sc = _mm512_and_si512(_mm512_srli_epi32(s, shift), mask);
    const __m512i d = _mm512_sub_epi32(_mm512_and_si512(_mm512_srli_epi32(e, shift), mask), sc);
    const __m256i low = blendEight(t, _mm512_castsi512_si256(sc), _mm512_castsi512_si256(d));
    const __m256i high = blendEight(t, _mm512_extracti64x4_epi64(sc, 1), _mm512_extracti64x4_epi64(d, 1));
    return _mm512_slli_epi32(joinHalves(low, high), shift);
}

inline __m512i blend(__m512d t, __m512i s, __m512i e) {
    __m512i color = _mm512_or_si512(_mm512_or_si512(blendByte<0>(t, s, e), blendByte<8>(t, s, e)),
                                    blendByte<16>(t, s, e));
    // The top byte is blended like the others; pixel arrays hold 0 there, so
    // it is skipped unless a sample has it set.
    if (_mm512_test_epi32_mask(_mm512_or_si512(s, e), _mm512_set1_epi32(int(0xFF000000u))))
        color = _mm512_or_si512(color, blendByte<24>(t, s, e));
    return color;
}

// The same for eight pixels.
template <int shift>
inline __m256i blendByte(__m512d t, __m256i s, __m256i e) {
    const __m256i mask = _mm256_set1_epi32(0xFF);
    const __m256i sc = _mm256_and_si256(_mm256_srli_epi32(s, shift), mask);
    const __m256i d = _mm256_sub_epi32(_mm256_and_si256(_mm256_srli_epi32(e, shift), mask), sc);
    return _mm256_slli_epi32(blendEight(t, sc, d), shift);
}

inline __m256i blend(__m512d t, __m256i s, __m256i e) {
    __m256i color = _mm256_or_si256(_mm256_or_si256(blendByte<0>(t, s, e), blendByte<8>(t, s, e)),
                                    blendByte<16>(t, s, e));
    if (!_mm256_testz_si256(_mm256_or_si256(s, e), _mm256_set1_epi32(int(0xFF000000u))))
        color = _mm256_or_si256(color, blendByte<24>(t, s, e));
    return color;
}

inline void prefetch(const uint32_t* base, int index, ptrdiff_t ahead) {
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(base) + uintptr_t((index + ahead) * 4)),
                 _MM_HINT_T0);
}

// One source image: the steps of its position per pixel are the triangle's,
// the bases the scanline's.
struct Source {
    __m512d xBase, xStep, yBase, yStep;
    __m512 xLimit, yLimit;
    __m512i stride;
    const uint32_t* pixels;
    ptrdiff_t ahead;

    Source(const Affine& x, const Affine& y, float maxX, float maxY, size_t rowStride, const uint32_t* p,
           ptrdiff_t a)
        : xBase(_mm512_setzero_pd()), xStep(_mm512_set1_pd(x.dx)), yBase(_mm512_setzero_pd()),
          yStep(_mm512_set1_pd(y.dx)), xLimit(_mm512_set1_ps(maxX)), yLimit(_mm512_set1_ps(maxY)),
          stride(_mm512_set1_epi32(int(rowStride))), pixels(p), ahead(a) {}

    void setRow(double x0, double y0) {
        xBase = _mm512_set1_pd(x0);
        yBase = _mm512_set1_pd(y0);
    }

    __m512i sample(const Lanes& px) const {
        const __m512i index = _mm512_add_epi32(_mm512_mullo_epi32(axisIndex(px, yBase, yStep, yLimit), stride),
                                               axisIndex(px, xBase, xStep, xLimit));
        // Later scanlines sample about as many source rows further on.
        // A slanted walk crosses source rows within a step: lanes 0, 5, 10 and 15.
        prefetch(pixels, _mm_cvtsi128_si32(_mm512_castsi512_si128(index)), ahead);
        prefetch(pixels, _mm_extract_epi32(_mm512_extracti32x4_epi32(index, 1), 1), ahead);
        prefetch(pixels, _mm_extract_epi32(_mm512_extracti32x4_epi32(index, 2), 2), ahead);
        prefetch(pixels, _mm_extract_epi32(_mm512_extracti32x4_epi32(index, 3), 3), ahead);
        return _mm512_i32gather_epi32(index, reinterpret_cast<const int*>(pixels), 4);
    }

    // The first eight lanes only.
    __m256i sample(__m512d px) const {
        const __m256i index = _mm256_add_epi32(
            _mm256_mullo_epi32(axisIndex(px, yBase, yStep, yLimit), _mm512_castsi512_si256(stride)),
            axisIndex(px, xBase, xStep, xLimit));
        prefetch(pixels, _mm256_cvtsi256_si32(index), ahead);
        prefetch(pixels, _mm256_extract_epi32(index, 7), ahead);
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(pixels), index, 4);
    }
};

// The portable loop's test of whether pixels lie inside the triangle.
struct Inside {
    __m512d u0, ud, v0, vd, w0, wd, nearLimit, farLimit;
    const AcceptTest& test;

    Inside(const TriangleRows& r, const AcceptTest& t)
        : u0(_mm512_setzero_pd()), ud(_mm512_set1_pd(r.su.dx)), v0(_mm512_setzero_pd()),
          vd(_mm512_set1_pd(r.sv.dx)), w0(_mm512_setzero_pd()), wd(_mm512_set1_pd(r.sw.dx)),
          nearLimit(_mm512_set1_pd(t.nearLimit)), farLimit(_mm512_set1_pd(t.farLimit)), test(t) {}

    void setRow(const RowCoefficients& c) {
        u0 = _mm512_set1_pd(c.u0);
        v0 = _mm512_set1_pd(c.v0);
        w0 = _mm512_set1_pd(c.w0);
    }

    __m512d sum(__m512d px) const {
        const __m512d u = _mm512_add_pd(u0, _mm512_mul_pd(px, ud));
        const __m512d v = _mm512_add_pd(v0, _mm512_mul_pd(px, vd));
        const __m512d w = _mm512_add_pd(w0, _mm512_mul_pd(px, wd));
        return _mm512_add_pd(_mm512_add_pd(_mm512_abs_pd(u), _mm512_abs_pd(v)), _mm512_abs_pd(w));
    }

    // The lanes of `lanes` (pixels x, x + 1, ... of scanline y) inside the triangle.
    __mmask16 accepted(const Lanes& px, int x, int y, __mmask16 lanes) const {
        const __m512d low = sum(px.low), high = sum(px.high);
        // Ordered compares: a NaN sum is drawn, as in the portable loop.
        const unsigned far = unsigned(_mm512_cmp_pd_mask(low, farLimit, _CMP_GT_OQ)) |
                             unsigned(_mm512_cmp_pd_mask(high, farLimit, _CMP_GT_OQ)) << 8;
        const unsigned near = unsigned(_mm512_cmp_pd_mask(low, nearLimit, _CMP_GT_OQ)) |
                              unsigned(_mm512_cmp_pd_mask(high, nearLimit, _CMP_GT_OQ)) << 8;
        unsigned keep = lanes & ~far;
        for (unsigned check = near & keep; check; check &= check - 1) {
            const int lane = __builtin_ctz(check);
            if (!LiteralAccepts(test, x + lane, y)) keep &= ~(1u << lane);
        }
        return __mmask16(keep);
    }

    // The same for the first eight lanes.
    __mmask8 accepted(__m512d px, int x, int y, __mmask8 lanes) const {
        const __m512d total = sum(px);
        const __mmask8 far = _mm512_cmp_pd_mask(total, farLimit, _CMP_GT_OQ);
        const __mmask8 near = _mm512_cmp_pd_mask(total, nearLimit, _CMP_GT_OQ);
        unsigned keep = lanes & ~unsigned(far);
        for (unsigned check = near & keep; check; check &= check - 1) {
            const int lane = __builtin_ctz(check);
            if (!LiteralAccepts(test, x + lane, y)) keep &= ~(1u << lane);
        }
        return __mmask8(keep);
    }
};

// One source image read bilinearly, eight pixels at a time, as bilinearAt
// in Warp.cpp reads one.
struct BilinearSource {
    __m512d xBase, xStep, yBase, yStep;
    __m256 xLimit, yLimit;
    __m256i stride;
    const int* pixels;

    BilinearSource(const Affine& x, const Affine& y, float maxX, float maxY, size_t rowStride, const uint32_t* p)
        : xBase(_mm512_setzero_pd()), xStep(_mm512_set1_pd(x.dx)), yBase(_mm512_setzero_pd()),
          yStep(_mm512_set1_pd(y.dx)), xLimit(_mm256_set1_ps(maxX)), yLimit(_mm256_set1_ps(maxY)),
          stride(_mm256_set1_epi32(int(rowStride))), pixels(reinterpret_cast<const int*>(p)) {}

    void setRow(double x0, double y0) {
        xBase = _mm512_set1_pd(x0);
        yBase = _mm512_set1_pd(y0);
    }

    // The position limited to 0..limit (NaN gives 0): its whole part, the
    // next pixel's (the same at the limit) and the fraction in double.
    static void axis(__m512d px, __m512d base, __m512d step, __m256 limit, __m256i& whole, __m256i& next,
                     __m512d& fraction) {
        __m256 f = _mm512_cvtpd_ps(_mm512_add_pd(base, _mm512_mul_pd(px, step)));
        f = _mm256_min_ps(limit, f);
        f = _mm256_and_ps(f, _mm256_cmp_ps(f, _mm256_setzero_ps(), _CMP_GT_OQ));
        whole = _mm256_cvttps_epi32(f);
        const __m256 wholeF = _mm256_cvtepi32_ps(whole);
        fraction = _mm512_cvtps_pd(_mm256_sub_ps(f, wholeF));
        next = _mm256_sub_epi32(whole, _mm256_castps_si256(_mm256_cmp_ps(wholeF, limit, _CMP_LT_OQ)));
    }

    template <int shift>
    static __m256i channel(__m512d fx, __m512d fy, __m256i p00, __m256i p10, __m256i p01, __m256i p11) {
        const __m256i mask = _mm256_set1_epi32(0xFF);
        auto value = [&](__m256i p) {
            return _mm512_cvtepi32_pd(_mm256_and_si256(_mm256_srli_epi32(p, shift), mask));
        };
        const __m512d a = value(p00), b = value(p10), c = value(p01), d = value(p11);
        const __m512d upper = _mm512_add_pd(a, _mm512_mul_pd(fx, _mm512_sub_pd(b, a)));
        const __m512d lower = _mm512_add_pd(c, _mm512_mul_pd(fx, _mm512_sub_pd(d, c)));
        const __m512d v = _mm512_add_pd(upper, _mm512_mul_pd(fy, _mm512_sub_pd(lower, upper)));
        return _mm256_slli_epi32(_mm512_cvtpd_epi32(v), shift);
    }

    __m256i sample(__m512d px) const {
        __m256i x0, x1, y0, y1;
        __m512d fx, fy;
        axis(px, xBase, xStep, xLimit, x0, x1, fx);
        axis(px, yBase, yStep, yLimit, y0, y1, fy);
        const __m256i top = _mm256_mullo_epi32(y0, stride), bottom = _mm256_mullo_epi32(y1, stride);
        const __m256i p00 = _mm256_i32gather_epi32(pixels, _mm256_add_epi32(top, x0), 4);
        const __m256i p10 = _mm256_i32gather_epi32(pixels, _mm256_add_epi32(top, x1), 4);
        const __m256i p01 = _mm256_i32gather_epi32(pixels, _mm256_add_epi32(bottom, x0), 4);
        const __m256i p11 = _mm256_i32gather_epi32(pixels, _mm256_add_epi32(bottom, x1), 4);
        __m256i color = _mm256_or_si256(_mm256_or_si256(channel<0>(fx, fy, p00, p10, p01, p11),
                                                        channel<8>(fx, fy, p00, p10, p01, p11)),
                                        channel<16>(fx, fy, p00, p10, p01, p11));
        // Four zero top bytes interpolate to zero.
        const __m256i any = _mm256_or_si256(_mm256_or_si256(p00, p10), _mm256_or_si256(p01, p11));
        if (!_mm256_testz_si256(any, _mm256_set1_epi32(int(0xFF000000u))))
            color = _mm256_or_si256(color, channel<24>(fx, fy, p00, p10, p01, p11));
        return color;
    }
};

template <Blend mode>
void runBilinear(const TriangleRows& r, const PixelSources& src, const AcceptTest& test) {
    BilinearSource start(r.sx, r.sy, src.startMaxX, src.startMaxY, src.startStride, src.start);
    BilinearSource end(r.ex, r.ey, src.endMaxX, src.endMaxY, src.endStride, src.end);
    Inside inside(r, test);
    const __m512d t = _mm512_set1_pd(src.t);
    const __m512d eight = _mm512_set1_pd(8.0);
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
        __m512d px = _mm512_add_pd(_mm512_set1_pd(double(xFirst) - r.ax), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
        for (int x = xFirst; x <= xLast; x += 8, dst += 8, px = _mm512_add_pd(px, eight)) {
            const int left = xLast - x + 1;
            const __mmask8 keep = inside.accepted(px, x, y, left >= 8 ? __mmask8(0xFF) : __mmask8((1u << left) - 1u));
            // Lanes left out read clamped positions too, inside the arrays.
            __m256i color;
            if constexpr (mode == Blend::StartOnly) color = start.sample(px);
            else if constexpr (mode == Blend::EndOnly) color = end.sample(px);
            else color = blend(t, start.sample(px), end.sample(px));
            _mm256_mask_storeu_epi32(dst, keep, color);
        }
    }
}

// Scanlines at least this long (pixels less one) look for their interior.
constexpr int kLongScanline = 64;

template <Blend mode>
void run(const TriangleRows& r, const PixelSources& src, const AcceptTest& test) {
    Source start(r.sx, r.sy, src.startMaxX, src.startMaxY, src.startStride, src.start, src.startAhead);
    Source end(r.ex, r.ey, src.endMaxX, src.endMaxY, src.endStride, src.end, src.endAhead);
    Inside inside(r, test);
    const __m512d t = _mm512_set1_pd(src.t);
    const __m512d sixteen = _mm512_set1_pd(16.0);
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
        const __m512d px0 = _mm512_set1_pd(double(xFirst) - r.ax);
        Lanes px{_mm512_add_pd(px0, _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7)),
                 _mm512_add_pd(px0, _mm512_setr_pd(8, 9, 10, 11, 12, 13, 14, 15))};
        // On long scanlines finding the interior (the portable loop's way)
        // costs less than testing every step; steps inside it skip the test.
        int inFirst = xLast + 1, inLast = xLast;
        if (xLast - xFirst >= kLongScanline) interior(r, c, xFirst, xLast, inFirst, inLast);
        for (int x = xFirst; x <= xLast; x += 16, dst += 16) {
            const int left = xLast - x + 1;
            _mm_prefetch(
                reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(dst) + uintptr_t(src.frameAhead)),
                _MM_HINT_T0);
            if (left <= 8) {
                // A short end takes a step of eight, at little more than half the cost.
                const __mmask8 keep = x >= inFirst && x + 7 <= inLast
                                          ? __mmask8((1u << left) - 1u)
                                          : inside.accepted(px.low, x, y, __mmask8((1u << left) - 1u));
                __m256i color;
                if constexpr (mode == Blend::StartOnly) color = start.sample(px.low);
                else if constexpr (mode == Blend::EndOnly) color = end.sample(px.low);
                else color = blend(t, start.sample(px.low), end.sample(px.low));
                _mm256_mask_storeu_epi32(dst, keep, color);
                break;
            }
            const __mmask16 keep =
                x >= inFirst && x + 15 <= inLast
                    ? __mmask16(0xFFFF)
                    : inside.accepted(px, x, y, left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1u));
            // Lanes left out sample clamped positions too, so their reads
            // stay inside the arrays; one masked store serves every step.
            __m512i color;
            if constexpr (mode == Blend::StartOnly) color = start.sample(px);
            else if constexpr (mode == Blend::EndOnly) color = end.sample(px);
            else color = blend(t, start.sample(px), end.sample(px));
            _mm512_mask_storeu_epi32(dst, keep, color);
            px.low = _mm512_add_pd(px.low, sixteen);
            px.high = _mm512_add_pd(px.high, sixteen);
        }
    }
}

}  // namespace

constinit const TriangleRuns kAvx512TriangleRuns{run<Blend::StartOnly>,         run<Blend::EndOnly>,
                                                 run<Blend::Mix>,               runBilinear<Blend::StartOnly>,
                                                 runBilinear<Blend::EndOnly>, runBilinear<Blend::Mix>};

}  // namespace tarnel::warp

#else

constinit const tarnel::warp::TriangleRuns tarnel::warp::kAvx512TriangleRuns{};

#endif
