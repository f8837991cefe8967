#include "core/warp/Warp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "core/warp/WarpKernels.h"
#include "core/warp/WarpRows.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnel {

// ------------------------------------------------------------------ pixels


bool PixelArray::resize(int width, int height) {
    clear();
    if (!Bitmap::sizeAllowed(width, height)) return false;
    try {
        data_.assign(size_t(width) * size_t(height), 0u);
    } catch (const std::bad_alloc&) {
        return false;
    }
    width_ = width;
    height_ = height;
    return true;
}

void PixelArray::clear() {
    width_ = height_ = 0;
    std::vector<uint32_t>().swap(data_);
}

bool ReadPicturePixels(const Bitmap& image, PixelArray& pixels) {
    if (image.empty()) return true;
    const int width = image.width(), height = image.height();
    // Another depth goes through a one-row canvas, row by row, so its colours
    // are those a canvas shows without a frame-sized copy.
    Bitmap row;
    DC rowDC, imageDC;
    if (image.bpp() != 32) {
        if (!row.create(width, 1, 32, true)) return true;
        rowDC.select(&row);
        imageDC.select(const_cast<Bitmap*>(&image));
    }
    if (pixels.width() != width || pixels.height() != height) {
        PixelArray sized;
        if (!sized.resize(width, height)) return true;
        pixels = std::move(sized);
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = image.scanline(y);
        if (image.bpp() != 32) {
            BitBlt(&rowDC, 0, 0, width, 1, &imageDC, 0, y, SRCCOPY);
            from = row.scanline(0);
        }
        uint32_t* out = pixels.row(y);
        std::memcpy(out, from, size_t(width) * 4);
        for (int x = 0; x < width; ++x) out[x] &= 0x00FFFFFFu;
    }
    return false;
}

// ------------------------------------------------------------ the formulas

float TriangleArea(const MeshPoint& a, const MeshPoint& b, const MeshPoint& c) {
    const double dx = double(a.x) - double(b.x), dy = double(a.y) - double(b.y);
    const double base = std::sqrt(dx * dx + dy * dy);
    const double m = float(a.x - b.x) == 0.0f ? 1e20 : double(float(dy / dx));
    const double intercept = double(a.y) - m * double(a.x);
    const double height = std::fabs(double(c.y) - m * double(c.x) - intercept) / std::sqrt(m * m + 1.0);
    return float(0.5 * base * height);
}

Weights BarycentricWeights(const MeshTriangle& tri, float x, float y, float& area) {
    if (area == 0.0f) area = 1e-6f;
    const MeshPoint p{x, y};
    return Weights{TriangleArea(p, tri.b, tri.c) / area, TriangleArea(tri.a, p, tri.c) / area,
                   TriangleArea(tri.a, tri.b, p) / area};
}

bool SignedWeights(const MeshTriangle& tri, double x, double y, double& u, double& v, double& w) {
    const double ax = tri.a.x, ay = tri.a.y, bx = tri.b.x, by = tri.b.y, cx = tri.c.x, cy = tri.c.y;
    const double d = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
    if (d == 0.0 || !std::isfinite(d)) return false;
    u = ((bx - x) * (cy - y) - (cx - x) * (by - y)) / d;
    v = ((cx - x) * (ay - y) - (ax - x) * (cy - y)) / d;
    w = ((ax - x) * (by - y) - (bx - x) * (ay - y)) / d;
    return true;
}

MeshPoint MapPoint(double u, double v, double w, const MeshTriangle& tri) {
    return MeshPoint{float(u * tri.a.x + v * tri.b.x + w * tri.c.x), float(u * tri.a.y + v * tri.b.y + w * tri.c.y)};
}

float FrameParameter(int k, int n) { return float(double(k) / double(n)); }

float EaseParameter(float t, WarpEase ease) {
    if (ease == WarpEase::Linear) return t;
    const double v = t;
    return float(v * v * (3.0 - 2.0 * v));
}

bool ParseWarpSampling(const std::string& text, WarpSampling& out) {
    if (text == "nearest") out = WarpSampling::Nearest;
    else if (text == "bilinear") out = WarpSampling::Bilinear;
    else return false;
    return true;
}

bool ParseWarpEase(const std::string& text, WarpEase& out) {
    if (text == "linear") out = WarpEase::Linear;
    else if (text == "smooth") out = WarpEase::Smooth;
    else return false;
    return true;
}

void InterpolateTriangles(const std::vector<MeshTriangle>& startTriangles,
                          const std::vector<MeshTriangle>& endTriangles, float t, std::vector<MeshTriangle>& mid) {
    const size_t count = std::min(startTriangles.size(), endTriangles.size());
    mid.resize(count);
    const double td = t;
    auto lerp = [td](const MeshPoint& s, const MeshPoint& e) {
        return MeshPoint{float((double(e.x) - double(s.x)) * td + double(s.x)),
                         float((double(e.y) - double(s.y)) * td + double(s.y))};
    };
    for (size_t i = 0; i < count; ++i) {
        const MeshTriangle& s = startTriangles[i];
        const MeshTriangle& e = endTriangles[i];
        mid[i] = MeshTriangle{lerp(s.a, e.a), lerp(s.b, e.b), lerp(s.c, e.c)};
    }
}

std::vector<MeshTriangle> InterpolateTriangles(const std::vector<MeshTriangle>& startTriangles,
                                               const std::vector<MeshTriangle>& endTriangles, float t) {
    std::vector<MeshTriangle> mid;
    InterpolateTriangles(startTriangles, endTriangles, t, mid);
    return mid;
}

// ------------------------------------------------------------ frame context

namespace {

// Round to nearest, ties to even (the default rounding mode). Out of range
// and NaN give INT_MIN, which every caller treats as "below 0".
inline int roundToInt(float v) {
#if defined(__SSE2__)
    return _mm_cvtss_si32(_mm_set_ss(v));
#else
    if (!(v > -2147483648.0f && v < 2147483648.0f)) return INT_MIN;
    return int(std::nearbyint(v));
#endif
}

using warp::nearestWithin;

}  // namespace

WarpContext::WarpContext(const PixelArray& startPixels, const PixelArray& endPixels, int startWidth,
                         int startHeight, float t, WarpSampling sampling)
    : start_(&startPixels), end_(&endPixels), t_(t), sampling_(sampling) {
    sampleMaxX_ = roundToInt(float(startWidth) - 1.0f);
    sampleMaxY_ = roundToInt(float(startHeight) - 1.0f);
    startMaxX_ = std::min(sampleMaxX_, startPixels.width() - 1);
    startMaxY_ = std::min(sampleMaxY_, startPixels.height() - 1);
    endMaxX_ = std::min(sampleMaxX_, endPixels.width() - 1);
    endMaxY_ = std::min(sampleMaxY_, endPixels.height() - 1);
    valid_ = startWidth > 0 && startHeight > 0 && !startPixels.empty() && !endPixels.empty();
}

uint32_t WarpContext::blendLiteral(uint32_t s, uint32_t e) const {
    auto channel = [this](uint32_t sv, uint32_t ev) {
        double value = (1.0 - double(t_)) * double(sv) + double(t_) * double(ev);
        value = std::clamp(value, 0.0, 255.0);
        return uint32_t(std::nearbyint(value));
    };
    return channel((s >> 16) & 0xFF, (e >> 16) & 0xFF) << 16 | channel((s >> 8) & 0xFF, (e >> 8) & 0xFF) << 8 |
           channel(s & 0xFF, e & 0xFF);
}

namespace {

// (1 - t)·s + t·e per channel, for 0 <= t <= 1. In double that equals
// s + t·(e − s) exactly (t has 24 significant bits, the channels 8; for t
// below 2^-22, where the sum would round, both forms lie within 1e-4 of s),
// so this is the literal blend without its separate products and limits.
inline uint32_t blendUnit(double t, uint32_t s, uint32_t e) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i sv = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(s)), zero), zero);
    const __m128i ev = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(e)), zero), zero);
    const __m128i dv = _mm_sub_epi32(ev, sv);
    const __m128d tv = _mm_set1_pd(t);
    // Adding 1.5 · 2^52 rounds to an integer, ties to even, and leaves it in
    // the low 32 bits of the double.
    const __m128d magic = _mm_set1_pd(6755399441055744.0);
    const __m128d blueGreen =
        _mm_add_pd(_mm_add_pd(_mm_cvtepi32_pd(sv), _mm_mul_pd(tv, _mm_cvtepi32_pd(dv))), magic);
    const __m128i sRed = _mm_shuffle_epi32(sv, 0xEE), dRed = _mm_shuffle_epi32(dv, 0xEE);
    const __m128d red = _mm_add_pd(_mm_add_pd(_mm_cvtepi32_pd(sRed), _mm_mul_pd(tv, _mm_cvtepi32_pd(dRed))), magic);
    __m128i packed = _mm_unpacklo_epi64(_mm_shuffle_epi32(_mm_castpd_si128(blueGreen), 0x08),
                                        _mm_shuffle_epi32(_mm_castpd_si128(red), 0x08));
    packed = _mm_packs_epi32(packed, packed);
    packed = _mm_packus_epi16(packed, packed);
    return uint32_t(_mm_cvtsi128_si32(packed));
#else
    auto channel = [t](uint32_t sc, uint32_t ec) {
        return uint32_t(std::nearbyint(double(sc) + t * (double(ec) - double(sc))));
    };
    return channel((s >> 16) & 0xFF, (e >> 16) & 0xFF) << 16 | channel((s >> 8) & 0xFF, (e >> 8) & 0xFF) << 8 |
           channel(s & 0xFF, e & 0xFF);
#endif
}

}  // namespace

uint32_t WarpContext::blend(uint32_t s, uint32_t e) const {
    return t_ >= 0.0f && t_ <= 1.0f ? blendUnit(t_, s, e) : blendLiteral(s, e);
}

// ------------------------------------------------------------ bilinear reads

namespace {

inline uint32_t bilinearAt(const uint32_t* pixels, size_t stride, float x, float y, float maxX, float maxY) {
    x = maxX < x ? maxX : x;  // NaN stays NaN and ends at 0
    y = maxY < y ? maxY : y;
    if (!(x > 0.0f)) x = 0.0f;
    if (!(y > 0.0f)) y = 0.0f;
    const int x0 = int(x), y0 = int(y);
    const double fx = double(x - float(x0)), fy = double(y - float(y0));
    const size_t x1 = float(x0) < maxX ? size_t(x0) + 1 : size_t(x0);
    const uint32_t* top = pixels + size_t(y0) * stride;
    const uint32_t* bottom = float(y0) < maxY ? top + stride : top;
    const uint32_t p00 = top[x0], p10 = top[x1], p01 = bottom[x0], p11 = bottom[x1];
    // Adding 1.5 · 2^52 rounds a value of 0..255 to an integer, ties to even
    // (as nearbyint would), and leaves it in the low bits.
    constexpr double kRound = 6755399441055744.0;
    uint32_t color = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const double a = double((p00 >> shift) & 0xFF), b = double((p10 >> shift) & 0xFF);
        const double c = double((p01 >> shift) & 0xFF), d = double((p11 >> shift) & 0xFF);
        const double upper = a + fx * (b - a), lower = c + fx * (d - c);
        const double rounded = (upper + fy * (lower - upper)) + kRound;
        uint64_t bits;
        std::memcpy(&bits, &rounded, 8);
        color |= (uint32_t(bits) & 0xFF) << shift;
    }
    return color;
}

}  // namespace

uint32_t BilinearSample(const PixelArray& pixels, float x, float y, int maxX, int maxY) {
    return bilinearAt(pixels.row(0), size_t(pixels.width()), x, y, float(maxX), float(maxY));
}

// ------------------------------------------------------------ production fill

bool warp::LiteralAccepts(const AcceptTest& test, int x, int y) {
    float area = test.area;
    const Weights literal = BarycentricWeights(*test.tri, float(x), float(y), area);
    return !(float(double(literal.u) + double(literal.v) + double(literal.w)) > 1.01f);
}

namespace {

using warp::Affine;
using warp::Blend;
using warp::Edge;
using warp::PixelSources;
using warp::RowCoefficients;

// Same ranges, slopes and intercepts as the literal path, set up once per triangle.
Edge edgeOf(const MeshPoint& first, const MeshPoint& second) {
    Edge e;
    e.lo = float(double(std::min(first.x, second.x)) - 0.001);
    e.hi = float(double(std::max(first.x, second.x)) + 0.001);
    e.vertical = float(first.x - second.x) == 0.0f;
    e.x = first.x;
    if (e.vertical) return e;
    e.m = double(float((double(second.y) - double(first.y)) / (double(second.x) - double(first.x))));
    if (e.m == 0.0) e.m = 1e-7;
    e.b = double(first.y) - e.m * double(first.x);
    return e;
}

// Sums of the unsigned weights this close to the 1.01 limit are decided by
// the literal weights; further away the affine form decides. Over random
// triangles (thin ones included) the literal sums stray from the exact ones
// by under 5e-6, a twentieth of the band.
constexpr double kAcceptLimit = double(1.01f);
constexpr double kAcceptBand = 1e-4;
// The literal area of a triangle must agree with the exact one this closely
// for the affine form to stand in for the literal weights.
constexpr double kAreaAgreement = 1e-5;

struct Setup {
    const MeshTriangle* tri;
    double ax, ay;
    float area;
    Affine su, sv, sw;      // signed coordinates in the interpolated triangle
    Affine sx, sy, ex, ey;  // the source positions in the start and end images
    double inverseU, inverseV, inverseW;  // 1 / the signed coordinates' steps along x
};

inline void prefetch(const uint32_t* at, ptrdiff_t elements) {
#if defined(__GNUC__)
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(at) + uintptr_t(elements * 4)));
#else
    (void)at, (void)elements;
#endif
}

#if !defined(__SSE2__)
// Index of a sample coordinate: float as computed, clamped to 0..maxIndex.
inline int sampleIndex(double v, float maxIndex) {
    float f = float(v);
    f = maxIndex < f ? maxIndex : f;  // NaN stays NaN and ends at 0
    const int i = roundToInt(f);
    return i < 0 ? 0 : i;
}
#endif

// Pixels from..to of one scanline; `tested` pixels go through the 1.01
// acceptance test, the others are known to lie inside the triangle.
template <Blend mode, bool tested, bool bilinear>
inline void fillPixels(uint8_t* out, int from, int to, int y, double px, const RowCoefficients c,
                       const PixelSources src, const Setup& setup) {
#if defined(__SSE2__)
    const __m128d sBase = _mm_set_pd(c.sy0, c.sx0), sStep = _mm_set_pd(c.syd, c.sxd);
    const __m128d eBase = _mm_set_pd(c.ey0, c.ex0), eStep = _mm_set_pd(c.eyd, c.exd);
    const __m128 limits = _mm_set_ps(src.endMaxY, src.endMaxX, src.startMaxY, src.startMaxX);
    const __m128i zero = _mm_setzero_si128();
#endif
    for (int x = from; x <= to; ++x, px += 1.0) {
        if constexpr (tested) {
            const double u = c.u0 + px * c.ud, v = c.v0 + px * c.vd, w = c.w0 + px * c.wd;
            const double sum = std::fabs(u) + std::fabs(v) + std::fabs(w);
            if (sum > kAcceptLimit - kAcceptBand) {
                if (sum > kAcceptLimit + kAcceptBand) continue;
                float area = setup.area;
                const Weights literal = BarycentricWeights(*setup.tri, float(x), float(y), area);
                if (float(double(literal.u) + double(literal.v) + double(literal.w)) > 1.01f) continue;
            }
        }
        uint32_t color;
        if constexpr (bilinear) {
            uint32_t s = 0, e = 0;
            if constexpr (mode != Blend::EndOnly)
                s = bilinearAt(src.start, src.startStride, float(c.sx0 + px * c.sxd), float(c.sy0 + px * c.syd),
                               src.startMaxX, src.startMaxY);
            if constexpr (mode != Blend::StartOnly)
                e = bilinearAt(src.end, src.endStride, float(c.ex0 + px * c.exd), float(c.ey0 + px * c.eyd),
                               src.endMaxX, src.endMaxY);
            color = mode == Blend::StartOnly ? s : mode == Blend::EndOnly ? e : blendUnit(src.t, s, e);
        } else {
            int sx = 0, sy = 0, ex = 0, ey = 0;
#if defined(__SSE2__)
            // Both sources' positions at once: double -> float -> clamp above ->
            // nearest (ties to even) -> clamp below. minps(limit, NaN) keeps the
            // NaN, which converts to INT_MIN and so to 0, like the scalar path.
            const __m128d pxv = _mm_set1_pd(px);
            const __m128 f = _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(sBase, _mm_mul_pd(pxv, sStep))),
                                           _mm_cvtpd_ps(_mm_add_pd(eBase, _mm_mul_pd(pxv, eStep))));
            __m128i i = _mm_cvtps_epi32(_mm_min_ps(limits, f));
            i = _mm_and_si128(i, _mm_cmpgt_epi32(i, zero));
            if constexpr (mode != Blend::EndOnly) {
                sx = _mm_cvtsi128_si32(i);
                sy = _mm_cvtsi128_si32(_mm_shuffle_epi32(i, 1));
            }
            if constexpr (mode != Blend::StartOnly) {
                ex = _mm_cvtsi128_si32(_mm_shuffle_epi32(i, 2));
                ey = _mm_cvtsi128_si32(_mm_shuffle_epi32(i, 3));
            }
#else
            if constexpr (mode != Blend::EndOnly) {
                sx = sampleIndex(c.sx0 + px * c.sxd, src.startMaxX);
                sy = sampleIndex(c.sy0 + px * c.syd, src.startMaxY);
            }
            if constexpr (mode != Blend::StartOnly) {
                ex = sampleIndex(c.ex0 + px * c.exd, src.endMaxX);
                ey = sampleIndex(c.ey0 + px * c.eyd, src.endMaxY);
            }
#endif
            // The next scanline samples about one source row further on; asking
            // for that line now hides the miss a slanted walk over the rows would
            // otherwise take on it. A prefetch never faults, so the address needs
            // no bounds.
            if constexpr (mode == Blend::StartOnly) {
                const size_t si = size_t(sy) * src.startStride + size_t(sx);
                prefetch(src.start + si, src.startAhead);
                color = src.start[si];
            } else if constexpr (mode == Blend::EndOnly) {
                const size_t ei = size_t(ey) * src.endStride + size_t(ex);
                prefetch(src.end + ei, src.endAhead);
                color = src.end[ei];
            } else {
                const size_t si = size_t(sy) * src.startStride + size_t(sx),
                             ei = size_t(ey) * src.endStride + size_t(ex);
                prefetch(src.start + si, src.startAhead);
                prefetch(src.end + ei, src.endAhead);
                color = blendUnit(src.t, src.start[si], src.end[ei]);
            }
        }
        std::memcpy(out + 4 * size_t(x), &color, 4);
    }
}

// The offset in elements of where a source walks in `rows` frame scanlines.
inline ptrdiff_t rowAhead(double dx, double dy, size_t stride, double rows) {
    constexpr double kFar = 1 << 20;  // a wild map gains nothing from prefetching
    if (!(std::fabs(dx) < kFar && std::fabs(dy) < kFar)) return 0;
    return ptrdiff_t(std::nearbyint(rows * dy)) * ptrdiff_t(stride) + ptrdiff_t(std::nearbyint(rows * dx));
}

// vectorRun: the triangle run of the instruction set in use, or null for the
// portable loops.
template <Blend mode, bool bilinear>
void fillScanlines(Bitmap& frame, const warp::TriangleRows& rows, const Setup& s, const WarpContext& context,
                   warp::TriangleRun vectorRun) {
    const PixelArray& startPixels = context.startPixels();
    const PixelArray& endPixels = context.endPixels();
    PixelSources src{startPixels.row(0),
                     endPixels.row(0),
                     size_t(startPixels.width()),
                     size_t(endPixels.width()),
                     float(context.startMaxX()),
                     float(context.startMaxY()),
                     float(context.endMaxX()),
                     float(context.endMaxY()),
                     double(context.t())};
    // The vector runs cross a short scanline so quickly that the next one's
    // lines would not arrive in time; they ask for the lines four scanlines on.
    const double rowsAhead = vectorRun ? 4.0 : 1.0;
    src.startAhead = rowAhead(s.sx.dy, s.sy.dy, src.startStride, rowsAhead);
    src.endAhead = rowAhead(s.ex.dy, s.ey.dy, src.endStride, rowsAhead);
    src.frameAhead = ptrdiff_t(rowsAhead) * rows.rowStep;
    // The vector runs find the scanlines themselves and test each pixel
    // unless a long scanline's interior spares it, as the loops below do.
    if (vectorRun) {
        vectorRun(rows, src, warp::AcceptTest{kAcceptLimit - kAcceptBand, kAcceptLimit + kAcceptBand, s.tri, s.area});
        return;
    }
    for (int y = rows.yFirst; y <= rows.yLast; ++y) {
        int xFirst, xLast;
        if (!warp::rowSpan(rows.edges, y, rows.width, xFirst, xLast)) continue;
        const RowCoefficients c = warp::rowCoefficients(rows, y);
        uint8_t* out = frame.scanline(y);
        const double px = double(xFirst) - s.ax;
        int inFirst, inLast;
        warp::interior(rows, c, xFirst, xLast, inFirst, inLast);
        if (inFirst > inLast) {
            fillPixels<mode, true, bilinear>(out, xFirst, xLast, y, px, c, src, s);
            continue;
        }
        fillPixels<mode, true, bilinear>(out, xFirst, inFirst - 1, y, px, c, src, s);
        fillPixels<mode, false, bilinear>(out, inFirst, inLast, y, px + double(inFirst - xFirst), c, src, s);
        fillPixels<mode, true, bilinear>(out, inLast + 1, xLast, y, px + double(inLast + 1 - xFirst), c, src, s);
    }
}

// The source position as an affine function, from the signed coordinates.
Affine sourceMap(const Setup& s, const MeshTriangle& source, bool yAxis) {
    const double a = yAxis ? source.a.y : source.a.x;
    const double ba = (yAxis ? source.b.y : source.b.x) - a;
    const double ca = (yAxis ? source.c.y : source.c.x) - a;
    // u·A + v·B + w·C = A + v·(B − A) + w·(C − A), since u + v + w = 1.
    return Affine{a, s.sv.dx * ba + s.sw.dx * ca, s.sv.dy * ba + s.sw.dy * ca};
}

}  // namespace

void FillTriangle(Bitmap& frame, const MeshTriangle& tri, const MeshTriangle& startTri, const MeshTriangle& endTri,
                  const WarpContext& context) {
    if (!context.valid() || frame.empty()) return;
    auto literal = [&] {
        DC dc;
        dc.select(&frame);
        FillTriangleReference(&dc, tri, startTri, endTri, context);
    };
    // Frames of other depths and t outside 0..1 (k beyond 0..N, where the
    // channel limits come into play) are rare enough for the literal path.
    if (frame.bpp() != 32 || !(context.t() >= 0.0f && context.t() <= 1.0f)) return literal();

    const float yTop = std::min({tri.a.y, tri.b.y, tri.c.y});
    const float yBottom = std::max({tri.a.y, tri.b.y, tri.c.y});
    const int yFirst = nearestWithin(yTop, 0, frame.height());
    const int yLast = nearestWithin(yBottom, -1, frame.height() - 1);
    if (yFirst > yLast) return;

    Setup s;
    s.tri = &tri;
    s.ax = tri.a.x;
    s.ay = tri.a.y;
    s.area = TriangleArea(tri.a, tri.b, tri.c);
    const double bx = double(tri.b.x) - s.ax, by = double(tri.b.y) - s.ay;
    const double cx = double(tri.c.x) - s.ax, cy = double(tri.c.y) - s.ay;
    const double d = bx * cy - cx * by;
    const double half = std::fabs(d) * 0.5;
    // Degenerate, non-finite or sliver triangles whose literal area strays
    // from the exact one go the literal way; they cover few pixels.
    if (!(d != 0.0 && std::isfinite(d) && std::isfinite(s.area) && s.area > 0.0f &&
          std::fabs(double(s.area) - half) <= kAreaAgreement * half)) {
        return literal();
    }
    // Relative to corner a (P = a + (px, py)):
    //   u = 1 + (px·(b.y − c.y) + py·(c.x − b.x)) / d
    //   v =     (px·c.y − py·c.x) / d,  w = (py·b.x − px·b.y) / d   (b, c relative to a)
    s.su = Affine{1.0, (by - cy) / d, (cx - bx) / d};
    s.sv = Affine{0.0, cy / d, -cx / d};
    s.sw = Affine{0.0, -by / d, bx / d};
    s.inverseU = 1.0 / s.su.dx;
    s.inverseV = 1.0 / s.sv.dx;
    s.inverseW = 1.0 / s.sw.dx;
    s.sx = sourceMap(s, startTri, false);
    s.sy = sourceMap(s, startTri, true);
    s.ex = sourceMap(s, endTri, false);
    s.ey = sourceMap(s, endTri, true);

    // Scanline y of the frame starts at row0 + y · rowStep, bottom-up frames too.
    const ptrdiff_t rowStep = (frame.topDown() ? 1 : -1) * ptrdiff_t(frame.stride());
    const warp::TriangleRows rows{{edgeOf(tri.a, tri.b), edgeOf(tri.b, tri.c), edgeOf(tri.c, tri.a)},
                                  yFirst,
                                  yLast,
                                  frame.width(),
                                  frame.scanline(0),
                                  rowStep,
                                  s.ax,
                                  s.ay,
                                  s.su,
                                  s.sv,
                                  s.sw,
                                  s.sx,
                                  s.sy,
                                  s.ex,
                                  s.ey,
                                  s.inverseU,
                                  s.inverseV,
                                  s.inverseW};

    // The vector runs step by adding lane offsets to the pixel position, the
    // portable loop by adding 1 at a time; the two agree when every position
    // the row reaches is exact: a corner x that is a multiple of 2^-30 below
    // 2^21 in size (every float from 2^-7 up is one) keeps x − ax on that grid
    // within 53 bits for every frame column.
    const double grid = s.ax * 1073741824.0;
    const bool exactSteps = std::fabs(s.ax) < 2097152.0 && grid == std::floor(grid);
    const warp::TriangleRuns& runs = warp::ActiveTriangleRuns();
    const float t = context.t();
    if (context.sampling() == WarpSampling::Bilinear) {
        if (t == 0.0f)
            fillScanlines<Blend::StartOnly, true>(frame, rows, s, context,
                                                  exactSteps ? runs.bilinearStartOnly : nullptr);
        else if (t == 1.0f)
            fillScanlines<Blend::EndOnly, true>(frame, rows, s, context, exactSteps ? runs.bilinearEndOnly : nullptr);
        else
            fillScanlines<Blend::Mix, true>(frame, rows, s, context, exactSteps ? runs.bilinearMix : nullptr);
        return;
    }
    if (t == 0.0f)
        fillScanlines<Blend::StartOnly, false>(frame, rows, s, context, exactSteps ? runs.startOnly : nullptr);
    else if (t == 1.0f)
        fillScanlines<Blend::EndOnly, false>(frame, rows, s, context, exactSteps ? runs.endOnly : nullptr);
    else
        fillScanlines<Blend::Mix, false>(frame, rows, s, context, exactSteps ? runs.mix : nullptr);
}

bool WarpFrame(const std::vector<MeshTriangle>& startTriangles, const std::vector<MeshTriangle>& endTriangles, int k,
               int n, const PixelArray& startPixels, const PixelArray& endPixels, int startWidth, int startHeight,
               Bitmap& frame) {
    return WarpFrame(startTriangles, endTriangles, k, n, startPixels, endPixels, startWidth, startHeight, frame,
                     WarpOptions{});
}

bool WarpFrame(const std::vector<MeshTriangle>& startTriangles, const std::vector<MeshTriangle>& endTriangles, int k,
               int n, const PixelArray& startPixels, const PixelArray& endPixels, int startWidth, int startHeight,
               Bitmap& frame, const WarpOptions& options) {
    if (n < 1 || startTriangles.size() != endTriangles.size() || frame.empty()) return false;
    const float t = FrameParameter(k, n);
    const WarpContext context(startPixels, endPixels, startWidth, startHeight, EaseParameter(t, options.blendEase),
                              options.sampling);
    if (!context.valid()) return false;
    const std::vector<MeshTriangle> mid =
        InterpolateTriangles(startTriangles, endTriangles, EaseParameter(t, options.warpEase));
    for (size_t i = 0; i < mid.size(); ++i) FillTriangle(frame, mid[i], startTriangles[i], endTriangles[i], context);
    return true;
}

}  // namespace tarnel
