#include "support/FFprobe.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/Cli.h"

namespace tarnel::test {

namespace {

bool onPath(const char* program) {
    std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

bool HaveFFprobe() { return onPath("ffprobe"); }
bool HaveFFmpeg() { return onPath("ffmpeg"); }

ProbedVideo ProbeVideo(const std::string& path) {
    ProbedVideo v;
    std::istringstream streams(CaptureOutput(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=codec_name,width,height,nb_read_frames,r_frame_rate,pix_fmt,color_space,color_range:format=duration "
        "-of default=noprint_wrappers=1 " +
        ShellQuote(path)));
    for (std::string line; std::getline(streams, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_name") v.codec = value;
        else if (key == "width") v.width = std::atoi(value.c_str());
        else if (key == "height") v.height = std::atoi(value.c_str());
        else if (key == "nb_read_frames") v.frames = std::atoi(value.c_str());
        else if (key == "r_frame_rate") v.frameRate = value;
        else if (key == "pix_fmt") v.pixelFormat = value;
        else if (key == "duration") v.duration = std::atof(value.c_str());
        else if (key == "color_space") v.colorSpace = value;
        else if (key == "color_range") v.colorRange = value;
    }
    std::istringstream packets(CaptureOutput("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 " +
                                       ShellQuote(path)));
    for (std::string line; std::getline(packets, line);)
        if (!line.empty()) v.keyFrames += line[0] == 'K' ? 'K' : '-';
    v.ok = !v.codec.empty();
    return v;
}

namespace {

std::vector<std::vector<uint8_t>> decodeRaw(const std::string& path, const char* format, size_t frameBytes) {
    const std::string raw = CaptureOutput("ffmpeg -v error -i " + ShellQuote(path) + " -f rawvideo -pix_fmt " + format + " -");
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= raw.size(); at += frameBytes)
        frames.emplace_back(raw.begin() + long(at), raw.begin() + long(at + frameBytes));
    return frames;
}

}  // namespace

std::vector<std::vector<uint8_t>> DecodeBgr24(const std::string& path, int width, int height) {
    return decodeRaw(path, "bgr24", size_t(width) * size_t(height) * 3);
}

std::vector<std::vector<uint8_t>> DecodeYuv420(const std::string& path, int width, int height) {
    const size_t chroma = size_t((width + 1) / 2) * size_t((height + 1) / 2);
    return decodeRaw(path, "yuv420p", size_t(width) * size_t(height) + 2 * chroma);
}

}  // namespace tarnel::test
