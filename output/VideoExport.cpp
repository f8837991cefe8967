#include "output/VideoExport.h"

#include <algorithm>
#include <cctype>
#include <future>
#include <new>
#include <optional>
#include <system_error>

#include "core/AreaResize.h"
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
    Bitmap& stretch(Bitmap& picture) {
        DC source;
        source.select(&picture);
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

std::optional<AnimationFormat> AnimationFormatFor(const std::string& path) {
    if (const std::optional<VideoContainer> c = VideoContainerFor(path)) {
        switch (*c) {
            case VideoContainer::Mp4: return AnimationFormat::Mp4;
            case VideoContainer::WebM: return AnimationFormat::WebM;
            case VideoContainer::Apng: return AnimationFormat::Apng;
        }
    }
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
    std::string ext = path.substr(dot);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".webp") return AnimationFormat::WebP;
    return std::nullopt;
}

const char* AnimationFormatName(AnimationFormat format) {
    switch (format) {
        case AnimationFormat::Mp4: return "MP4";
        case AnimationFormat::WebM: return "WebM";
        case AnimationFormat::WebP: return "WebP";
        case AnimationFormat::Apng: return "APNG";
    }
    return "";
}

namespace {

// The one writer an export uses, whichever format.
class AnimationSink {
public:
    AnimationSink(AnimationFormat format, const VideoExportRequest& request) : format_(format), request_(request) {}
    bool ffmpeg() const { return format_ != AnimationFormat::WebP; }
    VideoOptions videoOptions() const {
        VideoOptions options;
        options.container = format_ == AnimationFormat::Mp4    ? VideoContainer::Mp4
                            : format_ == AnimationFormat::WebM ? VideoContainer::WebM
                                                               : VideoContainer::Apng;
        options.framesPerSecond = request_.framesPerSecond;
        options.crf = request_.crf;
        options.encoder = request_.encoder;
        options.loops = request_.loops;
        return options;
    }
    void onEncoded(ProgressSink* progress) {
        progress_ = progress;
        if (progress && ffmpeg()) video_.onEncoded([progress](int encoded) { progress->SetValue(encoded); });
    }
    bool open(int width, int height) {
        if (ffmpeg()) {
            VideoOptions options = videoOptions();
            options.width = width;
            options.height = height;
            return video_.Open(request_.outputPath, options);
        }
        WebPAnimOptions options;
        options.width = width;
        options.height = height;
        options.lossless = request_.lossless;
        if (request_.lossless) {
            // The effort of the lossless search: the encoder's own default.
            options.quality = 75;
        } else if (request_.quality >= 0) {
            options.quality = request_.quality;
        }
        options.loops = request_.loops;
        return webp_.Open(request_.outputPath, options);
    }
    bool write(const Bitmap& frame) {
        if (ffmpeg()) return video_.Write(frame);
        // Whole milliseconds that add up to the rate over the animation.
        const int fps = std::max(1, request_.framesPerSecond);
        const int64_t from = (int64_t(written_) * 1000 + fps / 2) / fps;
        const int64_t to = (int64_t(written_ + 1) * 1000 + fps / 2) / fps;
        if (!webp_.Write(frame, int(to - from))) return false;
        ++written_;
        if (progress_) progress_->SetValue(written_);
        return true;
    }
    bool commit() { return ffmpeg() ? video_.Commit() : webp_.Commit(); }
    const std::string& error() const { return ffmpeg() ? video_.LastError() : webp_.LastError(); }
    int frames() const { return ffmpeg() ? video_.framesWritten() : webp_.framesWritten(); }
    int codedWidth(int width) const { return ffmpeg() ? video_.codedWidth() : width; }
    int codedHeight(int height) const { return ffmpeg() ? video_.codedHeight() : height; }

private:
    AnimationFormat format_;
    const VideoExportRequest& request_;
    VideoWriter video_;
    WebPAnimWriter webp_;
    ProgressSink* progress_ = nullptr;
    int written_ = 0;
};

}  // namespace

VideoExportResult ExportVideo(const VideoExportRequest& request, ProgressSink* progress, std::string* error,
                              VideoExportSummary* summary) {
    std::string problem;
    auto result = [&](VideoExportResult r) {
        if (error) *error = problem;
        return r;
    };
    const std::optional<AnimationFormat> format = AnimationFormatFor(request.outputPath);
    if (!format) {
        problem = request.outputPath + ": the name must end in .webp, .apng, .png, .mp4 or .webm";
        return result(VideoExportResult::Unsupported);
    }
    AnimationSink sink(*format, request);
    if (sink.ffmpeg() && !VideoEncoderAvailable(sink.videoOptions(), &problem))
        return result(VideoExportResult::Unsupported);
    const int32_t sourceCount = request.source ? request.source->Count() : int32_t(request.framePaths.size());
    if (sourceCount <= 0) {
        problem = "no images to write";
        return result(VideoExportResult::NoFrames);
    }
    const bool stretched = request.width != 0 || request.height != 0;
    if (stretched && !Bitmap::sizeAllowed(request.width, request.height)) {
        problem = "the video size " + sizeText(request.width, request.height) + " is out of range";
        return result(VideoExportResult::WriteFailed);
    }
    const std::vector<int32_t> order = PlayOrder(sourceCount, request.shape.pingpong);
    const size_t count = order.size();

    // Images from paths: the next one is decoded while the encoder works on
    // this one. A source's forward frames come from its own stream.
    std::future<LoadedImage> next;
    if (!request.source) next = startLoading(request.framePaths[size_t(order[0])]);
    std::unique_ptr<FrameStream> stream;
    if (request.source && !request.shape.pingpong) stream = request.source->InOrder();

    int width = 0, height = 0;
    std::optional<Stretcher> stretcher;
    AreaResizer resizer;
    bool averaged = false;
    int sourceWidth = 0, sourceHeight = 0;
    Bitmap fromSource, resized;
    // Progress counts frames in the file: the encoder's look-ahead is
    // finished in Commit, which then still has a good part of the work.
    if (progress) progress->SetMax(int32_t(count));
    sink.onEncoded(progress);
    for (size_t i = 0; i < count; ++i) {
        const std::string name = request.source ? "frame " + std::to_string(order[i])
                                                : request.framePaths[size_t(order[i])];
        StdPicture held;
        Bitmap* frame = nullptr;
        if (request.source) {
            std::string why;
            const bool read = stream ? stream->Next(fromSource, &why) : request.source->Frame(order[i], fromSource, &why);
            if (!read) {
                problem = name + ": " + (why.empty() ? "cannot be read" : why);
                return result(VideoExportResult::ImageLoadFailed);
            }
            frame = &fromSource;
        } else {
            LoadedImage image = next.get();
            if (i + 1 < count) next = startLoading(request.framePaths[size_t(order[i + 1])]);
            if (!image.error.empty()) {
                problem = image.error;
                return result(VideoExportResult::ImageLoadFailed);
            }
            held = std::move(image.picture);
            frame = held.bitmap.get();
        }
        if (i == 0) {
            sourceWidth = frame->width();
            sourceHeight = frame->height();
            if (stretched) {
                width = request.width;
                height = request.height;
                stretcher.emplace(width, height);
                if (!stretcher->ok()) {
                    problem = "cannot make a frame of " + sizeText(width, height);
                    return result(VideoExportResult::WriteFailed);
                }
            } else {
                ResolveFrameSize(request.shape.size, sourceWidth, sourceHeight, width, height);
                averaged = width != sourceWidth || height != sourceHeight;
                if (averaged && !resizer.Prepare(sourceWidth, sourceHeight, width, height)) {
                    problem = "cannot make frames of " + sizeText(width, height);
                    return result(VideoExportResult::WriteFailed);
                }
            }
            if (!sink.open(width, height)) {
                problem = sink.error();
                return result(VideoExportResult::WriteFailed);
            }
        }
        if (stretcher && (frame->width() != width || frame->height() != height)) {
            frame = &stretcher->stretch(*frame);
        } else if (!request.shape.size.empty() && (frame->width() != width || frame->height() != height)) {
            // A requested size takes every image to it, as the stretch does;
            // the weights made for the first image serve all of its size.
            const bool same = averaged && frame->width() == sourceWidth && frame->height() == sourceHeight;
            if (same ? !resizer.Resize(*frame, resized) : !AreaResize(*frame, width, height, resized)) {
                problem = "cannot resize " + name + " (out of memory?)";
                return result(VideoExportResult::WriteFailed);
            }
            frame = &resized;
        }
        if (frame->width() != width || frame->height() != height) {
            problem = name + ": " + sizeText(frame->width(), frame->height()) + " where the first image is " +
                      sizeText(width, height);
            return result(VideoExportResult::SizeMismatch);
        }
        if (!sink.write(*frame)) {
            problem = sink.error();
            return result(VideoExportResult::WriteFailed);
        }
    }
    if (!sink.commit()) {
        problem = sink.error();
        return result(VideoExportResult::WriteFailed);
    }
    if (summary) *summary = {sink.frames(), width, height, sink.codedWidth(width), sink.codedHeight(height)};
    problem.clear();
    return result(VideoExportResult::Written);
}

std::string VideoExportMessage(const VideoExportRequest& request, VideoExportResult result) {
    switch (result) {
        case VideoExportResult::Written: return "";
        case VideoExportResult::NoFrames: return kNoFramesMessage;
        case VideoExportResult::Unsupported: {
            const std::optional<VideoContainer> container = VideoContainerFor(request.outputPath);
            if (!container) {
                if (AnimationFormatFor(request.outputPath) == AnimationFormat::WebP)
                    return std::string(kVideoFormatUnavailable) + "WebP";
                return std::string(kVideoFormatUnavailable) + request.outputPath;
            }
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
