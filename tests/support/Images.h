#pragma once
// Small pictures made in code, shared by the tests.
#include <cstdint>
#include <functional>
#include <ostream>

#include "imaging/GcDIB.h"
#include "platform/Picture.h"

namespace tarnel::test {

struct Rgb {
    int r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
    friend auto operator<=>(const Rgb&, const Rgb&) = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c);

// A 32-bpp surface with pixel (x, y) in colour(x, y).
GcDIB makeImage(int w, int h, const std::function<Rgb(int, int)>& colour);

// A 32-bpp top-down picture with pixel (x, y) set to the value 0x00RRGGBB rgb(x, y).
StdPicture makePicture(int w, int h, const std::function<uint32_t(int, int)>& rgb);
StdPicture solidPicture(int w, int h, uint32_t rgb);

// Entry i of a colour table stored B, G, R, 0.
void setEntry(uint8_t* palette, int i, uint8_t r, uint8_t g, uint8_t b);

// A repeatable pseudo-random step for test pictures: advances s, returns its top 24 bits.
uint32_t lcg(uint32_t& s);

}  // namespace tarnel::test
