#pragma once
// Where an animation import takes its frames from: a size, a frame count and
// frame k as a 32-bpp top-down bitmap. The AVI reader (mAVIImp.h) and a morph
// run's frame folder (FrameFolderImport.h) are the two sources.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gdi.h"

namespace tarnel {

// Frames 0, 1, 2, ... of a source, each once.
class FrameStream {
public:
    virtual ~FrameStream() = default;
    // The next frame, swapped into `out`; false with `error` set once one cannot be read.
    virtual bool Next(Bitmap& out, std::string* error) = 0;
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int32_t Count() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    // Frame `index` (0-based) as a 32-bpp top-down bitmap of Width() x
    // Height(), in any order (the all-frames palette samples); false with
    // `error` set when it cannot be read.
    virtual bool Frame(int32_t index, Bitmap& out, std::string* error) = 0;
    // Every frame in order, for the import itself. By default through
    // Frame(); a source may decode ahead meanwhile. The source is not used
    // otherwise while the stream lives.
    virtual std::unique_ptr<FrameStream> InOrder();
    // Why an import stops at kMaxGifFrames frames or kMaxGifPixels pixels.
    virtual std::string TooManyFrames() const = 0;
    // Memory the source holds of its own while its frames are read (decoder
    // surfaces, frames decoded ahead).
    virtual uint64_t WorkingBytes() const { return 0; }
};

}  // namespace tarnel
