#pragma once
// The ffprobe and ffmpeg programs as independent readers of the AVI files we
// write. Tests skip when the programs are not installed.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

bool HaveFFprobe();
bool HaveFFmpeg();

struct ProbedVideo {
    bool ok = false;
    std::string codec;  // codec_name
    int width = 0, height = 0;
    int frames = 0;          // frames decoded (count_frames)
    std::string frameRate;   // r_frame_rate, "20/1"
    std::string keyFrames;   // one letter per frame: K key, - other
};

// The first video stream of `path`.
ProbedVideo ProbeVideo(const std::string& path);

// Every frame of the first video stream decoded to top-down BGR24 rows
// without padding (ffmpeg -f rawvideo -pix_fmt bgr24).
std::vector<std::vector<uint8_t>> DecodeBgr24(const std::string& path, int width, int height);

}  // namespace tarnel::test
