#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/gdi.h"

namespace tarnel {

// The first frame of a GIF file held in memory, composited onto its logical
// screen, as a 32-bpp top-down bitmap. False when the data is not a GIF that
// loads.
bool DecodeGifPicture(const uint8_t* data, size_t size, Bitmap& out);

}  // namespace tarnel
