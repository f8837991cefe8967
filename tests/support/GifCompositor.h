#pragma once
// What a viewer shows for each frame of a GIF that giflib decoded: the frames
// drawn in turn on an RGB screen, each frame's disposal applied after it.
#include <cstdint>
#include <vector>

#include "imaging/gif/cGif.h"
#include "support/GiflibReader.h"

namespace tarnel::test {

// A screen pixel nothing has been drawn on, or restored to the background:
// viewers differ there, so two files show the same only if both leave it so.
inline constexpr uint32_t kUnsetPixel = 0xFF000000;
// A pixel drawn with an index beyond its colour table (the index in the low byte).
inline constexpr uint32_t kOutOfTablePixel = 0xFE000000;

// One screen (0x00RRGGBB per pixel, row by row) per frame, as shown while
// that frame is on; pixels beyond the logical screen are cut off.
std::vector<std::vector<uint32_t>> CompositeFrames(const GiflibReader& gif);
// The same from a file our own decoder loaded: a second, independent reading.
std::vector<std::vector<uint32_t>> CompositeFrames(const cGif& gif);

}  // namespace tarnel::test
