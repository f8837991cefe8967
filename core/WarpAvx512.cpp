// The triangle run with AVX-512 (F and VL): eight pixels per step, the last
// step of a scanline masked. Built with -mavx512f -mavx512vl
// -ffp-contract=off and used only when the CPU has both.
#include "core/WarpKernels.h"
#include "core/WarpRows.h"

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

// One source image: the steps of its position per pixel are the triangle's,
// the bases the scanline's.
struct Source {
    __m512d xBase, xStep, yBase, yStep;
    __m256 xLimit, yLimit;
    __m256i stride;
    const uint32_t* pixels;
    ptrdiff_t ahead;

    Source(const Affine& x, const Affine& y, float maxX, float maxY, size_t rowStride, const uint32_t* p,
           ptrdiff_t a)
        : xBase(_mm512_setzero_pd()), xStep(_mm512_set1_pd(x.dx)), yBase(_mm512_setzero_pd()),
          yStep(_mm512_set1_pd(y.dx)), xLimit(_mm256_set1_ps(maxX)), yLimit(_mm256_set1_ps(maxY)),
          stride(_mm256_set1_epi32(int(rowStride))), pixels(p), ahead(a) {}

    void setRow(double x0, double y0) {
        xBase = _mm512_set1_pd(x0);
        yBase = _mm512_set1_pd(y0);
    }

    __m256i sample(__m512d px) const {
        const __m256i index = _mm256_add_epi32(_mm256_mullo_epi32(axisIndex(px, yBase, yStep, yLimit), stride),
                                               axisIndex(px, xBase, xStep, xLimit));
        // Later scanlines sample about as many source rows further on.
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

    // The lanes of `lanes` (pixels x, x + 1, ... of scanline y) inside the triangle.
    __mmask8 accepted(__m512d px, int x, int y, __mmask8 lanes) const {
        const __m512d u = _mm512_add_pd(u0, _mm512_mul_pd(px, ud));
        const __m512d v = _mm512_add_pd(v0, _mm512_mul_pd(px, vd));
        const __m512d w = _mm512_add_pd(w0, _mm512_mul_pd(px, wd));
        const __m512d sum = _mm512_add_pd(_mm512_add_pd(_mm512_abs_pd(u), _mm512_abs_pd(v)), _mm512_abs_pd(w));
        // Ordered compares: a NaN sum is drawn, as in the portable loop.
        const __mmask8 far = _mm512_cmp_pd_mask(sum, farLimit, _CMP_GT_OQ);
        const __mmask8 near = _mm512_cmp_pd_mask(sum, nearLimit, _CMP_GT_OQ);
        __mmask8 keep = __mmask8(lanes & ~far);
        for (unsigned check = unsigned(near & keep); check; check &= check - 1) {
            const int lane = __builtin_ctz(check);
            if (!LiteralAccepts(test, x + lane, y)) keep = __mmask8(keep & ~(1u << lane));
        }
        return keep;
    }
};

template <Blend mode>
void run(const TriangleRows& r, const PixelSources& src, const AcceptTest& test) {
    Source start(r.sx, r.sy, src.startMaxX, src.startMaxY, src.startStride, src.start, src.startAhead);
    Source end(r.ex, r.ey, src.endMaxX, src.endMaxY, src.endStride, src.end, src.endAhead);
    Inside inside(r, test);
    const __m512d t = _mm512_set1_pd(src.t);
    const __m512d eight = _mm512_set1_pd(8.0);
    const __m512d laneOffsets = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
    for (int y = r.yFirst; y <= r.yLast; ++y) {
        int xFirst, xLast;
        if (!rowSpan(r.edges, y, r.width, xFirst, xLast)) continue;
        const RowCoefficients c = rowCoefficients(r, y);
        inside.setRow(c);
        if constexpr (mode != Blend::EndOnly) start.setRow(c.sx0, c.sy0);
        if constexpr (mode != Blend::StartOnly) end.setRow(c.ex0, c.ey0);
        uint32_t* dst = reinterpret_cast<uint32_t*>(r.row0 + ptrdiff_t(y) * r.rowStep) + xFirst;
        __m512d px = _mm512_add_pd(_mm512_set1_pd(double(xFirst) - r.ax), laneOffsets);
        for (int x = xFirst; x <= xLast; x += 8, dst += 8, px = _mm512_add_pd(px, eight)) {
            const int left = xLast - x + 1;
            const __mmask8 keep = inside.accepted(px, x, y, left >= 8 ? __mmask8(0xFF) : __mmask8((1u << left) - 1u));
            _mm_prefetch(
                reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(dst) + uintptr_t(src.frameAhead)),
                _MM_HINT_T0);
            if (!keep) continue;
            // Lanes left out sample clamped positions too, so their reads stay inside the arrays.
            __m256i color;
            if constexpr (mode == Blend::StartOnly) color = start.sample(px);
            else if constexpr (mode == Blend::EndOnly) color = end.sample(px);
            else color = blend(t, start.sample(px), end.sample(px));
            if (keep == 0xFF) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), color);
            else _mm256_mask_storeu_epi32(dst, keep, color);
        }
    }
}

}  // namespace

constinit const TriangleRuns kAvx512TriangleRuns{run<Blend::StartOnly>, run<Blend::EndOnly>, run<Blend::Mix>};

}  // namespace tarnel::warp

#else

constinit const tarnel::warp::TriangleRuns tarnel::warp::kAvx512TriangleRuns{};

#endif
