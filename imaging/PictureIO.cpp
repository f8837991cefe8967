#include "imaging/PictureIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include "imaging/bmp/BmpDecoder.h"
#include "imaging/gif/GifPicture.h"
#include "imaging/LoadBudget.h"
#include "imaging/bmp/cDIB.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"

namespace tarnel {

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// BITMAPFILEHEADER + BITMAPINFOHEADER (or a later header), 24 bpp, BI_RGB,
// one plane, all rows present: straight into 32 bpp, reserved bytes 0.
// The common case (every frame a run writes) in one pass; false leaves the
// file to the general decoder.
bool decodePlainBmp24(const uint8_t* d, size_t size, Bitmap& out, LoadBudget& budget) {
    if (size < 54 || d[0] != 'B' || d[1] != 'M') return false;
    const uint32_t offBits = le32(d + 10), headerSize = le32(d + 14);
    const int32_t width = int32_t(le32(d + 18)), height = int32_t(le32(d + 22));
    if (headerSize < 40 || headerSize > size - 14 || offBits < 14 + headerSize) return false;
    if (le16(d + 26) != 1 || le16(d + 28) != 24 || le32(d + 30) != 0) return false;
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

// Adobe writes CMYK JPEGs inverted, which is what nearly every CMYK JPEG is.
void cmykToBgrx(const uint8_t* cmyk, Bitmap& out) {
    for (int y = 0; y < out.height(); ++y) {
        uint8_t* d = out.scanline(y);
        for (int x = 0; x < out.width(); ++x, cmyk += 4, d += 4) {
            unsigned k = cmyk[3];
            d[0] = uint8_t((cmyk[2] * k + 127) / 255);
            d[1] = uint8_t((cmyk[1] * k + 127) / 255);
            d[2] = uint8_t((cmyk[0] * k + 127) / 255);
            d[3] = 0;
        }
    }
}

struct TjHandle {
    tjhandle h;
    explicit TjHandle(tjhandle handle) : h(handle) {}
    ~TjHandle() {
        if (h) tjDestroy(h);
    }
    TjHandle(const TjHandle&) = delete;
    TjHandle& operator=(const TjHandle&) = delete;
};

// What the markers of a JPEG say before anything is decoded.
struct JpegLayout {
    bool frame = false;  // a frame header (SOFn) was found
    bool progressive = false;
    int width = 0, height = 0;
    // Sum of h*v over the components and the largest h and v: how many
    // coefficient blocks the picture has for each block of the largest grid.
    int samplingSum = 0, hMax = 1, vMax = 1;
    int64_t scans = 0;
};

// Walks the marker segments and the entropy-coded data after each SOS up to
// the end marker or the end of the data; stops at the first malformed segment.
JpegLayout readJpegLayout(const uint8_t* d, size_t size) {
    JpegLayout layout;
    size_t pos = 2;  // after SOI
    while (pos + 1 < size) {
        if (d[pos] != 0xFF) break;
        const uint8_t marker = d[pos + 1];
        pos += 2;
        if (marker == 0xFF) {  // fill byte
            --pos;
            continue;
        }
        if (marker == 0xD9) break;                                  // EOI
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        if (size - pos < 2) break;
        const size_t length = size_t(d[pos]) << 8 | d[pos + 1];
        if (length < 2 || length > size - pos) break;
        const uint8_t* seg = d + pos + 2;
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && !layout.frame && length >= 8) {
            layout.frame = true;
            layout.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            layout.height = seg[1] << 8 | seg[2];
            layout.width = seg[3] << 8 | seg[4];
            const size_t components = seg[5];
            for (size_t c = 0; c < components && 8 + 3 * c + 3 <= length; ++c) {
                const int h = seg[6 + 3 * c + 1] >> 4, v = seg[6 + 3 * c + 1] & 15;
                layout.samplingSum += h * v;
                layout.hMax = std::max(layout.hMax, h);
                layout.vMax = std::max(layout.vMax, v);
            }
        }
        pos += length;
        if (marker != 0xDA) continue;
        ++layout.scans;
        // Entropy-coded data: runs until a marker other than a stuffed zero,
        // a restart or a fill byte.
        for (;;) {
            const void* ff = std::memchr(d + pos, 0xFF, size - pos);
            if (!ff) return layout;
            pos = size_t(static_cast<const uint8_t*>(ff) - d);
            if (pos + 1 >= size) return layout;
            const uint8_t next = d[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) pos += 2;
            else if (next == 0xFF) pos += 1;
            else break;
        }
    }
    return layout;
}

// Huffman coding spends at least one bit on every 8x8 block of every
// component, so no JPEG holds more than 512 pixels a byte; arithmetic coding
// can go further, and is allowed twice that.
constexpr int64_t kJpegPixelsPerByte = 1024;
// Each scan of a multi-scan JPEG visits the whole picture again: pixels
// times scans may reach this multiple of the pixels the data can hold (a
// progressive file has about ten scans).
constexpr int64_t kJpegScanPasses = 64;

bool decodeJpegInto(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    const JpegLayout layout = readJpegLayout(data, size);
    if (!layout.frame || layout.scans == 0) {
        setError(error, "JPEG file is truncated or not a JPEG (no frame header or no scan)");
        return false;
    }
    TjHandle tj(tjInitDecompress());
    if (!tj.h) {
        setError(error, tjGetErrorStr2(nullptr));
        return false;
    }
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj.h, data, static_cast<unsigned long>(size), &width, &height, &subsampling,
                            &colourspace) != 0) {
        setError(error, tjGetErrorStr2(tj.h));
        return false;
    }
    if (!Bitmap::sizeAllowed(width, height)) {
        setError(error, "JPEG size out of range");
        return false;
    }
    // The data must be able to hold the picture, and every scan costs a pass
    // over all of it.
    const int64_t pixels = int64_t(width) * height;
    const int64_t plausible = kLoadFloorPixels + kJpegPixelsPerByte * int64_t(std::min<size_t>(size, 1u << 30));
    if (pixels > plausible) {
        setError(error, "JPEG size implausible for the data it holds");
        return false;
    }
    if (layout.scans > 1 && pixels * std::min<int64_t>(layout.scans, 1 << 20) > kJpegScanPasses * plausible) {
        setError(error, "JPEG has too many scans for the data it holds");
        return false;
    }
    const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    // The output, a CMYK staging copy, and the library's coefficients of the
    // whole picture when it comes in several scans (2 bytes each).
    uint64_t needed = SurfaceBytes(width, height, 32) + (cmyk ? uint64_t(pixels) * 4 : 0);
    if (layout.progressive || layout.scans > 1)
        needed += uint64_t(pixels) * 2 * uint64_t(std::max(layout.samplingSum, 1)) /
                  uint64_t(layout.hMax * layout.vMax);
    if (!budget.Reserve(needed)) {
        setError(error, "JPEG needs more memory than allowed");
        return false;
    }
    if (!out.create(width, height, 32, true)) {
        setError(error, "JPEG size out of range");
        return false;
    }
    std::vector<uint8_t> cmykPixels;
    if (cmyk) cmykPixels.resize(size_t(width) * 4 * size_t(height));
    uint8_t* dst = cmyk ? cmykPixels.data() : out.bits();
    int pitch = cmyk ? width * 4 : out.stride();
    // Corrupt data only warns and would come out grey; a scan bomb only
    // costs time. Both end the decoding.
    if (tjDecompress2(tj.h, data, static_cast<unsigned long>(size), dst, width, pitch, height,
                      cmyk ? TJPF_CMYK : TJPF_BGRX, TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
        setError(error, tjGetErrorStr2(tj.h));
        return false;
    }
    if (cmyk) {
        cmykToBgrx(cmykPixels.data(), out);
    } else {
        for (int y = 0; y < height; ++y) {
            uint8_t* row = out.scanline(y);
            for (int x = 0; x < width; ++x) row[4 * x + 3] = 0;
        }
    }
    return true;
}

}  // namespace

PictureFormat DetectPictureFormat(const uint8_t* data, size_t size) {
    if (!data) return PictureFormat::Unknown;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return PictureFormat::Bmp;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return PictureFormat::Jpeg;
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return PictureFormat::Gif;
    return PictureFormat::Unknown;
}

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

bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out, std::string* error) {
    LoadBudget budget = LoadBudget::ForInput(size);
    return DecodeJpeg(data, size, out, budget, error);
}

bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    out.clear();
    if (!data || size == 0) {
        setError(error, "no data");
        return false;
    }
    bool ok = false;
    try {
        ok = decodeJpegInto(data, size, out, budget, error);
    } catch (const std::bad_alloc&) {
        setError(error, "out of memory");
    }
    if (!ok) out.clear();
    return ok;
}

bool LoadPictureFromMemory(const uint8_t* data, size_t size, StdPicture& out, std::string* error) {
    try {
        Bitmap decoded, picture;
        LoadBudget budget = LoadBudget::ForInput(size);
        // The 32-bpp copy of a decoded surface comes out of the same budget.
        auto toPicture = [&]() {
            if (!budget.Reserve(SurfaceBytes(decoded.width(), decoded.height(), 32))) {
                setError(error, "picture needs more memory than allowed");
                return false;
            }
            if (!ToTopDown32(decoded, picture)) {
                setError(error, "out of memory");
                return false;
            }
            return true;
        };
        switch (DetectPictureFormat(data, size)) {
            case PictureFormat::Bmp:
                if (decodePlainBmp24(data, size, picture, budget)) break;
                if (!DecodeBmp(data, size, decoded, budget, error) || !toPicture()) return false;
                break;
            case PictureFormat::Jpeg:
                if (!DecodeJpeg(data, size, picture, budget, error)) return false;
                break;
            case PictureFormat::Gif: {
                std::string why;
                if (!DecodeGifPicture(data, size, decoded, budget, &why) || decoded.empty()) {
                    setError(error, "GIF file could not be decoded" + (why.empty() ? "" : ": " + why));
                    return false;
                }
                if (decoded.bpp() == 32 && decoded.topDown()) {
                    picture = std::move(decoded);
                } else if (!toPicture()) {
                    return false;
                }
                break;
            }
            case PictureFormat::Unknown:
                setError(error, "not a BMP, JPEG or GIF file");
                return false;
        }
        out.bitmap = std::make_shared<Bitmap>(std::move(picture));
        return true;
    } catch (const std::bad_alloc&) {
        setError(error, "out of memory");
        return false;
    }
}

bool LoadPicture(const std::string& path, StdPicture& out, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, bytes, error)) return false;
    return LoadPictureFromMemory(bytes.data(), bytes.size(), out, error);
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

bool SavePictureBMP(const Bitmap& picture, const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!EncodeBmp24(picture, bytes)) {
        setError(error, picture.empty() ? "empty picture" : "out of memory");
        return false;
    }
    return WriteFileReplacing(path, bytes.data(), bytes.size(), error);
}

bool SavePictureBMP(const StdPicture& picture, const std::string& path, std::string* error) {
    if (!picture.isBitmap()) {
        setError(error, "empty picture");
        return false;
    }
    return SavePictureBMP(*picture.bitmap, path, error);
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string* error) {
    if (std::error_code ec = ReadRegularFile(path, kMaxPictureFile, out)) {
        setError(error, ec == std::errc::file_too_large ? std::string("file too large") : ec.message());
        return false;
    }
    return true;
}

bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size, std::string* error, bool sync) {
    std::error_code ec =
        WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(data), size), sync);
    if (ec) setError(error, ec.message());
    return !ec;
}

}  // namespace tarnel
