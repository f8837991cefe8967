#pragma once
// The palette and dithering choices of an AVI-to-GIF import: the fixed
// 216-colour cube by nearest colour (the composer's own setting), or an
// adaptive palette and a dither method of the dithering module. The composer
// and `tarnel-cli anigif` import through here, so the same choice gives the
// same frames.
#include <cstdint>
#include <functional>
#include <string>

#include "imaging/Progress.h"
#include "imaging/gif/cGif.h"
#include "platform/gdi.h"

namespace tarnel {

class AviReader;
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

// Puts the shared dithering module in the palette mode, refinement and method of the choice.
void ApplyGifQuality(const GifQuality& quality);

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

// Frame `index` (0-based) of a source as a 32-bpp bitmap of its size; false
// with `error` set when it cannot be read.
using FrameReader = std::function<bool(int32_t index, Bitmap& frame, std::string* error)>;

// The all-frames palette of any source of `count` frames of width x height:
// samples of every frame (evenly spread beyond kPaletteSampleFrames) shrunk
// into one column of tiles, the octree palette built from that column and,
// when `refined`, moved over the sampled frames' pixels. Progress counts the
// frames sampled.
bool BuildPaletteFromFrames(int32_t width, int32_t height, int32_t count, const FrameReader& read, bool refined,
                            cPal8bpp& palette, ProgressSink* Progress, std::string* error = nullptr);

// ImportAviFrames with the choice applied first; `GIF` is emptied by the caller.
bool ImportAviFramesWithQuality(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress,
                                const GifQuality& quality, std::string* error = nullptr);

}  // namespace tarnel
