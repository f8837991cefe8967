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
    AviReader();
    ~AviReader();
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    // Opens the first video stream and its decoder. Only a regular file is
    // opened (a FIFO or device is refused before it is touched). A stream
    // whose frame size is beyond the surface limits, or beyond 2^26 pixels, is
    // refused before anything is allocated.
    bool Open(const std::string& path, std::string* error = nullptr);
    // The same over bytes in memory (a custom I/O context, no temporary file).
    // The bytes must outlive the reader.
    bool OpenMemory(const uint8_t* data, size_t size, std::string* error = nullptr);
    void Close();
    bool IsOpen() const;

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
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnel
