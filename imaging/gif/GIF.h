#pragma once
// The single-frame GIF writer: one picture as a single-image GIF file, with a
// fixed 9-bit LZW code (a clear code at the start of every row, at most 253
// strings per table), as the morph run saves its GIF frames.
//
// Colours: a picture of 8 bits per pixel keeps its indices and its own
// 256-entry palette. Any other depth is mapped onto a 5 x 5 x 5 colour cube
// (levels 0, 64, 128, 192, 255; entry 25 b + 5 g + r, entries 125..255 black),
// each channel to its nearest level, ties to the lower one (the nearest cube
// entry by squared RGB distance, ties to the lowest index).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Picture.h"
#include "platform/gdi.h"

namespace tarnel {

class GIF {
public:
    // Writes `picture` to `sFileName`, replacing any file of that name. The
    // file is written to a temporary file in the same folder and renamed into
    // place, so a failed call leaves an existing file as it was.
    //  - hDC: a context showing the picture, or nullptr. When given (and the
    //    picture is not 8 bpp) the pixels are taken from the bitmap selected
    //    into it, clipped to the picture's size (pixels it lacks are index 0).
    //  - UseTrans: write a GIF89a file whose transparent index is the lowest
    //    palette entry equal to TransColor (red + 256 green + 65536 blue), or 0
    //    when no entry matches. Otherwise a plain GIF87a file.
    // Returns true when the file was written and false, writing nothing, when
    // this object is already inside SaveGIF. The morph run's call:
    //   GIF().SaveGIF(P[2].picture(), name + ".gif", P[2].hDC(),
    //                 settings.Transparency != 0, GetPixel(P[2].hDC(), 0, 0));
    // Throws RuntimeError when the picture cannot be read (481: no bitmap, or
    // an hDC without one for a picture that is not 8 bpp) or the file cannot
    // be written (path not found 76, permission denied 70, disk full 61, other
    // file errors 75).
    bool SaveGIF(const StdPicture& picture, const std::string& sFileName, HDC hDC, bool UseTrans,
                 uint32_t TransColor);
    bool SaveGIF(const Bitmap& picture, const std::string& sFileName, HDC hDC, bool UseTrans, uint32_t TransColor);

    // The bytes SaveGIF writes, without touching the file system. `source`
    // stands for the hDC's bitmap (nullptr: the picture itself); an 8-bpp
    // picture always gives its own indices. Throws RuntimeError 481 for an
    // empty picture.
    static std::vector<uint8_t> Encode(const Bitmap& picture, const Bitmap* source, bool UseTrans,
                                       uint32_t TransColor);
    // The same into `out`, whose storage serves frame after frame.
    static void Encode(const Bitmap& picture, const Bitmap* source, bool UseTrans, uint32_t TransColor,
                       std::vector<uint8_t>& out);

    // Cube entry of a colour: 25 b + 5 g + r of the nearest levels.
    static uint8_t CubeIndex(uint8_t red, uint8_t green, uint8_t blue);

private:
    std::atomic<bool> busy_{false};
};

}  // namespace tarnel
