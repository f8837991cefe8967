#pragma once
// An in-memory bitmap surface with its own device context: the common
// currency of the imaging code (frames, masks, work images).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Picture.h"
#include "platform/gdi.h"

namespace tarnel {

class GcDIB {
public:
    GcDIB() = default;
    ~GcDIB() { Destroy(); }
    GcDIB(const GcDIB&) = delete;
    GcDIB& operator=(const GcDIB&) = delete;
    GcDIB(GcDIB&& other) noexcept;
    GcDIB& operator=(GcDIB&& other) noexcept;

    // A top-down surface, pixels and colour table zero. Raises the overflow
    // error when NewWidth * Newbpp passes 0x7FFFFFE0 or the byte size passes
    // 32 bits; returns false for sizes beyond the surface limits.
    bool Create(int32_t NewWidth, int32_t NewHeight, int32_t Newbpp);
    // The picture's own depth (1..32), or 0 when nothing was made.
    uint8_t CreateFromStdPicture(const StdPicture& Image, bool Force32bpp);
    // Loads a BMP file at its own depth and row order. A missing file raises
    // the file-not-found error; an empty or undecodable one gives 0.
    uint8_t CreateFromBitmapFile(const std::string& Filename);
    void CloneTo(GcDIB& oDIB) const;
    void Destroy();

    int32_t LoadBlt(HDC hSrcDC, int32_t x, int32_t y, int32_t nWidth = 0, int32_t nHeight = 0);
    int32_t Stretch(HDC hDstDC, int32_t x, int32_t y, int32_t nWidth, int32_t nHeight, int32_t xSrc = 0,
                    int32_t ySrc = 0, int32_t nSrcWidth = 0, int32_t nSrcHeight = 0, uint32_t lROP = SRCCOPY) const;
    void Cls(uint32_t BackColor);
    // RGBQUAD byte arrays, 4 bytes an entry.
    void SetPalette(const std::vector<uint8_t>& Palette);
    void GetPalette(std::vector<uint8_t>& Palette) const;
    void Resize(int32_t NewWidth, int32_t NewHeight, bool StretchDIB);
    void GetBestFitInfo(int32_t DstW, int32_t DstH, int32_t& bfx, int32_t& bfy, int32_t& bfW, int32_t& bfH,
                        bool StretchFit = false) const;

    HDC hDIBDC() const { return dc_.get(); }
    uintptr_t hDIB() const { return bitmap_ ? reinterpret_cast<uintptr_t>(bitmap_.get()) : 0; }
    uint8_t* lpBits() const { return bitmap_ ? bitmap_->bits() : nullptr; }
    int32_t Width() const { return bitmap_ ? bitmap_->width() : 0; }
    int32_t Height() const { return bitmap_ ? bitmap_->height() : 0; }
    int32_t BPP() const { return bitmap_ ? bitmap_->bpp() : 0; }
    int32_t BytesPerScanline() const { return bitmap_ ? bitmap_->stride() : 0; }
    int32_t Size() const { return bitmap_ ? int32_t(bitmap_->sizeBytes()) : 0; }
    // A 32-bpp picture of the surface.
    StdPicture Image() const;

    // Direct access for the imaging code.
    Bitmap* bitmap() const { return bitmap_.get(); }
    bool empty() const { return !bitmap_; }
    RGBQuad* colorTable() const { return bitmap_ ? bitmap_->colorTable() : nullptr; }

private:
    bool adopt(std::unique_ptr<Bitmap> bitmap);

    std::unique_ptr<Bitmap> bitmap_;
    std::unique_ptr<DC> dc_;
};

}  // namespace tarnel
