#include "imaging/bmp/BmpEncoder.h"

#include <cstring>
#include <new>

#include "imaging/bmp/BmpFormat.h"

namespace tarnel {

namespace {

// Writes blue, green, red of every pixel of row y at dst + x * step.
void rowColours(const Bitmap& src, int y, uint8_t* dst, int step) {
    const uint8_t* row = src.scanline(y);
    const int w = src.width();
    switch (src.bpp()) {
        case 32:
            if (step == 3) {
                // The hot case of every saved frame: whole-word loads, the
                // reserved byte dropped by overlapping stores.
                for (int x = 0; x + 1 < w; ++x, row += 4, dst += 3) std::memcpy(dst, row, 4);
                if (w > 0) {
                    dst[0] = row[0];
                    dst[1] = row[1];
                    dst[2] = row[2];
                }
                break;
            }
            [[fallthrough]];
        case 24: {
            const int in = src.bpp() / 8;
            for (int x = 0; x < w; ++x, row += in, dst += step) {
                dst[0] = row[0];
                dst[1] = row[1];
                dst[2] = row[2];
            }
            break;
        }
        case 16:
            for (int x = 0; x < w; ++x, dst += step) {
                RGBQuad c = src.colorOfValue(uint32_t(row[2 * x] | (row[2 * x + 1] << 8)) & 0x7FFFu);
                dst[0] = c.blue;
                dst[1] = c.green;
                dst[2] = c.red;
            }
            break;
        default: {
            const RGBQuad* table = src.colorTable();
            const int bpp = src.bpp();
            const int perByte = 8 / bpp;
            const unsigned mask = (1u << bpp) - 1;
            for (int x = 0; x < w; ++x, dst += step) {
                int shift = 8 - bpp * (1 + x % perByte);
                const RGBQuad& c = table[(row[x / perByte] >> shift) & mask];
                dst[0] = c.blue;
                dst[1] = c.green;
                dst[2] = c.red;
            }
        }
    }
}

}  // namespace

bool ToTopDown32(const Bitmap& src, Bitmap& out) {
    try {
        if (src.empty() || !out.create(src.width(), src.height(), 32, true)) {
            out.clear();
            return false;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    for (int y = 0; y < src.height(); ++y) rowColours(src, y, out.scanline(y), 4);  // reserved bytes stay 0
    return true;
}

bool EncodeBmp24(const Bitmap& picture, std::vector<uint8_t>& out) {
    if (picture.empty()) return false;
    const int w = picture.width(), h = picture.height();
    const size_t stride = size_t(Bitmap::strideFor(w, 24));
    const uint64_t sizeImage = uint64_t(stride) * uint64_t(h);
    constexpr size_t kOffBits = BITMAPFILEHEADER::kSize + BITMAPINFOHEADER::kSize;
    if (sizeImage + kOffBits > UINT32_MAX) return false;

    BITMAPFILEHEADER file;
    file.bfType = kBmpSignature;
    file.bfSize = uint32_t(kOffBits + sizeImage);
    file.bfOffBits = uint32_t(kOffBits);
    BITMAPINFOHEADER info;
    info.biSize = BITMAPINFOHEADER::kSize;
    info.biWidth = w;
    info.biHeight = h;  // bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = uint32_t(sizeImage);

    try {
        out.assign(kOffBits + size_t(sizeImage), 0);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    file.write(out.data());
    info.write(out.data() + BITMAPFILEHEADER::kSize);
    uint8_t* row = out.data() + kOffBits;
    for (int r = 0; r < h; ++r, row += stride) rowColours(picture, h - 1 - r, row, 3);
    return true;
}

}  // namespace tarnel
