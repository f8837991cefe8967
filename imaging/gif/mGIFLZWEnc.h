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
    // Does nothing for another depth, or for InitBits outside 2..12.
    void CompressFrame(std::vector<uint8_t>& out, const GcDIB& DIB, int InitBits, bool Interlaced);

private:
    // Open-addressed string table: full code (prefix + pixel * 4096), -1 empty.
    std::vector<int32_t> hashTable_;
    std::vector<uint16_t> codeTable_;
    // Packed code bytes of the frame before they are cut into sub-blocks.
    std::vector<uint8_t> packed_;
    // Offsets in packed_ where a packet was written before it was full.
    std::vector<size_t> packetEnds_;
};

void CompressFrame(std::vector<uint8_t>& out, const GcDIB& DIB, int InitBits, bool Interlaced);

}  // namespace tarnel
