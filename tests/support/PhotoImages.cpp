#include "support/PhotoImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/Images.h"

namespace tarnel::test {

namespace {

int clampByte(double v) { return std::clamp(int(std::lround(v)), 0, 255); }

// Value noise: a coarse random grid, bilinearly interpolated.
class Noise {
public:
    Noise(int cells, uint32_t seed) : cells_(cells), values_(size_t((cells + 1) * (cells + 1))) {
        for (double& v : values_) v = double(lcg(seed) % 1000) / 999.0;
    }
    double at(double fx, double fy) const {  // fx, fy in 0 … 1
        const double x = fx * cells_, y = fy * cells_;
        const int x0 = std::min(int(x), cells_ - 1), y0 = std::min(int(y), cells_ - 1);
        const double tx = x - x0, ty = y - y0;
        auto v = [&](int i, int j) { return values_[size_t(j * (cells_ + 1) + i)]; };
        return (v(x0, y0) * (1 - tx) + v(x0 + 1, y0) * tx) * (1 - ty) +
               (v(x0, y0 + 1) * (1 - tx) + v(x0 + 1, y0 + 1) * tx) * ty;
    }

private:
    int cells_;
    std::vector<double> values_;
};

}  // namespace

const char* photoName(Photo kind) {
    switch (kind) {
        case Photo::Landscape: return "landscape";
        case Photo::Plasma: return "plasma";
        case Photo::Portrait: return "portrait";
        case Photo::Stripes: return "stripes";
    }
    return "?";
}

GcDIB makePhoto(Photo kind, int w, int h, uint32_t seed) {
    const Noise coarse(4, seed), middle(12, seed * 7 + 1), fine(40, seed * 13 + 5);
    uint32_t grain = seed * 31 + 3;
    return makeImage(w, h, [&](int x, int y) {
        const double fx = double(x) / w, fy = double(y) / h;
        const double g = double(int(lcg(grain) % 11) - 5);
        switch (kind) {
            case Photo::Landscape: {
                const double hill = 0.55 + 0.15 * coarse.at(fx, 0.5);
                if (fy < hill)
                    return Rgb{clampByte(90 + 80 * fy + g), clampByte(140 + 60 * fy + g), clampByte(235 - 40 * fy + g)};
                const double t = 40 * fine.at(fx, fy) + 30 * middle.at(fx, fy);
                return Rgb{clampByte(60 + t + g), clampByte(110 + 0.8 * t + 30 * coarse.at(fy, fx) + g),
                           clampByte(30 + 0.3 * t + g)};
            }
            case Photo::Plasma:
                return Rgb{clampByte(255 * (0.6 * coarse.at(fx, fy) + 0.4 * fine.at(fy, fx)) + g),
                           clampByte(255 * (0.5 * middle.at(fx, fy) + 0.5 * coarse.at(fy, fx)) + g),
                           clampByte(255 * (0.7 * fine.at(fx, fy) + 0.3 * middle.at(fy, fx)) + g)};
            case Photo::Portrait: {
                const double dx = fx - 0.5, dy = (fy - 0.45) * 1.3;
                const double face = std::exp(-(dx * dx + dy * dy) * 9);
                const double cloth = 25 + 30 * middle.at(fx, fy);
                return Rgb{clampByte(cloth + 205 * face + g), clampByte(cloth * 0.8 + 150 * face + g),
                           clampByte(cloth * 1.2 + 115 * face + g)};
            }
            case Photo::Stripes: {
                const int band = int(fx * 7);
                static const Rgb hues[7] = {{220, 30, 40}, {250, 160, 20}, {240, 230, 50}, {40, 170, 60},
                                            {30, 90, 200}, {120, 40, 170}, {200, 200, 200}};
                const Rgb c = hues[band];
                const double shade = 0.75 + 0.25 * fy;
                return Rgb{clampByte(c.r * shade + g), clampByte(c.g * shade + g),
                           clampByte(c.b * shade + 30 * fine.at(fx, fy) + g)};
            }
        }
        return Rgb{0, 0, 0};
    });
}

double Psnr(const GcDIB& source32, const GcDIB& reduced8) {
    EXPECT_EQ(source32.BPP(), 32);
    EXPECT_EQ(reduced8.BPP(), 8);
    EXPECT_EQ(source32.Width(), reduced8.Width());
    EXPECT_EQ(source32.Height(), reduced8.Height());
    if (source32.BPP() != 32 || reduced8.BPP() != 8 || source32.Width() != reduced8.Width() ||
        source32.Height() != reduced8.Height())
        return 0;
    const RGBQuad* table = reduced8.colorTable();
    double squares = 0;
    for (int y = 0; y < source32.Height(); ++y) {
        const uint8_t* s = source32.bitmap()->scanline(y);
        const uint8_t* t = reduced8.bitmap()->scanline(y);
        for (int x = 0; x < source32.Width(); ++x) {
            const RGBQuad& q = table[t[x]];
            const double db = s[4 * x] - q.blue, dg = s[4 * x + 1] - q.green, dr = s[4 * x + 2] - q.red;
            squares += db * db + dg * dg + dr * dr;
        }
    }
    if (squares == 0) return 99;
    const double mse = squares / (3.0 * source32.Width() * source32.Height());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace tarnel::test
