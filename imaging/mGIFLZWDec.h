#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/GcDIB.h"

namespace tarnel {

// GIF LZW decoder with its state in the object.
class GifLzwDecoder {
public:
    // Decodes the concatenated sub-block contents of one image into the
    // 8-bpp surface the caller created at the frame's size. CodeSize is the
    // minimum code size byte as stored. Pixels the stream does not reach keep
    // their value. Never reads or writes outside its buffers.
    void DecompressFrame(GcDIB& Frame, bool Interlaced, int CodeSize, const uint8_t* Data, size_t DataSize);
};

void DecompressFrame(GcDIB& Frame, bool Interlaced, int CodeSize, const std::vector<uint8_t>& Data);

}  // namespace tarnel
