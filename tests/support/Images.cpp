#include "support/Images.h"

#include <gtest/gtest.h>

#include <memory>

namespace tarnel::test {

std::ostream& operator<<(std::ostream& os, const Rgb& c) { return os << "(" << c.r << "," << c.g << "," << c.b << ")"; }

GcDIB makeImage(int w, int h, const std::function<Rgb(int, int)>& colour) {
    GcDIB d;
    EXPECT_TRUE(d.Create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Rgb c = colour(x, y);
            uint8_t* p = d.bitmap()->scanline(y) + 4 * x;
            p[0] = uint8_t(c.b);
            p[1] = uint8_t(c.g);
            p[2] = uint8_t(c.r);
        }
    return d;
}

StdPicture makePicture(int w, int h, const std::function<uint32_t(int, int)>& rgb) {
    StdPicture p;
    p.bitmap = std::make_shared<Bitmap>();
    p.bitmap->create(w, h, 32, true);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.bitmap->setPixelValue(x, y, rgb(x, y));
    return p;
}

StdPicture solidPicture(int w, int h, uint32_t rgb) {
    return makePicture(w, h, [rgb](int, int) { return rgb; });
}

void setEntry(uint8_t* palette, int i, uint8_t r, uint8_t g, uint8_t b) {
    palette[4 * i] = b;
    palette[4 * i + 1] = g;
    palette[4 * i + 2] = r;
    palette[4 * i + 3] = 0;
}

uint32_t lcg(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

}  // namespace tarnel::test
