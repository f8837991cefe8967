#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/LoadBudget.h"
#include "platform/gdi.h"

namespace tarnel {

// Decodes a BMP file held in memory (every header version; 1/4/8/16/24/32 bpp;
// RLE4/RLE8; bit fields; top-down and bottom-up) into a bitmap of the file's
// own depth, stored in the file's row order. Run-length files come out at their
// palette depth; bit-field files whose masks are not plain 5-5-5 or 8-8-8 come
// out as 32 bpp. False, with a reason in `error`, on anything unsupported,
// truncated, corrupt or beyond the surface size limits. The surface is
// reserved from `budget` (by default one sized for `size`) before it is
// allocated. A run-length picture may hold at most 255 pixels for every 2
// bytes of its run data beyond kLoadFloorPixels: areas the stream skips (end
// of line, delta moves, an early end) count as though they had been coded,
// so a file of headers and an end marker cannot claim a huge surface.
bool DecodeBmp(const uint8_t* data, size_t size, Bitmap& out, std::string* error = nullptr);
bool DecodeBmp(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error = nullptr);

// A BMP file as the picture loader wants it: 32 bpp, top-down, reserved
// bytes 0. Plain 24-bpp files, every frame a run writes, go straight there in
// one pass; the rest through DecodeBmp and a 32-bpp copy, both out of `budget`.
bool DecodeBmpPicture(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget,
                      std::string* error = nullptr);

}  // namespace tarnel
