#include "imaging/GcDIB.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "imaging/bmp/BmpDecoder.h"
#include "imaging/LoadBudget.h"
#include "platform/FileRead.h"
#include "platform/RuntimeError.h"

namespace tarnel {

GcDIB::GcDIB(GcDIB&& other) noexcept : bitmap_(std::move(other.bitmap_)), dc_(std::move(other.dc_)) {}

GcDIB& GcDIB::operator=(GcDIB&& other) noexcept {
    if (this != &other) {
        bitmap_ = std::move(other.bitmap_);
        dc_ = std::move(other.dc_);
    }
    return *this;
}

bool GcDIB::adopt(std::unique_ptr<Bitmap> bitmap) {
    bitmap_ = std::move(bitmap);
    dc_ = std::make_unique<DC>();
    dc_->select(bitmap_.get());
    return true;
}

bool GcDIB::Create(int32_t NewWidth, int32_t NewHeight, int32_t Newbpp) {
    Destroy();
    if (int64_t(NewWidth) * Newbpp > 0x7FFFFFE0LL) raiseOverflow();
    int64_t stride = ((int64_t(NewWidth) * Newbpp + 31) / 32) * 4;
    int64_t size = stride * int64_t(NewHeight);
    if (size > INT32_MAX || size < INT32_MIN) raiseOverflow();
    auto bitmap = std::make_unique<Bitmap>();
    if (!bitmap->create(NewWidth, NewHeight, Newbpp, true)) return false;
    return adopt(std::move(bitmap));
}

uint8_t GcDIB::CreateFromStdPicture(const StdPicture& Image, bool Force32bpp) {
    if (!Image.isBitmap()) return 0;
    const Bitmap& src = *Image.bitmap;
    int depth = src.bpp();
    if (!Create(src.width(), src.height(), Force32bpp ? 32 : depth)) return 0;
    if (depth <= 8 && !Force32bpp) std::memcpy(colorTable(), src.colorTable(), sizeof(RGBQuad) * size_t(1 << depth));
    DC temp;
    temp.select(const_cast<Bitmap*>(&src));
    BitBlt(hDIBDC(), 0, 0, Width(), Height(), &temp, 0, 0, SRCCOPY);
    return uint8_t(depth);
}

uint8_t GcDIB::CreateFromBitmapFile(const std::string& Filename) {
    std::error_code ec;
    if (!std::filesystem::exists(Filename, ec))
        throw RuntimeError(RuntimeError::FileNotFound, "File not found: " + Filename);
    // The shared reader refuses files larger than any picture we could hold.
    std::vector<uint8_t> data;
    if (!ReadFileBytes(Filename, kMaxPictureFile, data) || data.empty()) return 0;
    Destroy();
    auto bitmap = std::make_unique<Bitmap>();
    if (!DecodeBmp(data.data(), data.size(), *bitmap)) return 0;
    int depth = bitmap->bpp();
    adopt(std::move(bitmap));
    return uint8_t(depth);
}

void GcDIB::CloneTo(GcDIB& oDIB) const {
    if (&oDIB == this) return;
    if (!bitmap_) {
        oDIB.Destroy();
        return;
    }
    if (!oDIB.Create(Width(), Height(), BPP())) return;
    if (BPP() <= 8) {
        std::vector<uint8_t> palette;
        GetPalette(palette);
        oDIB.SetPalette(palette);
    }
    std::memcpy(oDIB.lpBits(), lpBits(), size_t(Size()));
}

void GcDIB::Destroy() {
    dc_.reset();
    bitmap_.reset();
}

int32_t GcDIB::LoadBlt(HDC hSrcDC, int32_t x, int32_t y, int32_t nWidth, int32_t nHeight) {
    if (!bitmap_) return 0;
    if (nWidth < 1) nWidth = Width();
    if (nHeight < 1) nHeight = Height();
    return BitBlt(hDIBDC(), 0, 0, nWidth, nHeight, hSrcDC, x, y, SRCCOPY);
}

int32_t GcDIB::Stretch(HDC hDstDC, int32_t x, int32_t y, int32_t nWidth, int32_t nHeight, int32_t xSrc, int32_t ySrc,
                       int32_t nSrcWidth, int32_t nSrcHeight, uint32_t lROP) const {
    if (!bitmap_) return 0;
    if (nSrcWidth < 1) nSrcWidth = Width();
    if (nSrcHeight < 1) nSrcHeight = Height();
    int oldMode = SetStretchBltMode(hDstDC, COLORONCOLOR);
    int result = StretchBlt(hDstDC, x, y, nWidth, nHeight, hDIBDC(), xSrc, ySrc, nSrcWidth, nSrcHeight, lROP);
    SetStretchBltMode(hDstDC, oldMode);
    return result;
}

void GcDIB::Cls(uint32_t BackColor) {
    if (!bitmap_) return;
    FillRect(hDIBDC(), Rect{0, 0, Width(), Height()}, Brush::solid(TranslateColor(BackColor)));
}

void GcDIB::SetPalette(const std::vector<uint8_t>& Palette) {
    if (!bitmap_ || BPP() > 8) return;
    size_t entries = std::min(Palette.size() / 4, size_t(bitmap_->colorCount()));
    for (size_t i = 0; i < entries; ++i) {
        RGBQuad& q = bitmap_->colorTable()[i];
        q.blue = Palette[4 * i];
        q.green = Palette[4 * i + 1];
        q.red = Palette[4 * i + 2];
        q.reserved = Palette[4 * i + 3];
    }
}

void GcDIB::GetPalette(std::vector<uint8_t>& Palette) const {
    if (!bitmap_ || BPP() > 8) return;
    size_t entries = size_t(bitmap_->colorCount());
    Palette.assign(4 * entries, 0);
    std::memcpy(Palette.data(), bitmap_->colorTable(), 4 * entries);
}

void GcDIB::Resize(int32_t NewWidth, int32_t NewHeight, bool StretchDIB) {
    if (!bitmap_) return;
    int bpp = BPP();
    std::vector<uint8_t> palette;
    GetPalette(palette);
    GcDIB temp;
    if (!temp.Create(NewWidth, NewHeight, bpp)) return;
    temp.SetPalette(palette);
    if (StretchDIB) {
        Stretch(temp.hDIBDC(), 0, 0, NewWidth, NewHeight, 0, 0, Width(), Height(), SRCCOPY);
    } else {
        BitBlt(temp.hDIBDC(), 0, 0, Width(), Height(), hDIBDC(), 0, 0, SRCCOPY);
    }
    if (!Create(NewWidth, NewHeight, bpp)) return;
    SetPalette(palette);
    LoadBlt(temp.hDIBDC(), 0, 0);
}

void GcDIB::GetBestFitInfo(int32_t DstW, int32_t DstH, int32_t& bfx, int32_t& bfy, int32_t& bfW, int32_t& bfH,
                           bool StretchFit) const {
    if (!bitmap_) return;
    if (DstW < Width() || DstH < Height() || StretchFit) {
        float xr = float(double(DstW) / Width());
        float yr = float(double(DstH) / Height());
        if (xr >= yr) {
            bfH = DstH;
            bfW = int32_t(std::nearbyint(double(yr) * Width()));
        } else {
            bfW = DstW;
            bfH = int32_t(std::nearbyint(double(xr) * Height()));
        }
    } else {
        bfW = Width();
        bfH = Height();
    }
    bfx = (DstW - bfW) / 2;
    bfy = (DstH - bfH) / 2;
}

StdPicture GcDIB::Image() const {
    StdPicture picture;
    if (!bitmap_) return picture;
    auto bitmap = std::make_shared<Bitmap>();
    if (!bitmap->create(Width(), Height(), 32, true)) return picture;
    DC dc;
    dc.select(bitmap.get());
    Stretch(&dc, 0, 0, Width(), Height(), 0, 0, Width(), Height(), SRCCOPY);
    picture.bitmap = std::move(bitmap);
    return picture;
}

}  // namespace tarnel
