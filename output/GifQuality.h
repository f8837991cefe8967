#pragma once
// The palette and dithering choices of an animation import: the fixed
// 216-colour cube by nearest colour (the composer's own setting), or an
// adaptive palette and a dither method of the dithering module. The composer
// and `tarnel-cli anigif` import with them (AnimationImport.h), so the same
// choice gives the same frames.
#include <cstdint>
#include <string>

#include "imaging/Progress.h"
#include "output/FrameSource.h"

namespace tarnel {

class AviReader;
class Dither8bpp;
class cPal8bpp;

enum class GifPaletteChoice {
    Cube,         // the 216-colour cube
    Adaptive,     // 256 colours fitted to frame 1, kept for the later frames
    AdaptiveAll,  // 256 colours fitted to samples of every frame
    AdaptiveHq,   // AdaptiveAll refined over the samples' pixels, exact nearest colours
};

struct GifQuality {
    GifPaletteChoice palette = GifPaletteChoice::Cube;
    int32_t ditherMethod = 0;  // 0 nearest colour, 1 ordered, 2 error diffusion
};

// "cube", "adaptive", "adaptive-all", "adaptive-hq" / "none", "ordered", "diffusion".
bool ParseGifPaletteChoice(const std::string& text, GifPaletteChoice& out);
bool ParseGifDitherMethod(const std::string& text, int32_t& out);

// Puts `dither` in the palette mode, refinement and method of the choice.
void ApplyGifQuality(const GifQuality& quality, Dither8bpp& dither);

// The most frames the all-frames palette samples (evenly spread beyond that).
inline constexpr int32_t kPaletteSampleFrames = 1024;

// An adaptive palette from samples of every frame of the open video: each
// sampled frame shrunk (nearest pixel, aspect kept) into one column of tiles,
// the palette built from that column. Progress counts the frames sampled.
bool BuildPaletteFromAllFrames(AviReader& reader, cPal8bpp& palette, ProgressSink* Progress,
                               std::string* error = nullptr);

// The same palette refined (PaletteRefine.h) over a histogram of the sampled
// frames' pixels, about kRefineSamplePixels of them evenly spread.
inline constexpr int64_t kRefineSamplePixels = int64_t(1) << 23;
bool BuildRefinedPaletteFromAllFrames(AviReader& reader, cPal8bpp& palette, ProgressSink* Progress,
                                      std::string* error = nullptr);

// The all-frames palette of any source: samples of every frame (evenly
// spread beyond kPaletteSampleFrames) shrunk into one column of tiles, the
// octree palette built from that column and, when `refined`, moved over the
// sampled frames' pixels. Progress counts the frames sampled.
bool BuildPaletteFromFrames(FrameSource& source, bool refined, cPal8bpp& palette, ProgressSink* Progress,
                            std::string* error = nullptr);
// The most memory BuildPaletteFromFrames takes for `source` beside the
// source's own: its work surface, the sample column and the histogram.
uint64_t PaletteFromFramesBytes(const FrameSource& source, bool refined);

}  // namespace tarnel
