#pragma once
// The frames of a morph run's folder into an animated GIF container, read as
// the viewer plays them (000, 001, ... of the kind of frame 000, up to the
// first missing one) and reduced to 8 bpp with the same palette and dither
// choices as an AVI import (AnimationImport.h).
#include <cstdint>
#include <string>

#include "imaging/Progress.h"
#include "imaging/gif/cGif.h"
#include "output/AnimationShape.h"
#include "output/FrameSource.h"
#include "output/GifQuality.h"

namespace tarnel {

// The frames the viewer plays from a folder, each of frame 000's size.
class FolderFrameSource : public FrameSource {
public:
    // False with a one-line reason when the folder is missing or holds no
    // frame 000, when numbered frames follow a missing one (the viewer would
    // stop there; the animation would lose them), when frame 000 does not
    // decode, or when the frames are more than a GIF holds (their pixels
    // only with `limitPixels`: a caller reducing them checks after that).
    bool Open(const std::string& folder, std::string* error = nullptr, bool limitPixels = true);

    int32_t Count() const override { return count_; }
    int32_t Width() const override { return width_; }
    int32_t Height() const override { return height_; }
    // False when the frame does not decode or has another size than frame 000.
    bool Frame(int32_t index, Bitmap& out, std::string* error) override;
    std::string TooManyFrames() const override;

private:
    std::string folder_;
    Bitmap first_;  // frame 000 as Open decoded it, until it is read
    int kind_ = -1;
    int32_t count_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

// The delay an AVI written at the export's default rate (20 frames a
// second) comes into the composer with, in hundredths of a second.
inline constexpr int16_t kDefaultFolderFrameDelay = 5;

// True when every frame came in; `GIF` is emptied by the caller. Every frame
// gets `delay` (hundredths of a second). False with a one-line reason when
// the folder is missing or holds no frame 000, when a frame does not decode
// or has another size than frame 000, or when numbered frames follow a
// missing one (the viewer would stop there; the animation would lose them).
// Progress counts the frames read.
bool ImportFrameFolder(const std::string& folder, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                       int16_t delay, std::string* error = nullptr);
// The same played back and forth and/or averaged to another size.
bool ImportFrameFolder(const std::string& folder, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                       int16_t delay, const AnimationShape& shape, std::string* error = nullptr);

}  // namespace tarnel
