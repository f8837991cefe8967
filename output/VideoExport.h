#pragma once
// The images of a frame folder, in the file list's order, as an MP4 (H.264)
// or WebM (VP9) file: the container by the output's extension. The export
// window and `tarnel-cli video` both run it.
#include <string>
#include <vector>

#include "imaging/Progress.h"
#include "platform/media/VideoWriter.h"

namespace tarnel {

inline constexpr const char* kVideoWriteFailed = "動画ﾌｧｲﾙの作成は失敗しました!";
// Followed by the format and what this machine lacks for it.
inline constexpr const char* kVideoFormatUnavailable = "この形式で保存できません： ";

struct VideoExportRequest {
    std::vector<std::string> framePaths;  // full paths, in list order
    std::string outputPath;               // ".mp4" or ".webm"
    // 0 x 0: the first image's size, and every image must have it; otherwise
    // every image is stretched to this size (nearest pixel, as the AVI export).
    int width = 0, height = 0;
    int framesPerSecond = 20;
    int crf = -1;         // -1: DefaultVideoCrf of the container
    std::string encoder;  // empty: the container's usual encoder (see VideoOptions)
};

enum class VideoExportResult {
    Written,          // every frame written, the file in place
    NoFrames,         // the list is empty
    Unsupported,      // not a ".mp4" or ".webm" name, or FFmpeg lacks the encoder
    ImageLoadFailed,  // an image could not be read or decoded
    SizeMismatch,     // an image's size differs from the first one's (no size requested)
    WriteFailed,      // the file, the encoder or the options failed
};

// What a written file holds.
struct VideoExportSummary {
    int frames = 0;
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
