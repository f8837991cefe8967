#pragma once
// Reading the video stream of an AVI file (any codec FFmpeg decodes), our
// stand-in for the platform's AVI stream and frame-decoder calls. FFmpeg never
// ends or logs over the process: failures are false results with a reason.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gdi.h"

namespace tarnel {

class AviReader {
public:
    // Frames of up to this many pixels may come from any data, as pictures
    // may (the picture loaders' floor: 16 MB at 4 bytes a pixel).
    static constexpr int64_t kDefaultPixelFloor = int64_t(1) << 22;

    explicit AviReader(int64_t pixelFloor = kDefaultPixelFloor);
    ~AviReader();
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    // Opens the first video stream and its decoder. Only a regular file is
    // opened (a FIFO or device is refused before it is touched). A stream
    // whose claimed frame size is not positive, beyond the surface limits or
    // 2^26 pixels, or more than the whole file could code, is refused before
    // any frame is decoded. Beyond the pixel floor a frame must be backed by
    // its coded bytes: 255 pixels for every 2 bytes of run-length data, 1024
    // for every byte of other codings (over the packet for JPEG frames, over
    // the stream so far for codings that build on earlier frames), and a raw
    // frame by all its bytes. GetFrame refuses a frame that is not, before
    // decoding it.
    bool Open(const std::string& path, std::string* error = nullptr);
    // The same over bytes in memory (a custom I/O context, no temporary file).
    // The bytes must outlive the reader.
    bool OpenMemory(const uint8_t* data, size_t size, std::string* error = nullptr);
    void Close();
    bool IsOpen() const;

    // Bytes of the file or memory being read.
    int64_t Bytes() const;

    int32_t Start() const;   // AVIStreamStart: always 0
    // AVIStreamLength: frames. The header's count when the container's index
    // backs it; otherwise what is counted in the file (never more than the
    // header claims). A frame that is listed but cannot be decoded still fails
    // in GetFrame.
    int32_t Length() const;
    // AVIStreamSampleToTime: milliseconds from the stream's start to sample n.
    int64_t SampleToTime(int32_t sample) const;
    // Frame rectangle of the stream information.
    int Width() const;
    int Height() const;
    // rate / scale.
    double FramesPerSecond() const;

    // AVIStreamGetFrame: decoded frame n (0-based) into `out` as a 32-bpp
    // top-down bitmap of Width() x Height(). False when there is no such frame.
    // Sequential reads are cheap; going back seeks.
    bool GetFrame(int32_t n, Bitmap& out, std::string* error = nullptr);

private:
    struct Impl;
    int64_t pixelFloor_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnel
