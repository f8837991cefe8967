#pragma once
// A small stand-in for the drawing interface the system was designed against:
// pixel surfaces (bitmaps with colour tables), device contexts that refer to
// them, block and stretch transfers with the three raster operations we use,
// and rectangle fills with solid, hatch and pattern brushes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Colors.h"

namespace tarnel {

struct RGBQuad {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
    friend bool operator==(const RGBQuad&, const RGBQuad&) = default;
};
static_assert(sizeof(RGBQuad) == 4);

inline constexpr int kMaxSurfaceSide = 32767;
inline constexpr int64_t kMaxSurfacePixels = int64_t(1) << 28;

// Raster operations.
inline constexpr uint32_t SRCCOPY = 0x00CC0020;
inline constexpr uint32_t SRCAND = 0x008800C6;
inline constexpr uint32_t SRCPAINT = 0x00EE0086;

// Stretch modes.
inline constexpr int BLACKONWHITE = 1;
inline constexpr int COLORONCOLOR = 3;

// Hatch styles.
enum HatchStyle { HS_HORIZONTAL = 0, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS };

// Pixel memory with the layout rules of a device-independent bitmap: rows
// padded to 4 bytes, 1/4/8 bpp through a colour table (most significant bits
// first), 16 bpp 5-5-5, 24 bpp B,G,R, 32 bpp B,G,R,reserved.
class Bitmap {
public:
    static int strideFor(int width, int bpp) { return int(((int64_t(width) * bpp + 31) / 32) * 4); }
    static bool supportedDepth(int bpp) {
        return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
    }
    static bool sizeAllowed(int64_t width, int64_t height) {
        return width > 0 && height > 0 && width <= kMaxSurfaceSide && height <= kMaxSurfaceSide &&
               width * height <= kMaxSurfacePixels;
    }

    // All pixels and colour-table entries start at zero. False (and an empty
    // bitmap) for an unsupported depth or a size beyond the limits.
    bool create(int width, int height, int bpp, bool topDown = true);
    void clear();
    bool empty() const { return width_ == 0; }

    int width() const { return width_; }
    int height() const { return height_; }
    int bpp() const { return bpp_; }
    int stride() const { return stride_; }
    bool topDown() const { return topDown_; }
    size_t sizeBytes() const { return pixels_.size(); }

    uint8_t* bits() { return pixels_.data(); }
    const uint8_t* bits() const { return pixels_.data(); }
    // Row y counted from the top, whatever the storage order.
    uint8_t* scanline(int y) { return pixels_.data() + size_t(storedRow(y)) * size_t(stride_); }
    const uint8_t* scanline(int y) const { return pixels_.data() + size_t(storedRow(y)) * size_t(stride_); }
    int storedRow(int y) const { return topDown_ ? y : height_ - 1 - y; }

    int colorCount() const { return bpp_ <= 8 && bpp_ > 0 ? 1 << bpp_ : 0; }
    RGBQuad* colorTable() { return colors_.data(); }
    const RGBQuad* colorTable() const { return colors_.data(); }

    // Stored value of a pixel: an index for palette depths, 0x7FFF-masked 5-5-5
    // for 16 bpp, 0x00RRGGBB for 24 and 32 bpp.
    uint32_t pixelValue(int x, int y) const;
    void setPixelValue(int x, int y, uint32_t value);
    RGBQuad colorOfValue(uint32_t value) const;
    // The value that shows colour c: for palette depths the nearest table entry
    // by squared RGB distance, ties to the lowest index.
    uint32_t valueForColor(RGBQuad c) const;
    RGBQuad pixelColor(int x, int y) const { return colorOfValue(pixelValue(x, y)); }

private:
    int width_ = 0, height_ = 0, bpp_ = 0, stride_ = 0;
    bool topDown_ = true;
    std::vector<uint8_t> pixels_;
    std::array<RGBQuad, 256> colors_{};
};

// Nearest palette entry by squared RGB distance, ties to the lowest index.
int NearestIndex(const RGBQuad* table, int count, uint8_t r, uint8_t g, uint8_t b);

class Brush {
public:
    enum class Kind { Solid, Hatch, Pattern };
    static Brush solid(ColorRef color);
    static Brush hatch(int style, ColorRef color);
    static Brush pattern(std::shared_ptr<const Bitmap> bitmap);

    Kind kind() const { return kind_; }
    ColorRef color() const { return color_; }
    int hatchStyle() const { return hatch_; }
    const Bitmap* patternBitmap() const { return pattern_.get(); }

private:
    Kind kind_ = Kind::Solid;
    ColorRef color_ = 0;
    int hatch_ = 0;
    std::shared_ptr<const Bitmap> pattern_;
};

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool isEmpty() const { return right <= left || bottom <= top; }
};

// A device context: the bitmap selected into it plus its drawing state.
class DC {
public:
    Bitmap* selected() const { return bitmap_; }
    // Returns the previously selected bitmap.
    Bitmap* select(Bitmap* bitmap) {
        Bitmap* old = bitmap_;
        bitmap_ = bitmap;
        return old;
    }
    int stretchMode = BLACKONWHITE;
    int brushOriginX = 0, brushOriginY = 0;
    ColorRef backgroundColor = RGBColor(255, 255, 255);

private:
    Bitmap* bitmap_ = nullptr;
};
using HDC = DC*;

// Each returns non-zero on success and 0 when a context has no bitmap or the
// operation is unknown; pixels outside either bitmap are clipped.
int BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, uint32_t rop);
// Nearest-pixel stretch: destination pixel d takes source
// floor((d + 0.5) * srcSize / dstSize), whatever the stretch mode.
int StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int srcWidth,
               int srcHeight, uint32_t rop);
int SetStretchBltMode(HDC dc, int mode);  // returns the previous mode
int GetStretchBltMode(HDC dc);
void SetBrushOrgEx(HDC dc, int x, int y);
int FillRect(HDC dc, const Rect& rect, const Brush& brush);
bool SetPixelV(HDC dc, int x, int y, ColorRef color);
ColorRef GetPixel(HDC dc, int x, int y);  // 0xFFFFFFFF outside

}  // namespace tarnel
