#pragma once
// Pictures made and decoded by a second implementation: Pillow (Debian's
// python3-pil, run as /usr/bin/python3) and ImageMagick write PNG and WebP
// files of every kind, and Pillow decodes them to the colours a picture
// loader that drops alpha must give.
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tarnel::test {

// Pillow can be run (and ImageMagick's convert is there).
bool PillowAvailable();

// Writes the fixtures into `folder`: PNGs of every colour type and bit depth
// (grey 1/2/4/8/16, RGB 8/16, palette 1/2/4/8 with and without tRNS, grey
// and RGB colour keys, grey+alpha 8/16, RGBA 8/16, interlaced ones, an
// ancillary chunk bomb), still WebPs (lossy, lossless, both with alpha) and
// a two-frame animated WebP. Beside each file NAME it writes NAME.rgb: width
// and height as two little-endian 32-bit numbers, then R, G, B per pixel
// row by row, as Pillow decodes the file (first frame; 16-bit samples by
// their high byte; alpha dropped). False when the script fails.
bool MakePillowFixtures(const std::filesystem::path& folder);

// Pillow reads every pair of files as pictures of the same size and mode
// "RGB" (no alpha, no palette) with the same pixels.
bool PillowSeesSamePixels(const std::vector<std::pair<std::string, std::string>>& pairs);

struct RgbPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // R, G, B per pixel, rows top-down
};
// A NAME.rgb file as MakePillowFixtures writes it; empty when it cannot be read.
RgbPicture ReadRgbFile(const std::filesystem::path& path);

}  // namespace tarnel::test
