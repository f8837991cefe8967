#pragma once
// Internal to the warp: a scanline's span and coefficients, shared by the
// portable loop and the vector runs so that all of them find the same
// pixels. Everything here has internal linkage: the ISA files compile it
// with their own flags, and no copy of it may end up serving another file.
#include "core/warp/WarpKernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#else
#include <cmath>
#endif

namespace tarnel::warp {
namespace {

// Round to nearest, ties to even (the default rounding mode). Out of range
// and NaN give INT_MIN, which every caller treats as "below 0".
inline int roundToInt(double v) {
#if defined(__SSE2__)
    return _mm_cvtsd_si32(_mm_set_sd(v));
#else
    if (!(v > -2147483648.0 && v < 2147483647.5)) return -2147483647 - 1;
    return int(std::nearbyint(v));
#endif
}

// nearest(v) limited to lo..hi (NaN gives lo).
inline int nearestWithin(double v, int lo, int hi) {
    if (!(v >= double(lo))) return lo;  // rounds to lo or below; NaN too
    if (v > double(hi)) v = double(hi) + 1.0;
    const int r = roundToInt(v);
    return r > hi ? hi : r;
}

// Widens [xMin, xMax] by where the edge crosses scanline y, if inside its range.
inline void acceptCrossing(const Edge& e, int y, float& xMin, float& xMax) {
    const float c = e.vertical ? e.x : float((double(y) - e.b) / e.m);
    if (c >= e.lo && c <= e.hi) {  // a NaN crossing is never accepted
        xMax = xMax < c ? c : xMax;
        xMin = c < xMin ? c : xMin;
    }
}

// The frame columns xFirst..xLast scanline y covers; false when none.
inline bool rowSpan(const Edge (&edges)[3], int y, int width, int& xFirst, int& xLast) {
    float xMax = -100000.0f, xMin = 100000.0f;
    acceptCrossing(edges[0], y, xMin, xMax);
    acceptCrossing(edges[1], y, xMin, xMax);
    acceptCrossing(edges[2], y, xMin, xMax);
    xFirst = nearestWithin(xMin, 0, width);
    xLast = nearestWithin(xMax, -1, width - 1);
    return xFirst <= xLast;
}

// Where all three signed coordinates are at least this low, the sum of the
// unsigned ones is at most 1 + 2 · 0.001, well inside the 1.01 limit: the
// pixel is accepted without testing.
constexpr double kInteriorSlack = -0.001;

// Narrows [lo, hi] to the pixels where value0 + px · step >= kInteriorSlack,
// px = x − ax. Conservative: rounding only ever narrows it further.
inline void narrowToInterior(double value0, double step, double inverseStep, double ax, int& lo, int& hi) {
    if (step == 0.0) {
        if (!(value0 >= kInteriorSlack)) hi = lo - 1;
        return;
    }
    // Where the value reaches the slack; the multiply by the inverse may be
    // a little off, which the slack's margin absorbs.
    double root = ax + (kInteriorSlack - value0) * inverseStep;
    if (!(root >= double(lo) - 1.0)) root = double(lo) - 1.0;  // NaN too
    if (root > double(hi) + 1.0) root = double(hi) + 1.0;
    const int whole = int(root);  // in range now; truncates toward zero
    if (step > 0.0) {
        const int first = whole + (double(whole) < root);  // ceil
        if (first > lo) lo = first;
    } else {
        const int last = whole - (double(whole) > root);  // floor
        if (last < hi) hi = last;
    }
}

// The pixels of xFirst..xLast where all three signed coordinates are at
// least kInteriorSlack (empty: inFirst > inLast).
inline void interior(const TriangleRows& r, const RowCoefficients& c, int xFirst, int xLast, int& inFirst,
                     int& inLast) {
    inFirst = xFirst;
    inLast = xLast;
    narrowToInterior(c.u0, c.ud, r.inverseU, r.ax, inFirst, inLast);
    narrowToInterior(c.v0, c.vd, r.inverseV, r.ax, inFirst, inLast);
    narrowToInterior(c.w0, c.wd, r.inverseW, r.ax, inFirst, inLast);
}

inline RowCoefficients rowCoefficients(const TriangleRows& r, int y) {
    const double py = double(y) - r.ay;
    return RowCoefficients{r.su.c + py * r.su.dy, r.su.dx, r.sv.c + py * r.sv.dy, r.sv.dx,
                           r.sw.c + py * r.sw.dy, r.sw.dx, r.sx.c + py * r.sx.dy, r.sx.dx,
                           r.sy.c + py * r.sy.dy, r.sy.dx, r.ex.c + py * r.ex.dy, r.ex.dx,
                           r.ey.c + py * r.ey.dy, r.ey.dx};
}

}  // namespace
}  // namespace tarnel::warp
