#pragma once
// PNG files in, through libpng, as 32-bpp top-down pictures.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/LoadBudget.h"
#include "platform/gdi.h"

namespace tarnel {

// The eight-byte PNG signature.
inline bool LooksLikePng(const uint8_t* data, size_t size) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

// Any PNG (every colour type and bit depth, interlaced or not) into a 32-bpp
// top-down bitmap, reserved bytes 0. Sixteen-bit samples keep their high byte;
// palettes and grey levels are expanded. Transparency (an alpha channel or a
// tRNS chunk) is dropped as the BMP loader drops a 32-bpp file's alpha: every
// pixel keeps its stored colour. Gamma and colour-space chunks are ignored, as
// by a viewer that does not manage colour, and so are all other ancillary
// chunks. A bad CRC in a critical chunk (IHDR, PLTE, IDAT, IEND) refuses the
// file; a damaged ancillary chunk is skipped. The picture and libpng's row
// buffers are reserved from `budget` (by default one sized for `size`)
// before any of them is allocated, so a header that claims a huge picture
// over a small stream is refused without allocating it.
bool DecodePng(const uint8_t* data, size_t size, Bitmap& out, std::string* error = nullptr);
bool DecodePng(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error = nullptr);

}  // namespace tarnel
