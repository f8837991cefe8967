#pragma once
// Pictures out as PNG files: the morph run's PNG frames.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi.h"

namespace tarnel {

// Encodes frame after frame into 8-bit RGB PNGs (no alpha, no ancillary
// chunks), reusing its buffers, so a run of same-sized frames allocates
// once. The colours are those the BMP file of the same picture holds, so the
// PNG decodes to the BMP frame's pixels exactly. Frames are written for
// speed: one filter for every row and Huffman coding without match search (see
// PngEncoder.cpp for the figures). One encoder per thread.
class PngEncoder {
public:
    PngEncoder();
    ~PngEncoder();
    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;

    // The PNG file image of `picture` (any depth) into `out`. False for an
    // empty picture or when the memory fails.
    bool encode(const Bitmap& picture, std::vector<uint8_t>& out);

private:
    std::vector<uint8_t> filtered_;  // the rows as the PNG filters them
    std::vector<uint8_t> stream_;    // their zlib stream
    Bitmap converted_;               // pictures other than 32 bpp, converted
};

// One picture, with a fresh encoder.
bool EncodePng(const Bitmap& picture, std::vector<uint8_t>& out);

}  // namespace tarnel
