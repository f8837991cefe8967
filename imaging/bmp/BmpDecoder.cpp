#include "imaging/bmp/BmpDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

#include "imaging/bmp/BmpEncoder.h"
#include "imaging/bmp/BmpFormat.h"
#include "platform/LittleEndian.h"

namespace tarnel {

namespace {

// biCompression values we read.
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BI_ALPHABITFIELDS = 6;

// Header lengths (biSize) we know.
constexpr uint32_t kCoreHeader = 12;  // BITMAPCOREHEADER
constexpr uint32_t kInfoHeader = 40;  // BITMAPINFOHEADER
constexpr uint32_t kV2Header = 52;    // + R, G, B masks
constexpr uint32_t kV3Header = 56;    // + alpha mask
constexpr uint32_t kV4Header = 108;   // + colour space, endpoints, gamma
constexpr uint32_t kV5Header = 124;   // + intent, profile

constexpr size_t kFileHeader = BITMAPFILEHEADER::kSize;

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    uint8_t scale[256] = {};  // for bits <= 8: field value -> 0..255

    bool setUp(uint32_t m) {
        mask = m;
        if (m == 0) return true;
        shift = std::countr_zero(m);
        uint32_t field = m >> shift;
        if ((field & (field + 1)) != 0) return false;  // holes in the mask
        bits = std::popcount(field);
        if (bits <= 8) {
            uint32_t max = field;
            for (uint32_t v = 0; v <= max; ++v) scale[v] = uint8_t((v * 255 + max / 2) / max);
        }
        return true;
    }
    uint8_t operator()(uint32_t pixel) const {
        if (bits == 0) return 0;
        uint32_t v = (pixel & mask) >> shift;
        return bits <= 8 ? scale[v] : uint8_t(v >> (bits - 8));
    }
};

// Everything the headers say, checked against the data before any pixel
// memory is allocated.
class BmpReader {
public:
    BmpReader(const uint8_t* data, size_t size, LoadBudget& budget) : data_(data), size_(size), budget_(budget) {}

    bool decode(Bitmap& out) {
        return readFileHeader() && readInfoHeader() && checkFormat() && readMasks() && locateColourTable() &&
               checkPixelData() && decodePixels(out);
    }
    const char* error() const { return error_; }

private:
    bool fail(const char* why) {
        error_ = why;
        return false;
    }

    // BITMAPFILEHEADER: bfType "BM", bfSize, bfReserved1, bfReserved2, bfOffBits.
    bool readFileHeader() {
        if (size_ < kFileHeader + 4) return fail("file too short for a BMP header");
        if (!LooksLikeBmp(data_, size_)) return fail("not a BMP file");
        offBits_ = BITMAPFILEHEADER::read(data_).bfOffBits;  // bfSize is often wrong and is ignored
        return true;
    }

    // BITMAPCOREHEADER or one of the BITMAPINFOHEADER family at offset 14.
    bool readInfoHeader() {
        const uint8_t* h = data_ + kFileHeader;
        headerSize_ = Le32(h);
        switch (headerSize_) {
            case kCoreHeader: case kInfoHeader: case kV2Header: case kV3Header: case kV4Header: case kV5Header: break;
            default: return fail("unsupported BMP header");
        }
        if (size_ - kFileHeader < headerSize_) return fail("BMP header cut short");
        if (headerSize_ == kCoreHeader) {
            width_ = Le16(h + 4);   // bcWidth
            height_ = Le16(h + 6);  // bcHeight, always bottom-up
            bpp_ = Le16(h + 10);    // bcBitCount (bcPlanes at 8)
            compression_ = BI_RGB;
            entrySize_ = 3;  // RGBTRIPLE
            return true;
        }
        const BITMAPINFOHEADER info = BITMAPINFOHEADER::read(h);
        width_ = info.biWidth;
        topDown_ = info.biHeight < 0;  // negative for top-down
        height_ = topDown_ ? -int64_t(info.biHeight) : int64_t(info.biHeight);
        bpp_ = info.biBitCount;
        compression_ = info.biCompression;
        sizeImage_ = info.biSizeImage;
        clrUsed_ = info.biClrUsed;
        entrySize_ = 4;  // RGBQUAD
        return true;
    }

    bool checkFormat() {
        if (!Bitmap::sizeAllowed(width_, height_)) return fail("BMP size out of range");
        switch (compression_) {
            case BI_RGB:
                if (!Bitmap::supportedDepth(bpp_)) return fail("unsupported BMP depth");
                if (headerSize_ == kCoreHeader && (bpp_ == 16 || bpp_ == 32)) return fail("unsupported BMP depth");
                break;
            case BI_RLE8:
            case BI_RLE4:
                if (bpp_ != (compression_ == BI_RLE8 ? 8 : 4)) return fail("run-length depth mismatch");
                if (topDown_) return fail("top-down run-length BMP");
                break;
            case BI_BITFIELDS:
            case BI_ALPHABITFIELDS:
                if (bpp_ != 16 && bpp_ != 32) return fail("bit fields need 16 or 32 bpp");
                break;
            default: return fail("unsupported BMP compression");
        }
        return true;
    }

    // Colour masks: inside the header from version 2 on, otherwise straight
    // after a 40-byte header (three, or four with alpha).
    bool readMasks() {
        tableOffset_ = kFileHeader + headerSize_;
        bitFields_ = compression_ == BI_BITFIELDS || compression_ == BI_ALPHABITFIELDS;
        if (!bitFields_) return true;  // 16 bpp without masks is 5-5-5, kept as it is
        const uint8_t* m = data_ + kFileHeader + 40;
        if (headerSize_ == kInfoHeader) {
            size_t count = compression_ == BI_ALPHABITFIELDS ? 4 : 3;
            if (size_ - tableOffset_ < count * 4) return fail("BMP colour masks cut short");
            tableOffset_ += count * 4;
        }
        masks_ = {Le32(m), Le32(m + 4), Le32(m + 8)};
        for (uint32_t mask : masks_) {
            if (bpp_ == 16 && mask > 0xFFFF) return fail("colour mask wider than the pixel");
        }
        if ((masks_[0] | masks_[1] | masks_[2]) == 0) return fail("empty colour masks");
        if (!red_.setUp(masks_[0]) || !green_.setUp(masks_[1]) || !blue_.setUp(masks_[2]))
            return fail("colour mask with holes");
        return true;
    }

    // The colour table lies between the headers and the pixels; biClrUsed 0
    // means a full table, and a table longer than that gap is cut to it.
    bool locateColourTable() {
        if (offBits_ < tableOffset_) return fail("pixel data overlaps the BMP header");
        if (offBits_ > size_) return fail("pixel data offset beyond the end of the file");
        if (bpp_ > 8) return true;
        if (clrUsed_ > 256) return fail("colour count out of range");
        size_t full = size_t(1) << bpp_;
        tableCount_ = clrUsed_ == 0 ? full : std::min<size_t>(clrUsed_, full);
        tableCount_ = std::min(tableCount_, (offBits_ - tableOffset_) / entrySize_);
        if (tableCount_ == 0) return fail("palette BMP without a colour table");
        return true;
    }

    bool checkPixelData() {
        if (compression_ == BI_RLE8 || compression_ == BI_RLE4) {
            // Runs are checked while decoding; here only whether the run
            // data could cover the surface at all.
            const uint64_t runBytes = runLengthEnd() - (data_ + offBits_);
            if (uint64_t(width_) * uint64_t(height_) > uint64_t(kLoadFloorPixels) + runBytes / 2 * 255)
                return fail("run-length data too short for the BMP size");
            return true;
        }
        uint64_t fileStride = ((uint64_t(width_) * bpp_ + 31) / 32) * 4;
        uint64_t lastRow = (uint64_t(width_) * bpp_ + 7) / 8;  // the last row's padding may be missing
        uint64_t needed = fileStride * uint64_t(height_ - 1) + lastRow;
        if (needed > size_ - offBits_) return fail("BMP pixel data ends early");
        fileStride_ = size_t(fileStride);
        return true;
    }

    int outputDepth() const {
        if (!bitFields_) return bpp_;
        bool plain = bpp_ == 16 ? masks_ == std::array<uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                                : masks_ == std::array<uint32_t, 3>{0x00FF0000, 0x0000FF00, 0x000000FF};
        return plain ? bpp_ : 32;
    }

    bool decodePixels(Bitmap& out) {
        int depth = outputDepth();
        if (!budget_.Reserve(SurfaceBytes(width_, height_, depth))) return fail("BMP needs more memory than allowed");
        try {
            if (!out.create(int(width_), int(height_), depth, topDown_)) return fail("BMP size out of range");
        } catch (const std::bad_alloc&) {
            return fail("out of memory");
        }
        readColourTable(out);
        if (compression_ == BI_RLE8 || compression_ == BI_RLE4) return readRunLengthPixels(out);
        if (depth == bpp_) return copyRows(out);
        return convertBitFieldRows(out);
    }

    void readColourTable(Bitmap& out) const {
        const uint8_t* e = data_ + tableOffset_;
        for (size_t i = 0; i < tableCount_; ++i, e += entrySize_) out.colorTable()[i] = RGBQuad{e[0], e[1], e[2], 0};
    }

    // Rows stay in the file's order, so stored row r is file row r.
    bool copyRows(Bitmap& out) const {
        size_t rowBytes = (size_t(width_) * size_t(bpp_) + 7) / 8;
        const uint8_t* src = data_ + offBits_;
        uint8_t* dst = out.bits();
        for (int64_t r = 0; r < height_; ++r, src += fileStride_, dst += out.stride()) std::memcpy(dst, src, rowBytes);
        return true;
    }

    bool convertBitFieldRows(Bitmap& out) const {
        const size_t pixelBytes = size_t(bpp_) / 8;
        const uint8_t* srcRow = data_ + offBits_;
        uint8_t* dstRow = out.bits();
        for (int64_t r = 0; r < height_; ++r, srcRow += fileStride_, dstRow += out.stride()) {
            const uint8_t* s = srcRow;
            uint8_t* d = dstRow;
            for (int64_t x = 0; x < width_; ++x, s += pixelBytes, d += 4) {
                uint32_t v = pixelBytes == 2 ? Le16(s) : Le32(s);
                d[0] = blue_(v);
                d[1] = green_(v);
                d[2] = red_(v);
                d[3] = 0;
            }
        }
        return true;
    }

    // BI_RLE8 / BI_RLE4: pairs (count, value) draw a run; (0, 0) ends a line,
    // (0, 1) the bitmap, (0, 2, dx, dy) moves, (0, n >= 3) starts an absolute
    // run of n pixels padded to an even byte count. Rows run bottom-up.
    // Some encoders code each row out to its padded length, so pixels past
    // the width but inside the padded row are dropped; anything further out,
    // or above the top row, is a broken stream.
    bool readRunLengthPixels(Bitmap& out) {
        const bool rle4 = compression_ == BI_RLE4;
        const uint8_t* p = data_ + offBits_;
        const bool claimsMore = sizeImage_ != 0 && sizeImage_ > size_ - offBits_;
        const uint8_t* const end = runLengthEnd();
        const int64_t w = width_, h = height_;
        const int64_t paddedWidth = int64_t(Bitmap::strideFor(int(w), bpp_)) * 8 / bpp_;
        int64_t x = 0, y = 0;

        auto put = [&](int64_t px, uint8_t index) {
            if (px >= w) return;
            uint8_t* row = out.bits() + size_t(y) * size_t(out.stride());
            if (!rle4) {
                row[px] = index;
            } else if (px & 1) {
                row[px >> 1] = uint8_t((row[px >> 1] & 0xF0) | index);
            } else {
                row[px >> 1] = uint8_t((row[px >> 1] & 0x0F) | (index << 4));
            }
        };

        for (;;) {
            if (p == end) {
                // A stream that stops without its end marker is accepted,
                // unless the header promised more bytes than the file holds.
                return claimsMore ? fail("run-length data ends early") : true;
            }
            if (end - p < 2) return fail("run-length data ends early");
            uint8_t count = p[0], value = p[1];
            p += 2;
            if (count > 0) {
                if (y >= h || x + count > paddedWidth) return fail("run-length run outside the bitmap");
                for (int i = 0; i < count; ++i) {
                    uint8_t index = !rle4 ? value : (i & 1) ? uint8_t(value & 0x0F) : uint8_t(value >> 4);
                    put(x + i, index);
                }
                x += count;
                continue;
            }
            switch (value) {
                case 0:  // end of line
                    x = 0;
                    if (++y > h) return fail("run-length lines beyond the bitmap");
                    break;
                case 1:  // end of bitmap
                    return true;
                case 2:  // delta
                    if (end - p < 2) return fail("run-length data ends early");
                    x += p[0];
                    y += p[1];
                    p += 2;
                    if (x > paddedWidth || y > h) return fail("run-length delta outside the bitmap");
                    break;
                default: {  // absolute run
                    size_t bytes = rle4 ? (size_t(value) + 1) / 2 : size_t(value);
                    size_t padded = (bytes + 1) & ~size_t(1);
                    if (size_t(end - p) < padded) return fail("run-length data ends early");
                    if (y >= h || x + value > paddedWidth) return fail("run-length run outside the bitmap");
                    for (int i = 0; i < value; ++i) {
                        uint8_t index = !rle4 ? p[i] : (i & 1) ? uint8_t(p[i >> 1] & 0x0F) : uint8_t(p[i >> 1] >> 4);
                        put(x + i, index);
                    }
                    x += value;
                    p += padded;
                    break;
                }
            }
        }
    }

    // The run data: biSizeImage bytes when the file holds them, else the rest of the file.
    const uint8_t* runLengthEnd() const {
        const size_t available = size_ - offBits_;
        return data_ + offBits_ + (sizeImage_ != 0 && sizeImage_ <= available ? size_t(sizeImage_) : available);
    }

    const uint8_t* data_;
    size_t size_;
    LoadBudget& budget_;
    const char* error_ = "";

    size_t offBits_ = 0;
    uint32_t headerSize_ = 0;
    int64_t width_ = 0, height_ = 0;
    bool topDown_ = false;
    int bpp_ = 0;
    uint32_t compression_ = BI_RGB;
    uint32_t sizeImage_ = 0;
    uint32_t clrUsed_ = 0;

    bool bitFields_ = false;
    std::array<uint32_t, 3> masks_{};
    Channel red_, green_, blue_;

    size_t tableOffset_ = 0;
    size_t entrySize_ = 4;
    size_t tableCount_ = 0;
    size_t fileStride_ = 0;
};

// BITMAPFILEHEADER + BITMAPINFOHEADER (or a later header), 24 bpp, BI_RGB,
// one plane, all rows present: straight into 32 bpp, reserved bytes 0.
// The common case (every frame a run writes) in one pass; false leaves the
// file to the general decoder.
bool decodePlainBmp24(const uint8_t* d, size_t size, Bitmap& out, LoadBudget& budget) {
    if (size < kFileHeader + BITMAPINFOHEADER::kSize || !LooksLikeBmp(d, size)) return false;
    const BITMAPINFOHEADER info = BITMAPINFOHEADER::read(d + kFileHeader);
    const uint32_t offBits = BITMAPFILEHEADER::read(d).bfOffBits, headerSize = info.biSize;
    const int32_t width = info.biWidth, height = info.biHeight;
    if (headerSize < 40 || headerSize > size - 14 || offBits < 14 + headerSize) return false;
    if (info.biPlanes != 1 || info.biBitCount != 24 || info.biCompression != BI_RGB) return false;
    if (height == std::numeric_limits<int32_t>::min()) return false;
    const int w = width, h = height < 0 ? -height : height;
    if (!Bitmap::sizeAllowed(w, h)) return false;
    const size_t stride = size_t(Bitmap::strideFor(w, 24));
    if (offBits > size || stride * size_t(h) > size - offBits) return false;

    if (!budget.Reserve(SurfaceBytes(w, h, 32))) return false;
    if (!out.create(w, h, 32, true)) return false;
    const bool bottomUp = height > 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = d + offBits + stride * size_t(bottomUp ? h - 1 - y : y);
        uint8_t* dst = out.scanline(y);
        for (int x = 0; x < w; ++x, src += 3, dst += 4) {
            const uint32_t bgr = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16;
            std::memcpy(dst, &bgr, 4);
        }
    }
    return true;
}

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, Bitmap& out, std::string* error) {
    LoadBudget budget = LoadBudget::ForInput(size);
    return DecodeBmp(data, size, out, budget, error);
}

bool DecodeBmp(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    out.clear();
    if (!data) {
        if (error) *error = "no data";
        return false;
    }
    BmpReader reader(data, size, budget);
    if (reader.decode(out)) return true;
    out.clear();
    if (error) {
        try {
            *error = reader.error();
        } catch (...) {
        }
    }
    return false;
}

bool DecodeBmpPicture(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    out.clear();
    try {
        if (decodePlainBmp24(data, size, out, budget)) return true;
    } catch (const std::bad_alloc&) {
        out.clear();
        if (error) *error = "out of memory";
        return false;
    }
    Bitmap decoded;
    if (!DecodeBmp(data, size, decoded, budget, error)) return false;
    // The 32-bpp copy comes out of the same budget as the decoded surface.
    if (!budget.Reserve(SurfaceBytes(decoded.width(), decoded.height(), 32))) {
        if (error) *error = "picture needs more memory than allowed";
        return false;
    }
    if (!ToTopDown32(decoded, out)) {
        if (error) *error = "out of memory";
        return false;
    }
    return true;
}

}  // namespace tarnel
