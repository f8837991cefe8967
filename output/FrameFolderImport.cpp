#include "output/FrameFolderImport.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "core/FrameNaming.h"
#include "imaging/gif/GifLimits.h"
#include "output/AnimationImport.h"
#include "output/FrameSequence.h"

namespace tarnel {

namespace {

namespace fs = std::filesystem;

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

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
        if (index > missing && (found < 0 || index < found) && FrameFileName(index, kind) == name.string()) found = index;
    }
    return found;
}

// Frame `index` into the 32-bpp work surface, which must keep its size.
bool readFrame(const std::string& folder, int index, int kind, int32_t width, int32_t height, Bitmap& frame,
               std::string* error) {
    StdPicture picture;
    const std::string name = FrameFileName(index, kind);
    if (!DecodeFrameFile(FramePath(folder, index, kind), picture) || !picture.isBitmap() ||
        picture.bitmap->bpp() != 32)
        return fail(error, "frame " + name + " is not a picture that can be read");
    if (picture.width() != width || picture.height() != height)
        return fail(error, "frame " + name + " is " + std::to_string(picture.width()) + "x" +
                               std::to_string(picture.height()) + ", frame " + FrameFileName(0, kind) + " " +
                               std::to_string(width) + "x" + std::to_string(height));
    std::swap(frame, *picture.bitmap);
    return true;
}

}  // namespace

bool FolderFrameSource::Open(const std::string& folder, std::string* error, bool limitPixels) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return fail(error, "no such folder");
    const int kind = FindFrameKind(folder);
    if (kind == kFrameKindNone) return fail(error, "no frame 000.bmp, 000.jpg, 000.gif or 000.png in the folder");

    // The frames the viewer plays: up to the first one missing.
    int count = 0;
    while (count < kMaxGifFrames && isFile(FramePath(folder, count, kind))) ++count;
    if (count == kMaxGifFrames && isFile(FramePath(folder, count, kind))) return fail(error, TooManyFrames());
    if (const int later = frameAfterGap(folder, kind, count); later >= 0)
        return fail(error, "frame " + FrameFileName(count, kind) + " is missing before frame " + FrameFileName(later, kind));

    StdPicture first;
    if (!DecodeFrameFile(FramePath(folder, 0, kind), first) || !first.isBitmap() || first.bitmap->bpp() != 32)
        return fail(error, "frame " + FrameFileName(0, kind) + " is not a picture that can be read");
    const int32_t W = first.width(), H = first.height();
    if (limitPixels && int64_t(W) * H * count > kMaxGifPixels)
        return fail(error, "the frames hold more pixels than an animated GIF can hold");
    folder_ = folder;
    // Frame 000 is decoded once: the import's first read takes it from here.
    first_ = std::move(*first.bitmap);
    kind_ = kind;
    count_ = count;
    width_ = W;
    height_ = H;
    return true;
}

bool FolderFrameSource::Frame(int32_t index, Bitmap& out, std::string* error) {
    if (index == 0 && !first_.empty()) {
        std::swap(out, first_);
        first_ = Bitmap();
        return true;
    }
    return readFrame(folder_, index, kind_, width_, height_, out, error);
}

std::string FolderFrameSource::TooManyFrames() const {
    return "the folder has more frames than an animated GIF can hold";
}

bool ImportFrameFolder(const std::string& folder, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                       int16_t delay, std::string* error) {
    try {
        FolderFrameSource source;
        return source.Open(folder, error) && ImportAnimation(source, GIF, Progress, quality, delay, error);
    } catch (const std::exception&) {
        return fail(error, "out of memory");
    }
}

bool ImportFrameFolder(const std::string& folder, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                       int16_t delay, const AnimationShape& shape, std::string* error) {
    if (shape.identity()) return ImportFrameFolder(folder, GIF, Progress, quality, delay, error);
    try {
        FolderFrameSource source;
        ShapedFrameSource shaped;
        return source.Open(folder, error, false) && shaped.Open(source, shape, error) &&
               ImportAnimation(shaped, GIF, Progress, quality, delay, error);
    } catch (const std::exception&) {
        return fail(error, "out of memory");
    }
}

}  // namespace tarnel
