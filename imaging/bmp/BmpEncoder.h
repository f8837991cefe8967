#pragma once
// Pictures out as the colours a BMP file holds: the uncompressed 24-bpp file
// image, and the 32-bpp top-down form the loaders and the JPEG encoder take,
// both made row by row from a bitmap of any depth.
#include <cstdint>
#include <vector>

#include "platform/gdi.h"

namespace tarnel {

// An uncompressed 24-bpp bottom-up BMP file image (BITMAPINFOHEADER,
// biSizeImage set), which cDIB reads back. False for an empty picture or
// when the memory cannot be had.
bool EncodeBmp24(const Bitmap& picture, std::vector<uint8_t>& out);

// A 32-bpp top-down copy of any bitmap (reserved bytes zero).
bool ToTopDown32(const Bitmap& src, Bitmap& out);

}  // namespace tarnel
