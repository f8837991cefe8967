#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/LoadBudget.h"
#include "platform/gdi.h"

namespace tarnel {

// The signature of either version: "GIF87a" or "GIF89a".
inline bool LooksLikeGif(const uint8_t* data, size_t size) {
    return size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

// The first frame of a GIF file held in memory, composited onto its logical
// screen, as a 32-bpp top-down bitmap. Only the file up to its first image is
// read. False, with the reason in `error`, when the data is not a GIF whose
// first image loads, or when the frame and the screen together need more than
// the budget (by default one sized for `size`).
bool DecodeGifPicture(const uint8_t* data, size_t size, Bitmap& out);
bool DecodeGifPicture(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error = nullptr);

}  // namespace tarnel
