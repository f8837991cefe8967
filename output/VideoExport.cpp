#include "output/VideoExport.h"

#include <future>
#include <new>
#include <optional>
#include <system_error>

#include "imaging/PictureIO.h"
#include "output/AviExport.h"
#include "output/FolderChooser.h"
#include "platform/gdi.h"

namespace tarnel {

namespace {

struct LoadedImage {
    StdPicture picture;
    std::string error;  // empty when it loaded
};

LoadedImage loadImage(const std::string& path) {
    LoadedImage image;
    try {
        if (PictureResult loaded = LoadPicture(path, image.picture); !loaded)
            image.error = loaded.reason;
        if (image.error.empty() && !image.picture.isBitmap()) image.error = "not a picture";
    } catch (const std::bad_alloc&) {
        image.error = "out of memory";
    }
    if (!image.error.empty() && image.error.find(path) == std::string::npos) image.error = path + ": " + image.error;
    return image;
}

// Decoding ahead on another thread; on this one when no thread can be started.
std::future<LoadedImage> startLoading(const std::string& path) {
    try {
        return std::async(std::launch::async, loadImage, path);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, loadImage, path);
    }
}

std::string sizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

// picSave of the AVI export: the whole image stretched onto a surface of the
// requested size, nearest pixel.
class Stretcher {
public:
    Stretcher(int width, int height) {
        ok_ = surface_.create(width, height, 32);
        dc_.select(&surface_);
        SetStretchBltMode(&dc_, COLORONCOLOR);
    }
    bool ok() const { return ok_; }
    const Bitmap& stretch(const StdPicture& picture) {
        DC source;
        source.select(picture.bitmap.get());
        StretchBlt(&dc_, 0, 0, surface_.width(), surface_.height(), &source, 0, 0, picture.width(), picture.height(),
                   SRCCOPY);
        return surface_;
    }

private:
    Bitmap surface_;
    DC dc_;
    bool ok_ = false;
};

}  // namespace

VideoExportResult ExportVideo(const VideoExportRequest& request, ProgressSink* progress, std::string* error,
                              VideoExportSummary* summary) {
    std::string problem;
    auto result = [&](VideoExportResult r) {
        if (error) *error = problem;
        return r;
    };
    const std::optional<VideoContainer> container = VideoContainerFor(request.outputPath);
    if (!container) {
        problem = request.outputPath + ": the name must end in .mp4 or .webm";
        return result(VideoExportResult::Unsupported);
    }
    VideoOptions options;
    options.container = *container;
    options.framesPerSecond = request.framesPerSecond;
    options.crf = request.crf;
    options.encoder = request.encoder;
    if (!VideoEncoderAvailable(options, &problem)) return result(VideoExportResult::Unsupported);
    if (request.framePaths.empty()) {
        problem = "no images to write";
        return result(VideoExportResult::NoFrames);
    }
    const bool stretched = request.width != 0 || request.height != 0;
    if (stretched && !Bitmap::sizeAllowed(request.width, request.height)) {
        problem = "the video size " + sizeText(request.width, request.height) + " is out of range";
        return result(VideoExportResult::WriteFailed);
    }

    // The next image is decoded while the encoder works on this one.
    const size_t count = request.framePaths.size();
    std::future<LoadedImage> next = startLoading(request.framePaths[0]);

    VideoWriter writer;
    std::optional<Stretcher> stretcher;
    // Progress counts frames in the file: the encoder's look-ahead is
    // finished in Commit, which then still has a good part of the work.
    if (progress) {
        progress->SetMax(int32_t(count));
        writer.onEncoded([progress](int encoded) { progress->SetValue(encoded); });
    }
    for (size_t i = 0; i < count; ++i) {
        LoadedImage image = next.get();
        if (i + 1 < count) next = startLoading(request.framePaths[i + 1]);
        if (!image.error.empty()) {
            problem = image.error;
            return result(VideoExportResult::ImageLoadFailed);
        }
        if (i == 0) {
            options.width = stretched ? request.width : image.picture.width();
            options.height = stretched ? request.height : image.picture.height();
            if (stretched) {
                stretcher.emplace(options.width, options.height);
                if (!stretcher->ok()) {
                    problem = "cannot make a frame of " + sizeText(options.width, options.height);
                    return result(VideoExportResult::WriteFailed);
                }
            }
            if (!writer.Open(request.outputPath, options)) {
                problem = writer.LastError();
                return result(VideoExportResult::WriteFailed);
            }
        }
        const Bitmap* frame = image.picture.bitmap.get();
        if (stretcher && (frame->width() != options.width || frame->height() != options.height))
            frame = &stretcher->stretch(image.picture);
        if (frame->width() != options.width || frame->height() != options.height) {
            problem = request.framePaths[i] + ": " + sizeText(frame->width(), frame->height()) +
                      " where the first image is " + sizeText(options.width, options.height);
            return result(VideoExportResult::SizeMismatch);
        }
        if (!writer.Write(*frame)) {
            problem = writer.LastError();
            return result(VideoExportResult::WriteFailed);
        }
    }
    if (!writer.Commit()) {
        problem = writer.LastError();
        return result(VideoExportResult::WriteFailed);
    }
    if (summary) *summary = {writer.framesWritten(), options.width, options.height, writer.codedWidth(),
                             writer.codedHeight()};
    problem.clear();
    return result(VideoExportResult::Written);
}

std::string VideoExportMessage(const VideoExportRequest& request, VideoExportResult result) {
    switch (result) {
        case VideoExportResult::Written: return "";
        case VideoExportResult::NoFrames: return kNoFramesMessage;
        case VideoExportResult::Unsupported: {
            const std::optional<VideoContainer> container = VideoContainerFor(request.outputPath);
            if (!container) return std::string(kVideoFormatUnavailable) + request.outputPath;
            const std::string encoder = request.encoder.empty() ? VideoEncoderName(*container) : request.encoder;
            return std::string(kVideoFormatUnavailable) + VideoContainerName(*container) + " (" + encoder +
                   " がありません)";
        }
        case VideoExportResult::ImageLoadFailed: return kAviImageLoadFailed;
        case VideoExportResult::SizeMismatch:
        case VideoExportResult::WriteFailed: return kVideoWriteFailed;
    }
    return kVideoWriteFailed;
}

}  // namespace tarnel
