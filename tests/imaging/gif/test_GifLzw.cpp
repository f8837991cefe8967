#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/gif/mGIFLZWDec.h"
#include "imaging/gif/mGIFLZWEnc.h"
#include "support/GiflibReader.h"

using namespace tarnel;

namespace {

using Bytes = std::vector<uint8_t>;
using PixelFn = std::function<uint8_t(int x, int y)>;

// ---------------------------------------------------------------- frames

GcDIB MakeFrame(int w, int h, const PixelFn& pixel) {
    GcDIB dib;
    EXPECT_TRUE(dib.Create(w, h, 8));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) dib.lpBits()[size_t(y) * dib.BytesPerScanline() + x] = pixel(x, y);
    return dib;
}

GcDIB FilledFrame(int w, int h, uint8_t value) {
    return MakeFrame(w, h, [value](int, int) { return value; });
}

// Pixels in plain row order, padding left out.
Bytes Pixels(const GcDIB& dib) {
    Bytes out;
    for (int y = 0; y < dib.Height(); ++y) {
        const uint8_t* row = dib.lpBits() + size_t(y) * dib.BytesPerScanline();
        out.insert(out.end(), row, row + dib.Width());
    }
    return out;
}

// Row numbers in the order the codec visits them.
std::vector<int> CodingRows(int h, bool interlaced) {
    std::vector<int> rows;
    if (interlaced && h > 4) {
        const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (int y = start[p]; y < h; y += step[p]) rows.push_back(y);
    } else {
        for (int y = 0; y < h; ++y) rows.push_back(y);
    }
    return rows;
}

Bytes PixelsInCodingOrder(const GcDIB& dib, bool interlaced) {
    Bytes out;
    for (int y : CodingRows(dib.Height(), interlaced)) {
        const uint8_t* row = dib.lpBits() + size_t(y) * dib.BytesPerScanline();
        out.insert(out.end(), row, row + dib.Width());
    }
    return out;
}

PixelFn Noise(int colours, unsigned seed) {
    auto rng = std::make_shared<std::mt19937>(seed);
    return [rng, colours](int, int) { return uint8_t((*rng)() % unsigned(colours)); };
}

PixelFn Gradient(int colours, int w) {
    return [colours, w](int x, int y) { return uint8_t((x * colours / std::max(w, 1) + y / 3) % colours); };
}

// Smooth picture with an ordered dither on top, like a reduced photograph.
PixelFn DitheredPhoto(int colours) {
    return [colours](int x, int y) {
        static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
        const double v = 0.5 + 0.25 * std::sin(x * 0.031) + 0.2 * std::cos(y * 0.047 + x * 0.011);
        const int level = int(v * (colours - 1) * 16 + bayer[y & 3][x & 3]) / 16;
        return uint8_t(std::clamp(level, 0, colours - 1));
    };
}

// ------------------------------------------------------- sub-blocks, codes

// Concatenated sub-block contents; also checks the encoder's packet rule.
Bytes Unblock(const Bytes& blocks) {
    Bytes data;
    size_t at = 0;
    while (at < blocks.size()) {
        const size_t n = blocks[at++];
        EXPECT_GT(n, 0u) << "zero-length sub-block inside the data";
        EXPECT_LE(n, 254u);
        EXPECT_LE(at + n, blocks.size());
        if (at + n > blocks.size()) break;
        if (n < 254) {
            EXPECT_EQ(at + n, blocks.size()) << "a short sub-block before the last";
        }
        data.insert(data.end(), blocks.begin() + long(at), blocks.begin() + long(at + n));
        at += n;
    }
    return data;
}

Bytes Encode(const GcDIB& dib, int minCodeSize, bool interlaced) {
    Bytes out;
    GifLzwEncoder().CompressFrame(out, dib, minCodeSize + 1, interlaced);
    return out;
}

void Decode(GcDIB& frame, bool interlaced, int codeSize, const Bytes& data) {
    GifLzwDecoder().DecompressFrame(frame, interlaced, codeSize, data.data(), data.size());
}

// Code widths as a decoder sees them: the first code counts as a clear, every
// code after the first one past a clear adds an entry.
struct WidthTracker {
    int codeSize;
    int width;
    uint32_t freeCode;
    bool firstAfterClear = true;
    explicit WidthTracker(int cs) : codeSize(cs), width(cs + 1), freeCode((1u << cs) + 2) {}
    void after(uint32_t code, bool streamStart) {
        const uint32_t clear = 1u << codeSize;
        if (streamStart) {
            firstAfterClear = true;
        } else if (code == clear) {
            width = codeSize + 1;
            freeCode = clear + 2;
            firstAfterClear = true;
        } else if (firstAfterClear) {
            firstAfterClear = false;
        } else {
            ++freeCode;
            if (freeCode > (1u << width) - 1 && width < 12) ++width;
        }
    }
};

// Packs hand-made codes least significant bit first, widths as a decoder reads them.
Bytes PackCodes(const std::vector<uint32_t>& codes, int codeSize) {
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    WidthTracker t(codeSize);
    for (size_t k = 0; k < codes.size(); ++k) {
        acc |= codes[k] << bits;
        bits += t.width;
        while (bits >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
        t.after(codes[k], k == 0);
    }
    if (bits > 0) out.push_back(uint8_t(acc));
    return out;
}

// Reads codes back out of a stream, up to and including the end code.
std::vector<uint32_t> ParseCodes(const Bytes& data, int codeSize) {
    std::vector<uint32_t> codes;
    WidthTracker t(codeSize);
    size_t bitPos = 0;
    while (bitPos + size_t(t.width) <= data.size() * 8) {
        uint32_t code = 0;
        for (int b = 0; b < t.width; ++b, ++bitPos) code |= uint32_t((data[bitPos / 8] >> (bitPos % 8)) & 1) << b;
        codes.push_back(code);
        if (code == (1u << codeSize) + 1) break;
        t.after(code, codes.size() == 1);
    }
    return codes;
}

// How many pixels a well-formed run of codes spells, counted without decoding.
size_t SpelledLength(const std::vector<uint32_t>& codes, int codeSize) {
    const uint32_t clear = 1u << codeSize;
    std::vector<size_t> length(4098, 1);
    size_t total = 0;
    uint32_t freeCode = clear + 2, prev = 0;
    bool firstAfterClear = true;
    for (size_t k = 1; k < codes.size(); ++k) {
        const uint32_t c = codes[k];
        if (c == clear + 1) break;
        if (firstAfterClear) {
            firstAfterClear = false;
            total += 1;
        } else if (c == clear) {
            firstAfterClear = true;
            freeCode = clear + 2;
            continue;
        } else {
            total += c < freeCode ? length[c] : length[prev] + 1;
            if (freeCode < 4096) length[freeCode++] = length[prev] + 1;
        }
        prev = c;
    }
    return total;
}

// -------------------------------------------- literal reference encoder

// The encoder read word for word from its description: module-style state, a
// pixel cursor, a 32-bit accumulator with a mask table and a 256-byte packet.
// Slow on purpose; it only has to be obviously right.
class LiteralEncoder {
public:
    Bytes Run(const GcDIB& dib, int initBits, bool interlaced) {
        file_.clear();
        for (int n = 0; n <= 16; ++n) masks_[n] = (1u << n) - 1;
        width_ = dib.Width();
        height_ = dib.Height();
        stride_ = dib.BytesPerScanline();
        view_ = dib.lpBits();
        interlace_ = interlaced && height_ > 4;
        curX_ = curY_ = pass_ = 0;
        countDown_ = long(width_) * height_;

        initBits_ = initBits;
        nBits_ = initBits;
        maxCode_ = int(masks_[nBits_]);
        clearCode_ = 1 << (initBits - 1);
        eofCode_ = clearCode_ + 1;
        freeEnt_ = clearCode_ + 2;
        clearFlag_ = false;
        curAccum_ = 0;
        curBits_ = 0;
        packetCount_ = 0;
        for (int& h : hashTab_) h = -1;
        Output(clearCode_);

        int ent = NextPixel();
        int c;
        while ((c = NextPixel()) != -1) {
            const int fcode = ent + c * 4096;
            int i = (c << 4) ^ ent;
            if (hashTab_[i] == fcode) {
                ent = codeTab_[i];
                continue;
            }
            if (hashTab_[i] >= 0) {
                const int disp = i == 0 ? 1 : 5003 - i;
                bool matched = false;
                for (;;) {
                    i -= disp;
                    if (i < 0) i += 5003;
                    if (hashTab_[i] == fcode) {
                        ent = codeTab_[i];
                        matched = true;
                        break;
                    }
                    if (hashTab_[i] <= 0) break;
                }
                if (matched) continue;
            }
            Output(ent);
            if (freeEnt_ < 4096) {
                codeTab_[i] = freeEnt_++;
                hashTab_[i] = fcode;
            } else {
                ClearBlock();
            }
            ent = c;
        }
        Output(ent);
        Output(eofCode_);
        return file_;
    }

private:
    int NextPixel() {
        if (countDown_ == 0) return -1;
        --countDown_;
        const int value = view_[curY_ * stride_ + curX_];
        ++curX_;
        if (curX_ == width_) {
            curX_ = 0;
            if (!interlace_) {
                ++curY_;
            } else {
                static const int step[4] = {8, 8, 4, 2}, start[4] = {0, 4, 2, 1};
                curY_ += step[pass_];
                if (curY_ >= height_ && pass_ < 3) {
                    ++pass_;
                    curY_ = start[pass_];
                }
            }
        }
        return value;
    }
    void ClearBlock() {
        for (int& h : hashTab_) h = -1;
        freeEnt_ = clearCode_ + 2;
        clearFlag_ = true;
        Output(clearCode_);
    }
    void Output(int code) {
        curAccum_ &= masks_[curBits_];
        if (curBits_ > 0)
            curAccum_ |= uint32_t(code) << curBits_;
        else
            curAccum_ = uint32_t(code);
        curBits_ += nBits_;
        while (curBits_ >= 8) {
            CharOut(uint8_t(curAccum_ & 0xFF));
            curAccum_ >>= 8;
            curBits_ -= 8;
        }
        if (freeEnt_ > maxCode_ || clearFlag_) {
            if (clearFlag_) {
                nBits_ = initBits_;
                maxCode_ = int(masks_[nBits_]);
                clearFlag_ = false;
            } else {
                ++nBits_;
                maxCode_ = nBits_ == 12 ? 4096 : int(masks_[nBits_]);
            }
        }
        if (code == eofCode_) {
            while (curBits_ > 0) {
                CharOut(uint8_t(curAccum_ & 0xFF));
                curAccum_ >>= 8;
                curBits_ -= 8;
            }
            curBits_ = 0;  // every held bit is out
            FlushChar();
        }
    }
    void CharOut(uint8_t c) {
        packet_[++packetCount_] = c;
        if (packetCount_ >= 254) FlushChar();
    }
    void FlushChar() {
        if (packetCount_ > 0) {
            packet_[0] = uint8_t(packetCount_);
            file_.insert(file_.end(), packet_, packet_ + packetCount_ + 1);
            packetCount_ = 0;
        }
    }

    int hashTab_[5003];
    int codeTab_[5003];
    uint32_t masks_[17];
    int width_ = 0, height_ = 0, stride_ = 0;
    const uint8_t* view_ = nullptr;
    bool interlace_ = false;
    int curX_ = 0, curY_ = 0, pass_ = 0;
    long countDown_ = 0;
    int initBits_ = 0, nBits_ = 0, maxCode_ = 0, clearCode_ = 0, eofCode_ = 0, freeEnt_ = 0;
    bool clearFlag_ = false;
    uint32_t curAccum_ = 0;
    int curBits_ = 0;
    uint8_t packet_[256];
    int packetCount_ = 0;
    Bytes file_;
};

// -------------------------------------------- literal reference decoder

// The decoder step by step: prefix and suffix tables, a string stack popped
// pixel by pixel, a pixel cursor with per-pass row tables. The stack holds the
// longest string a table can spell, a frame that is full ends the decoding,
// a full table stays in use until a clear, clears in a row are all clears,
// and a stream that does not open with a clear loses nothing.
class LiteralDecoder {
public:
    void Run(GcDIB& frame, bool interlaced, int codeSize, const Bytes& data) {
        if (frame.BPP() != 8 || codeSize < 0 || codeSize > 11) return;
        input_ = &data;
        readIndex_ = 0;
        bitBuffer_ = 0;
        bitCount_ = 0;
        view_ = frame.lpBits();
        stride_ = frame.BytesPerScanline();
        width_ = frame.Width();
        lastRow_ = frame.Height() - 1;
        interlace_ = interlaced && frame.Height() > 4;
        pass_ = 0;
        x_ = 0;
        y_ = 0;
        prefix_.assign(4096, 0);
        suffix_.assign(4096, 0);
        const int clearCode = 1 << codeSize, endCode = clearCode + 1;
        codeWidth_ = codeSize + 1;
        int maxCode = (1 << codeWidth_) - 1;

        int c = 0;
        if (!GetCode(c)) return;
        bool pending = c != clearCode;
        int freeCode = clearCode + 2;
        bool firstCode = true;
        int prev = 0, firstByte = 0;
        for (;;) {
            if (!pending && !GetCode(c)) return;
            pending = false;
            if (c == endCode) return;
            if (firstCode) {
                if (c == clearCode) continue;
                firstCode = false;
                prev = c;
                firstByte = c;
                if (c > 255 || !PutPixel(uint8_t(c))) return;
                continue;
            }
            if (c == clearCode) {
                firstCode = true;
                codeWidth_ = codeSize + 1;
                maxCode = (1 << codeWidth_) - 1;
                freeCode = clearCode + 2;
                continue;
            }
            int sp = 0, code;
            if (c < freeCode) {
                code = c;
            } else if (c == freeCode) {
                stack_[sp++] = uint8_t(firstByte);
                code = prev;
            } else {
                return;
            }
            while (code >= clearCode) {
                if (sp >= kStack) return;
                stack_[sp++] = suffix_[size_t(code)];
                code = prefix_[size_t(code)];
            }
            if (code > 255 || sp >= kStack) return;
            stack_[sp++] = uint8_t(code);
            firstByte = stack_[sp - 1];
            while (sp > 0)
                if (!PutPixel(stack_[--sp])) return;
            if (freeCode < 4096) {
                prefix_[size_t(freeCode)] = prev;
                suffix_[size_t(freeCode)] = uint8_t(firstByte);
                ++freeCode;
                if (freeCode > maxCode && codeWidth_ < 12) {
                    ++codeWidth_;
                    maxCode = (1 << codeWidth_) - 1;
                }
            }
            prev = c;
        }
    }

private:
    static constexpr int kStack = 4098;

    bool GetCode(int& code) {
        while (bitCount_ < codeWidth_) {
            if (readIndex_ >= input_->size()) return false;
            bitBuffer_ |= uint32_t((*input_)[readIndex_++]) << bitCount_;
            bitCount_ += 8;
        }
        code = int(bitBuffer_ & ((1u << codeWidth_) - 1));
        bitBuffer_ >>= codeWidth_;
        bitCount_ -= codeWidth_;
        return true;
    }
    // False once the frame is full.
    bool PutPixel(uint8_t v) {
        static const int step[4] = {8, 8, 4, 2}, start[4] = {0, 4, 2, 1};
        view_[y_ * stride_ + x_] = v;
        if (++x_ < width_) return true;
        x_ = 0;
        y_ += interlace_ ? step[pass_] : 1;
        if (y_ <= lastRow_) return true;
        if (!interlace_ || ++pass_ == 4) return false;
        y_ = start[pass_];
        return true;
    }

    const Bytes* input_ = nullptr;
    size_t readIndex_ = 0;
    uint32_t bitBuffer_ = 0;
    int bitCount_ = 0, codeWidth_ = 0;
    uint8_t* view_ = nullptr;
    int stride_ = 0, width_ = 0, lastRow_ = 0;
    bool interlace_ = false;
    int pass_ = 0, x_ = 0, y_ = 0;
    std::vector<int> prefix_;
    std::vector<uint8_t> suffix_;
    uint8_t stack_[kStack];
};

// ------------------------------------------------------------- giflib

int WriteToMemory(GifFileType* gif, const GifByteType* buf, int n) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), buf, buf + n);
    return n;
}

void Put16(Bytes& b, int v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

// A one-image GIF around our sub-blocks: header, screen descriptor, global
// table, image descriptor, minimum code size, the data, terminator, trailer.
Bytes WrapInGif(int w, int h, int minCodeSize, bool interlaceFlag, const Bytes& subBlocks) {
    Bytes g = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(g, w);
    Put16(g, h);
    g.push_back(uint8_t(0x80 | (minCodeSize - 1)));
    g.push_back(0);
    g.push_back(0);
    for (int i = 0; i < (1 << minCodeSize); ++i) g.insert(g.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    g.push_back(0x2C);
    Put16(g, 0);
    Put16(g, 0);
    Put16(g, w);
    Put16(g, h);
    g.push_back(interlaceFlag ? 0x40 : 0x00);
    g.push_back(uint8_t(minCodeSize));
    g.insert(g.end(), subBlocks.begin(), subBlocks.end());
    g.push_back(0x00);
    g.push_back(0x3B);
    return g;
}

// giflib's reading of the first image, in display order. Empty on failure.
Bytes GiflibDecode(const Bytes& gifBytes) {
    test::GiflibReader gif(gifBytes);
    if (!gif.ok() || gif->ImageCount == 0) return {};
    const SavedImage& img = gif->SavedImages[0];
    return Bytes(img.RasterBits, img.RasterBits + img.ImageDesc.Width * img.ImageDesc.Height);
}

// giflib's encoding of a frame (rows handed over in coding order).
Bytes GiflibEncode(const GcDIB& dib, int colours, bool interlaced) {
    Bytes out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, WriteToMemory, &err);
    if (!gif) return {};
    ColorMapObject* map = GifMakeMapObject(colours, nullptr);
    EGifPutScreenDesc(gif, dib.Width(), dib.Height(), 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, dib.Width(), dib.Height(), interlaced, nullptr);
    for (int y : CodingRows(dib.Height(), interlaced))
        EGifPutLine(gif, dib.lpBits() + size_t(y) * dib.BytesPerScanline(), dib.Width());
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    return out;
}

// Minimum code size and concatenated data of the first image of a GIF.
bool FirstImageData(const Bytes& g, int& codeSize, Bytes& data) {
    size_t at = 13;
    if (g.size() < at) return false;
    if (g[10] & 0x80) at += 3u * (2u << (g[10] & 7));
    auto skipBlocks = [&]() {
        while (at < g.size() && g[at] != 0) at += g[at] + 1u;
        ++at;
    };
    while (at < g.size()) {
        if (g[at] == 0x21) {
            at += 2;
            skipBlocks();
        } else if (g[at] == 0x2C) {
            const uint8_t packed = g[at + 9];
            at += 10;
            if (packed & 0x80) at += 3u * (2u << (packed & 7));
            codeSize = g[at++];
            data.clear();
            while (at < g.size() && g[at] != 0) {
                data.insert(data.end(), g.begin() + long(at + 1), g.begin() + long(at + 1 + g[at]));
                at += g[at] + 1u;
            }
            return true;
        } else {
            return false;
        }
    }
    return false;
}

}  // namespace

// ================================================================= encoder

TEST(GifLzwEncoder, OnePixelFrameIsClearPixelEndInThreeBits) {
    // Codes 4, p, 5 of 3 bits each: 9 bits, one sub-block of two bytes.
    const uint8_t expected[4][2] = {{0x44, 0x01}, {0x4C, 0x01}, {0x54, 0x01}, {0x5C, 0x01}};
    for (int p = 0; p < 4; ++p) {
        GcDIB frame = FilledFrame(1, 1, uint8_t(p));
        EXPECT_EQ(Encode(frame, 2, false), (Bytes{0x02, expected[p][0], expected[p][1]})) << "pixel " << p;
    }
}

TEST(GifLzwEncoder, AppendsToWhatTheCallerWrote) {
    GcDIB frame = FilledFrame(1, 1, 3);
    Bytes out = {0x2C, 0x02};
    CompressFrame(out, frame, 3, false);
    EXPECT_EQ(out, (Bytes{0x2C, 0x02, 0x02, 0x5C, 0x01}));
}

TEST(GifLzwEncoder, APixelEqualToTheEndCodeClosesThePacket) {
    // Code size 2 cannot hold pixel 5; it goes out as 3 bits like the end
    // code does: byte padded and packet written. Then 1 and the end code.
    GcDIB frame = MakeFrame(2, 1, [](int x, int) { return uint8_t(x == 0 ? 5 : 1); });
    const Bytes blocks = Encode(frame, 2, false);
    EXPECT_EQ(blocks, (Bytes{0x01, 0x2C, 0x01, 0x29}));
    EXPECT_EQ(blocks, LiteralEncoder().Run(frame, 3, false));
}

TEST(GifLzwEncoder, IgnoresOtherDepthsAndImpossibleWidths) {
    for (int bpp : {1, 4, 24, 32}) {
        GcDIB dib;
        ASSERT_TRUE(dib.Create(4, 4, bpp));
        Bytes out;
        CompressFrame(out, dib, 9, false);
        EXPECT_TRUE(out.empty()) << bpp;
    }
    GcDIB frame = FilledFrame(4, 4, 1);
    for (int initBits : {-1, 0, 1, 13, 40}) {
        Bytes out;
        CompressFrame(out, frame, initBits, false);
        EXPECT_TRUE(out.empty()) << initBits;
    }
    GcDIB empty;
    Bytes out;
    CompressFrame(out, empty, 9, false);
    EXPECT_TRUE(out.empty());
}

TEST(GifLzwEncoder, ShortFramesIgnoreTheInterlaceFlag) {
    for (int h : {1, 2, 3, 4}) {
        GcDIB frame = MakeFrame(7, h, [](int x, int y) { return uint8_t((x * 3 + y * 5) % 4); });
        EXPECT_EQ(Encode(frame, 2, true), Encode(frame, 2, false)) << h << " rows";
        GcDIB back = FilledFrame(7, h, 9);
        Decode(back, true, 2, Unblock(Encode(frame, 2, true)));
        EXPECT_EQ(Pixels(back), Pixels(frame)) << h << " rows";
    }
    // From 5 rows on the flag changes the order.
    GcDIB frame = MakeFrame(7, 5, [](int x, int y) { return uint8_t((x + y * 2) % 4); });
    EXPECT_NE(Encode(frame, 2, true), Encode(frame, 2, false));
}

TEST(GifLzwEncoder, ProbingFromSlotZeroTreatsAZeroEntryAsEmpty) {
    // (16,1) takes slot 0, so (0,0) probes with displacement 1 into slot 5002.
    // (21,157) takes slot 2501; (5,156) probes from there straight into 5002,
    // where the full code 0 counts as empty and is overwritten. The second
    // (0,0) is then not found and is entered again.
    const Bytes pixels = {16, 1, 0, 0, 21, 157, 5, 156, 0, 0};
    GcDIB frame = MakeFrame(int(pixels.size()), 1, [&](int x, int) { return pixels[size_t(x)]; });
    const Bytes blocks = Encode(frame, 8, false);
    EXPECT_EQ(ParseCodes(Unblock(blocks), 8),
              (std::vector<uint32_t>{256, 16, 1, 0, 0, 21, 157, 5, 156, 0, 0, 257}));
    EXPECT_EQ(blocks, LiteralEncoder().Run(frame, 9, false));
    GcDIB back = FilledFrame(frame.Width(), 1, 77);
    Decode(back, false, 8, Unblock(blocks));
    EXPECT_EQ(Pixels(back), pixels);
}

TEST(GifLzwEncoder, ClearCodeFollowsTheCodeThatAssigned4095) {
    struct Case { int codeSize; int w, h; };
    for (Case k : {Case{8, 300, 200}, Case{2, 400, 300}, Case{5, 300, 300}}) {
        GcDIB frame = MakeFrame(k.w, k.h, Noise(1 << k.codeSize, 7));
        const std::vector<uint32_t> codes = ParseCodes(Unblock(Encode(frame, k.codeSize, false)), k.codeSize);
        const uint32_t clear = 1u << k.codeSize;
        // After the opening clear, one code for each entry up to 4095, then one
        // more code whose entry would be 4096: a clear follows that one.
        const size_t perTable = 4096 - (clear + 2) + 1;
        ASSERT_GT(codes.size(), 2 * perTable + 3);
        EXPECT_EQ(codes[0], clear);
        for (size_t i = 1; i <= perTable; ++i) ASSERT_NE(codes[i], clear) << i;
        EXPECT_EQ(codes[perTable + 1], clear) << "code size " << k.codeSize;
        EXPECT_EQ(codes[2 * perTable + 2], clear);
        EXPECT_EQ(codes.back(), clear + 1);
    }
}

TEST(GifLzwEncoder, SubBlocksHold254BytesExceptTheLast) {
    GcDIB frame = MakeFrame(200, 150, Noise(256, 3));
    const Bytes blocks = Encode(frame, 8, false);
    ASSERT_GT(blocks.size(), 254u * 10);
    size_t at = 0, count = 0;
    while (at < blocks.size()) {
        const size_t n = blocks[at];
        ++count;
        if (at + n + 1 < blocks.size()) {
            EXPECT_EQ(n, 254u);
        }
        EXPECT_GT(n, 0u);
        at += n + 1;
    }
    EXPECT_EQ(at, blocks.size());
    EXPECT_GT(count, 10u);
}

TEST(GifLzwEncoder, MatchesTheLiteralEncoderByteForByte) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 60; ++round) {
        const int codeSize = 2 + int(rng() % 7);
        const int colours = 1 << codeSize;
        const int w = 1 + int(rng() % 180), h = 1 + int(rng() % 120);
        const bool interlaced = rng() % 2;
        PixelFn fill;
        switch (rng() % 4) {
            case 0: fill = Noise(colours, unsigned(rng())); break;
            case 1: fill = Gradient(colours, w); break;
            case 2: fill = DitheredPhoto(colours); break;
            default: fill = [v = uint8_t(rng() % unsigned(colours))](int, int) { return v; };
        }
        GcDIB frame = MakeFrame(w, h, fill);
        ASSERT_EQ(Encode(frame, codeSize, interlaced), LiteralEncoder().Run(frame, codeSize + 1, interlaced))
            << "round " << round << ": " << w << "x" << h << " code size " << codeSize;
    }
}

TEST(GifLzwEncoder, MatchesTheLiteralEncoderThroughManyClears) {
    struct Case { int w, h, codeSize; bool interlaced; };
    for (Case k : {Case{1000, 1000, 8, false}, Case{640, 480, 8, true}, Case{700, 500, 4, false},
                   Case{333, 777, 3, true}}) {
        GcDIB frame = MakeFrame(k.w, k.h, Noise(1 << k.codeSize, unsigned(k.w)));
        ASSERT_EQ(Encode(frame, k.codeSize, k.interlaced), LiteralEncoder().Run(frame, k.codeSize + 1, k.interlaced))
            << k.w << "x" << k.h;
    }
    // Pixel values wider than the code size are cut to the code width alike.
    GcDIB wide = MakeFrame(64, 64, Noise(256, 5));
    EXPECT_EQ(Encode(wide, 2, false), LiteralEncoder().Run(wide, 3, false));
}

// ================================================================= decoder

TEST(GifLzwDecoder, AStreamThatDoesNotOpenWithAClearLosesNothing) {
    GcDIB frame = FilledFrame(3, 1, 9);
    Decode(frame, false, 2, PackCodes({1, 2, 3, 5}, 2));
    EXPECT_EQ(Pixels(frame), (Bytes{1, 2, 3}));
}

TEST(GifLzwDecoder, ClearCodesInARowAreAllClears) {
    struct Case { int codeSize; std::vector<uint32_t> codes; Bytes expected; };
    const std::vector<Case> cases = {
        {2, {4, 4, 1, 5}, {1, 9, 9, 9}},
        {2, {4, 2, 4, 4, 3, 5}, {2, 3, 9, 9}},
        {2, {4, 4, 4, 1, 6, 5}, {1, 1, 1, 9}},        // 6 is the first entry of the last table
        {8, {256, 256, 1, 257}, {1, 9, 9, 9}},
        {8, {256, 3, 256, 256, 1, 257}, {3, 1, 9, 9}},
    };
    for (const Case& k : cases) {
        GcDIB frame = FilledFrame(4, 1, 9);
        Decode(frame, false, k.codeSize, PackCodes(k.codes, k.codeSize));
        EXPECT_EQ(Pixels(frame), k.expected) << "code size " << k.codeSize << ", " << k.codes.size() << " codes";
    }
}

TEST(GifLzwDecoder, EndCodeFreeCodeAndCodesBeyondTheTable) {
    struct Case { std::vector<uint32_t> codes; Bytes expected; };
    const std::vector<Case> cases = {
        {{4, 1, 2, 5, 3, 3}, {1, 2, 9, 9, 9, 9}},     // nothing after the end code
        {{4, 3, 7, 1, 5}, {3, 9, 9, 9, 9, 9}},        // 7 is past the free code 6
        {{4, 3, 3, 7, 1, 5}, {3, 3, 3, 3, 1, 9}},     // after one entry 7 is the free code
        {{4, 1, 6, 5}, {1, 1, 1, 9, 9, 9}},           // the free code: previous string + its first byte
        {{4, 1, 2, 6, 7, 5}, {1, 2, 1, 2, 2, 1}},     // entries 6 = "1 2", 7 = "2 1"
        {{4, 1, 2, 3, 1}, {1, 2, 3, 1, 9, 9}},        // no end code: the data's end (16 bits) stops it
    };
    for (const Case& k : cases) {
        GcDIB frame = FilledFrame(6, 1, 9);
        Decode(frame, false, 2, PackCodes(k.codes, 2));
        EXPECT_EQ(Pixels(frame), k.expected) << k.codes.size() << " codes, third " << k.codes[2];
    }
}

// Streams that fill the table (code 4095 entered) and go on without a clear,
// some clearing later: legal, and written by encoders that clear only when
// compression drops. Each is checked against giflib and against the pixels
// its codes spell.
TEST(GifLzwDecoder, AFullTableStaysInUseUntilAClear) {
    struct Case {
        const char* name;
        int codeSize;
        int frozenCodes;      // codes sent against the full table
        bool clearAfterwards; // then a clear and more codes
    };
    const Case cases[] = {
        {"8-bit, frozen to the end", 8, 3000, false},
        {"8-bit, deferred clear", 8, 700, true},
        {"2-bit, frozen to the end", 2, 5000, false},
        {"5-bit, deferred clear", 5, 1, true},
    };
    for (const Case& k : cases) {
        const uint32_t clear = 1u << k.codeSize, colours = std::min(clear, 256u);
        std::vector<uint32_t> codes = {clear};
        Bytes expected;
        // Roots only, so every entry is two bytes long and code c < clear
        // spells c; entries are "previous root, this root".
        auto root = [&](size_t i) { return uint32_t((i * 7 + i / 5) % colours); };
        const size_t toFill = 4096 - (clear + 2) + 1;  // the last of these enters 4095
        for (size_t i = 0; i < toFill; ++i) {
            codes.push_back(root(i));
            expected.push_back(uint8_t(root(i)));
        }
        // Against the frozen table: the entries 4094 and 4095 and some roots.
        for (int i = 0; i < k.frozenCodes; ++i) {
            const uint32_t c = i % 3 == 0 ? 4095u : i % 3 == 1 ? 4094u : root(size_t(i));
            codes.push_back(c);
            if (c >= 4094) {
                const size_t at = c - (clear + 2);  // entry e = codes e-(clear+1) and e-(clear+2) of the fill
                expected.push_back(uint8_t(root(at)));
                expected.push_back(uint8_t(root(at + 1)));
            } else {
                expected.push_back(uint8_t(c));
            }
        }
        if (k.clearAfterwards) {
            codes.insert(codes.end(), {clear, 1, 1, clear + 2});
            expected.insert(expected.end(), {1, 1, 1, 1});
        }
        codes.push_back(clear + 1);
        const int w = int(expected.size());
        const Bytes data = PackCodes(codes, k.codeSize);
        GcDIB frame = FilledFrame(w, 1, 255);
        Decode(frame, false, k.codeSize, data);
        EXPECT_EQ(Pixels(frame), expected) << k.name;
        Bytes blocks;
        for (size_t at = 0; at < data.size(); at += 255) {
            const size_t n = std::min<size_t>(255, data.size() - at);
            blocks.push_back(uint8_t(n));
            blocks.insert(blocks.end(), data.begin() + long(at), data.begin() + long(at + n));
        }
        EXPECT_EQ(GiflibDecode(WrapInGif(w, 1, std::max(k.codeSize, 2), false, blocks)), expected) << k.name;
    }
}

TEST(GifLzwDecoder, RefusesOtherDepthsSizesAndMissingData) {
    const Bytes data = PackCodes({4, 1, 2, 5}, 2);
    for (int bpp : {1, 4, 16, 32}) {
        GcDIB dib;
        ASSERT_TRUE(dib.Create(4, 4, bpp));
        Decode(dib, false, 2, data);
        EXPECT_EQ(Bytes(dib.lpBits(), dib.lpBits() + dib.Size()), Bytes(size_t(dib.Size()), 0)) << bpp;
    }

    GcDIB frame = FilledFrame(4, 1, 9);
    for (int codeSize : {-1, 12, 200}) {
        Decode(frame, false, codeSize, data);
        EXPECT_EQ(Pixels(frame), Bytes(4, 9)) << codeSize;
    }
    GifLzwDecoder().DecompressFrame(frame, false, 2, nullptr, 100);
    Decode(frame, false, 2, {});
    EXPECT_EQ(Pixels(frame), Bytes(4, 9));
}

TEST(GifLzwDecoder, CompressedDataLongerThanTheFrameDecodesCompletely) {
    for (bool interlaced : {false, true}) {
        GcDIB frame = MakeFrame(301, 203, Noise(256, 11));
        const Bytes data = Unblock(Encode(frame, 8, interlaced));
        ASSERT_GT(data.size(), size_t(frame.Size()));  // noise costs more than a byte a pixel
        GcDIB back = FilledFrame(301, 203, 0);
        Decode(back, interlaced, 8, data);
        EXPECT_EQ(Pixels(back), Pixels(frame));
    }
}

TEST(GifLzwDecoder, StringsLongerThan4001BytesDecode) {
    // A flat 4-colour frame builds strings up to 4091 bytes before the clear.
    GcDIB frame = FilledFrame(4096, 2048, 3);
    const Bytes data = Unblock(Encode(frame, 2, false));
    GcDIB back = FilledFrame(4096, 2048, 0);
    Decode(back, false, 2, data);
    EXPECT_EQ(Pixels(back), Pixels(frame));
}

TEST(GifLzwDecoder, SurplusPixelsDoNotOverwriteTheFrame) {
    // Six pixels for a 2x2 frame: the frame takes the first four.
    GcDIB frame = FilledFrame(2, 2, 9);
    Decode(frame, false, 2, PackCodes({4, 0, 1, 2, 3, 1, 1, 5}, 2));
    EXPECT_EQ(Pixels(frame), (Bytes{0, 1, 2, 3}));
}

TEST(GifLzwDecoder, TruncatedStreamsKeepTheirDecodedPrefix) {
    std::mt19937 rng(99);
    for (bool interlaced : {false, true}) {
        GcDIB frame = MakeFrame(97, 61, DitheredPhoto(16));
        const Bytes data = Unblock(Encode(frame, 4, interlaced));
        const Bytes original = PixelsInCodingOrder(frame, interlaced);
        for (int round = 0; round < 40; ++round) {
            const size_t keep = rng() % data.size();
            const Bytes cut(data.begin(), data.begin() + long(keep));
            GcDIB back = FilledFrame(97, 61, 200);
            Decode(back, interlaced, 4, cut);
            const Bytes got = PixelsInCodingOrder(back, interlaced);
            // Every complete code in the kept bytes is decoded, nothing more.
            const size_t decoded = std::min(SpelledLength(ParseCodes(cut, 4), 4), got.size());
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + long(decoded), original.begin())) << keep;
            EXPECT_TRUE(std::all_of(got.begin() + long(decoded), got.end(), [](uint8_t v) { return v == 200; }))
                << keep;
        }
    }
}

TEST(GifLzwDecoder, GarbageDecodesLikeTheLiteralDecoder) {
    // Random bytes and damaged streams reach every odd path: codes past the
    // free code, roots above 255, chains through codes not entered since the
    // clear, loops. Under the address sanitizer this also checks every access.
    std::mt19937 rng(5);
    GifLzwDecoder reused;
    for (int round = 0; round < 600; ++round) {
        const int w = 1 + int(rng() % 60), h = 1 + int(rng() % 40);
        const int codeSize = int(rng() % 12);
        const bool interlaced = rng() % 2;
        Bytes data;
        if (round % 2 == 0 || codeSize < 2 || codeSize > 8) {
            data.resize(rng() % 3000);
            for (uint8_t& b : data) b = uint8_t(rng());
        } else {
            GcDIB source = MakeFrame(w, h, Noise(1 << codeSize, unsigned(round)));
            data = Unblock(Encode(source, codeSize, interlaced));
            for (int flips = 1 + int(rng() % 4); flips > 0; --flips) data[rng() % data.size()] ^= uint8_t(1u << (rng() % 8));
        }
        GcDIB ours = FilledFrame(w, h, 251), fresh = FilledFrame(w, h, 251), literal = FilledFrame(w, h, 251);
        reused.DecompressFrame(ours, interlaced, codeSize, data.data(), data.size());
        GifLzwDecoder().DecompressFrame(fresh, interlaced, codeSize, data.data(), data.size());
        LiteralDecoder().Run(literal, interlaced, codeSize, data);
        ASSERT_EQ(Pixels(ours), Pixels(literal)) << "round " << round << ", code size " << codeSize;
        ASSERT_EQ(Pixels(ours), Pixels(fresh)) << "a reused decoder must start clean, round " << round;
    }
}

TEST(GifLzwDecoder, RoundTripsDecodeLikeTheLiteralDecoder) {
    for (int codeSize : {2, 5, 8}) {
        for (bool interlaced : {false, true}) {
            GcDIB frame = MakeFrame(257, 190, DitheredPhoto(1 << codeSize));
            const Bytes data = Unblock(Encode(frame, codeSize, interlaced));
            GcDIB ours = FilledFrame(257, 190, 0), literal = FilledFrame(257, 190, 0);
            Decode(ours, interlaced, codeSize, data);
            LiteralDecoder().Run(literal, interlaced, codeSize, data);
            EXPECT_EQ(Pixels(ours), Pixels(literal));
            EXPECT_EQ(Pixels(ours), Pixels(frame));
        }
    }
}

TEST(GifLzwDecoder, AFirstCodeAboveTheFreeCodeUnwindsTheTableAsItStandsNow) {
    // Code size 5. First table: 34 = "1 1", 35 = "1 1 1", 36 = "1 1 1 1".
    // Second table: 34 = "2 3", 35 = "3 4"; 36 is left over and now spells
    // 36 -> 35 -> 3 = "3 4 1". Third: first code 36 is a pixel; then 34 is
    // the free code, so it spells the previous code's string as it stands
    // plus that string's remembered first byte (36): "3 4 1 36".
    const std::vector<uint32_t> codes = {32, 1, 34, 35, 36, 32, 2, 3, 4, 32, 36, 34, 33};
    GcDIB frame = FilledFrame(20, 1, 9), literal = FilledFrame(20, 1, 9);
    const Bytes data = PackCodes(codes, 5);
    Decode(frame, false, 5, data);
    LiteralDecoder().Run(literal, false, 5, data);
    EXPECT_EQ(Pixels(frame), (Bytes{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 4, 36, 3, 4, 1, 36, 9, 9}));
    EXPECT_EQ(Pixels(frame), Pixels(literal));
}

TEST(GifLzwDecoder, CyclicChainsEndQuietly) {
    // First code after a clear 7 > free code 6; then 6 = free (prefix 7), then
    // 7 = free (prefix 6): entries 6 and 7 point at each other.
    GcDIB frame = FilledFrame(64, 1, 9);
    Decode(frame, false, 2, PackCodes({4, 7, 6, 7, 6, 7, 5}, 2));
    // 7; then 6 = 7's unset entry (0 0) + 7; then 7 = 6's chain + 0; then the
    // loop 6 -> 7 -> 6 is caught before it writes anything.
    Bytes expected(64, 9);
    const Bytes head = {7, 0, 0, 7, 0, 0, 0, 0};
    std::copy(head.begin(), head.end(), expected.begin());
    EXPECT_EQ(Pixels(frame), expected);
}

// ============================================================= round trips

TEST(GifLzwRoundTrip, VariedContentSizesAndCodeSizes) {
    struct Size { int w, h; };
    const Size sizes[] = {{1, 1}, {2, 1}, {1, 9}, {3, 3}, {4, 4}, {5, 5}, {17, 9}, {64, 64}, {255, 3}, {254, 2},
                          {600, 400}};
    int checked = 0;
    for (Size s : sizes) {
        for (int codeSize = 2; codeSize <= 8; ++codeSize) {
            if (s.w * s.h > 100000 && codeSize != 2 && codeSize != 8) continue;
            const int colours = 1 << codeSize;
            const std::vector<std::pair<const char*, PixelFn>> contents = {
                {"noise", Noise(colours, unsigned(s.w * 31 + codeSize))},
                {"flat", [colours](int, int) { return uint8_t(colours - 1); }},
                {"gradient", Gradient(colours, s.w)},
                {"photo", DitheredPhoto(colours)},
            };
            for (const auto& [name, fill] : contents) {
                for (bool interlaced : {false, true}) {
                    GcDIB frame = MakeFrame(s.w, s.h, fill);
                    const Bytes blocks = Encode(frame, codeSize, interlaced);
                    GcDIB back = FilledFrame(s.w, s.h, 0);
                    Decode(back, interlaced, codeSize, Unblock(blocks));
                    ASSERT_EQ(Pixels(back), Pixels(frame))
                        << name << " " << s.w << "x" << s.h << " code size " << codeSize << " interlaced " << interlaced;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 300);
}

// ==================================================== against giflib

TEST(GifLzwGiflib, GiflibReadsOurStreams) {
    struct Case { int w, h, codeSize; bool interlaced; int content; };
    const Case cases[] = {{1, 1, 2, false, 0}, {5, 5, 2, true, 0},    {7, 3, 3, true, 1},   {64, 48, 4, false, 2},
                          {640, 480, 8, false, 2}, {640, 480, 8, true, 0}, {311, 211, 6, true, 1},
                          {1000, 1000, 8, false, 0}, {400, 300, 2, false, 3}, {123, 45, 5, true, 2}};
    for (const Case& k : cases) {
        const int colours = 1 << k.codeSize;
        PixelFn fill = k.content == 0   ? Noise(colours, unsigned(k.w + k.h))
                       : k.content == 1 ? Gradient(colours, k.w)
                       : k.content == 2 ? DitheredPhoto(colours)
                                        : PixelFn([](int, int) { return uint8_t(1); });
        GcDIB frame = MakeFrame(k.w, k.h, fill);
        const Bytes blocks = Encode(frame, k.codeSize, k.interlaced);
        // Short frames are coded in plain order, so they go out unflagged.
        const bool flag = k.interlaced && k.h > 4;
        EXPECT_EQ(GiflibDecode(WrapInGif(k.w, k.h, k.codeSize, flag, blocks)), Pixels(frame))
            << k.w << "x" << k.h << " code size " << k.codeSize;
    }
}

TEST(GifLzwGiflib, WeReadGiflibStreams) {
    struct Case { int w, h, codeSize; bool interlaced; int content; };
    const Case cases[] = {{1, 1, 2, false, 0},     {9, 7, 2, true, 0},        {640, 480, 8, false, 0},
                          {640, 480, 8, false, 2}, {320, 240, 8, true, 2},    {500, 300, 4, false, 1},
                          {1000, 800, 8, false, 0}, {200, 100, 3, false, 3}};
    for (const Case& k : cases) {
        const int colours = 1 << k.codeSize;
        PixelFn fill = k.content == 0   ? Noise(colours, unsigned(k.w * 7 + k.h))
                       : k.content == 1 ? Gradient(colours, k.w)
                       : k.content == 2 ? DitheredPhoto(colours)
                                        : PixelFn([](int, int) { return uint8_t(2); });
        GcDIB frame = MakeFrame(k.w, k.h, fill);
        const Bytes gif = GiflibEncode(frame, colours, k.interlaced);
        int codeSize = -1;
        Bytes data;
        ASSERT_TRUE(FirstImageData(gif, codeSize, data)) << k.w << "x" << k.h;
        EXPECT_EQ(codeSize, k.codeSize);
        GcDIB back = FilledFrame(k.w, k.h, 0);
        Decode(back, k.interlaced, codeSize, data);
        EXPECT_EQ(Pixels(back), Pixels(frame)) << k.w << "x" << k.h << " code size " << k.codeSize;
    }
}
