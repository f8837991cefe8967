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
