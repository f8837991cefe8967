#include "output/FrameFolderImport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "core/FrameNaming.h"
#include "imaging/GcDIB.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "output/FrameSequence.h"
#include "output/mAVIImp.h"

namespace tarnel {

namespace {

namespace fs = std::filesystem;

// What a GIF container can hold and read back, as for an AVI import.
constexpr int32_t kMaxGifFrames = 32767;
constexpr int64_t kMaxGifPixels = int64_t(1) << 29;

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string nameOf(int index, int kind) { return FrameFileName(index, kind); }

// The first numbered frame of `kind` in the folder after `missing`, or -1.
int frameAfterGap(const std::string& folder, int kind, int missing) {
    const std::string extension = FrameExtension(kind);
    int found = -1;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path name = it->path().filename();
        const std::string stem = name.stem().string();
        if (name.extension().string() != extension || stem.empty() || stem.size() > 6 ||
            !std::all_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int index = std::stoi(stem);
        if (index > missing && (found < 0 || index < found) && nameOf(index, kind) == name.string()) found = index;
    }
    return found;
}

// Frame `index` into the 32-bpp work surface, which must keep its size.
bool readFrame(const std::string& folder, int index, int kind, int32_t width, int32_t height, Bitmap& frame,
               std::string* error) {
    StdPicture picture;
    const std::string name = nameOf(index, kind);
    if (!DecodeFrameFile(FramePath(folder, index, kind), picture) || !picture.isBitmap() ||
        picture.bitmap->bpp() != 32)
        return fail(error, "frame " + name + " is not a picture that can be read");
    if (picture.width() != width || picture.height() != height)
        return fail(error, "frame " + name + " is " + std::to_string(picture.width()) + "x" +
                               std::to_string(picture.height()) + ", frame " + nameOf(0, kind) + " " +
                               std::to_string(width) + "x" + std::to_string(height));
    std::swap(frame, *picture.bitmap);
    return true;
}

bool importFolder(const std::string& folder, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                  int16_t delay, std::string* error) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return fail(error, "no such folder");
    const int kind = FindFrameKind(folder);
    if (kind == kFrameKindNone) return fail(error, "no frame 000.bmp, 000.jpg or 000.gif in the folder");

    // The frames the viewer plays: up to the first one missing.
    int count = 0;
    while (count < kMaxGifFrames && isFile(FramePath(folder, count, kind))) ++count;
    if (count == kMaxGifFrames && isFile(FramePath(folder, count, kind)))
        return fail(error, "the folder has more frames than an animated GIF can hold");
    if (const int later = frameAfterGap(folder, kind, count); later >= 0)
        return fail(error, "frame " + nameOf(count, kind) + " is missing before frame " + nameOf(later, kind));

    StdPicture first;
    if (!DecodeFrameFile(FramePath(folder, 0, kind), first) || !first.isBitmap() || first.bitmap->bpp() != 32)
        return fail(error, "frame " + nameOf(0, kind) + " is not a picture that can be read");
    const int32_t W = first.width(), H = first.height();
    if (int64_t(W) * H * count > kMaxGifPixels)
        return fail(error, "the frames hold more pixels than an animated GIF can hold");
    GcDIB work;
    if (!work.Create(W, H, 32)) return fail(error, "the frame size is too large");

    ApplyGifQuality(quality);
    cPal8bpp palette;
    bool paletteGiven = false;
    const bool refined = quality.palette == GifPaletteChoice::AdaptiveHq;
    auto read = [&](int32_t index, Bitmap& frame, std::string* why) {
        return readFrame(folder, index, kind, W, H, frame, why);
    };
    if (quality.palette == GifPaletteChoice::AdaptiveAll || refined) {
        if (!BuildPaletteFromFrames(W, H, count, read, refined, palette, Progress, error)) return false;
        if (!refined) BuildInverseTable(palette);
        paletteGiven = true;
    }

    Dither8bpp& dither = DefaultDither();
    if (Progress) Progress->SetMax(count);
    for (int32_t i = 1; i <= count; ++i) {
        if (!GIF.FrameInsert(i, W, H)) return fail(error, "out of memory");
        if (!read(i - 1, *work.bitmap(), error)) return false;
        if (Progress) Progress->SetValue(i);
        dither.DitherTo8bpp(work, GIF.FrameDIBXOR(i), palette, paletteGiven || i > 1);
        SetImportedFrame(GIF, i, palette, delay);
    }
    SetImportedScreen(GIF, W, H, palette);
    if (Progress) Progress->SetValue(0);
    return true;
}

}  // namespace

bool ImportFrameFolder(const std::string& folder, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                       int16_t delay, std::string* error) {
    try {
        return importFolder(folder, GIF, Progress, quality, delay, error);
    } catch (const std::exception&) {
        return fail(error, "out of memory");
    }
}

}  // namespace tarnel
