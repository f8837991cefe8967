#include "imaging/cTile.h"

#include <memory>

namespace tarnel {

bool cTile::SetPatternFromStdPicture(const StdPicture& Image) {
    if (!Image.isBitmap()) return false;
    // The pattern keeps its own copy: the picture may change or go away later.
    auto copy = std::make_shared<Bitmap>();
    if (!copy->create(Image.width(), Image.height(), 24, /*topDown=*/false)) return false;
    DC src, dst;
    src.select(Image.bitmap.get());
    dst.select(copy.get());
    if (!BitBlt(&dst, 0, 0, copy->width(), copy->height(), &src, 0, 0, SRCCOPY)) return false;
    DestroyPattern();
    brush_ = Brush::pattern(std::move(copy));
    hasPattern_ = true;
    return true;
}

bool cTile::SetPatternFromHatchBrush(int32_t BrushStyle, uint32_t Color) {
    DestroyPattern();
    if (BrushStyle < HS_HORIZONTAL || BrushStyle > HS_DIAGCROSS) return false;
    brush_ = Brush::hatch(BrushStyle, TranslateColor(Color));
    hasPattern_ = true;
    return true;
}

bool cTile::SetPatternFromSolidColor(uint32_t Color) {
    DestroyPattern();
    brush_ = Brush::solid(TranslateColor(Color));
    hasPattern_ = true;
    return true;
}

void cTile::Tile(HDC hDC, int32_t x, int32_t y, int32_t Width, int32_t Height, bool ResetBrushOrigin) const {
    if (!hasPattern_ || !hDC) return;
    if (ResetBrushOrigin) SetBrushOrgEx(hDC, x, y);
    else SetBrushOrgEx(hDC, 0, 0);
    int64_t right = int64_t(x) + Width, bottom = int64_t(y) + Height;
    auto clamp = [](int64_t v) { return int(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v); };
    FillRect(hDC, Rect{x, y, clamp(right), clamp(bottom)}, brush_);
}

}  // namespace tarnel
