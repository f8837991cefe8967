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
    // minimum code size byte as stored (0..11 are decoded, larger values
    // cannot start a valid stream and decode nothing). Decoding ends at the
    // end code, at the end of the data, when the frame is full, or at the
    // first code the tables cannot explain. A full table (code 4095 entered)
    // stays in use until a clear code, however long that takes; clear codes in
    // a row are all clears. Pixels the stream does not reach keep their value.
    // Never reads or writes outside its buffers.
    void DecompressFrame(GcDIB& Frame, bool Interlaced, int CodeSize, const uint8_t* Data, size_t DataSize);

private:
    // String table entry for codes 0..4095: prefix code and last byte, plus
    // the length and first byte of the string while its chain is known to be
    // well formed (length 0 = walk it the slow, checked way).
    struct Entry {
        uint16_t prefix;
        uint16_t length;
        uint8_t suffix;
        uint8_t first;
        uint16_t unused;  // 8 bytes an entry: one scaled load per step
    };
    std::vector<Entry> table_;
    // One decoded string, for strings that cross a row or need checking.
    std::vector<uint8_t> string_;
};

void DecompressFrame(GcDIB& Frame, bool Interlaced, int CodeSize, const std::vector<uint8_t>& Data);

}  // namespace tarnel
