#pragma once
// Imports every frame of the video stream of an AVI file into an animated GIF
// container (AnimationImport.h), each frame shown for the stream's frame time.
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/Progress.h"
#include "imaging/gif/cGif.h"
#include "output/AnimationShape.h"
#include "output/FrameSource.h"
#include "output/GifQuality.h"

namespace tarnel {

class AviReader;
class LoadBudget;
class cPal8bpp;

// The frames of an open reader. In order, they are decoded on a second
// thread one frame ahead of the caller, so that decoding overlaps the
// reduction of the frame before.
class AviFrameSource : public FrameSource {
public:
    explicit AviFrameSource(AviReader& reader) : reader_(reader) {}
    int32_t Count() const override;
    int32_t Width() const override;
    int32_t Height() const override;
    bool Frame(int32_t index, Bitmap& out, std::string* error) override;
    std::unique_ptr<FrameStream> InOrder() override;
    std::string TooManyFrames() const override;
    uint64_t WorkingBytes() const override;

private:
    AviReader& reader_;
};

struct AviImportOptions {
    GifQuality Quality;
    // A palette made beforehand: every frame, the first included, is reduced
    // to it instead of a palette of the choice.
    cPal8bpp* Palette = nullptr;
    // The budget the import reserves its memory from (AnimationImportBytes);
    // without one, a budget for the size of the reader's input.
    LoadBudget* Budget = nullptr;
    // Played back and forth and/or averaged to another size.
    AnimationShape Shape;
};

// True when every frame was imported. `GIF` is emptied by the caller. The
// progress maximum is the frame count and the value the frame being imported;
// at the end the value goes back to 0. Without a quality: the 216-colour cube
// by nearest colour.
bool ImportAviFrames(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress, std::string* error = nullptr);
bool ImportAviFramesWithQuality(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress,
                                const GifQuality& quality, std::string* error = nullptr);
bool ImportAviFramesShaped(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress,
                           const GifQuality& quality, const AnimationShape& shape, std::string* error = nullptr);
// The same from an open reader (memory input, fuzzing).
bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, std::string* error = nullptr);
bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, const AviImportOptions& Options,
                     std::string* error = nullptr);

}  // namespace tarnel
