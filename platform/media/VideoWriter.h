#pragma once
// Writing MP4 (H.264) and WebM (VP9) files through FFmpeg's encoders and
// muxers: open with the frame size and rate, write one picture per call,
// commit. Frames are 24- or 32-bpp BGR bitmaps, converted to yuv420p with
// BT.709 colours in the video range, the tags saying so. APNG goes the same
// way, lossless in RGB: FFmpeg's encoder stores each frame as the changed
// rectangle with the smallest of its dispose and blend choices.
//
// H.264 in 4:2:0 needs an even width and height: an odd size is padded to
// the next even one by repeating the last column and row, so no picture
// content is lost (the container then reports the padded size). VP9 takes
// odd sizes as they are.
//
// The file is written under a temporary name beside the target and renamed
// into place by Commit(), only when every frame was written; releasing an
// uncommitted writer removes the temporary file and leaves an existing file
// of the target's name untouched. FFmpeg never ends or logs over the
// process: every failure is a false result with LastError() saying why.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/gdi.h"

namespace tarnel {

enum class VideoContainer { Mp4, WebM, Apng };

// By the file name's extension, ".mp4", ".webm", ".apng" or ".png" in any
// case; nothing for any other name.
std::optional<VideoContainer> VideoContainerFor(const std::string& path);

// "MP4", "WebM" or "APNG", as messages name the format.
const char* VideoContainerName(VideoContainer container);

// The encoder each container is written with: "libx264", "libvpx-vp9" or "apng".
const char* VideoEncoderName(VideoContainer container);

// Constant-quality factors: 23 for H.264, 32 for VP9; lower is better.
// APNG is lossless and has none (0).
int DefaultVideoCrf(VideoContainer container);
int MaxVideoCrf(VideoContainer container);  // 51 for H.264, 63 for VP9, 0 for APNG

// The frame rates a file can be written with.
inline constexpr int kMinVideoFrameRate = 1;
inline constexpr int kMaxVideoFrameRate = 240;

struct VideoOptions {
    VideoContainer container = VideoContainer::Mp4;
    int width = 0, height = 0;  // of the frames that Write will be given
    int framesPerSecond = 20;
    int crf = -1;  // -1: DefaultVideoCrf
    int loops = 0;  // APNG: times played, 0 = forever; the videos have no loop count
    // Empty: VideoEncoderName(container). Another name is looked up instead
    // (an FFmpeg without the usual encoder can be imitated with a name it lacks).
    std::string encoder;
};

// Whether this FFmpeg has the encoder of the options; `why` says what is missing.
bool VideoEncoderAvailable(const VideoOptions& options, std::string* why = nullptr);

class VideoWriter {
public:
    VideoWriter();
    ~VideoWriter();  // Release()
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Starts the file `path` (an existing file is only replaced on Commit)
    // and the encoder.
    bool Open(const std::string& path, const VideoOptions& options);
    // One frame, shown for 1/framesPerSecond s: a 24- or 32-bpp bitmap of the
    // size given to Open.
    bool Write(const Bitmap& frame);
    // Flushes the encoder, finishes the file, syncs it and renames it into
    // place. At least one frame must have been written.
    bool Commit();
    // Ends the encoder; an uncommitted file is removed.
    void Release();

    // The size of the encoded pictures (the frame size, made even for H.264).
    int codedWidth() const;
    int codedHeight() const;
    int framesWritten() const;
    // Frames encoded and in the file so far. The encoder holds frames back
    // (H.264 looks ahead dozens), so this lags Write and catches up in Commit.
    int framesEncoded() const;
    // Called with framesEncoded() whenever it grows, from Write and Commit.
    void onEncoded(std::function<void(int)> callback);

    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnel
