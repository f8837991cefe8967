#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gdi.h"

namespace tarnel {

// Decodes a BMP file held in memory (every header version; 1/4/8/16/24/32 bpp;
// RLE4/RLE8; bit fields; top-down and bottom-up) into a bitmap of the file's
// own depth, stored in the file's row order. Run-length files come out at their
// palette depth; bit-field files whose masks are not plain 5-5-5 or 8-8-8 come
// out as 32 bpp. False, with a reason in `error`, on anything unsupported,
// truncated, corrupt or beyond the surface size limits.
bool DecodeBmp(const uint8_t* data, size_t size, Bitmap& out, std::string* error = nullptr);

}  // namespace tarnel
