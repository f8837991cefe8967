#include "platform/gdi.h"

#include <algorithm>
#include <cstring>

namespace tarnel {

bool Bitmap::create(int width, int height, int bpp, bool topDown) {
    clear();
    if (!supportedDepth(bpp) || !sizeAllowed(width, height)) return false;
    width_ = width;
    height_ = height;
    bpp_ = bpp;
    stride_ = strideFor(width, bpp);
    topDown_ = topDown;
    pixels_.assign(size_t(stride_) * size_t(height), 0);
    return true;
}

void Bitmap::clear() {
    width_ = height_ = bpp_ = stride_ = 0;
    topDown_ = true;
    std::vector<uint8_t>().swap(pixels_);
    colors_.fill(RGBQuad{});
}

namespace {

inline uint32_t readValue(const uint8_t* row, int x, int bpp) {
    switch (bpp) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
        case 4: return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
        case 8: return row[x];
        case 16: return uint32_t(row[2 * x] | (row[2 * x + 1] << 8)) & 0x7FFFu;
        case 24: return uint32_t(row[3 * x]) | (uint32_t(row[3 * x + 1]) << 8) | (uint32_t(row[3 * x + 2]) << 16);
        default: {
            uint32_t v;
            std::memcpy(&v, row + 4 * size_t(x), 4);
            return v & 0x00FFFFFFu;
        }
    }
}

inline void writeValue(uint8_t* row, int x, int bpp, uint32_t v) {
    switch (bpp) {
        case 1: {
            uint8_t bit = uint8_t(0x80u >> (x & 7));
            row[x >> 3] = (v & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
            break;
        }
        case 4:
            if (x & 1) row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (v & 0x0F));
            else row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | ((v & 0x0F) << 4));
            break;
        case 8: row[x] = uint8_t(v); break;
        case 16:
            row[2 * x] = uint8_t(v);
            row[2 * x + 1] = uint8_t((v >> 8) & 0x7F);
            break;
        case 24:
            row[3 * x] = uint8_t(v);
            row[3 * x + 1] = uint8_t(v >> 8);
            row[3 * x + 2] = uint8_t(v >> 16);
            break;
        default: {
            uint32_t w = v & 0x00FFFFFFu;
            std::memcpy(row + 4 * size_t(x), &w, 4);
        }
    }
}

inline uint32_t packedOf(RGBQuad c, int bpp) {
    if (bpp == 16) return (uint32_t(c.red >> 3) << 10) | (uint32_t(c.green >> 3) << 5) | uint32_t(c.blue >> 3);
    return uint32_t(c.blue) | (uint32_t(c.green) << 8) | (uint32_t(c.red) << 16);
}

inline RGBQuad colorOfPacked(uint32_t v, int bpp) {
    if (bpp == 16) {
        auto expand = [](uint32_t five) { return uint8_t((five << 3) | (five >> 2)); };
        return RGBQuad{expand(v & 31), expand((v >> 5) & 31), expand((v >> 10) & 31), 0};
    }
    return RGBQuad{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0};
}

}  // namespace

uint32_t Bitmap::pixelValue(int x, int y) const { return readValue(scanline(y), x, bpp_); }

void Bitmap::setPixelValue(int x, int y, uint32_t value) { writeValue(scanline(y), x, bpp_, value); }

RGBQuad Bitmap::colorOfValue(uint32_t value) const {
    if (bpp_ <= 8) {
        RGBQuad c = colors_[value & 0xFFu];
        c.reserved = 0;
        return c;
    }
    return colorOfPacked(value, bpp_);
}

int NearestIndex(const RGBQuad* table, int count, uint8_t r, uint8_t g, uint8_t b) {
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < count; ++i) {
        int dr = int(table[i].red) - r, dg = int(table[i].green) - g, db = int(table[i].blue) - b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

uint32_t Bitmap::valueForColor(RGBQuad c) const {
    if (bpp_ <= 8) return uint32_t(NearestIndex(colors_.data(), colorCount(), c.red, c.green, c.blue));
    return packedOf(c, bpp_);
}

// ---------------------------------------------------------------- transfers

namespace {

// Turns source values into destination values.
class Converter {
public:
    Converter(const Bitmap& src, const Bitmap& dst) : src_(src), dst_(dst) {
        if (src.bpp() == dst.bpp() &&
            (src.bpp() > 8 || std::equal(src.colorTable(), src.colorTable() + src.colorCount(), dst.colorTable()))) {
            mode_ = Mode::Identity;
        } else if (src.bpp() <= 8) {
            mode_ = Mode::Table;
            for (int i = 0; i < src.colorCount(); ++i) table_[size_t(i)] = dst.valueForColor(src.colorTable()[i]);
        } else if (dst.bpp() > 8) {
            mode_ = Mode::Repack;
        } else {
            mode_ = Mode::Nearest;
            cacheKey_.fill(0xFFFFFFFFu);
        }
    }
    bool identity() const { return mode_ == Mode::Identity; }
    const uint32_t* table() const { return mode_ == Mode::Table ? table_.data() : nullptr; }

    uint32_t operator()(uint32_t v) {
        switch (mode_) {
            case Mode::Identity: return v;
            case Mode::Table: return table_[v & 0xFF];
            case Mode::Repack: return packedOf(colorOfPacked(v, src_.bpp()), dst_.bpp());
            case Mode::Nearest: {
                size_t slot = (v * 2654435761u) >> 20;  // 4096 slots
                if (cacheKey_[slot] != v) {
                    cacheKey_[slot] = v;
                    cacheValue_[slot] = dst_.valueForColor(colorOfPacked(v, src_.bpp()));
                }
                return cacheValue_[slot];
            }
        }
        return v;
    }

private:
    enum class Mode { Identity, Table, Repack, Nearest };
    const Bitmap& src_;
    const Bitmap& dst_;
    Mode mode_ = Mode::Identity;
    std::array<uint32_t, 256> table_{};
    std::array<uint32_t, 4096> cacheKey_{};
    std::array<uint32_t, 4096> cacheValue_{};
};

inline uint32_t applyRop(uint32_t rop, uint32_t dst, uint32_t src) {
    switch (rop) {
        case SRCAND: return dst & src;
        case SRCPAINT: return dst | src;
        default: return src;
    }
}

bool knownRop(uint32_t rop) { return rop == SRCCOPY || rop == SRCAND || rop == SRCPAINT; }

// Copies through per-axis maps: destination column dx (0-based within the
// clipped span) reads source column xs[dx]; likewise rows.
void transfer(Bitmap& dst, int dx0, int dy0, const std::vector<int>& xs, const std::vector<int>& ys, const Bitmap& src,
              uint32_t rop) {
    Converter convert(src, dst);
    const int sb = src.bpp(), db = dst.bpp();
    const int w = int(xs.size());
    // Contiguous unscaled copy of whole bytes.
    bool contiguous = w > 0 && xs.back() - xs.front() == w - 1;
    for (size_t row = 0; row < ys.size(); ++row) {
        const uint8_t* s = src.scanline(ys[row]);
        uint8_t* d = dst.scanline(dy0 + int(row));
        if (rop == SRCCOPY && convert.identity() && contiguous && sb >= 8) {
            int bytes = sb / 8;
            std::memcpy(d + size_t(dx0) * size_t(bytes), s + size_t(xs.front()) * size_t(bytes), size_t(w) * size_t(bytes));
            continue;
        }
        if (sb == 32 && db == 32 && convert.identity()) {
            auto* dp = reinterpret_cast<uint32_t*>(d) + dx0;
            const auto* sp = reinterpret_cast<const uint32_t*>(s);
            for (int i = 0; i < w; ++i) {
                uint32_t v = sp[xs[size_t(i)]] & 0x00FFFFFFu;
                dp[i] = applyRop(rop, dp[i] & 0x00FFFFFFu, v);
            }
            continue;
        }
        if (sb == 8 && db == 32 && convert.table()) {
            const uint32_t* lut = convert.table();
            auto* dp = reinterpret_cast<uint32_t*>(d) + dx0;
            for (int i = 0; i < w; ++i) dp[i] = applyRop(rop, dp[i] & 0x00FFFFFFu, lut[s[xs[size_t(i)]]]);
            continue;
        }
        for (int i = 0; i < w; ++i) {
            uint32_t v = convert(readValue(s, xs[size_t(i)], sb));
            int x = dx0 + i;
            if (rop != SRCCOPY) v = applyRop(rop, readValue(d, x, db), v);
            writeValue(d, x, db, v);
        }
    }
}

// Builds the source index map of one axis and clips it to both surfaces.
// Returns the first destination coordinate, or -1 with an empty map. Only the
// part inside the destination is visited, however long the requested span.
int axisMap(int dstPos, int dstLen, int dstLimit, int srcPos, int srcLen, int srcLimit, std::vector<int>& map) {
    map.clear();
    const int64_t from = std::max<int64_t>(0, -int64_t(dstPos));
    const int64_t to = std::min<int64_t>(dstLen, int64_t(dstLimit) - dstPos);
    int first = -1;
    for (int64_t d = from; d < to; ++d) {
        const int64_t sp = srcPos + (2 * d + 1) * srcLen / (int64_t(2) * dstLen);
        if (sp < 0 || sp >= srcLimit) {
            if (first >= 0) break;  // past the far edge of the source
            continue;
        }
        if (first < 0) first = int(dstPos + d);
        map.push_back(int(sp));
    }
    return first;
}

}  // namespace

int StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int srcWidth, int srcHeight,
               uint32_t rop) {
    if (!dst || !src || !dst->selected() || !src->selected() || !knownRop(rop)) return 0;
    if (width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0) return 1;
    Bitmap& d = *dst->selected();
    const Bitmap& s = *src->selected();
    std::vector<int> xs, ys;
    int dx0 = axisMap(x, width, d.width(), xSrc, srcWidth, s.width(), xs);
    int dy0 = axisMap(y, height, d.height(), ySrc, srcHeight, s.height(), ys);
    if (dx0 < 0 || dy0 < 0) return 1;
    if (&d == &s) {
        Bitmap copy = s;  // overlapping transfer within one surface
        transfer(d, dx0, dy0, xs, ys, copy, rop);
    } else {
        transfer(d, dx0, dy0, xs, ys, s, rop);
    }
    return 1;
}

int BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, uint32_t rop) {
    return StretchBlt(dst, x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

int SetStretchBltMode(HDC dc, int mode) {
    if (!dc) return 0;
    int old = dc->stretchMode;
    dc->stretchMode = mode;
    return old;
}

int GetStretchBltMode(HDC dc) { return dc ? dc->stretchMode : 0; }

void SetBrushOrgEx(HDC dc, int x, int y) {
    if (!dc) return;
    dc->brushOriginX = x;
    dc->brushOriginY = y;
}

Brush Brush::solid(ColorRef color) {
    Brush b;
    b.kind_ = Kind::Solid;
    b.color_ = color & 0x00FFFFFFu;
    return b;
}

Brush Brush::hatch(int style, ColorRef color) {
    Brush b;
    b.kind_ = Kind::Hatch;
    b.hatch_ = style;
    b.color_ = color & 0x00FFFFFFu;
    return b;
}

Brush Brush::pattern(std::shared_ptr<const Bitmap> bitmap) {
    Brush b;
    b.kind_ = Kind::Pattern;
    b.pattern_ = std::move(bitmap);
    return b;
}

namespace {

RGBQuad quadOf(ColorRef c) { return RGBQuad{BlueOf(c), GreenOf(c), RedOf(c), 0}; }

// 8 x 8 hatch cells; (x, y) already reduced modulo 8 and aligned to the brush origin.
bool hatchSet(int style, int x, int y) {
    switch (style) {
        case HS_HORIZONTAL: return y == 4;
        case HS_VERTICAL: return x == 4;
        case HS_FDIAGONAL: return x == y;
        case HS_BDIAGONAL: return x == 7 - y;
        case HS_CROSS: return x == 4 || y == 4;
        case HS_DIAGCROSS: return x == y || x == 7 - y;
        default: return false;
    }
}

int mod(int a, int m) {
    int r = a % m;
    return r < 0 ? r + m : r;
}

}  // namespace

int FillRect(HDC dc, const Rect& rect, const Brush& brush) {
    if (!dc || !dc->selected()) return 0;
    Bitmap& b = *dc->selected();
    int left = std::max(rect.left, 0), top = std::max(rect.top, 0);
    int right = std::min(rect.right, b.width()), bottom = std::min(rect.bottom, b.height());
    if (right <= left || bottom <= top) return 1;
    switch (brush.kind()) {
        case Brush::Kind::Solid: {
            uint32_t v = b.valueForColor(quadOf(brush.color()));
            for (int y = top; y < bottom; ++y) {
                uint8_t* row = b.scanline(y);
                if (b.bpp() == 32) {
                    std::fill(reinterpret_cast<uint32_t*>(row) + left, reinterpret_cast<uint32_t*>(row) + right, v);
                } else if (b.bpp() == 8) {
                    std::memset(row + left, int(v), size_t(right - left));
                } else {
                    for (int x = left; x < right; ++x) writeValue(row, x, b.bpp(), v);
                }
            }
            break;
        }
        case Brush::Kind::Hatch: {
            uint32_t fore = b.valueForColor(quadOf(brush.color()));
            uint32_t back = b.valueForColor(quadOf(dc->backgroundColor));
            for (int y = top; y < bottom; ++y)
                for (int x = left; x < right; ++x)
                    b.setPixelValue(x, y,
                                    hatchSet(brush.hatchStyle(), mod(x - dc->brushOriginX, 8), mod(y - dc->brushOriginY, 8))
                                        ? fore
                                        : back);
            break;
        }
        case Brush::Kind::Pattern: {
            const Bitmap* p = brush.patternBitmap();
            if (!p || p->empty()) return 0;
            for (int y = top; y < bottom; ++y) {
                int py = mod(y - dc->brushOriginY, p->height());
                for (int x = left; x < right; ++x) {
                    int px = mod(x - dc->brushOriginX, p->width());
                    b.setPixelValue(x, y, b.valueForColor(p->pixelColor(px, py)));
                }
            }
            break;
        }
    }
    return 1;
}

bool SetPixelV(HDC dc, int x, int y, ColorRef color) {
    if (!dc || !dc->selected()) return false;
    Bitmap& b = *dc->selected();
    if (x < 0 || y < 0 || x >= b.width() || y >= b.height()) return false;
    b.setPixelValue(x, y, b.valueForColor(quadOf(color)));
    return true;
}

ColorRef GetPixel(HDC dc, int x, int y) {
    if (!dc || !dc->selected()) return 0xFFFFFFFFu;
    const Bitmap& b = *dc->selected();
    if (x < 0 || y < 0 || x >= b.width() || y >= b.height()) return 0xFFFFFFFFu;
    RGBQuad c = b.pixelColor(x, y);
    return RGBColor(c.red, c.green, c.blue);
}

}  // namespace tarnel
