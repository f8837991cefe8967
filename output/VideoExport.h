#pragma once
// The images of a frame folder, in the file list's order, or the frames of
// a source (an AVI file's), as an MP4 (H.264), WebM (VP9), animated WebP or
// APNG file: the format by the output's extension. The export window and
// `tarnel-cli video` both run it.
#include <optional>
#include <string>
#include <vector>

#include "imaging/Progress.h"
#include "output/AnimationShape.h"
#include "output/FrameSource.h"
#include "platform/media/VideoWriter.h"
#include "imaging/webp/WebPAnimWriter.h"

namespace tarnel {

inline constexpr const char* kVideoWriteFailed = "動画ﾌｧｲﾙの作成は失敗しました!";
// Followed by the format and what this machine lacks for it.
inline constexpr const char* kVideoFormatUnavailable = "この形式で保存できません： ";

enum class AnimationFormat { Mp4, WebM, WebP, Apng };

// By the extension: ".mp4", ".webm", ".webp", ".apng" or ".png", any case.
std::optional<AnimationFormat> AnimationFormatFor(const std::string& path);
// "MP4", "WebM", "WebP", "APNG".
const char* AnimationFormatName(AnimationFormat format);

struct VideoExportRequest {
    std::vector<std::string> framePaths;  // full paths, in list order
    // Instead of the paths: every frame of this source, in its order.
    FrameSource* source = nullptr;
    std::string outputPath;               // ".mp4", ".webm", ".webp", ".apng" or ".png"
    // 0 x 0: the first image's size, and every image must have it; otherwise
    // every image is stretched to this size (nearest pixel, as the AVI export).
    int width = 0, height = 0;
    // Played back and forth and/or averaged to a size (instead of the stretch).
    AnimationShape shape;
    int framesPerSecond = 20;
    int crf = -1;         // -1: DefaultVideoCrf of the container (MP4, WebM)
    std::string encoder;  // empty: the container's usual encoder (see VideoOptions)
    int quality = -1;     // WebP lossy quality 0-100; -1: kDefaultWebPQuality
    bool lossless = false;  // WebP
    int loops = 0;        // WebP and APNG: times played, 0 = forever
};

enum class VideoExportResult {
    Written,          // every frame written, the file in place
    NoFrames,         // the list is empty
    Unsupported,      // not a name of the four formats, or FFmpeg lacks the encoder
    ImageLoadFailed,  // an image could not be read or decoded
    SizeMismatch,     // an image's size differs from the first one's (no size requested)
    WriteFailed,      // the file, the encoder or the options failed
};

// What a written file holds.
struct VideoExportSummary {
    int frames = 0;                       // frames given to the encoder (the play order's)
    int width = 0, height = 0;            // the frames' size
    int codedWidth = 0, codedHeight = 0;  // the pictures' size in the file (even for H.264)
};

// Writes the video. Progress counts frames written. Shows no message;
// `error` says what went wrong in one line, naming the file concerned.
// Whatever the result, no partial file is left at outputPath and an existing
// file there is replaced only on success.
VideoExportResult ExportVideo(const VideoExportRequest& request, ProgressSink* progress = nullptr,
                              std::string* error = nullptr, VideoExportSummary* summary = nullptr);

// The message the export window shows for a failed export; empty for Written.
std::string VideoExportMessage(const VideoExportRequest& request, VideoExportResult result);

}  // namespace tarnel
