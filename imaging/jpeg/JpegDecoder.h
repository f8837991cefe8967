#pragma once
// JPEG files in, through TurboJPEG, as 32-bpp top-down pictures.
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/LoadBudget.h"
#include "platform/gdi.h"

namespace tarnel {

// The start of every JPEG file: FF D8 FF.
inline bool LooksLikeJpeg(const uint8_t* data, size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// JPEG into a 32-bpp top-down bitmap (CMYK files included).
// Refused before decoding: a picture larger than its data can hold (at most
// 1024 pixels a byte beyond kLoadFloorPixels), a multi-scan file whose scans
// would sweep the picture more often than its size allows, and anything the
// budget (by default one sized for `size`) cannot hold. Corrupt data, which
// the library only warns about, and files of more than 500 scans fail.
bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out, std::string* error = nullptr);
bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error = nullptr);

}  // namespace tarnel
