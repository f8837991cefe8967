#include "imaging/gif/mGIFLZWDec.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tarnel {

namespace {

// Codes are at most 12 bits wide, so the tables hold codes 0..4095. Once they
// are full, an encoder may go on sending 12-bit codes against the frozen table
// and clear it later, or never.
constexpr uint32_t kTableCodes = 4096;
constexpr size_t kTableSize = kTableCodes;
// Longest string a well-formed table can spell: every entry is one byte longer
// than its prefix, and a code not yet in the table adds one more byte. A chain
// longer than this loops.
constexpr uint32_t kMaxString = kTableSize + 1;

constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

inline uint64_t Load64LE(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

// Codes of the current width, least significant bit first.
struct CodeReader {
    const uint8_t* in;
    const uint8_t* end;
    uint64_t buf;  // bits above `held` may already hold the next bytes
    int held;

    // False when the data holds no complete code of this width any more.
    bool read(int width, uint32_t& code) {
        if (held < width) {
            if (end - in >= 8) {
                buf |= Load64LE(in) << held;
                in += (63 - held) >> 3;
                held |= 56;
            } else {
                while (held <= 56 && in < end) {
                    buf |= uint64_t(*in++) << held;
                    held += 8;
                }
                if (held < width) return false;
            }
        }
        code = uint32_t(buf) & ((1u << width) - 1);
        buf >>= width;
        held -= width;
        return true;
    }
};

}  // namespace

void GifLzwDecoder::DecompressFrame(GcDIB& Frame, bool Interlaced, int CodeSize, const uint8_t* Data,
                                    size_t DataSize) {
    if (Frame.BPP() != 8 || CodeSize < 0 || CodeSize > 11) return;
    if (Data == nullptr) DataSize = 0;
    const uint32_t frameWidth = uint32_t(Frame.Width());
    const int lastRow = Frame.Height() - 1;
    const size_t stride = size_t(Frame.BytesPerScanline());
    uint8_t* const bits = Frame.lpBits();
    const bool interlace = Interlaced && Frame.Height() > 4;

    const uint32_t clearCode = 1u << CodeSize;
    const uint32_t endCode = clearCode + 1;

    // Roots are their own one-byte strings. A root above 255 cannot be a
    // pixel, and the clear and end codes have no string of their own: those
    // are left to the checked path. Nothing of a previous frame survives.
    table_.assign(kTableSize, Entry{0, 0, 0, 0, 0});
    string_.resize(kMaxString);
    Entry* const table = table_.data();
    uint8_t* const stack = string_.data();
    for (uint32_t code = 0; code < std::min(clearCode, 256u); ++code) table[code] = Entry{0, 1, 0, uint8_t(code), 0};

    // Output cursor over the rows in coding order.
    int pass = 0;
    int y = 0;
    int rowStep = interlace ? kPassStep[0] : 1;
    uint8_t* row = bits;
    uint32_t x = 0;
    // Moves to the next row; false once the frame is full.
    auto nextRow = [&]() -> bool {
        x = 0;
        y += rowStep;
        if (y > lastRow) {
            if (!interlace || ++pass == 4) return false;
            y = kPassStart[pass];  // a real row: interlaced frames are over 4 rows
            rowStep = kPassStep[pass];
        }
        row = bits + size_t(y) * stride;
        return true;
    };
    // Writes a string that may run over row ends; false once the frame is full.
    auto spread = [&](const uint8_t* s, uint32_t n) -> bool {
        for (;;) {
            const uint32_t k = std::min(n, frameWidth - x);
            std::memcpy(row + x, s, k);
            x += k;
            s += k;
            n -= k;
            if (x == frameWidth && !nextRow()) return false;
            if (n == 0) return true;
        }
    };
    // The last n bytes of the string of `code`, written backwards ending at
    // `end`; the chain is known to hold n bytes.
    auto unwind = [table](uint8_t* end, uint32_t code, uint32_t n) {
        for (; n > 1; --n) {
            const Entry e = table[code];
            *--end = e.suffix;
            code = e.prefix;
        }
        *--end = uint8_t(code);
    };

    CodeReader reader{Data, Data + DataSize, 0, 0};
    uint32_t code;
    // Streams open with a clear code as a rule; one that does not starts as
    // if it had.
    if (!reader.read(CodeSize + 1, code)) return;
    bool haveCode = code != clearCode;
    for (;;) {
        // After a clear.
        int width = CodeSize + 1;
        uint32_t maxCode = (1u << width) - 1;
        uint32_t freeCode = clearCode + 2;
        // The first code is a pixel; clear codes in a row are all clears.
        if (!haveCode && !reader.read(width, code)) return;
        haveCode = false;
        while (code == clearCode)
            if (!reader.read(width, code)) return;
        if (code == endCode || code > 255) return;
        uint32_t prev = code;
        uint8_t first = uint8_t(code);  // first byte of the previous string
        row[x] = first;
        if (++x == frameWidth && !nextRow()) return;

        for (;;) {
            if (!reader.read(width, code)) return;
            if (code - clearCode < 2) {
                if (code == endCode) return;
                break;
            }
            if (code > freeCode) return;

            // Length and first byte of the string, when its chain is known good.
            uint32_t n = 0;
            uint8_t newFirst = first;
            if (code < freeCode) {
                n = table[code].length;
                newFirst = table[code].first;
            } else if (prev < freeCode && table[prev].length != 0) {
                n = table[prev].length + 1u;  // the previous string plus its own first byte
            }

            if (n - 1 < frameWidth - x) {
                uint8_t* const end = row + x + n;
                if (code < freeCode) {
                    unwind(end, code, n);
                } else {
                    end[-1] = first;
                    unwind(end - 1, prev, n - 1);
                }
                x += n;
                if (x == frameWidth && !nextRow()) return;
            } else if (n != 0) {
                uint8_t* const end = stack + n;
                if (code < freeCode) {
                    unwind(end, code, n);
                } else {
                    end[-1] = first;
                    unwind(end - 1, prev, n - 1);
                }
                if (!spread(stack, n)) return;
            } else {
                // A chain through a code not entered since the last clear:
                // walk it step by step, checking every step.
                uint32_t sp = 0;
                uint32_t c = code;
                if (code == freeCode) {
                    stack[sp++] = first;
                    c = prev;
                }
                while (c >= clearCode) {
                    if (sp >= kMaxString) return;  // the chain loops
                    stack[sp++] = table[c].suffix;
                    c = table[c].prefix;
                }
                if (c > 255 || sp >= kMaxString) return;
                stack[sp++] = uint8_t(c);
                newFirst = uint8_t(c);
                std::reverse(stack, stack + sp);
                if (!spread(stack, sp)) return;
            }

            const uint32_t previous = prev;
            prev = code;
            first = newFirst;
            if (freeCode == kTableCodes) continue;  // full: decode on with the table as it is
            Entry& added = table[freeCode];
            added.prefix = uint16_t(previous);
            added.suffix = newFirst;
            const uint32_t prevLength = previous < freeCode ? table[previous].length : 0;
            if (prevLength != 0 && prevLength + 1 < kMaxString) {
                added.length = uint16_t(prevLength + 1);
                added.first = table[previous].first;
            } else {
                added.length = 0;
            }
            ++freeCode;
            if (freeCode > maxCode && width < 12) {
                ++width;
                maxCode = (1u << width) - 1;
            }
        }
    }
}

void DecompressFrame(GcDIB& Frame, bool Interlaced, int CodeSize, const std::vector<uint8_t>& Data) {
    GifLzwDecoder decoder;
    decoder.DecompressFrame(Frame, Interlaced, CodeSize, Data.data(), Data.size());
}

}  // namespace tarnel
