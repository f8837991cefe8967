// Every frame of an AVI video into an animated GIF container, through the
// one animation import.
#include "output/mAVIImp.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "imaging/LoadBudget.h"
#include "output/AnimationImport.h"
#include "platform/media/AviReader.h"

namespace tarnel {

// The reader lets frames up to the picture loaders' floor come from any data.
static_assert(AviReader::kDefaultPixelFloor == kLoadFloorPixels);

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// Hundredths of a second, held to what the frame record stores.
int16_t delayOf(double frameTimeMs) {
    double delay = std::nearbyint(frameTimeMs / 10.0);
    return int16_t(std::clamp(delay, 0.0, 32767.0));
}

// Decodes the frames in order on a second thread, one frame ahead of the
// caller, so that decoding overlaps the reduction of the frame before. Only
// the worker touches the reader while it runs.
class FramePrefetch : public FrameStream {
public:
    FramePrefetch(AviReader& reader, int32_t count) : reader_(reader), count_(count) {
        worker_ = std::thread([this] { run(); });
    }
    ~FramePrefetch() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    FramePrefetch(const FramePrefetch&) = delete;
    FramePrefetch& operator=(const FramePrefetch&) = delete;

    // The next frame, swapped into `out`; false once a frame is missing.
    bool Next(Bitmap& out, std::string* error) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return ready_; });
        if (!ok_) {
            setError(error, error_);
            return false;
        }
        std::swap(out, slot_);
        ready_ = false;
        lock.unlock();
        changed_.notify_all();
        return true;
    }

private:
    void run() {
        Bitmap frame;
        for (int32_t k = 0; k < count_; ++k) {
            std::string why;
            bool ok = false;
            try {
                ok = reader_.GetFrame(k, frame, &why);
            } catch (const std::exception&) {
                why = "out of memory";
            }
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !ready_ || stop_; });
            if (stop_) return;
            std::swap(frame, slot_);
            ok_ = ok;
            error_ = why;
            ready_ = true;
            lock.unlock();
            changed_.notify_all();
            if (!ok) return;
        }
    }

    AviReader& reader_;
    const int32_t count_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Bitmap slot_;
    bool ready_ = false;  // slot_ holds a frame (or the failure) not yet taken
    bool ok_ = true;
    bool stop_ = false;
    std::string error_;
    std::thread worker_;  // last: starts once everything above exists
};

}  // namespace

int32_t AviFrameSource::Count() const { return reader_.Length(); }
int32_t AviFrameSource::Width() const { return reader_.Width(); }
int32_t AviFrameSource::Height() const { return reader_.Height(); }

bool AviFrameSource::Frame(int32_t index, Bitmap& out, std::string* error) {
    return reader_.GetFrame(index, out, error);
}

std::unique_ptr<FrameStream> AviFrameSource::InOrder() {
    return std::make_unique<FramePrefetch>(reader_, reader_.Length());
}

// The decoder's frame and the one it may keep, the converter's 32-bpp copy,
// and the two frames of the decoding ahead.
uint64_t AviFrameSource::WorkingBytes() const { return 5 * SurfaceBytes(Width(), Height(), 32); }

std::string AviFrameSource::TooManyFrames() const {
    return "the video has more frames than an animated GIF can hold";
}

bool ImportAviFrames(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress, std::string* error) {
    return ImportAviFramesWithQuality(SourcePath, GIF, Progress, GifQuality{}, error);
}

bool ImportAviFramesWithQuality(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress,
                                const GifQuality& quality, std::string* error) {
    return ImportAviFramesShaped(SourcePath, GIF, Progress, quality, AnimationShape{}, error);
}

bool ImportAviFramesShaped(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress,
                           const GifQuality& quality, const AnimationShape& shape, std::string* error) {
    AviReader reader(kLoadFloorPixels);
    if (!reader.Open(SourcePath, error)) return false;
    AviImportOptions options;
    options.Quality = quality;
    options.Shape = shape;
    return ImportAviFrames(reader, GIF, Progress, options, error);
}

bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, std::string* error) {
    return ImportAviFrames(reader, GIF, Progress, AviImportOptions{}, error);
}

bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, const AviImportOptions& Options,
                     std::string* error) {
    if (!reader.IsOpen()) return setError(error, "no video is open"), false;
    const int32_t n = reader.Length();
    if (n <= 0) return setError(error, "the video has no frames"), false;
    const int64_t duration = reader.SampleToTime(reader.Start() + n);
    const int16_t delay = delayOf(std::nearbyint(double(duration) / double(n)));
    AviFrameSource avi(reader);
    ShapedFrameSource shaped;
    if (!Options.Shape.identity() && !shaped.Open(avi, Options.Shape, error)) return false;
    FrameSource& source = Options.Shape.identity() ? static_cast<FrameSource&>(avi) : shaped;
    LoadBudget ownBudget = LoadBudget::ForInput(size_t(std::max<int64_t>(reader.Bytes(), 0)));
    LoadBudget* budget = Options.Budget ? Options.Budget : &ownBudget;
    if (Options.Palette)
        return ImportAnimationToPalette(source, GIF, Progress, Options.Quality, *Options.Palette, delay, error,
                                        budget);
    return ImportAnimation(source, GIF, Progress, Options.Quality, delay, error, budget);
}

}  // namespace tarnel
