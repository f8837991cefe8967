#pragma once
// The warp-and-blend engine: renders one frame of a morph. Every pair of
// corresponding start/end triangles is interpolated at t, the interpolated
// triangle is scan-converted, each of its pixels is mapped back into the start
// and the end triangle, both images are sampled at the nearest pixel, the two
// colours are blended by t and the pixel is written to the frame surface.
// Pixels no triangle covers keep the frame's background; where triangles
// share pixels the later triangle wins.
//
// Two implementations stand side by side: the production path (FillTriangle,
// WarpFrame: set-up hoisted per triangle and per scanline; the signed
// coordinates and both source positions as affine functions of the pixel;
// the 1.01 test by their absolute sum, with the literal weights deciding
// only within 1e-4 of the limit; degenerate and sliver triangles through the
// literal path; direct writes into the frame's rows) and the literal one
// (FillTriangleReference, WarpFrameReference: the formulas step by step,
// per-pixel set-pixel calls), which the tests hold the production path to.
// The production path's scanlines run as a portable loop or, chosen at run
// time (WarpIsa), as SSE4.1 / AVX2 / AVX-512 code that does the same IEEE
// operations per lane and so writes the same bytes.
//
// Both share three choices:
//  - an exactly vertical edge crosses every scanline at its own x (a
//    substitute slope would drop the crossing far from the edge's first end
//    and leave gaps in tall cells);
//  - sample coordinates are clamped to 0 from below as well as to the last
//    pixel column/row from above;
//  - a pixel is accepted or skipped by the unsigned weights of
//    BarycentricWeights (sum <= 1.01 as a 32-bit float), but mapped with its
//    signed barycentric coordinates in the interpolated triangle (double),
//    so a pixel just outside a triangle maps just outside the source
//    triangle rather than to its mirror image inside; frame 0 of an unedited
//    mesh is then exactly the start image. A degenerate interpolated triangle
//    (zero signed area) maps with the unsigned weights.
// Reentrant: no state outside the arguments, so frames may render concurrently.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Mesh.h"
#include "platform/gdi.h"

namespace tarnel {

// A 2-D array of 32-bit pixels 0x00RRGGBB (blue in the lowest byte), indexed
// (x, y) from the top-left; stored row by row.
class PixelArray {
public:
    PixelArray() = default;

    // width x height pixels, all 0. False (and an empty array) for a size
    // beyond the surface limits or when memory runs out.
    bool resize(int width, int height);
    void clear();
    bool empty() const { return data_.empty(); }
    int width() const { return width_; }
    int height() const { return height_; }

    // Unchecked.
    uint32_t& operator()(int x, int y) { return data_[size_t(y) * size_t(width_) + size_t(x)]; }
    uint32_t operator()(int x, int y) const { return data_[size_t(y) * size_t(width_) + size_t(x)]; }
    uint32_t* row(int y) { return data_.data() + size_t(y) * size_t(width_); }
    const uint32_t* row(int y) const { return data_.data() + size_t(y) * size_t(width_); }

private:
    int width_ = 0, height_ = 0;
    std::vector<uint32_t> data_;
};

// Copies an image into the array, which takes the image's size: the pixels a
// 32-bpp canvas of that size shows once the image is put on it (a 32-bpp
// image as it is, another depth converted as a canvas converts it), with the
// top byte cleared. Returns true when the image cannot be read (empty image,
// no memory; the array is then left as it was), false otherwise.
bool ReadPicturePixels(const Bitmap& image, PixelArray& pixels);

// Unsigned area of triangle abc as a 32-bit float, half base times height
// with the base's slope as a float (1e20 for a vertical base).
float TriangleArea(const MeshPoint& a, const MeshPoint& b, const MeshPoint& c);

struct Weights {
    float u = 0.0f, v = 0.0f, w = 0.0f;
};

// u = area(P, b, c), v = area(a, P, c), w = area(a, b, P), each divided by
// area, with P = (x, y): all non-negative, summing to 1 inside the triangle
// and to more than 1 outside. An area of exactly 0 is first replaced by 1e-6
// and the replacement written back.
Weights BarycentricWeights(const MeshTriangle& tri, float x, float y, float& area);

// Signed barycentric coordinates of (x, y) in tri, in double: they sum to 1
// and go negative outside the triangle. False (nothing written) when tri has
// zero signed area.
bool SignedWeights(const MeshTriangle& tri, double x, double y, double& u, double& v, double& w);

// (u·a.x + v·b.x + w·c.x, u·a.y + v·b.y + w·c.y), each stored as a 32-bit float.
MeshPoint MapPoint(double u, double v, double w, const MeshTriangle& tri);

// t = k / N divided in double and stored as a 32-bit float.
float FrameParameter(int k, int n);

// How a source image is read at a mapped position.
enum class WarpSampling {
    Nearest,   // the nearest pixel (the run's own way)
    Bilinear,  // the four pixels around the position, weighted by distance
};

// How the frame parameter is shaped before it is used.
enum class WarpEase {
    Linear,  // t itself
    Smooth,  // 3t^2 - 2t^3: starts and ends slowly
};

// A run's rendering choices; the defaults give the frames of a plain run.
struct WarpOptions {
    WarpSampling sampling = WarpSampling::Nearest;
    WarpEase warpEase = WarpEase::Linear;   // shapes the triangles' interpolation
    WarpEase blendEase = WarpEase::Linear;  // shapes the cross-dissolve
    bool isDefault() const {
        return sampling == WarpSampling::Nearest && warpEase == WarpEase::Linear && blendEase == WarpEase::Linear;
    }
};

// t for Linear; for Smooth 3t^2 - 2t^3 in double, stored as a 32-bit float
// (0 and 1 stay exactly 0 and 1).
float EaseParameter(float t, WarpEase ease);

// "nearest" / "bilinear" and "linear" / "smooth"; false for any other text.
bool ParseWarpSampling(const std::string& text, WarpSampling& out);
bool ParseWarpEase(const std::string& text, WarpEase& out);

// The colour of pixels at (x, y) read bilinearly: x and y limited to
// 0..maxX / 0..maxY (NaN gives 0), each byte of the four pixels around
// interpolated along x (fx = x - floor x) and then along y in double, rounded
// to nearest, ties to even; neighbours beyond maxX / maxY repeat the last
// column / row. maxX and maxY must lie inside the array.
uint32_t BilinearSample(const PixelArray& pixels, float x, float y, int maxX, int maxY);

// Instruction sets the interior pixel loop of the production fill can use.
// All give the same bytes; Portable is the plain loop every build has.
enum class WarpIsa { Portable, Sse41, Avx2, Avx512 };

// Whether this build and this CPU can run isa (Portable always can).
bool WarpIsaSupported(WarpIsa isa);
// The best supported one.
WarpIsa BestWarpIsa();
// The one in use. At first use: what TARNEL_WARP_ISA names ("portable",
// "sse4.1", "avx2", "avx512") when supported, otherwise the best supported.
WarpIsa ActiveWarpIsa();
// Uses isa from now on (for every thread), or the best supported one when
// isa is not supported; returns the one now in use.
WarpIsa SetWarpIsa(WarpIsa isa);
// "portable", "sse4.1", "avx2", "avx512".
const char* WarpIsaName(WarpIsa isa);
bool ParseWarpIsa(const std::string& text, WarpIsa& out);

// The sources of one frame: both pixel arrays, the last sampled column and
// row (SampleMaxX/SampleMaxY: the start canvas's scale size - 1, further
// limited to what each array holds) and t.
class WarpContext {
public:
    // startWidth/startHeight: scale size of the start canvas. The arrays must
    // outlive the context.
    WarpContext(const PixelArray& startPixels, const PixelArray& endPixels, int startWidth, int startHeight, float t,
                WarpSampling sampling = WarpSampling::Nearest);

    // False when either array is empty or the start canvas has no pixels.
    bool valid() const { return valid_; }
    float t() const { return t_; }
    WarpSampling sampling() const { return sampling_; }
    int sampleMaxX() const { return sampleMaxX_; }
    int sampleMaxY() const { return sampleMaxY_; }
    const PixelArray& startPixels() const { return *start_; }
    const PixelArray& endPixels() const { return *end_; }
    // The sample maxima further limited to what each array holds.
    int startMaxX() const { return startMaxX_; }
    int startMaxY() const { return startMaxY_; }
    int endMaxX() const { return endMaxX_; }
    int endMaxY() const { return endMaxY_; }

    // The blended colour 0x00RRGGBB of a start and an end pixel: per channel
    // (1 - t)·s + t·e in double, limited to 0..255, rounded ties to even.
    // The pixel loop's own arithmetic.
    uint32_t blend(uint32_t s, uint32_t e) const;
    // The same blend computed directly from the formula (the reference's way).
    uint32_t blendLiteral(uint32_t s, uint32_t e) const;

private:
    const PixelArray* start_;
    const PixelArray* end_;
    float t_;
    WarpSampling sampling_ = WarpSampling::Nearest;
    int sampleMaxX_ = -1, sampleMaxY_ = -1;
    int startMaxX_ = -1, startMaxY_ = -1, endMaxX_ = -1, endMaxY_ = -1;
    bool valid_ = false;
};

// Fills one interpolated triangle tri on the frame surface; startTri and
// endTri are its source triangles. 32-bpp frames are written directly, other
// depths through the nearest colour of their table. Pixels outside the frame
// are clipped.
void FillTriangle(Bitmap& frame, const MeshTriangle& tri, const MeshTriangle& startTri, const MeshTriangle& endTri,
                  const WarpContext& context);
// The literal version: every formula as written, one SetPixelV per pixel.
void FillTriangleReference(HDC frame, const MeshTriangle& tri, const MeshTriangle& startTri,
                           const MeshTriangle& endTri, const WarpContext& context);

// Renders frame k of frames 0..n onto the frame surface: t = k / n, every
// triangle pair interpolated as (end - start)·t + start (floats), then filled
// in list order. startWidth/startHeight are the start canvas's scale size.
// Returns false and draws nothing when n < 1, the lists differ in length, a
// pixel array is empty or the frame surface is empty.
bool WarpFrame(const std::vector<MeshTriangle>& startTriangles, const std::vector<MeshTriangle>& endTriangles, int k,
               int n, const PixelArray& startPixels, const PixelArray& endPixels, int startWidth, int startHeight,
               Bitmap& frame);
// The same with a run's choices: the triangles are interpolated at
// EaseParameter(t, warpEase), the colours blended at EaseParameter(t,
// blendEase), the sources read as `sampling` says. Default options give
// exactly the frame above.
bool WarpFrame(const std::vector<MeshTriangle>& startTriangles, const std::vector<MeshTriangle>& endTriangles, int k,
               int n, const PixelArray& startPixels, const PixelArray& endPixels, int startWidth, int startHeight,
               Bitmap& frame, const WarpOptions& options);
// The literal version of WarpFrame, drawing through the frame's device context.
bool WarpFrameReference(const std::vector<MeshTriangle>& startTriangles,
                        const std::vector<MeshTriangle>& endTriangles, int k, int n, const PixelArray& startPixels,
                        const PixelArray& endPixels, int startWidth, int startHeight, Bitmap& frame);

// The interpolated triangle list of frame parameter t.
std::vector<MeshTriangle> InterpolateTriangles(const std::vector<MeshTriangle>& startTriangles,
                                               const std::vector<MeshTriangle>& endTriangles, float t);
// The same into a list the caller keeps, so repeated renders reuse its storage.
void InterpolateTriangles(const std::vector<MeshTriangle>& startTriangles,
                          const std::vector<MeshTriangle>& endTriangles, float t, std::vector<MeshTriangle>& mid);

}  // namespace tarnel
