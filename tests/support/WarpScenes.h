#pragma once
// Pictures, meshes and frame comparisons for the warp's tests.
#include <cstdint>
#include <random>
#include <vector>

#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "platform/gdi.h"

namespace tarnel::test {

// Kinds of test image: 0 noise, 1 smooth gradient, 2 hard-edged checkerboard.
// topBits: random bits also in the top byte, which arrays normally keep 0.
PixelArray warpTestImage(int w, int h, uint32_t seed, int kind, bool topBits = false);

// A 32-bpp frame filled with background.
Bitmap warpFrameSurface(int w, int h, uint32_t background);

// Pixels that differ between two 32-bpp frames of the same size / a frame and an array.
int64_t differingPixels(const Bitmap& a, const Bitmap& b);
int64_t differingPixels(const Bitmap& a, const PixelArray& image);

// Moves every inner and border point by up to `amount` pixels each way.
MeshGrid draggedMesh(MeshGrid mesh, std::mt19937& rng, float amount);

}  // namespace tarnel::test
