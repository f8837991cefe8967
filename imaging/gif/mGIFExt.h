#pragma once
// Operations on a whole animation held in a cGif. Progress goes to the sink,
// which may be null.
#include <cstdint>

#include "imaging/Progress.h"
#include "imaging/gif/cGif.h"

namespace tarnel {

// Gives every frame the same transparency flag and index and rebuilds its mask.
void SetFramesTransparency(cGif& GIF, bool UseTransparentColor, uint8_t TransparentColorIndex, ProgressSink* Progress);

// Drops the global palette entries that no frame without a local palette uses
// and renumbers those frames. Returns the number of entries removed.
uint8_t OptimizePalette(cGif& GIF, ProgressSink* Progress);

// Renumbers the global palette so that the colours most frames show come
// first, and the frames without a local palette with it: a frame whose
// colours all sit below 2^n can then be coded with n-bit pixels. Returns
// false, changing nothing, without a global palette.
bool SortPaletteByUse(cGif& GIF, ProgressSink* Progress);

// Crops every frame to the rectangle that changed and merges repeated frames
// into the one before (adding up their delays). Every frame must cover the
// whole screen at (0, 0); otherwise false and nothing changes.
bool OptimizeFrames(cGif& GIF, ProgressSink* Progress);

}  // namespace tarnel
