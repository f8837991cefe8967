#pragma once
// One brush (a picture pattern, a hatch or a solid colour) that fills
// rectangles of a device context. The composer fills its canvas and back
// buffer with the background through it.
#include <cstdint>

#include "platform/Picture.h"
#include "platform/gdi.h"

namespace tarnel {

class cTile {
public:
    cTile() = default;
    ~cTile() { DestroyPattern(); }
    cTile(const cTile&) = delete;
    cTile& operator=(const cTile&) = delete;

    // Copies the picture as a 24-bpp bottom-up surface and makes it the pattern.
    // A picture without a bitmap leaves the current pattern alone and gives
    // false, so the caller never mistakes an old pattern for the new one.
    bool SetPatternFromStdPicture(const StdPicture& Image);
    // BrushStyle is one of the HatchStyle values; Color an OLE colour
    // (system colours allowed). An unknown style leaves no pattern.
    bool SetPatternFromHatchBrush(int32_t BrushStyle, uint32_t Color);
    bool SetPatternFromSolidColor(uint32_t Color);

    // Fills x .. x + Width, y .. y + Height with the pattern. The brush origin
    // of hDC is set to (x, y) with ResetBrushOrigin, else to (0, 0), and is
    // left there. Does nothing without a pattern.
    void Tile(HDC hDC, int32_t x, int32_t y, int32_t Width, int32_t Height, bool ResetBrushOrigin) const;
    void DestroyPattern() {
        brush_ = Brush{};
        hasPattern_ = false;
    }

    bool HasPattern() const { return hasPattern_; }
    const Brush* brush() const { return hasPattern_ ? &brush_ : nullptr; }

private:
    Brush brush_;
    bool hasPattern_ = false;
};

}  // namespace tarnel
