#pragma once
// The refined adaptive palette: the octree palette as a start, moved by a few
// k-means (Lloyd) passes over a colour histogram of the whole picture, so
// that each entry ends at the mean of the colours it stands for.
#include <cstdint>

#include "imaging/palette/ColourHistogram.h"
#include "imaging/GcDIB.h"
#include "imaging/palette/cPal8bpp.h"

namespace tarnel {

inline constexpr int32_t kRefinePasses = 12;

// Moves the palette's entries to the weighted means of the histogram colours
// nearest to them, `passes` times at most (fewer once nothing moves). An
// entry left with no colour is moved to the colour worst served. When the
// histogram's exact colours (or else its bins) are no more than maxColors,
// they become the palette as they are. The palette ends with at most
// maxColors (held to 1 … 256) entries and its logical palette rebuilt.
void RefinePalette(cPal8bpp& palette, const ColourHistogram& histogram, int32_t maxColors = 256,
                   int32_t passes = kRefinePasses);

// The refined palette of one 32-bpp picture: the octree on a reduced copy,
// refined over every pixel. Does nothing unless image is 32 bpp.
void CreateRefinedPalette(const GcDIB& image, cPal8bpp& palette, int32_t maxColors = 256);

// The octree palette of a copy fitted into this many pixels a side starts the
// refinement (the fit costs little and a larger copy gains nothing once refined).
inline constexpr int32_t kRefineStartSide = 160;

}  // namespace tarnel
