#pragma once
// Still WebP files in, through libwebp, as 32-bpp top-down pictures.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/LoadBudget.h"
#include "platform/gdi.h"

namespace tarnel {

// A RIFF container of form type "WEBP".
inline bool LooksLikeWebp(const uint8_t* data, size_t size) {
    return size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

// A lossy, lossless or extended WebP into a 32-bpp top-down bitmap, reserved
// bytes 0. An alpha channel is dropped as the BMP loader drops a 32-bpp
// file's alpha: every pixel keeps its stored colour. An animated file gives
// its first frame on its canvas (transparent where the frame does not cover
// it, so black), as a GIF gives its first frame. The picture and the
// decoder's working surfaces are reserved from `budget` (by default one
// sized for `size`) before the decoder runs.
bool DecodeWebp(const uint8_t* data, size_t size, Bitmap& out, std::string* error = nullptr);
bool DecodeWebp(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error = nullptr);

}  // namespace tarnel
