#pragma once
// Internal to the warp: what a scanline's pixel loop reads, and the interior
// runs (pixels known to lie inside the triangle) written for one instruction
// set each. Every run does per pixel the IEEE operations of the portable loop
// in Warp.cpp, lane by lane, so all of them give the same bytes.
//
// The ISA files are compiled with their own instruction-set flags; this
// header therefore holds only plain data and declarations (an inline function
// here would be compiled with those flags too and could be the copy the
// linker keeps for everyone).
#include <cstddef>
#include <cstdint>

namespace tarnel {
struct MeshTriangle;
}

namespace tarnel::warp {

enum class Blend { StartOnly, EndOnly, Mix };

// One scanline's coefficients: value at px = 0 and step per pixel (px: the
// pixel's x relative to the triangle's first corner).
struct RowCoefficients {
    double u0, ud, v0, vd, w0, wd;
    double sx0, sxd, sy0, syd, ex0, exd, ey0, eyd;
};

// Everything the pixel loop reads, copied into locals: the frame rows are
// written through a byte pointer, which would otherwise make the compiler
// reload each of these after every store.
struct PixelSources {
    const uint32_t* start;
    const uint32_t* end;
    size_t startStride, endStride;
    float startMaxX, startMaxY, endMaxX, endMaxY;
    double t;
    ptrdiff_t startAhead = 0, endAhead = 0;  // elements from a sample to where later scanlines sample
    ptrdiff_t frameAhead = 0;                // bytes from a frame pixel to the one as many scanlines on
};

// How a run decides whether a pixel lies inside the triangle: by the sum of
// the absolute signed coordinates, those above nearLimit by the literal
// weights (LiteralAccepts), those above farLimit (and never a NaN sum) out.
struct AcceptTest {
    double nearLimit, farLimit;
    const MeshTriangle* tri;
    float area;  // the triangle's literal area
};

// The literal weights' verdict on pixel (x, y); defined in Warp.cpp.
bool LiteralAccepts(const AcceptTest& test, int x, int y);

// A triangle edge as the literal path sets it up: x range widened by 0.001,
// slope and intercept (or, vertical, its own x).
struct Edge {
    float lo = 0, hi = 0;
    bool vertical = false;
    float x = 0;
    double m = 0, b = 0;
};

// An affine function of the pixel position relative to the triangle's first corner.
struct Affine {
    double c = 0, dx = 0, dy = 0;
};

// One triangle's scanlines yFirst..yLast of a 32-bpp frame `width` pixels
// wide whose scanline y starts at row0 + y·rowStep, with the signed
// coordinates (su, sv, sw) and source positions (sx, sy: start image; ex,
// ey: end image) as affine functions of the pixel relative to (ax, ay).
struct TriangleRows {
    Edge edges[3];
    int yFirst, yLast, width;
    uint8_t* row0;
    ptrdiff_t rowStep;
    double ax, ay;
    Affine su, sv, sw, sx, sy, ex, ey;
    double inverseU, inverseV, inverseW;  // 1 / su.dx, 1 / sv.dx, 1 / sw.dx
};

// Writes the pixels of the triangle's scanlines that AcceptTest accepts, the
// nearest samples of both sources blended by t (0 <= t <= 1). Every pixel
// position relative to the corner, x − ax, must be exact in double along
// with x − ax + k for the lanes past a scanline's end (the caller checks):
// the runs add lane offsets instead of stepping one by one. Sample indices
// stay below 2^28 (the surface limit), so 32-bit lanes hold them.
using TriangleRun = void (*)(const TriangleRows& rows, const PixelSources& src, const AcceptTest& test);

struct TriangleRuns {
    TriangleRun startOnly = nullptr, endOnly = nullptr, mix = nullptr;
    // The same with bilinear reads (BilinearSample's arithmetic per lane); null where a set has none.
    TriangleRun bilinearStartOnly = nullptr, bilinearEndOnly = nullptr, bilinearMix = nullptr;
};

// Each defined in its own file, with constant addresses only (no code of
// the file runs before its instruction set is known to be there); all null
// where the build has no such path.
extern const TriangleRuns kSse41TriangleRuns;
extern const TriangleRuns kAvx2TriangleRuns;
extern const TriangleRuns kAvx512TriangleRuns;

// The runs of ActiveWarpIsa(); all null for the portable loop. In WarpIsa.cpp.
const TriangleRuns& ActiveTriangleRuns();

}  // namespace tarnel::warp
