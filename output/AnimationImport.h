#pragma once
// Every frame of a source into an animated GIF container, each reduced to
// 8 bpp by the palette and dither of a quality choice. The AVI import and
// the frame-folder import both come through here, so one choice gives the
// same frames from either.
#include <cstdint>
#include <string>

#include "imaging/LoadBudget.h"
#include "imaging/Progress.h"
#include "imaging/gif/cGif.h"
#include "output/FrameSource.h"
#include "output/GifQuality.h"

namespace tarnel {

class cPal8bpp;

// True when every frame came in; `GIF` is emptied by the caller. The palette
// comes from the choice: the cube, frame 1's (kept for the later frames), or
// one of samples of every frame (refined for AdaptiveHq). Every frame gets
// `delay` (hundredths of a second), disposal "restore to previous" and the
// one global palette. The progress maximum is the frame count (after the
// all-frames sampling has counted its own) and the value the frame being
// imported; at the end the value goes back to 0. More frames or frame pixels
// than a GIF holds, or an import that needs more memory than `budget` has
// left (AnimationImportBytes, when a budget is given), is refused before the
// first frame, the container untouched. A frame that cannot be read stops the
// import with the frames so far (the last one empty) and the screen set, so
// the container can still be saved.
bool ImportAnimation(FrameSource& source, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                     int16_t delay, std::string* error = nullptr, LoadBudget* budget = nullptr);

// The same reduced to a palette made beforehand: every frame, the first
// included, uses `palette` in the choice's palette mode and dither method,
// and no palette is built.
bool ImportAnimationToPalette(FrameSource& source, cGif& GIF, ProgressSink* Progress, const GifQuality& quality,
                              cPal8bpp& palette, int16_t delay, std::string* error = nullptr,
                              LoadBudget* budget = nullptr);

// The memory of an import, all known before its first frame: every frame of
// the container at 8 bpp with its 1-bit mask, the 32-bpp work surface, the
// source's own (FrameSource::WorkingBytes) and, when the palette is built
// from all frames, its sampling (PaletteFromFramesBytes).
uint64_t AnimationImportBytes(const FrameSource& source, const GifQuality& quality, bool paletteGiven);

// An imported frame's settings: a copy of the palette (but no local table of
// its own in the file: every frame uses the global palette), disposal
// "restore to previous" and the delay.
void SetImportedFrame(cGif& GIF, int32_t Frame, const cPal8bpp& Palette, int16_t Delay);
// The screen of an import: its size, square pixels and the global palette.
void SetImportedScreen(cGif& GIF, int32_t Width, int32_t Height, const cPal8bpp& Palette);

}  // namespace tarnel
