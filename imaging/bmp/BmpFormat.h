#pragma once
// The BMP file layout shared by the decoder, the writer and cDIB: the two
// headers at the start of a file, read and written field by field.
#include <cstddef>
#include <cstdint>

namespace tarnel {

// Bytes 0-13 of a BMP file, little-endian and packed.
struct BITMAPFILEHEADER {
    static constexpr size_t kSize = 14;
    uint16_t bfType = 0;
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0;

    static BITMAPFILEHEADER read(const uint8_t* p);
    void write(uint8_t* p) const;
};

// The 40-byte header at file offset 14 (the first 40 bytes of every later
// version too).
struct BITMAPINFOHEADER {
    static constexpr size_t kSize = 40;
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;

    static BITMAPINFOHEADER read(const uint8_t* p);
    void write(uint8_t* p) const;
};

inline constexpr uint16_t kBmpSignature = 19778;  // "BM"

// The signature alone: "BM".
inline bool LooksLikeBmp(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

}  // namespace tarnel
