#pragma once
// Operations on a whole animation held in a cGif. Progress goes to the sink,
// which may be null.
#include <cstdint>
#include <vector>

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

// Renumbers the global palette in the order the frames first show its
// colours, most pixels first within a frame: the first frame's colours then
// sit lowest and a frame coded as it is needs the fewest bits. False,
// changing nothing, without a global palette.
bool SortPaletteByFirstUse(cGif& GIF, ProgressSink* Progress);

// Renumbers the global palette by how many frames change pixels to each
// colour (a pixel counts where it differs from what the frames before left
// on the screen), then by those pixels: what an optimised file writes of
// each frame then needs the fewest bits. False, changing nothing, without a
// global palette or when a frame has a local one.
bool SortPaletteByChange(cGif& GIF, ProgressSink* Progress);

// The file of GifSaveOptions::smallestDelta in the palette's order or,
// where an estimate of the bits the frames' changed pixels need says it
// pays, in the best of the orders of SortPaletteByFirstUse,
// SortPaletteByChange and one that gives the frames of most changed pixels
// the smallest code sizes. The palette is left in the order coded (what
// shows stays the same), so coding again gives the same file. False when the
// animation cannot be written.
bool CodeSmallestFile(cGif& GIF, std::vector<uint8_t>& bytes, ProgressSink* Progress);

// Crops every frame to the rectangle that changed and merges repeated frames
// into the one before (adding up their delays). Every frame must cover the
// whole screen at (0, 0) and be the picture it shows (no transparent pixels
// that show an earlier frame); otherwise false and nothing changes.
bool OptimizeFrames(cGif& GIF, ProgressSink* Progress);

}  // namespace tarnel
