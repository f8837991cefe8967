#pragma once
// The ffprobe and ffmpeg programs as independent readers of the AVI, MP4 and
// WebM files we write. Tests skip when the programs are not installed.
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
    std::string pixelFormat; // pix_fmt, "yuv420p"
    double duration = 0;     // of the file (format duration), seconds
    std::string colorSpace;  // color_space, "bt709"
    std::string colorRange;  // color_range, "tv"
};

// The first video stream of `path`.
ProbedVideo ProbeVideo(const std::string& path);

// Every frame of the first video stream decoded to top-down BGR24 rows
// without padding (ffmpeg -f rawvideo -pix_fmt bgr24).
std::vector<std::vector<uint8_t>> DecodeBgr24(const std::string& path, int width, int height);

// Every frame of a yuv420p video stream as the decoder gives it: the Y plane
// (width x height), then U and V of ceil(width/2) x ceil(height/2), no padding.
std::vector<std::vector<uint8_t>> DecodeYuv420(const std::string& path, int width, int height);

}  // namespace tarnel::test
