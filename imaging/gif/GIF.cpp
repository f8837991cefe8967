#include "imaging/gif/GIF.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/Profile.h"
#include "platform/RuntimeError.h"

namespace tarnel {

namespace {

constexpr int kInvalidPicture = RuntimeError::InvalidPicture;
constexpr int kDiskFull = RuntimeError::DiskFull;
constexpr int kFileAccess = RuntimeError::FileAccess;
constexpr int kPathNotFound = RuntimeError::PathNotFound;

constexpr unsigned kClearCode = 256;
constexpr unsigned kEndCode = 257;
constexpr unsigned kFirstFreeCode = 258;
constexpr int kMaxStrings = 253;  // codes 258..510: always 9 bits
constexpr int kCodeBits = 9;

constexpr std::array<uint8_t, 5> kCubeLevels = {0, 64, 128, 192, 255};

constexpr int distance(int a, int b) { return a > b ? a - b : b - a; }

// Nearest cube level of one channel, ties to the lower level.
constexpr uint8_t levelOf(int v) {
    int best = 0;
    for (int l = 1; l < 5; ++l)
        if (distance(v, kCubeLevels[size_t(l)]) < distance(v, kCubeLevels[size_t(best)])) best = l;
    return uint8_t(best);
}

// Per-channel contributions to a cube index: red r, green 5 g, blue 25 b.
struct CubeTables {
    std::array<uint8_t, 256> red{}, green{}, blue{};
    std::array<uint8_t, 32> red5{}, green5{}, blue5{};  // 5-bit channels of 16-bpp pixels
    constexpr CubeTables() {
        for (int v = 0; v < 256; ++v) {
            red[v] = levelOf(v);
            green[v] = uint8_t(5 * levelOf(v));
            blue[v] = uint8_t(25 * levelOf(v));
        }
        for (int v = 0; v < 32; ++v) {
            int expanded = (v << 3) | (v >> 2);
            red5[v] = red[expanded];
            green5[v] = green[expanded];
            blue5[v] = blue[expanded];
        }
    }
};
constexpr CubeTables kCube;

using Palette = std::array<uint8_t, 768>;  // red, green, blue per entry

// ------------------------------------------------------------- palette indices

// Hands out the palette indices of the picture one row at a time, top row first.
class IndexRows {
public:
    IndexRows(const Bitmap& picture, const Bitmap& source) : picture_(picture), source_(source) {
        ownPalette_ = picture.bpp() == 8;
        if (ownPalette_) {
            for (int i = 0; i < 256; ++i) {
                const RGBQuad& c = picture.colorTable()[i];
                palette_[3 * i] = c.red;
                palette_[3 * i + 1] = c.green;
                palette_[3 * i + 2] = c.blue;
            }
            return;
        }
        palette_.fill(0);
        for (int i = 0; i < 125; ++i) {
            palette_[3 * i] = kCubeLevels[i % 5];
            palette_[3 * i + 1] = kCubeLevels[(i / 5) % 5];
            palette_[3 * i + 2] = kCubeLevels[i / 25];
        }
        if (source.bpp() <= 8) {
            for (int i = 0; i < source.colorCount(); ++i) {
                const RGBQuad& c = source.colorTable()[i];
                sourceMap_[size_t(i)] = GIF::CubeIndex(c.red, c.green, c.blue);
            }
        }
        row_.assign(size_t(picture.width()), 0);
        copyWidth_ = std::min(picture.width(), source.width());
    }

    const Palette& palette() const { return palette_; }

    const uint8_t* row(int y) {
        if (ownPalette_) return picture_.scanline(y);
        if (y >= source_.height()) {
            std::fill(row_.begin(), row_.end(), uint8_t(0));
            return row_.data();
        }
        const uint8_t* s = source_.scanline(y);
        uint8_t* d = row_.data();
        const int n = copyWidth_;
        switch (source_.bpp()) {
            case 32:
                for (int x = 0; x < n; ++x, s += 4) d[x] = uint8_t(kCube.blue[s[0]] + kCube.green[s[1]] + kCube.red[s[2]]);
                break;
            case 24:
                for (int x = 0; x < n; ++x, s += 3) d[x] = uint8_t(kCube.blue[s[0]] + kCube.green[s[1]] + kCube.red[s[2]]);
                break;
            case 16:
                for (int x = 0; x < n; ++x, s += 2) {
                    unsigned v = unsigned(s[0]) | (unsigned(s[1]) << 8);
                    d[x] = uint8_t(kCube.blue5[v & 31] + kCube.green5[(v >> 5) & 31] + kCube.red5[(v >> 10) & 31]);
                }
                break;
            case 8:
                for (int x = 0; x < n; ++x) d[x] = sourceMap_[s[x]];
                break;
            default:
                for (int x = 0; x < n; ++x) d[x] = sourceMap_[source_.pixelValue(x, y) & 0xFF];
                break;
        }
        return d;
    }

private:
    const Bitmap& picture_;
    const Bitmap& source_;
    bool ownPalette_ = false;
    int copyWidth_ = 0;
    Palette palette_{};
    std::array<uint8_t, 256> sourceMap_{};
    std::vector<uint8_t> row_;  // past copyWidth_ stays 0: pixels the source lacks
};

// ------------------------------------------------------------- LZW

// Packs 9-bit codes least significant bit first into a buffer sized for the
// worst case, so the hot loop never checks for room.
class CodePacker {
public:
    explicit CodePacker(uint8_t* out) : out_(out) {}
    void put(unsigned code) {
        bits_ |= uint64_t(code) << count_;
        count_ += kCodeBits;
        if (count_ >= 32) {
            uint32_t word = uint32_t(bits_);
            uint8_t b[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
            std::memcpy(out_, b, 4);
            out_ += 4;
            bits_ >>= 32;
            count_ -= 32;
        }
    }
    uint8_t* flush() {
        for (; count_ > 0; count_ -= 8, bits_ >>= 8) *out_++ = uint8_t(bits_);
        count_ = 0;
        return out_;
    }

private:
    uint8_t* out_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

// Most codes one image can need: per row a clear code, one code per pixel and
// a clear code per 253 new sequences; then the end code.
size_t maxCodes(int width, int height) {
    return size_t(height) * (size_t(width) + 2 + size_t(width) / kMaxStrings) + 1;
}

struct CodeStream {
    std::unique_ptr<uint8_t[]> bytes;  // left uninitialised beyond `size`
    size_t size = 0;
};

// The code stream of the whole image: a clear code before every row.
// The string table is a next-code grid: next[prefix code * 256 + index] holds
// the code of prefix + index less 256 (2..254, one byte, so the grid stays in
// the nearer caches), 0 when absent. It assigns the codes a dictionary of
// index sequences would, in constant time per pixel; emptying it clears only
// the cells that were filled.
CodeStream compressRows(IndexRows& rows, int width, int height) {
    CodeStream stream;
    stream.bytes.reset(new uint8_t[(maxCodes(width, height) * kCodeBits + 7) / 8 + 8]);
    CodePacker packer(stream.bytes.get());
    std::vector<uint8_t> grid(size_t(kFirstFreeCode + kMaxStrings) * 256, 0);
    uint8_t* const next = grid.data();
    std::array<unsigned, kMaxStrings> filled;
    int count = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = rows.row(y);
        packer.put(kClearCode);
        for (int i = 0; i < count; ++i) next[filled[size_t(i)]] = 0;
        count = 0;
        unsigned prefix = row[0];
        for (int x = 1; x < width; ++x) {
            const unsigned c = row[x];
            const unsigned cell = prefix * 256 + c;
            if (unsigned code = next[cell]) {
                prefix = kClearCode + code;
                continue;
            }
            packer.put(prefix);
            if (count == kMaxStrings) {
                packer.put(kClearCode);
                for (int i = 0; i < count; ++i) next[filled[size_t(i)]] = 0;
                count = 0;
            } else {
                next[cell] = uint8_t(kFirstFreeCode - kClearCode + unsigned(count));
                filled[size_t(count++)] = cell;
            }
            prefix = c;
        }
        packer.put(prefix);
    }
    packer.put(kEndCode);
    stream.size = size_t(packer.flush() - stream.bytes.get());
    return stream;
}

// ------------------------------------------------------------- file layout

void put8(std::vector<uint8_t>& out, unsigned v) { out.push_back(uint8_t(v)); }
void put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void writeHeader(std::vector<uint8_t>& out, bool useTrans) {
    const char* signature = useTrans ? "GIF89a" : "GIF87a";
    out.insert(out.end(), signature, signature + 6);
}

void writeScreenDescriptor(std::vector<uint8_t>& out, int width, int height) {
    put16(out, unsigned(width));   // logical screen width
    put16(out, unsigned(height));  // logical screen height
    put8(out, 0xF7);               // global table, 8-bit colour resolution, unsorted, 256 entries
    put8(out, 0);                  // background colour index
    put8(out, 0);                  // pixel aspect ratio
}

void writeColourTable(std::vector<uint8_t>& out, const Palette& palette) {
    out.insert(out.end(), palette.begin(), palette.end());
}

void writeControlExtension(std::vector<uint8_t>& out, uint8_t transparentIndex) {
    put8(out, 0x21);  // extension introducer
    put8(out, 0xF9);  // graphic control label
    put8(out, 0x04);  // block size
    put8(out, 0x09);  // disposal 2 (restore to background), transparent colour present
    put16(out, 0);    // delay
    put8(out, transparentIndex);
    put8(out, 0x00);  // block terminator
}

void writeImageDescriptor(std::vector<uint8_t>& out, int width, int height) {
    put8(out, 0x2C);  // image separator
    put16(out, 0);    // left
    put16(out, 0);    // top
    put16(out, unsigned(width));
    put16(out, unsigned(height));
    put8(out, 0x07);  // no local table, not interlaced; the ignored size bits are 1
}

// The codes in sub-blocks of 255 bytes, the last one holding the rest (1..255).
void writeImageData(std::vector<uint8_t>& out, const CodeStream& codes) {
    put8(out, 8);  // LZW minimum code size
    for (size_t at = 0; at < codes.size; at += 255) {
        size_t n = std::min<size_t>(255, codes.size - at);
        put8(out, unsigned(n));
        out.insert(out.end(), codes.bytes.get() + at, codes.bytes.get() + at + n);
    }
    put8(out, 0x00);  // block terminator
}

void writeTrailer(std::vector<uint8_t>& out) { put8(out, 0x3B); }

uint8_t transparentIndexOf(const Palette& palette, uint32_t transColor) {
    for (unsigned i = 0; i < 256; ++i) {
        uint32_t c = uint32_t(palette[3 * i]) + 256u * palette[3 * i + 1] + 65536u * palette[3 * i + 2];
        if (c == transColor) return uint8_t(i);
    }
    return 0;
}

int errorNumberOf(const std::error_code& ec) {
    switch (ec.value()) {
        case ENOENT:
        case ENOTDIR: return kPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS: return RuntimeError::PermissionDenied;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return kDiskFull;
        default: return kFileAccess;
    }
}

struct BusyGuard {
    std::atomic<bool>& flag;
    ~BusyGuard() { flag = false; }
};

}  // namespace

uint8_t GIF::CubeIndex(uint8_t red, uint8_t green, uint8_t blue) {
    return uint8_t(kCube.red[red] + kCube.green[green] + kCube.blue[blue]);
}

std::vector<uint8_t> GIF::Encode(const Bitmap& picture, const Bitmap* source, bool UseTrans, uint32_t TransColor) {
    std::vector<uint8_t> out;
    Encode(picture, source, UseTrans, TransColor, out);
    return out;
}

void GIF::Encode(const Bitmap& picture, const Bitmap* source, bool UseTrans, uint32_t TransColor,
                 std::vector<uint8_t>& out) {
    out.clear();
    if (picture.empty() || (picture.bpp() != 8 && source && source->empty()))
        throw RuntimeError(kInvalidPicture, "Invalid picture");
    const int width = picture.width(), height = picture.height();
    if (width > 32767 || height > 32767) raiseOverflow();

    IndexRows rows(picture, source && picture.bpp() != 8 ? *source : picture);
    CodeStream codes = compressRows(rows, width, height);

    out.reserve(800 + codes.size + codes.size / 255 + 8);
    writeHeader(out, UseTrans);
    writeScreenDescriptor(out, width, height);
    writeColourTable(out, rows.palette());
    if (UseTrans) writeControlExtension(out, transparentIndexOf(rows.palette(), TransColor));
    writeImageDescriptor(out, width, height);
    writeImageData(out, codes);
    writeTrailer(out);
}

bool GIF::SaveGIF(const Bitmap& picture, const std::string& sFileName, HDC hDC, bool UseTrans,
                  uint32_t TransColor) {
    if (busy_.exchange(true)) return false;
    BusyGuard guard{busy_};
    const Bitmap* source = nullptr;
    if (hDC) {
        // Only a picture of other than 8 bpp takes its pixels from the context.
        source = hDC->selected();
        if (!source && picture.bpp() != 8) throw RuntimeError(kInvalidPicture, "Invalid picture");
    }
    std::vector<uint8_t> bytes = Encode(picture, source, UseTrans, TransColor);
    std::error_code ec = WriteFileAtomically(
        sFileName, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), false);
    if (ec) throw RuntimeError(errorNumberOf(ec), sFileName + ": " + ec.message());
    return true;
}

bool GIF::SaveGIF(const StdPicture& picture, const std::string& sFileName, HDC hDC, bool UseTrans,
                  uint32_t TransColor) {
    static const Bitmap kNoBitmap;
    return SaveGIF(picture.bitmap ? *picture.bitmap : kNoBitmap, sFileName, hDC, UseTrans, TransColor);
}

}  // namespace tarnel
