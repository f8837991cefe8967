// Every frame of an AVI video into an animated GIF container, reduced to
// 8 bpp by the shared dithering module.
#include "output/mAVIImp.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "imaging/GcDIB.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "platform/media/AviReader.h"

namespace tarnel {

namespace {

// What a GIF container can hold and read back: frames are counted in 16 bits,
// and a load takes at most this many frame pixels.
constexpr int32_t kMaxGifFrames = 32767;
constexpr int64_t kMaxGifPixels = int64_t(1) << 29;

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
class FramePrefetch {
public:
    FramePrefetch(AviReader& reader, int32_t count) : reader_(reader), count_(count) {
        worker_ = std::thread([this] { run(); });
    }
    ~FramePrefetch() {
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
    bool next(Bitmap& out, std::string* error) {
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

bool ImportAviFrames(const std::string& SourcePath, cGif& GIF, ProgressSink* Progress, std::string* error) {
    AviReader reader;
    if (!reader.Open(SourcePath, error)) return false;
    return ImportAviFrames(reader, GIF, Progress, error);
}

bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, std::string* error) {
    return ImportAviFrames(reader, GIF, Progress, AviImportOptions{}, error);
}

bool ImportAviFrames(AviReader& reader, cGif& GIF, ProgressSink* Progress, const AviImportOptions& Options,
                     std::string* error) {
    if (!reader.IsOpen()) return setError(error, "no video is open"), false;
    const int32_t n = reader.Length();
    if (n <= 0) return setError(error, "the video has no frames"), false;
    if (Progress) Progress->SetMax(n);
    const int64_t duration = reader.SampleToTime(reader.Start() + n);
    const double frameTime = std::nearbyint(double(duration) / double(n));
    const int16_t delay = delayOf(frameTime);
    const int32_t W = reader.Width();
    const int32_t H = reader.Height();

    GcDIB work;
    if (!work.Create(W, H, 32)) return setError(error, "the frame size is too large"), false;

    // A palette given beforehand is kept from frame 1 on; otherwise frame 1 builds one.
    cPal8bpp ownPalette;
    cPal8bpp& palette = Options.Palette ? *Options.Palette : ownPalette;
    const bool paletteGiven = Options.Palette != nullptr;
    Dither8bpp& dither = DefaultDither();
    FramePrefetch frames(reader, n);
    bool complete = true;
    int64_t pixels = 0;
    for (int32_t i = 1; i <= n; ++i) {
        pixels += int64_t(W) * H;
        if (i > kMaxGifFrames || pixels > kMaxGifPixels) {
            setError(error, "the video has more frames than an animated GIF can hold");
            complete = false;
            break;
        }
        if (!GIF.FrameInsert(i, W, H)) {
            setError(error, "out of memory");
            complete = false;
            break;
        }
        // Frame i - 1 arrives as a 32-bpp top-down bitmap of the work surface's size.
        if (!frames.next(*work.bitmap(), error)) {
            complete = false;
            break;
        }
        if (Progress) Progress->SetValue(i);
        dither.DitherTo8bpp(work, GIF.FrameDIBXOR(i), palette, paletteGiven || i > 1);
        SetImportedFrame(GIF, i, palette, delay);
    }
    SetImportedScreen(GIF, W, H, palette);
    if (Progress) Progress->SetValue(0);
    return complete;
}

void SetImportedFrame(cGif& GIF, int32_t Frame, const cPal8bpp& Palette, int16_t Delay) {
    const int entries = std::clamp<int>(Palette.Entries(), 0, 256);
    std::memcpy(GIF.lpLocalPalette(Frame), Palette.lpPalette(), size_t(entries) * 4);
    GIF.SetLocalPaletteEntries(Frame, int16_t(entries));
    GIF.SetFrameDisposalMethod(Frame, 3);
    GIF.SetFrameDelay(Frame, Delay);
}

void SetImportedScreen(cGif& GIF, int32_t Width, int32_t Height, const cPal8bpp& Palette) {
    GIF.SetScreenWidth(int16_t(Width));
    GIF.SetScreenHeight(int16_t(Height));
    GIF.SetScreenPixelAspectRatio(1.0f);
    GIF.SetGlobalPaletteExists(true);
    const int entries = std::clamp<int>(Palette.Entries(), 0, 256);
    GIF.SetGlobalPaletteEntries(int16_t(entries));
    std::memcpy(GIF.lpGlobalPalette(), Palette.lpPalette(), size_t(entries) * 4);
}

}  // namespace tarnel
