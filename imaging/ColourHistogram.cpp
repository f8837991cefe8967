#include "imaging/ColourHistogram.h"

#include <algorithm>

namespace tarnel {

ColourHistogram::ColourHistogram() : bins_(size_t(1) << 18) {}

void ColourHistogram::Clear() {
    std::fill(bins_.begin(), bins_.end(), Bin{});
    pixels_ = 0;
}

void ColourHistogram::Add(const Bitmap& image, int step) {
    if (image.bpp() != 32 || image.empty()) return;
    step = std::max(step, 1);
    const int width = image.width(), height = image.height();
    auto sampled = [&](int s) { return uint64_t((width + s - 1) / s) * uint64_t((height + s - 1) / s); };
    while (step < std::max(width, height) && pixels_ + sampled(step) > kMostPixels) ++step;
    if (pixels_ + sampled(step) > kMostPixels) return;
    Bin* bins = bins_.data();
    for (int y = 0; y < height; y += step) {
        const uint8_t* p = image.scanline(y);
        for (int x = 0; x < width; x += step) {
            const uint8_t* q = p + 4 * size_t(x);
            const unsigned b = q[0], g = q[1], r = q[2];
            Bin& bin = bins[(r >> 2) << 12 | (g >> 2) << 6 | (b >> 2)];
            bin.red += r;
            bin.green += g;
            bin.blue += b;
            ++bin.count;
        }
        pixels_ += uint64_t((width + step - 1) / step);
    }
}

std::vector<ColourHistogram::Colour> ColourHistogram::Colours() const {
    std::vector<Colour> out;
    for (const Bin& bin : bins_) {
        if (bin.count == 0) continue;
        const double n = double(bin.count);
        out.push_back(Colour{float(double(bin.red) / n), float(double(bin.green) / n), float(double(bin.blue) / n),
                             uint64_t(bin.count), uint64_t(bin.red), uint64_t(bin.green), uint64_t(bin.blue)});
    }
    return out;
}

}  // namespace tarnel
