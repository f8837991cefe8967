#include "imaging/bmp/BmpFormat.h"

#include "platform/LittleEndian.h"

namespace tarnel {

BITMAPFILEHEADER BITMAPFILEHEADER::read(const uint8_t* p) {
    BITMAPFILEHEADER h;
    h.bfType = Le16(p);
    h.bfSize = Le32(p + 2);
    h.bfReserved1 = Le16(p + 6);
    h.bfReserved2 = Le16(p + 8);
    h.bfOffBits = Le32(p + 10);
    return h;
}

void BITMAPFILEHEADER::write(uint8_t* p) const {
    PutLe16(p, bfType);
    PutLe32(p + 2, bfSize);
    PutLe16(p + 6, bfReserved1);
    PutLe16(p + 8, bfReserved2);
    PutLe32(p + 10, bfOffBits);
}

BITMAPINFOHEADER BITMAPINFOHEADER::read(const uint8_t* p) {
    BITMAPINFOHEADER h;
    h.biSize = Le32(p);
    h.biWidth = int32_t(Le32(p + 4));
    h.biHeight = int32_t(Le32(p + 8));
    h.biPlanes = Le16(p + 12);
    h.biBitCount = Le16(p + 14);
    h.biCompression = Le32(p + 16);
    h.biSizeImage = Le32(p + 20);
    h.biXPelsPerMeter = int32_t(Le32(p + 24));
    h.biYPelsPerMeter = int32_t(Le32(p + 28));
    h.biClrUsed = Le32(p + 32);
    h.biClrImportant = Le32(p + 36);
    return h;
}

void BITMAPINFOHEADER::write(uint8_t* p) const {
    PutLe32(p, biSize);
    PutLe32(p + 4, uint32_t(biWidth));
    PutLe32(p + 8, uint32_t(biHeight));
    PutLe16(p + 12, biPlanes);
    PutLe16(p + 14, biBitCount);
    PutLe32(p + 16, biCompression);
    PutLe32(p + 20, biSizeImage);
    PutLe32(p + 24, uint32_t(biXPelsPerMeter));
    PutLe32(p + 28, uint32_t(biYPelsPerMeter));
    PutLe32(p + 32, biClrUsed);
    PutLe32(p + 36, biClrImportant);
}

}  // namespace tarnel
