// The interior run with AVX-512 (F and VL): eight pixels per step, the last
// step masked. Built with -mavx512f -mavx512vl -ffp-contract=off and used only
// when the CPU has both.
#include "core/WarpKernels.h"

#if defined(TARNEL_WARP_X86)
#include <immintrin.h>

// GCC 12 reports the deliberately undefined pass-through operand inside its
// own AVX-512 conversion intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tarnel::warp {

namespace {

// Eight sample indices along one axis: double -> float -> clamp above ->
// nearest (ties to even) -> clamp below. min(limit, NaN) keeps the NaN, which
// converts to INT_MIN and so to 0, as in the portable loop.
inline __m256i axisIndex(__m512d px, __m512d base, __m512d step, __m256 limit) {
    const __m256 f = _mm512_cvtpd_ps(_mm512_add_pd(base, _mm512_mul_pd(px, step)));
    return _mm256_max_epi32(_mm256_cvtps_epi32(_mm256_min_ps(limit, f)), _mm256_setzero_si256());
}

// s + t·(e − s) of one byte lane, rounded to an integer ties to even (what
// adding 1.5·2^52 does in the portable blend), back in its byte.
template <int shift>
inline __m256i blendByte(__m512d t, __m256i s, __m256i e) {
    const __m256i mask = _mm256_set1_epi32(0xFF);
    const __m256i sc = _mm256_and_si256(_mm256_srli_epi32(s, shift), mask);
    const __m256i ec = _mm256_and_si256(_mm256_srli_epi32(e, shift), mask);
    const __m512d v =
        _mm512_add_pd(_mm512_cvtepi32_pd(sc), _mm512_mul_pd(t, _mm512_cvtepi32_pd(_mm256_sub_epi32(ec, sc))));
    return _mm256_slli_epi32(_mm512_cvtpd_epi32(v), shift);
}

inline __m256i blend(__m512d t, __m256i s, __m256i e) {
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

struct Source {
    __m512d xBase, xStep, yBase, yStep;
    __m256 xLimit, yLimit;
    __m256i stride;
    const uint32_t* pixels;
    ptrdiff_t ahead;

    Source(double x0, double xd, double y0, double yd, float maxX, float maxY, size_t rowStride,
           const uint32_t* p, ptrdiff_t a)
        : xBase(_mm512_set1_pd(x0)), xStep(_mm512_set1_pd(xd)), yBase(_mm512_set1_pd(y0)),
          yStep(_mm512_set1_pd(yd)), xLimit(_mm256_set1_ps(maxX)), yLimit(_mm256_set1_ps(maxY)),
          stride(_mm256_set1_epi32(int(rowStride))), pixels(p), ahead(a) {}

    __m256i sample(__m512d px) const {
        const __m256i index = _mm256_add_epi32(_mm256_mullo_epi32(axisIndex(px, yBase, yStep, yLimit), stride),
                                               axisIndex(px, xBase, xStep, xLimit));
        // The next scanline samples about one source row further on.
        prefetch(pixels, _mm256_cvtsi256_si32(index), ahead);
        prefetch(pixels, _mm256_extract_epi32(index, 7), ahead);
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(pixels), index, 4);
    }
};

// The lanes of `lanes` inside the triangle, as the portable loop's test decides.
inline __mmask8 accepted(__m512d px, const RowCoefficients& c, const AcceptTest& test, int x, int y,
                         __mmask8 lanes) {
    const __m512d u = _mm512_add_pd(_mm512_set1_pd(c.u0), _mm512_mul_pd(px, _mm512_set1_pd(c.ud)));
    const __m512d v = _mm512_add_pd(_mm512_set1_pd(c.v0), _mm512_mul_pd(px, _mm512_set1_pd(c.vd)));
    const __m512d w = _mm512_add_pd(_mm512_set1_pd(c.w0), _mm512_mul_pd(px, _mm512_set1_pd(c.wd)));
    const __m512d sum = _mm512_add_pd(_mm512_add_pd(_mm512_abs_pd(u), _mm512_abs_pd(v)), _mm512_abs_pd(w));
    const __mmask8 far = _mm512_cmp_pd_mask(sum, _mm512_set1_pd(test.farLimit), _CMP_GT_OQ);
    const __mmask8 near = _mm512_cmp_pd_mask(sum, _mm512_set1_pd(test.nearLimit), _CMP_GT_OQ);
    __mmask8 keep = __mmask8(lanes & ~far);
    for (unsigned check = unsigned(near & keep); check; check &= check - 1) {
        const int lane = __builtin_ctz(check);
        if (!LiteralAccepts(test, x + lane, y)) keep = __mmask8(keep & ~(1u << lane));
    }
    return keep;
}

template <Blend mode>
void run(uint8_t* out, int from, int to, int y, double px, const RowCoefficients& c, const PixelSources& src,
         const AcceptTest& test) {
    const Source start(c.sx0, c.sxd, c.sy0, c.syd, src.startMaxX, src.startMaxY, src.startStride, src.start,
                       src.startAhead);
    const Source end(c.ex0, c.exd, c.ey0, c.eyd, src.endMaxX, src.endMaxY, src.endStride, src.end, src.endAhead);
    const __m512d t = _mm512_set1_pd(src.t);
    const __m512d eight = _mm512_set1_pd(8.0);
    __m512d pxv = _mm512_add_pd(_mm512_set1_pd(px), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    uint32_t* dst = reinterpret_cast<uint32_t*>(out) + from;
    for (int x = from; x <= to; x += 8, dst += 8, pxv = _mm512_add_pd(pxv, eight)) {
        const int left = to - x + 1;
        const __mmask8 keep = accepted(pxv, c, test, x, y, left >= 8 ? __mmask8(0xFF) : __mmask8((1u << left) - 1u));
        if (!keep) continue;
        // Lanes left out sample clamped positions too, so their reads stay inside the arrays.
        __m256i color;
        if constexpr (mode == Blend::StartOnly) color = start.sample(pxv);
        else if constexpr (mode == Blend::EndOnly) color = end.sample(pxv);
        else color = blend(t, start.sample(pxv), end.sample(pxv));
        if (keep == 0xFF) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), color);
        else _mm256_mask_storeu_epi32(dst, keep, color);
    }
}

}  // namespace

constinit const InteriorRuns kAvx512InteriorRuns{run<Blend::StartOnly>, run<Blend::EndOnly>, run<Blend::Mix>};

}  // namespace tarnel::warp

#else

constinit const tarnel::warp::InteriorRuns tarnel::warp::kAvx512InteriorRuns{};

#endif
