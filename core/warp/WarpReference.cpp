// The literal warp: every formula in the order and precision the engine is
// defined by, one set-pixel call per pixel. Slow on purpose; the production
// path in Warp.cpp is held to it by the tests.
#include <algorithm>
#include <cmath>

#include "core/warp/Warp.h"

namespace tarnel {

namespace {

// nearest(v), ties to even, limited to lo..hi so that a far-off or non-finite
// coordinate cannot make a loop run for ever (NaN gives lo).
int nearestWithin(double v, int lo, int hi) {
    const double r = std::nearbyint(v);
    if (!(r >= lo)) return lo;
    if (r > hi) return hi;
    return int(r);
}

struct LiteralEdge {
    float lo = 0, hi = 0;  // the edge's x range, widened by 0.001
    bool vertical = false;
    float x = 0;           // a vertical edge's own x
    double m = 0, b = 0;   // slope and intercept of the line through the first end
};

LiteralEdge literalEdge(const MeshPoint& first, const MeshPoint& second) {
    LiteralEdge e;
    e.lo = float(double(std::min(first.x, second.x)) - 0.001);
    e.hi = float(double(std::max(first.x, second.x)) + 0.001);
    if (float(first.x - second.x) == 0.0f) {
        // Crossed exactly at its own x (instead of the substitute slope 100000).
        e.vertical = true;
        e.x = first.x;
        return e;
    }
    e.m = double(float((double(second.y) - double(first.y)) / (double(second.x) - double(first.x))));
    if (e.m == 0.0) e.m = 1e-7;
    e.b = double(first.y) - e.m * double(first.x);
    return e;
}

float literalCrossing(const LiteralEdge& e, int y) {
    return e.vertical ? e.x : float((double(y) - e.b) / e.m);
}

// Index of a sample coordinate: upper limit as given, lower limit 0.
int sampleIndex(float v, int maxIndex) {
    if (double(v) > double(maxIndex)) v = float(maxIndex);
    const double r = std::nearbyint(double(v));
    return r >= 0.0 ? int(r) : 0;
}

}  // namespace

void FillTriangleReference(HDC frame, const MeshTriangle& tri, const MeshTriangle& startTri,
                           const MeshTriangle& endTri, const WarpContext& context) {
    if (!frame || !frame->selected() || !context.valid()) return;
    const Bitmap& surface = *frame->selected();
    const MeshPoint& v0 = tri.a;
    const MeshPoint& v1 = tri.b;
    const MeshPoint& v2 = tri.c;

    // Edges e1 = v0v1, e2 = v1v2, e3 = v2v0: ranges, slopes, intercepts.
    const LiteralEdge edges[3] = {literalEdge(v0, v1), literalEdge(v1, v2), literalEdge(v2, v0)};

    const float yTop = std::min({v0.y, v1.y, v2.y});
    const float yBottom = std::max({v0.y, v1.y, v2.y});
    float area = TriangleArea(v0, v1, v2);
    const float t = context.t();

    const PixelArray& startPixels = context.startPixels();
    const PixelArray& endPixels = context.endPixels();
    // SampleMaxX/SampleMaxY, no further than each array reaches.
    const int startMaxX = context.startMaxX(), startMaxY = context.startMaxY();
    const int endMaxX = context.endMaxX(), endMaxY = context.endMaxY();

    // Rows and columns beyond the surface would be clipped pixel by pixel;
    // leaving them out changes nothing and bounds the loops.
    const int yFirst = nearestWithin(yTop, 0, surface.height());
    const int yLast = nearestWithin(yBottom, -1, surface.height() - 1);
    for (int y = yFirst; y <= yLast; ++y) {
        float xMax = -100000.0f, xMin = 100000.0f;
        for (const LiteralEdge& e : edges) {
            const float x = literalCrossing(e, y);
            if (x >= e.lo && x <= e.hi) {  // a NaN crossing is never accepted
                xMax = std::max(xMax, x);
                xMin = std::min(xMin, x);
            }
        }
        const int xFirst = nearestWithin(xMin, 0, surface.width());
        const int xLast = nearestWithin(xMax, -1, surface.width() - 1);
        for (int x = xFirst; x <= xLast; ++x) {
            const Weights unsignedWeights = BarycentricWeights(tri, float(x), float(y), area);
            const float sum = float(double(unsignedWeights.u) + double(unsignedWeights.v) + double(unsignedWeights.w));
            if (sum > 1.01f) continue;  // outside the triangle

            double u, v, w;
            if (!SignedWeights(tri, double(x), double(y), u, v, w)) {
                u = unsignedWeights.u;
                v = unsignedWeights.v;
                w = unsignedWeights.w;
            }
            const MeshPoint s = MapPoint(u, v, w, startTri);
            const MeshPoint e = MapPoint(u, v, w, endTri);
            uint32_t startPixel, endPixel;
            if (context.sampling() == WarpSampling::Bilinear) {
                startPixel = BilinearSample(startPixels, s.x, s.y, startMaxX, startMaxY);
                endPixel = BilinearSample(endPixels, e.x, e.y, endMaxX, endMaxY);
            } else {
                startPixel = startPixels(sampleIndex(s.x, startMaxX), sampleIndex(s.y, startMaxY));
                endPixel = endPixels(sampleIndex(e.x, endMaxX), sampleIndex(e.y, endMaxY));
            }

            // (1 - t)·s + t·e per channel in double, limited, ties to even.
            auto channel = [t](uint32_t sv, uint32_t ev) {
                double value = (1.0 - double(t)) * double(sv) + double(t) * double(ev);
                if (value < 0.0) value = 0.0;
                if (value > 255.0) value = 255.0;
                return uint8_t(std::nearbyint(value));
            };
            const uint8_t red = channel((startPixel >> 16) & 0xFF, (endPixel >> 16) & 0xFF);
            const uint8_t green = channel((startPixel >> 8) & 0xFF, (endPixel >> 8) & 0xFF);
            const uint8_t blue = channel(startPixel & 0xFF, endPixel & 0xFF);
            SetPixelV(frame, x, y, RGBColor(red, green, blue));
        }
    }
}

bool WarpFrameReference(const std::vector<MeshTriangle>& startTriangles,
                        const std::vector<MeshTriangle>& endTriangles, int k, int n, const PixelArray& startPixels,
                        const PixelArray& endPixels, int startWidth, int startHeight, Bitmap& frame) {
    if (n < 1 || startTriangles.size() != endTriangles.size() || frame.empty()) return false;
    const float t = FrameParameter(k, n);
    const WarpContext context(startPixels, endPixels, startWidth, startHeight, t);
    if (!context.valid()) return false;
    const std::vector<MeshTriangle> mid = InterpolateTriangles(startTriangles, endTriangles, t);
    DC dc;
    dc.select(&frame);
    for (size_t i = 0; i < mid.size(); ++i) FillTriangleReference(&dc, mid[i], startTriangles[i], endTriangles[i], context);
    return true;
}

}  // namespace tarnel
