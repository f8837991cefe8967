#pragma once
// Counts of the colours of one or more 32-bpp images on 6 bits per channel,
// with the exact sums of what fell into each bin, so that a bin's mean is the
// mean of its pixels and not the bin's centre.
#include <cstdint>
#include <vector>

#include "platform/gdi.h"

namespace tarnel {

class ColourHistogram {
public:
    // 32-bit sums hold 2^24 pixels of 255 each: Add samples to stay within.
    static constexpr uint64_t kMostPixels = uint64_t(1) << 24;
    struct Bin {
        uint32_t red = 0, green = 0, blue = 0;
        uint32_t count = 0;
    };
    // An occupied bin: mean colour and weight.
    struct Colour {
        float r, g, b;
        uint64_t count;
        uint64_t red, green, blue;  // sums
    };

    ColourHistogram();

    // Adds every step-th pixel of every step-th row (step held to 1 or more,
    // and raised as far as needed to keep the total within kMostPixels) of a
    // 32-bpp bitmap; other depths are ignored.
    void Add(const Bitmap& image, int step = 1);
    void Clear();
    uint64_t Pixels() const { return pixels_; }
    // The occupied bins in bin order.
    std::vector<Colour> Colours() const;

    // While every pixel added so far is counted (no sampling) and they hold
    // at most kExactColours colours: those colours, 0x00RRGGBB, ascending.
    // Otherwise empty. Two colours of one bin stay apart here.
    static constexpr size_t kExactColours = 256;
    std::vector<uint32_t> ExactColours() const;

private:
    // False once the exact colours are out of reach.
    bool noteExact(uint32_t rgb);

    std::vector<Bin> bins_;
    uint64_t pixels_ = 0;
    bool exact_ = true;
    std::vector<uint32_t> exactSet_;  // open addressing, kEmpty where free
    size_t exactCount_ = 0;
};

}  // namespace tarnel
