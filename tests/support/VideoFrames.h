#pragma once
// Frame folders for the video tests and a measure of how closely a decoded
// frame matches its picture.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Picture.h"

namespace tarnel::test {

// Frame k of a smoothly moving picture: colour ramps in three directions and
// a soft bright disc that travels, different in every channel, so swapped or
// shifted channels, a wrong colour range and a wrong frame order all show.
StdPicture movingPicture(int w, int h, int k);

// Frames 0 .. count - 1 as "000.bmp", "001.bmp", ... in `folder`.
bool writeMovingFrames(const std::string& folder, int count, int w, int h);

// The names in `folder`, hidden ones included, sorted.
std::vector<std::string> listFolder(const std::string& folder);

// A decoded yuv420p frame (DecodeYuv420) as top-down BGR24 rows by the
// BT.709 video-range equations, each chroma sample covering its 2 x 2 pixels.
// The test's own conversion: FFmpeg's converter smears the last column of
// frames of odd width.
std::vector<uint8_t> Bt709ToBgr24(const std::vector<uint8_t>& yuv, int width, int height);

// PSNR in dB of the picture's w x h pixels against the top-left w x h of a
// decoded top-down BGR24 frame `decodedWidth` pixels wide; 99 when equal.
double Psnr(const std::vector<uint8_t>& bgr, int decodedWidth, const StdPicture& picture);

}  // namespace tarnel::test
