#include "imaging/jpeg/JpegDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <turbojpeg.h>
#include <vector>

namespace tarnel {

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
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

}  // namespace tarnel
