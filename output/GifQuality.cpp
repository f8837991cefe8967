#include "output/GifQuality.h"

#include <algorithm>
#include <cmath>

#include "imaging/ColourHistogram.h"
#include "imaging/GcDIB.h"
#include "imaging/PaletteRefine.h"
#include "imaging/cPal8bpp.h"
#include "imaging/mDither8bpp.h"
#include "output/mAVIImp.h"
#include "platform/AviReader.h"

namespace tarnel {

namespace {

// The sample column holds about this many pixels whatever the frame count,
// so building the palette costs the same for a long video as for a short one.
constexpr int64_t kSamplePixels = int64_t(1) << 18;
// Frame 1's adaptive palette comes from a copy fitted into 50 x 50.
constexpr int32_t kLargestTile = 50;

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

}  // namespace

bool ParseGifPaletteChoice(const std::string& text, GifPaletteChoice& out) {
    if (text == "cube") out = GifPaletteChoice::Cube;
    else if (text == "adaptive") out = GifPaletteChoice::Adaptive;
    else if (text == "adaptive-all") out = GifPaletteChoice::AdaptiveAll;
    else if (text == "adaptive-hq") out = GifPaletteChoice::AdaptiveHq;
    else return false;
    return true;
}

bool ParseGifDitherMethod(const std::string& text, int32_t& out) {
    if (text == "none") out = 0;
    else if (text == "ordered") out = 1;
    else if (text == "diffusion") out = 2;
    else return false;
    return true;
}

void ApplyGifQuality(const GifQuality& quality) {
    SetPaletteMode(quality.palette == GifPaletteChoice::Cube ? 0 : 1);
    SetRefinedPalette(quality.palette == GifPaletteChoice::AdaptiveHq);
    SetDitherMethod(quality.ditherMethod);
}

namespace {

// Samples every frame (evenly spread beyond kPaletteSampleFrames) into one
// column of tiles and, when asked, into a histogram, then builds the octree palette.
bool samplePalette(AviReader& reader, cPal8bpp& palette, ColourHistogram* histogram, ProgressSink* Progress,
                   std::string* error) {
    if (!reader.IsOpen()) return setError(error, "no video is open"), false;
    const int32_t n = reader.Length();
    if (n <= 0) return setError(error, "the video has no frames"), false;
    const int32_t samples = std::min(n, kPaletteSampleFrames);

    GcDIB work;
    if (!work.Create(reader.Width(), reader.Height(), 32)) return setError(error, "the frame size is too large"), false;
    const int32_t side = std::clamp(int32_t(std::sqrt(double(kSamplePixels) / samples)), 1, kLargestTile);
    int32_t fx = 0, fy = 0, fw = work.Width(), fh = work.Height();
    work.GetBestFitInfo(side, side, fx, fy, fw, fh, false);
    fw = std::max(fw, 1);
    fh = std::max(fh, 1);
    GcDIB column;
    if (!column.Create(fw, fh * samples, 32)) return setError(error, "the frame size is too large"), false;
    // Every step-th pixel of every step-th row keeps the histogram's cost bounded.
    const double framePixels = double(work.Width()) * double(work.Height());
    const int step = std::max(1, int(std::ceil(std::sqrt(framePixels * samples / double(kRefineSamplePixels)))));

    if (Progress) Progress->SetMax(samples);
    for (int32_t s = 0; s < samples; ++s) {
        const int32_t frame = int32_t(int64_t(s) * n / samples);
        if (!reader.GetFrame(frame, *work.bitmap(), error)) return false;
        work.Stretch(column.hDIBDC(), 0, s * fh, fw, fh);
        if (histogram) histogram->Add(*work.bitmap(), step);
        if (Progress) Progress->SetValue(s + 1);
    }
    palette.CreateOptimal(column, 256, 6, 1.0f, 1.0f, 1.0f);
    if (Progress) Progress->SetValue(0);
    return true;
}

}  // namespace

bool BuildPaletteFromAllFrames(AviReader& reader, cPal8bpp& palette, ProgressSink* Progress, std::string* error) {
    return samplePalette(reader, palette, nullptr, Progress, error);
}

bool BuildRefinedPaletteFromAllFrames(AviReader& reader, cPal8bpp& palette, ProgressSink* Progress,
                                      std::string* error) {
    ColourHistogram histogram;
    if (!samplePalette(reader, palette, &histogram, Progress, error)) return false;
    RefinePalette(palette, histogram);
    return true;
}

bool ImportAviFramesWithQuality(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress,
                                const GifQuality& quality, std::string* error) {
    ApplyGifQuality(quality);
    const bool refined = quality.palette == GifPaletteChoice::AdaptiveHq;
    if (quality.palette != GifPaletteChoice::AdaptiveAll && !refined)
        return ImportAviFrames(SourcePath, GIF, Progress, error);

    AviReader reader;
    if (!reader.Open(SourcePath, error)) return false;
    cPal8bpp palette;
    if (refined) {
        if (!BuildRefinedPaletteFromAllFrames(reader, palette, Progress, error)) return false;
    } else {
        if (!BuildPaletteFromAllFrames(reader, palette, Progress, error)) return false;
        BuildInverseTable(palette);
    }
    AviImportOptions options;
    options.Palette = &palette;
    return ImportAviFrames(reader, GIF, Progress, options, error);
}

}  // namespace tarnel
