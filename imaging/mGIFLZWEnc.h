#pragma once
#include <cstdint>
#include <vector>

#include "imaging/GcDIB.h"

namespace tarnel {

// GIF LZW encoder. The state lives in the object, so two frames can be coded
// at once by two encoders.
class GifLzwEncoder {
public:
    // Appends the data sub-blocks of an 8-bpp frame (length byte + at most 254
    // bytes each, no terminator) to `out`. InitBits = minimum code size + 1.
    // Does nothing for another depth.
    void CompressFrame(std::vector<uint8_t>& out, const GcDIB& DIB, int InitBits, bool Interlaced);
};

void CompressFrame(std::vector<uint8_t>& out, const GcDIB& DIB, int InitBits, bool Interlaced);

}  // namespace tarnel
