#pragma once
// What the animated GIF composer asks of its source and its container, free
// of any window: the source's frame size read from its headers, the width
// choices and the shape they give the import, whether the frames at a width
// fit an animated GIF, the import itself (an AVI file or a morph run's frame
// folder), and the container written as an animated WebP.
#include <array>
#include <cstdint>
#include <string>

#include "imaging/Progress.h"
#include "imaging/gif/cGif.h"
#include "output/AnimationShape.h"
#include "output/GifQuality.h"

namespace tarnel {

// The widths the composer offers; 0 is the source's own size.
inline constexpr std::array<int, 5> kComposerWidths{0, 960, 640, 480, 320};

// A source as its headers tell it, before any frame is read.
struct AnimationHeader {
    int32_t width = 0, height = 0, frames = 0;
};

// An AVI file's or a frame folder's (a directory) size and frame count;
// false with the reason when it cannot be opened.
bool ReadAnimationHeader(const std::string& path, AnimationHeader& header, std::string* error = nullptr);

// The shape that brings frames of sourceWidth to `width` with their
// proportions: empty for 0 and for a width not below the source's (the
// choices only make frames smaller).
AnimationShape ComposerShape(int width, int32_t sourceWidth);

// The frame size of the header's frames under ComposerShape(width).
void ComposerFrameSize(const AnimationHeader& header, int width, int32_t& outWidth, int32_t& outHeight);

// True when the header's frames at `width` stay within the frames and pixels
// an animated GIF container holds.
bool FitsAnimatedGif(const AnimationHeader& header, int width);

// The reason the composer shows when the frames at `width` are too many
// pixels for an animated GIF but a smaller width would do.
inline constexpr const char* kTooLargeForGif = "the frames are too large for an animated GIF at this size";

// Every frame of an AVI file, or of a frame folder (each shown for
// kDefaultFolderFrameDelay), at `width` into `GIF`; as ImportAviFramesShaped
// and ImportFrameFolder.
bool ImportForComposer(const std::string& path, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                       int width, std::string* error = nullptr);

// The animation as it plays over `background` (an OLE colour: where frames
// are transparent or leave the screen uncovered), frame by frame with its
// delay, written as an animated WebP at the writer's default quality that
// plays forever. False with the reason; an existing file is replaced only by
// a complete one.
bool SaveAnimatedWebP(const cGif& GIF, const std::string& path, uint32_t background, std::string* error = nullptr);

// A frame's delay (hundredths of a second) as the WebP frame's milliseconds:
// a GIF delay of 0 plays as 1/10 s in browsers, so it is written so.
int WebPFrameMilliseconds(int16_t delay);

}  // namespace tarnel
