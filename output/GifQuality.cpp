#include "output/GifQuality.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "imaging/palette/ColourHistogram.h"
#include "imaging/GcDIB.h"
#include "imaging/LoadBudget.h"
#include "imaging/palette/PaletteRefine.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "output/mAVIImp.h"
#include "platform/media/AviReader.h"

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

void ApplyGifQuality(const GifQuality& quality, Dither8bpp& dither) {
    dither.SetPaletteMode(quality.palette == GifPaletteChoice::Cube ? 0 : 1);
    dither.SetRefinedPalette(quality.palette == GifPaletteChoice::AdaptiveHq);
    dither.SetDitherMethod(quality.ditherMethod);
}

namespace {

// The side of the square each sampled frame is shrunk into.
int32_t sampleSide(int32_t samples) {
    return std::clamp(int32_t(std::sqrt(double(kSamplePixels) / samples)), 1, kLargestTile);
}

}  // namespace

uint64_t PaletteFromFramesBytes(const FrameSource& source, bool refined) {
    const int32_t samples = std::clamp(source.Count(), 1, kPaletteSampleFrames);
    const int32_t side = sampleSide(samples);
    uint64_t bytes = SurfaceBytes(source.Width(), source.Height(), 32) + SurfaceBytes(side, int64_t(side) * samples, 32);
    // The histogram's bins and, when the palette is refined, the list of its
    // occupied ones.
    constexpr uint64_t kBins = uint64_t(1) << 18;
    if (refined) bytes += kBins * (sizeof(ColourHistogram::Bin) + sizeof(ColourHistogram::Colour));
    return bytes;
}

bool BuildPaletteFromFrames(FrameSource& source, bool refined, cPal8bpp& palette, ProgressSink* Progress,
                            std::string* error) {
    const int32_t count = source.Count();
    if (count <= 0) return setError(error, "the video has no frames"), false;
    const int32_t samples = std::min(count, kPaletteSampleFrames);

    GcDIB work;
    if (!work.Create(source.Width(), source.Height(), 32)) return setError(error, "the frame size is too large"), false;
    const int32_t side = sampleSide(samples);
    int32_t fx = 0, fy = 0, fw = work.Width(), fh = work.Height();
    work.GetBestFitInfo(side, side, fx, fy, fw, fh, false);
    fw = std::max(fw, 1);
    fh = std::max(fh, 1);
    GcDIB column;
    if (!column.Create(fw, fh * samples, 32)) return setError(error, "the frame size is too large"), false;
    // Every step-th pixel of every step-th row keeps the histogram's cost bounded.
    std::optional<ColourHistogram> histogram;
    if (refined) histogram.emplace();
    const double framePixels = double(work.Width()) * double(work.Height());
    const int step = std::max(1, int(std::ceil(std::sqrt(framePixels * samples / double(kRefineSamplePixels)))));

    if (Progress) Progress->SetMax(samples);
    for (int32_t s = 0; s < samples; ++s) {
        if (!source.Frame(int32_t(int64_t(s) * count / samples), *work.bitmap(), error)) return false;
        work.Stretch(column.hDIBDC(), 0, s * fh, fw, fh);
        if (histogram) histogram->Add(*work.bitmap(), step);
        if (Progress) Progress->SetValue(s + 1);
    }
    palette.CreateOptimal(column, 256, 6, 1.0f, 1.0f, 1.0f);
    if (histogram) RefinePalette(palette, *histogram);
    if (Progress) Progress->SetValue(0);
    return true;
}

namespace {

bool paletteOfVideo(AviReader& reader, bool refined, cPal8bpp& palette, ProgressSink* Progress,
                    std::string* error) {
    if (!reader.IsOpen()) return setError(error, "no video is open"), false;
    AviFrameSource source(reader);
    return BuildPaletteFromFrames(source, refined, palette, Progress, error);
}

}  // namespace

bool BuildPaletteFromAllFrames(AviReader& reader, cPal8bpp& palette, ProgressSink* Progress, std::string* error) {
    return paletteOfVideo(reader, false, palette, Progress, error);
}

bool BuildRefinedPaletteFromAllFrames(AviReader& reader, cPal8bpp& palette, ProgressSink* Progress,
                                      std::string* error) {
    return paletteOfVideo(reader, true, palette, Progress, error);
}

}  // namespace tarnel
