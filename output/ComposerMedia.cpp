#include "output/ComposerMedia.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "imaging/GcDIB.h"
#include "imaging/LoadBudget.h"
#include "imaging/cTile.h"
#include "imaging/gif/GifLimits.h"
#include "output/FrameFolderImport.h"
#include "output/mAVIImp.h"
#include "platform/media/AviReader.h"
#include "imaging/webp/WebPAnimWriter.h"

namespace tarnel {

namespace {

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool isFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace

bool ReadAnimationHeader(const std::string& path, AnimationHeader& header, std::string* error) {
    header = AnimationHeader{};
    try {
        if (isFolder(path)) {
            FolderFrameSource folder;
            if (!folder.Open(path, error, false)) return false;
            header = {folder.Width(), folder.Height(), folder.Count()};
            return true;
        }
        AviReader reader(kLoadFloorPixels);
        if (!reader.Open(path, error)) return false;
        header = {reader.Width(), reader.Height(), reader.Length()};
        return true;
    } catch (const std::exception&) {
        return fail(error, "out of memory");
    }
}

AnimationShape ComposerShape(int width, int32_t sourceWidth) {
    AnimationShape shape;
    if (width > 0 && width < sourceWidth) shape.size = FrameSizeRequest{width, 0};
    return shape;
}

void ComposerFrameSize(const AnimationHeader& header, int width, int32_t& outWidth, int32_t& outHeight) {
    int w = 0, h = 0;
    ResolveFrameSize(ComposerShape(width, header.width).size, header.width, header.height, w, h);
    outWidth = w;
    outHeight = h;
}

bool FitsAnimatedGif(const AnimationHeader& header, int width) {
    int32_t w = 0, h = 0;
    ComposerFrameSize(header, width, w, h);
    return header.frames <= kMaxGifFrames && int64_t(header.frames) * w * h <= kMaxGifPixels;
}

bool ImportForComposer(const std::string& path, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                       int width, std::string* error) {
    AnimationHeader header;
    // A width below the source's needs the source's; without headers the
    // import itself says why.
    if (width > 0 && !ReadAnimationHeader(path, header, error)) return false;
    const AnimationShape shape = ComposerShape(width, header.width);
    if (isFolder(path))
        return ImportFrameFolder(path, GIF, Progress, quality, kDefaultFolderFrameDelay, shape, error);
    return ImportAviFramesShaped(path, GIF, Progress, quality, shape, error);
}

int WebPFrameMilliseconds(int16_t delay) { return delay <= 0 ? 100 : 10 * int(delay); }

bool SaveAnimatedWebP(const cGif& GIF, const std::string& path, uint32_t background, std::string* error) {
    const int count = GIF.FramesCount();
    const int w = GIF.ScreenWidth(), h = GIF.ScreenHeight();
    if (count < 1 || w < 1 || h < 1) return fail(error, "the animation has no frames");
    try {
        // The frames compose as the composer's preview shows them: over the
        // background, each frame's disposal deciding what the next starts from.
        GcDIB screen, kept;
        cTile tiler;
        if (!screen.Create(w, h, 32) || !kept.Create(w, h, 24) || !tiler.SetPatternFromSolidColor(background))
            return fail(error, "out of memory for a " + std::to_string(w) + "x" + std::to_string(h) + " frame");
        tiler.Tile(kept.hDIBDC(), 0, 0, w, h, true);

        WebPAnimOptions options;
        options.width = w;
        options.height = h;
        WebPAnimWriter writer;
        if (!writer.Open(path, options)) return fail(error, writer.LastError());
        for (int k = 1; k <= count; ++k) {
            screen.LoadBlt(kept.hDIBDC(), 0, 0);
            GIF.FrameDraw(screen.hDIBDC(), k, 0, 0, 1.0f, false);
            switch (GIF.FrameDisposalMethod(k)) {
                case 0:
                case 1: kept.LoadBlt(screen.hDIBDC(), 0, 0); break;
                case 2: {
                    const GcDIB& image = GIF.FrameDIBXOR(k);
                    tiler.Tile(kept.hDIBDC(), GIF.FrameLeft(k), GIF.FrameTop(k), image.Width(), image.Height(),
                               false);
                    break;
                }
                default: break;  // 3: what the frame covered comes back
            }
            if (!writer.Write(*screen.bitmap(), WebPFrameMilliseconds(GIF.FrameDelay(k))))
                return fail(error, writer.LastError());
        }
        if (!writer.Commit()) return fail(error, writer.LastError());
        return true;
    } catch (const std::exception&) {
        return fail(error, "out of memory");
    }
}

}  // namespace tarnel
