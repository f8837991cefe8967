#pragma once
// The plain values of AVI writing that the export, the compression dialog and
// the writers share: stream header, codec choice, options. No FFmpeg here.
#include <cstdint>
#include <string>

#include "platform/gdi.h"

namespace tarnel {

// mmioStringToFOURCC: the first four characters, packed little-endian; a
// shorter text is padded with spaces.
uint32_t mmioStringToFOURCC(const char* text);

inline constexpr uint32_t OF_CREATE = 0x1000;
inline constexpr uint32_t AVIIF_KEYFRAME = 0x10;

// The stream header as the export fills it.
struct AVISTREAMINFO {
    uint32_t fccType = 0;
    uint32_t fccHandler = 0;
    uint32_t dwFlags = 0;
    uint32_t dwCaps = 0;
    uint16_t wPriority = 0;
    uint16_t wLanguage = 0;
    uint32_t dwScale = 0;
    uint32_t dwRate = 0;
    uint32_t dwStart = 0;
    uint32_t dwLength = 0;
    uint32_t dwInitialFrames = 0;
    uint32_t dwSuggestedBufferSize = 0;
    uint32_t dwQuality = 0;
    uint32_t dwSampleSize = 0;
    Rect rcFrame;
};

enum class AviCodec { Raw, MJpeg, FFV1, Mpeg4, H264 };

// What the compression-options dialog returns.
struct AviCompressOptions {
    AviCodec codec = AviCodec::Raw;
    int quality = 75;          // 1..100, where the codec takes a quality
    int keyFrameEvery = 1;     // a key frame every N frames (1: every frame)
    int dataRateKBps = 0;      // 0: no data rate target
};

// One compressor the dialog lists, in the dialog's order (raw first).
struct AviCodecInfo {
    AviCodec codec;
    std::string key;    // "raw", "mjpeg", "ffv1", "mpeg4", "h264" (command line)
    std::string label;  // as the dialog shows it
    bool takesQuality = false;
    bool takesKeyFrames = false;
    bool takesDataRate = false;
};

}  // namespace tarnel
