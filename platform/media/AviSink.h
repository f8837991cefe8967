#pragma once
// The two ways AviWriter puts a video stream into its file: our own RIFF
// writer for uncompressed DIB frames (FFmpeg's muxer stores those with other
// chunk names and row order), and FFmpeg's encoders and AVI muxer for the
// compressors. Both write to a file descriptor that AviWriter owns.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/AviTypes.h"

namespace tarnel {

// The frame format as AVIStreamSetFormat receives it: a BITMAPINFOHEADER and
// any colour table or masks after it.
struct AviFrameFormat {
    std::vector<uint8_t> block;
    int32_t width = 0;
    int32_t height = 0;  // positive: bottom-up rows
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    size_t imageSize = 0;  // bytes of one frame: padded rows times |height|

    // False with `error` for a block that is not a usable uncompressed DIB header.
    bool parse(const uint8_t* data, size_t size, std::string& error);
};

// The classic AVI 1.0 file stays below 1 GB so that every reader takes it.
inline constexpr uint64_t kMaxAviFileBytes = uint64_t(1) << 30;

class AviSink {
public:
    virtual ~AviSink() = default;
    // Starts the file at offset 0 of `fd` (an empty file).
    virtual bool begin(int fd, const AVISTREAMINFO& header, const AviFrameFormat& format, std::string& error) = 0;
    // One frame of format.imageSize bytes.
    virtual bool write(int32_t sample, const uint8_t* data, uint32_t flags, std::string& error) = 0;
    // Index, trailer and final headers; the data are then in the file (not yet synced).
    virtual bool finish(std::string& error) = 0;
};

std::unique_ptr<AviSink> MakeDibSink();
std::unique_ptr<AviSink> MakeEncoderSink(const AviCompressOptions& options);

// write(2)/pwrite(2) until everything is out; false with errno set otherwise.
bool WriteAll(int fd, const void* data, size_t size);
bool PWriteAll(int fd, const void* data, size_t size, uint64_t offset);

}  // namespace tarnel
