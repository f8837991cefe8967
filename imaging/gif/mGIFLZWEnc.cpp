#include "imaging/gif/mGIFLZWEnc.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tarnel {

namespace {

constexpr int kHashSize = 5003;      // prime, so a probe sequence visits every slot
constexpr uint32_t kCodeLimit = 4096;  // codes are at most 12 bits
constexpr size_t kPacketBytes = 254;

// Interlaced row order: start row and row step of each pass.
constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

// Variable-width codes packed least significant bit first.
struct CodePacker {
    uint64_t acc;
    int accBits;
    int width;
    uint32_t maxCode;  // largest free code that needs no wider code
    uint8_t* dst;

    uint32_t mask() const { return (1u << width) - 1; }
    void setWidth(int w) {
        width = w;
        maxCode = mask();
    }
    // The width grows after the code that made the free code pass the maximum.
    void widenIfFull(uint32_t freeCode) {
        if (freeCode > maxCode) {
            ++width;
            maxCode = width == 12 ? kCodeLimit : mask();
        }
    }
    // `code` must fit the width. The register is stored whole every time and
    // the pointer moves by the complete bytes: no branch per code. Fewer than
    // 8 bits stay held between codes.
    void put(uint32_t code) {
        acc |= uint64_t(code) << accBits;
        accBits += width;
        uint64_t le = acc;
        if constexpr (std::endian::native == std::endian::big) le = __builtin_bswap64(le);
        std::memcpy(dst, &le, sizeof le);
        const int whole = accBits >> 3;
        dst += whole;
        acc >>= whole * 8;
        accBits &= 7;
    }
    // Puts out the held bits as whole bytes, the last padded with zero bits.
    void flush() {
        while (accBits > 0) {
            *dst++ = uint8_t(acc);
            acc >>= 8;
            accBits -= 8;
        }
        acc = 0;
        accBits = 0;
    }
};

// Coder state carried from one row to the next.
struct RowCoder {
    int32_t* htab;
    uint16_t* ctab;
    uint32_t ent;  // code of the string matched so far
    uint32_t freeCode;
    uint32_t clearCode;
    int initBits;
    CodePacker codes;
    // Only for frames with pixel values of the clear code or above.
    const uint8_t* packedStart;
    std::vector<size_t>* packetEnds;

    // Codes pixels [p, end). With kPixelsFit every pixel is below the clear
    // code, so no code is wider than the width and none equals the end code.
    // The state is held in locals for the loop and written back after it.
    template <bool kPixelsFit>
    void code(const uint8_t* p, const uint8_t* const end) {
        int32_t* const hashes = htab;
        uint16_t* const assigned = ctab;
        uint32_t prefix = ent;
        uint32_t next = freeCode;
        CodePacker out = codes;
        while (p < end) {
            const uint32_t c = *p++;
            const int32_t f = int32_t((c << 12) + prefix);
            int i = int((c << 4) ^ prefix);
            int32_t h = hashes[i];
            if (h == f) {
                prefix = assigned[i];
                continue;
            }
            if (h >= 0) {
                // Secondary probe. Once probing has begun a zero entry counts
                // as empty, so the string (0, 0) can be entered twice.
                const int step = i == 0 ? 1 : kHashSize - i;
                bool found = false;
                for (;;) {
                    i -= step;
                    if (i < 0) i += kHashSize;
                    h = hashes[i];
                    if (h == f) {
                        found = true;
                        break;
                    }
                    if (h <= 0) break;
                }
                if (found) {
                    prefix = assigned[i];
                    continue;
                }
            }
            if constexpr (kPixelsFit) {
                out.put(prefix);
                out.widenIfFull(next);
            } else {
                putWide(out, prefix, next);
            }
            if (next < kCodeLimit) {
                assigned[i] = uint16_t(next++);
                hashes[i] = f;
            } else {
                // Table full: start over, the clear code still at full width.
                std::memset(hashes, 0xFF, sizeof(int32_t) * kHashSize);
                next = clearCode + 2;
                out.put(clearCode);
                out.setWidth(initBits);
            }
            prefix = c;
        }
        ent = prefix;
        freeCode = next;
        codes = out;
    }

    // A code that may be a pixel value too wide for the code size: only its
    // low bits are written. One equal to the end code is put out like the
    // end code itself: the held bits padded to a byte and the packet written.
    void putWide(CodePacker& out, uint32_t code, uint32_t next) {
        out.put(code & out.mask());
        out.widenIfFull(next);
        if (code == clearCode + 1) {
            out.flush();
            packetEnds->push_back(size_t(out.dst - packedStart));
        }
    }
};

}  // namespace

void GifLzwEncoder::CompressFrame(std::vector<uint8_t>& out, const GcDIB& DIB, int InitBits, bool Interlaced) {
    if (DIB.BPP() != 8 || InitBits < 2 || InitBits > 12) return;
    const int frameWidth = DIB.Width();
    const int frameHeight = DIB.Height();
    const size_t stride = size_t(DIB.BytesPerScanline());
    const uint8_t* const bits = DIB.lpBits();
    const bool interlace = Interlaced && frameHeight > 4;

    hashTable_.assign(kHashSize, -1);
    codeTable_.assign(kHashSize, 0);
    packetEnds_.clear();

    RowCoder coder{};
    coder.htab = hashTable_.data();
    coder.ctab = codeTable_.data();
    coder.clearCode = 1u << (InitBits - 1);
    coder.freeCode = coder.clearCode + 2;
    coder.initBits = InitBits;
    coder.packetEnds = &packetEnds_;
    const uint32_t endCode = coder.clearCode + 1;

    // Pixels at or above the clear code only come from a frame whose colours
    // do not fit the code size; such frames take the slower, checking path.
    uint8_t allBits = 0;
    for (int y = 0; y < frameHeight; ++y) {
        const uint8_t* row = bits + size_t(y) * stride;
        for (int x = 0; x < frameWidth; ++x) allBits |= row[x];
    }
    const bool pixelsFit = (uint32_t(allBits) >> (InitBits - 1)) == 0;

    // Each pixel emits at most two codes of at most 13 bits, so 4 bytes a
    // pixel (plus slack for the 8-byte stores) is room enough for a row.
    const size_t rowNeed = size_t(frameWidth) * 4 + 32;
    if (packed_.size() < rowNeed) packed_.resize(rowNeed);
    coder.packedStart = packed_.data();
    CodePacker& codes = coder.codes;
    codes.dst = packed_.data();
    codes.setWidth(InitBits);
    codes.put(coder.clearCode);
    codes.widenIfFull(coder.freeCode);  // only a one-bit minimum code size widens here

    int pass = 0;
    int y = 0;
    int rowStep = interlace ? kPassStep[0] : 1;
    const uint8_t* row = bits;
    coder.ent = row[0];
    int from = 1;  // the first pixel opens the first string
    for (;;) {
        if (pixelsFit)
            coder.code<true>(row + from, row + frameWidth);
        else
            coder.code<false>(row + from, row + frameWidth);
        from = 0;
        y += rowStep;
        if (y >= frameHeight) {
            if (!interlace || ++pass == 4) break;
            y = kPassStart[pass];  // below frameHeight, which is above 4
            rowStep = kPassStep[pass];
        }
        row = bits + size_t(y) * stride;
        const size_t used = size_t(codes.dst - packed_.data());
        if (packed_.size() - used < rowNeed) {
            packed_.resize(std::max(packed_.size() * 2, used + rowNeed));
            codes.dst = packed_.data() + used;
            coder.packedStart = packed_.data();
        }
    }

    if (pixelsFit) {
        codes.put(coder.ent);
        codes.widenIfFull(coder.freeCode);
    } else {
        coder.putWide(codes, coder.ent, coder.freeCode);
    }
    codes.put(endCode);
    codes.flush();
    const size_t used = size_t(codes.dst - packed_.data());

    // Cut each run between packet ends into sub-blocks of 254 bytes, the last
    // one holding the rest.
    packetEnds_.push_back(used);
    size_t subBlocks = 0;
    for (size_t k = 0, from = 0; k < packetEnds_.size(); from = packetEnds_[k++])
        subBlocks += (packetEnds_[k] - from + kPacketBytes - 1) / kPacketBytes;
    const size_t start = out.size();
    out.resize(start + used + subBlocks);
    uint8_t* o = out.data() + start;
    for (size_t k = 0, from = 0; k < packetEnds_.size(); from = packetEnds_[k++]) {
        for (size_t at = from; at < packetEnds_[k]; at += kPacketBytes) {
            const size_t n = std::min(kPacketBytes, packetEnds_[k] - at);
            *o++ = uint8_t(n);
            std::memcpy(o, packed_.data() + at, n);
            o += n;
        }
    }
}

void CompressFrame(std::vector<uint8_t>& out, const GcDIB& DIB, int InitBits, bool Interlaced) {
    GifLzwEncoder encoder;
    encoder.CompressFrame(out, DIB, InitBits, Interlaced);
}

}  // namespace tarnel
