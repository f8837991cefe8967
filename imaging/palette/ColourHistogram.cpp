#include "imaging/palette/ColourHistogram.h"

#include <algorithm>

namespace tarnel {

namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFFu;
constexpr size_t kExactSlots = 2 * ColourHistogram::kExactColours;  // a power of two

}  // namespace

ColourHistogram::ColourHistogram() : bins_(size_t(1) << 18), exactSet_(kExactSlots, kEmpty) {}

void ColourHistogram::Clear() {
    std::fill(bins_.begin(), bins_.end(), Bin{});
    pixels_ = 0;
    exact_ = true;
    std::fill(exactSet_.begin(), exactSet_.end(), kEmpty);
    exactCount_ = 0;
}

bool ColourHistogram::noteExact(uint32_t rgb) {
    size_t slot = (rgb * 2654435761u) >> 23;  // 9 bits
    while (exactSet_[slot] != kEmpty) {
        if (exactSet_[slot] == rgb) return true;
        slot = (slot + 1) & (kExactSlots - 1);
    }
    if (exactCount_ == kExactColours) return false;
    exactSet_[slot] = rgb;
    ++exactCount_;
    return true;
}

std::vector<uint32_t> ColourHistogram::ExactColours() const {
    std::vector<uint32_t> out;
    if (!exact_) return out;
    for (uint32_t c : exactSet_)
        if (c != kEmpty) out.push_back(c);
    std::sort(out.begin(), out.end());
    return out;
}

void ColourHistogram::Add(const Bitmap& image, int step) {
    if (image.bpp() != 32 || image.empty()) return;
    step = std::max(step, 1);
    const int width = image.width(), height = image.height();
    auto sampled = [&](int s) { return uint64_t((width + s - 1) / s) * uint64_t((height + s - 1) / s); };
    while (step < std::max(width, height) && pixels_ + sampled(step) > kMostPixels) ++step;
    if (pixels_ + sampled(step) > kMostPixels) {
        exact_ = false;
        return;
    }
    if (step > 1) exact_ = false;
    Bin* bins = bins_.data();
    uint32_t last = kEmpty;
    for (int y = 0; y < height; y += step) {
        const uint8_t* p = image.scanline(y);
        for (int x = 0; x < width; x += step) {
            const uint8_t* q = p + 4 * size_t(x);
            const unsigned b = q[0], g = q[1], r = q[2];
            if (exact_) {
                const uint32_t rgb = r << 16 | g << 8 | b;
                if (rgb != last) {
                    last = rgb;
                    exact_ = noteExact(rgb);
                }
            }
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
