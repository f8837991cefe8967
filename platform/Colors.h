#pragma once
#include <cstdint>

namespace tarnel {

// Colours are 0x00BBGGRR. OLE colours with the high bit set name a system colour.
using ColorRef = uint32_t;

constexpr ColorRef RGBColor(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
}
constexpr uint8_t RedOf(ColorRef c) { return uint8_t(c); }
constexpr uint8_t GreenOf(ColorRef c) { return uint8_t(c >> 8); }
constexpr uint8_t BlueOf(ColorRef c) { return uint8_t(c >> 16); }

// A fixed table stands in for the desktop's system colours.
ColorRef GetSysColor(int index);
// System colours (0x800000nn) become their RGB value; other values keep their low 24 bits.
ColorRef TranslateColor(uint32_t oleColor);

}  // namespace tarnel
