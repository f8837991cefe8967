#pragma once
// Pillow (the system's /usr/bin/python3 with PIL) as a second decoder of the
// animations we write and as a reference resizer, FFmpeg's area scaler as
// another, libwebp's webpmux tool as a reader of WebP frame headers, and a
// luma SSIM of our own. Tests skip when Pillow is not installed.
#include <string>
#include <vector>

#include "platform/gdi.h"

namespace tarnel::test {

bool HavePillow();

struct PillowAnimation {
    bool ok = false;
    std::string error;
    int loop = -1;                // info["loop"]; -1 when the file has none
    std::vector<int> durations;   // milliseconds per frame
    std::vector<Bitmap> frames;   // each frame as a viewer shows it, 32 bpp
};

// Every frame of `path` composed by Pillow, passed through BMP files in `scratch`.
PillowAnimation DecodeWithPillow(const std::string& path, const std::string& scratch);

// `in` resized by Pillow's box filter (area averaging) to w x h, as 32 bpp;
// empty when Pillow failed.
Bitmap PillowBoxResize(const std::string& in, int w, int h, const std::string& scratch);

// `in` reduced by FFmpeg's area-averaging scaler, as 32 bpp; empty on failure.
Bitmap FFmpegAreaResize(const std::string& in, int w, int h, const std::string& scratch);

// What `webpmux -info` lists of an animated WebP.
struct WebPInfo {
    bool ok = false;
    int loop = -1;
    std::vector<int> durations;  // milliseconds, per stored frame
};
WebPInfo WebPMuxInfo(const std::string& path);

// RGB PSNR in dB of two bitmaps of one size; 99 when equal.
double RgbPsnr(const Bitmap& a, const Bitmap& b);

// Mean SSIM of the BT.601 luma of two bitmaps of one size: 11 x 11 Gaussian
// window (sigma 1.5), K1 0.01, K2 0.03, windows inside the picture only.
double LumaSsim(const Bitmap& a, const Bitmap& b);

}  // namespace tarnel::test
