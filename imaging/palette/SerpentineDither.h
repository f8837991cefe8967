#pragma once
// Reduction of a 32-bpp bitmap to the indices of an arbitrary palette, every
// pixel by an exact nearest-entry search: plain, with a 4 x 4 ordered offset,
// or with Floyd-Steinberg error diffusion in serpentine order (rows walked
// left to right and right to left by turns, so the error does not drift
// one way). Diffused values are clamped to 0 … 255, and 7/8 of each error
// is carried on.
#include <cstdint>

#include "imaging/palette/PaletteLookup.h"
#include "platform/gdi.h"

namespace tarnel {

// method 0 = nearest, 1 = ordered, 2 = serpentine diffusion (other values: 2).
// target must be 8 bpp and the size of source; source 32 bpp. An empty
// palette gives index 0 everywhere.
void ReduceToPalette(const Bitmap& source, Bitmap& target, PaletteLookup& lookup, const RGBQuad* entries,
                     int32_t method);

}  // namespace tarnel
