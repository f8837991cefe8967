#pragma once
// Known warps of a picture for the alignment's tests and benchmark: a
// rotation, scale and slight perspective about the centre plus smooth waves,
// with the exact end position of every start point.
#include <cstdint>

#include "core/Mesh.h"
#include "platform/gdi.h"

namespace tarnel::test {

struct SyntheticWarp {
    double degrees = 0;      // rotation
    double scale = 1;        // about the centre
    double tiltX = 0;        // perspective: w = 1 + tiltX * x' + tiltY * y' (x', y' in half-sizes)
    double tiltY = 0;
    double wave = 0;         // amplitude of the waves in pixels
    double waveLength = 300; // pixels
    double shiftX = 0, shiftY = 0;
};

// Where the end picture takes the pixel shown at end position (x, y) from.
MeshPoint WarpSource(const SyntheticWarp& warp, int width, int height, MeshPoint end);
// Where a start point lands in the end picture (the inverse of WarpSource);
// false when the iteration does not settle.
bool WarpTarget(const SyntheticWarp& warp, int width, int height, MeshPoint start, MeshPoint& end);
// The end picture: `picture` (24 or 32 bpp) read between pixels through
// WarpSource, edges repeated; 32 bpp.
Bitmap WarpPicture(const Bitmap& picture, const SyntheticWarp& warp);

}  // namespace tarnel::test
