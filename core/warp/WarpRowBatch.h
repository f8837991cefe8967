#pragma once
// Internal to the warp's AVX2 and AVX-512 runs (include only where AVX2 is
// enabled): the spans and coefficients of eight scanlines found at once, each
// lane exactly as rowSpan and rowCoefficients (WarpRows.h) find its own.
// Internal linkage, like WarpRows.h.
#include <immintrin.h>

#include "core/warp/WarpKernels.h"

namespace tarnel::warp {
namespace {

// Spans and coefficients of eight scanlines at once, each lane as rowSpan
// and rowCoefficients find them for its scanline.
struct RowBatch {
    alignas(32) int xFirst[8];
    alignas(32) int xLast[8];
    alignas(32) double u0[8], v0[8], w0[8], sx0[8], sy0[8], ex0[8], ey0[8];

    // Where scanlines y0 + lane cross edge e, widening [xMin, xMax] where inside its range.
    static void cross(const Edge& e, __m256d yLow, __m256d yHigh, __m256& xMin, __m256& xMax) {
        __m256 c;
        if (e.vertical) {
            c = _mm256_set1_ps(e.x);
        } else {
            const __m256d b = _mm256_set1_pd(e.b), m = _mm256_set1_pd(e.m);
            c = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_div_pd(_mm256_sub_pd(yHigh, b), m)),
                                _mm256_cvtpd_ps(_mm256_div_pd(_mm256_sub_pd(yLow, b), m)));
        }
        // Ordered compares: a NaN crossing is never accepted. Where c equals
        // the bound, min/max may keep the other zero's sign; both round to 0.
        const __m256 inside = _mm256_and_ps(_mm256_cmp_ps(c, _mm256_set1_ps(e.lo), _CMP_GE_OQ),
                                            _mm256_cmp_ps(c, _mm256_set1_ps(e.hi), _CMP_LE_OQ));
        xMax = _mm256_blendv_ps(xMax, _mm256_max_ps(xMax, c), inside);
        xMin = _mm256_blendv_ps(xMin, _mm256_min_ps(xMin, c), inside);
    }

    // nearestWithin of eight values.
    static __m256i nearest(__m256 v, int lo, int hi) {
        __m256i r = _mm256_cvtps_epi32(v);
        r = _mm256_blendv_epi8(r, _mm256_set1_epi32(hi),
                               _mm256_castps_si256(_mm256_cmp_ps(v, _mm256_set1_ps(float(hi)), _CMP_GT_OQ)));
        return _mm256_blendv_epi8(_mm256_set1_epi32(lo), r,
                                  _mm256_castps_si256(_mm256_cmp_ps(v, _mm256_set1_ps(float(lo)), _CMP_GE_OQ)));
    }

    static void coefficient(const Affine& a, __m256d pyLow, __m256d pyHigh, double* out) {
        const __m256d c = _mm256_set1_pd(a.c), dy = _mm256_set1_pd(a.dy);
        _mm256_store_pd(out, _mm256_add_pd(c, _mm256_mul_pd(pyLow, dy)));
        _mm256_store_pd(out + 4, _mm256_add_pd(c, _mm256_mul_pd(pyHigh, dy)));
    }

    void fill(const TriangleRows& r, int y0) {
        const __m256d first = _mm256_set1_pd(double(y0));
        const __m256d yLow = _mm256_add_pd(first, _mm256_setr_pd(0, 1, 2, 3));
        const __m256d yHigh = _mm256_add_pd(first, _mm256_setr_pd(4, 5, 6, 7));
        __m256 xMax = _mm256_set1_ps(-100000.0f), xMin = _mm256_set1_ps(100000.0f);
        cross(r.edges[0], yLow, yHigh, xMin, xMax);
        cross(r.edges[1], yLow, yHigh, xMin, xMax);
        cross(r.edges[2], yLow, yHigh, xMin, xMax);
        _mm256_store_si256(reinterpret_cast<__m256i*>(xFirst), nearest(xMin, 0, r.width));
        _mm256_store_si256(reinterpret_cast<__m256i*>(xLast), nearest(xMax, -1, r.width - 1));
        const __m256d ay = _mm256_set1_pd(r.ay);
        const __m256d pyLow = _mm256_sub_pd(yLow, ay), pyHigh = _mm256_sub_pd(yHigh, ay);
        coefficient(r.su, pyLow, pyHigh, u0);
        coefficient(r.sv, pyLow, pyHigh, v0);
        coefficient(r.sw, pyLow, pyHigh, w0);
        coefficient(r.sx, pyLow, pyHigh, sx0);
        coefficient(r.sy, pyLow, pyHigh, sy0);
        coefficient(r.ex, pyLow, pyHigh, ex0);
        coefficient(r.ey, pyLow, pyHigh, ey0);
    }

    RowCoefficients row(const TriangleRows& r, int lane) const {
        return RowCoefficients{u0[lane],  r.su.dx, v0[lane],  r.sv.dx, w0[lane],  r.sw.dx, sx0[lane],
                               r.sx.dx,   sy0[lane], r.sy.dx, ex0[lane], r.ex.dx, ey0[lane], r.ey.dx};
    }
};

}  // namespace
}  // namespace tarnel::warp
