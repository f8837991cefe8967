#include "output/AnimationImport.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/GcDIB.h"
#include "imaging/gif/GifLimits.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"

namespace tarnel {

namespace {

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// The frames into the container. A given palette serves frame 1 too; without
// one, frame 1 builds it in the converter's palette mode.
bool reduceFrames(FrameSource& source, cGif& GIF, ProgressSink* Progress, Dither8bpp& dither, cPal8bpp& palette,
                  bool paletteGiven, int16_t delay, std::string* error) {
    const int32_t n = source.Count();
    const int32_t W = source.Width();
    const int32_t H = source.Height();
    if (Progress) Progress->SetMax(n);
    GcDIB work;
    if (!work.Create(W, H, 32)) return fail(error, "the frame size is too large");

    // Started only now, so that decoding ahead never races the palette sampling.
    const std::unique_ptr<FrameStream> frames = source.InOrder();
    // admit() has checked the GIF limits for all n frames.
    bool complete = true;
    for (int32_t i = 1; i <= n; ++i) {
        if (!GIF.FrameInsert(i, W, H)) {
            complete = fail(error, "out of memory");
            break;
        }
        // Frame i - 1 arrives as a 32-bpp top-down bitmap of the work surface's size.
        if (!frames->Next(*work.bitmap(), error)) {
            complete = false;
            break;
        }
        if (Progress) Progress->SetValue(i);
        dither.DitherTo8bpp(work, GIF.FrameDIBXOR(i), palette, paletteGiven || i > 1);
        SetImportedFrame(GIF, i, palette, delay);
    }
    SetImportedScreen(GIF, W, H, palette);
    if (Progress) Progress->SetValue(0);
    return complete;
}

bool sampleAllFrames(const GifQuality& quality, bool paletteGiven) {
    return !paletteGiven &&
           (quality.palette == GifPaletteChoice::AdaptiveAll || quality.palette == GifPaletteChoice::AdaptiveHq);
}

std::string megabytes(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB"; }

// What is known before the first frame: the GIF limits and the memory.
bool admit(const FrameSource& source, const GifQuality& quality, bool paletteGiven, LoadBudget* budget,
           std::string* error) {
    const int64_t n = source.Count();
    if (n > kMaxGifFrames || n * source.Width() * source.Height() > kMaxGifPixels)
        return fail(error, source.TooManyFrames());
    if (!budget) return true;
    const uint64_t needed = AnimationImportBytes(source, quality, paletteGiven);
    if (!budget->Reserve(needed))
        return fail(error, "the frames need more memory than allowed: " + megabytes(needed) + " of at most " +
                               megabytes(budget->Limit() - budget->Used()) + " for a file of this size");
    return true;
}

bool adaptiveWithoutRefinement(const Dither8bpp& dither) {
    return dither.PaletteMode() == 1 && !dither.RefinedPalette();
}

}  // namespace

uint64_t AnimationImportBytes(const FrameSource& source, const GifQuality& quality, bool paletteGiven) {
    const int64_t W = source.Width(), H = source.Height();
    const uint64_t frame = SurfaceBytes(W, H, 8) + SurfaceBytes(W, H, 1);
    uint64_t bytes = uint64_t(std::max(source.Count(), 0)) * frame + SurfaceBytes(W, H, 32) + source.WorkingBytes();
    if (sampleAllFrames(quality, paletteGiven))
        bytes += PaletteFromFramesBytes(source, quality.palette == GifPaletteChoice::AdaptiveHq);
    return bytes;
}

bool ImportAnimation(FrameSource& source, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                     int16_t delay, std::string* error, LoadBudget* budget) {
    if (source.Count() <= 0) return fail(error, "the video has no frames");
    if (!admit(source, quality, false, budget, error)) return false;
    // Each import has a converter of its own: its tables and palette copy
    // belong to this one run.
    auto dither = std::make_unique<Dither8bpp>();
    ApplyGifQuality(quality, *dither);
    cPal8bpp palette;
    const bool allFrames = sampleAllFrames(quality, false);
    if (allFrames) {
        const bool refined = quality.palette == GifPaletteChoice::AdaptiveHq;
        if (!BuildPaletteFromFrames(source, refined, palette, Progress, error)) return false;
        if (adaptiveWithoutRefinement(*dither)) dither->BuildInverseTable(palette);
    }
    return reduceFrames(source, GIF, Progress, *dither, palette, allFrames, delay, error);
}

bool ImportAnimationToPalette(FrameSource& source, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                              cPal8bpp& palette, int16_t delay, std::string* error, LoadBudget* budget) {
    if (source.Count() <= 0) return fail(error, "the video has no frames");
    if (!admit(source, quality, true, budget, error)) return false;
    auto dither = std::make_unique<Dither8bpp>();
    ApplyGifQuality(quality, *dither);
    if (adaptiveWithoutRefinement(*dither)) dither->BuildInverseTable(palette);
    return reduceFrames(source, GIF, Progress, *dither, palette, true, delay, error);
}

void SetImportedFrame(cGif& GIF, int32_t Frame, const cPal8bpp& Palette, int16_t Delay) {
    const int entries = std::clamp<int>(Palette.Entries(), 0, 256);
    std::memcpy(GIF.lpLocalPalette(Frame), Palette.lpPalette(), size_t(entries) * 4);
    GIF.SetLocalPaletteEntries(Frame, int16_t(entries));
    GIF.SetFrameDisposalMethod(Frame, 3);
    GIF.SetFrameDelay(Frame, Delay);
}

void SetImportedScreen(cGif& GIF, int32_t Width, int32_t Height, const cPal8bpp& Palette) {
    GIF.SetScreenWidth(int16_t(Width));
    GIF.SetScreenHeight(int16_t(Height));
    GIF.SetScreenPixelAspectRatio(1.0f);
    GIF.SetGlobalPaletteExists(true);
    const int entries = std::clamp<int>(Palette.Entries(), 0, 256);
    GIF.SetGlobalPaletteEntries(int16_t(entries));
    std::memcpy(GIF.lpGlobalPalette(), Palette.lpPalette(), size_t(entries) * 4);
}

}  // namespace tarnel
