#pragma once
// AVI files made by the ffmpeg tool, and its own decoding of them: files from
// another encoder and a reading that is not ours. Tests skip without the tool.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

// Whether the ffmpeg tool runs, and whether it has an encoder of that name.
bool haveFfmpeg();
bool haveEncoder(const std::string& name);

// Runs `ffmpeg -v error -y ARGS` in the shell (ARGS quoted by the caller); true on exit 0.
bool runFfmpeg(const std::string& args);

// The known pixels of frame k of the test videos, B, G, R per pixel, rows from the top.
std::vector<uint8_t> testFrameBgr(int width, int height, int k);

struct AviRecipe {
    int width = 24, height = 16;
    int frames = 10;
    std::string rate = "10";     // frames per second as ffmpeg takes it: "10", "15", "30000/1001"
    std::string codecArgs;       // e.g. "-c:v rawvideo -pix_fmt bgr24"
};

// Writes the test frames as an AVI with the recipe's codec; true on success.
bool makeAvi(const std::string& path, const AviRecipe& recipe);

// ffmpeg's own decoding of every frame to B, G, R, rows from the top.
std::vector<std::vector<uint8_t>> decodeWithFfmpeg(const std::string& path, int width, int height);

// Index in the 6 x 6 x 6 cube (red fastest) of the cube colour nearest to a pixel.
int nearestCubeIndex(int r, int g, int b);

}  // namespace tarnel::test

namespace tarnel::test {

// An AVI written byte by byte: one video stream whose headers claim any size
// and frame count, whatever its packets hold. For inputs no encoder would make.
struct HandMadeAvi {
    int32_t width = 16, height = 16;  // the stream's frame size as stored (any sign)
    uint16_t bitCount = 8;
    uint32_t compression = 1;         // biCompression: 0 raw, 1 RLE8, or a FourCC such as "MJPG"
    uint32_t claimedFrames = 0;       // the headers' frame count; 0: the packets'
    std::vector<std::vector<uint8_t>> packets;  // one a frame, all indexed as key frames
    uint32_t junkBytes = 0;           // a JUNK chunk of that many zeros before the movie
};
std::vector<uint8_t> handMadeAvi(const HandMadeAvi& layout);
uint32_t fourCC(const char (&code)[5]);

// RLE8 data of a width x height frame of one colour in runs of 255 (or less),
// ending each row and the frame.
std::vector<uint8_t> rle8Fill(int width, int height, uint8_t colour);
// RLE8 data that only ends the frame: two bytes for any size.
std::vector<uint8_t> rle8Empty();

}  // namespace tarnel::test
