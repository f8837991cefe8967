#include "support/AviFiles.h"

#include "support/Cli.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/Files.h"
#include "support/TempDir.h"

namespace tarnel::test {

bool haveFfmpeg() {
    static const bool present = std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") == 0;
    return present;
}

bool haveEncoder(const std::string& name) {
    if (!haveFfmpeg()) return false;
    std::string command = "ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " + ShellQuote(name);
    return std::system(command.c_str()) == 0;
}

bool runFfmpeg(const std::string& args) {
    std::string command = "ffmpeg -nostdin -hide_banner -v error -y " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::vector<uint8_t> testFrameBgr(int width, int height, int k) {
    // Soft gradients that move with the frame, so lossy codecs keep them
    // close and every frame differs from the one before.
    std::vector<uint8_t> bgr(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[2] = uint8_t((x * 255) / std::max(1, width - 1));             // red across
            p[1] = uint8_t((y * 255) / std::max(1, height - 1));            // green down
            p[0] = uint8_t((k * 37 + (x + y) * 4) % 256);                   // blue moves
        }
    return bgr;
}

bool makeAvi(const std::string& path, const AviRecipe& r) {
    TempDir dir;
    std::vector<uint8_t> raw;
    for (int k = 0; k < r.frames; ++k) {
        std::vector<uint8_t> frame = testFrameBgr(r.width, r.height, k);
        raw.insert(raw.end(), frame.begin(), frame.end());
    }
    std::string input = dir.file("frames.bgr");
    writeFile(input, raw);
    return runFfmpeg("-f rawvideo -pix_fmt bgr24 -s " + std::to_string(r.width) + "x" + std::to_string(r.height) +
                     " -r " + r.rate + " -i " + ShellQuote(input) + " " + r.codecArgs + " -f avi " + ShellQuote(path));
}

std::vector<std::vector<uint8_t>> decodeWithFfmpeg(const std::string& path, int width, int height) {
    TempDir dir;
    std::string out = dir.file("decoded.bgr");
    std::vector<std::vector<uint8_t>> frames;
    if (!runFfmpeg("-i " + ShellQuote(path) + " -f rawvideo -pix_fmt bgr24 " + ShellQuote(out))) return frames;
    std::vector<uint8_t> all = readFile(out);
    const size_t frameBytes = size_t(width) * size_t(height) * 3;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= all.size(); at += frameBytes)
        frames.emplace_back(all.begin() + long(at), all.begin() + long(at + frameBytes));
    return frames;
}

int nearestCubeIndex(int r, int g, int b) {
    auto level = [](int v) {
        int best = 0;
        for (int l = 1; l < 6; ++l)
            if (std::abs(v - 51 * l) < std::abs(v - 51 * best)) best = l;
        return best;
    };
    return level(r) + 6 * level(g) + 36 * level(b);
}

}  // namespace tarnel::test
