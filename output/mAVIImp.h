#pragma once
// Imports every frame of the video stream of an AVI file into an animated GIF
// container, each frame reduced to 8 bpp by the dithering module in its
// current palette mode and method (the palette is built on frame 1 and kept).
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/Progress.h"
#include "imaging/gif/cGif.h"

namespace tarnel {

class AviReader;
class cPal8bpp;

struct AviImportOptions {
    // A palette made beforehand, with the dithering module's inverse table
    // already built from it when the palette mode is adaptive: every frame,
    // the first included, is reduced to it instead of a palette of frame 1.
    cPal8bpp* Palette = nullptr;
};

// True when every frame was imported. `GIF` is emptied by the caller. The
// progress maximum is the frame count and the value the frame being imported;
// at the end the value goes back to 0.
bool ImportAviFrames(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress, std::string* error = nullptr);
// The same from an open reader (memory input, fuzzing).
bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, std::string* error = nullptr);
bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, const AviImportOptions& Options,
                     std::string* error = nullptr);

// An imported frame's settings: a copy of the palette (but no local table of
// its own in the file: every frame uses the global palette), disposal
// "restore to previous" and the delay.
void SetImportedFrame(cGif& GIF, int32_t Frame, const cPal8bpp& Palette, int16_t Delay);
// The screen of an import: its size, square pixels and the global palette.
void SetImportedScreen(cGif& GIF, int32_t Width, int32_t Height, const cPal8bpp& Palette);

}  // namespace tarnel
