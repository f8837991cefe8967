#include "core/FramePipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>

#include "core/FrameNaming.h"
#include "imaging/gif/GIF.h"
#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "imaging/png/PngEncoder.h"
#include "platform/RuntimeError.h"

namespace tarnel {

// One worker's encoders, their handles and buffers kept from frame to frame.
struct FrameEncoders {
    JpegEncoder jpeg;
    PngEncoder png;
};

namespace {

void fillPixels(Bitmap& bitmap, uint32_t value) {
    for (int y = 0; y < bitmap.height(); ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap.scanline(y));
        std::fill(row, row + bitmap.width(), value);
    }
}

std::string framePath(const FrameJob& job, int k) {
    return job.folder + "/" + FrameFileName(job.frames[size_t(k)].file, job.saveKind);
}

}  // namespace

void FrameOutput::show(Bitmap& image) const {
    if (!pixels.empty()) {
        if (image.sizeBytes() == pixels.sizeBytes()) std::memcpy(image.bits(), pixels.bits(), pixels.sizeBytes());
        return;
    }
    // A BMP frame: 24-bit rows, bottom-up, after the two headers.
    const int w = image.width(), h = image.height();
    const size_t stride = size_t(Bitmap::strideFor(w, 24)), offset = 54;
    if (image.bpp() != 32 || bytes.size() < offset + stride * size_t(h)) return;
    for (int y = 0; y < h; ++y) {
        const uint8_t* from = bytes.data() + offset + size_t(h - 1 - y) * stride;
        uint8_t* to = image.scanline(y);
        // Four bytes read per pixel, the fourth masked off; the last pixel
        // of a row may end the file, so it is read byte by byte.
        for (int x = 0; x + 1 < w; ++x, from += 3, to += 4) {
            uint32_t v;
            std::memcpy(&v, from, 4);
            v &= 0x00FFFFFFu;
            std::memcpy(to, &v, 4);
        }
        if (w > 0) to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = 0;
    }
}

FramePipeline::FramePipeline(const FrameJob& job, int workers) : job_(job) {
    const int frames = int(job_.frames.size());
    workers = std::clamp(workers, 1, std::max(frames, 1));
    endFrame_ = frames;
    slots_.resize(size_t(workers) + 1);
    if (workers == 1) {
        // A thread of its own would only add hand-overs to the same work.
        inline_ = true;
        inlineEncoders_ = std::make_unique<FrameEncoders>();
        return;
    }
    threads_.reserve(size_t(workers));
    try {
        for (int i = 0; i < workers; ++i) threads_.emplace_back(&FramePipeline::work, this);
    } catch (const std::system_error&) {
        // Fewer workers do the same work; none at all cannot.
        if (threads_.empty()) throw;
    }
}

FramePipeline::~FramePipeline() {
    abort();
    for (std::thread& t : threads_) t.join();
}

void FramePipeline::abort() {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    changed_.notify_all();
}

FrameOutput& FramePipeline::wait(int k) {
    Slot& slot = slots_[size_t(k) % slots_.size()];
    if (inline_ && slot.frame != k) {
        {
            std::lock_guard lock(mutex_);
            nextFrame_ = k + 1;
            slot.state = Slot::State::Busy;
            slot.frame = k;
        }
        make(k, slot, *inlineEncoders_, inlineBmpPixels_);
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return slot.frame == k && slot.state == Slot::State::Ready; });
    return slot.output;
}

void FramePipeline::release(int k) {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[size_t(k) % slots_.size()];
    // A GIF frame stays until the next frame has taken its pixels.
    const bool needed = job_.saveKind == kSaveGif && k + 1 < int(job_.frames.size()) && compositeTurn_ <= k + 1;
    slot.state = needed ? Slot::State::Written : Slot::State::Free;
    changed_.notify_all();
}

void FramePipeline::work() {
    FrameEncoders encoders;  // one TurboJPEG handle and the buffers for all of this worker's frames
    Bitmap bmpPixels;  // BMP frames are rendered here and kept as their file only
    const size_t slotCount = slots_.size();
    for (;;) {
        int k = 0;
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            // Frames start in order, each when its slot is free.
            changed_.wait(lock, [&] {
                return aborted_ || nextFrame_ >= endFrame_ ||
                       slots_[size_t(nextFrame_) % slotCount].state == Slot::State::Free;
            });
            if (aborted_ || nextFrame_ >= endFrame_) return;
            k = nextFrame_++;
            slot = &slots_[size_t(k) % slotCount];
            slot->state = Slot::State::Busy;
            slot->frame = k;
        }
        if (!make(k, *slot, encoders, bmpPixels)) return;
    }
}

bool FramePipeline::make(int k, Slot& slot, FrameEncoders& encoders, Bitmap& bmpPixels) {
    const size_t slotCount = slots_.size();
    FrameOutput& out = slot.output;
    out.error.clear();
    out.writeError.clear();
    out.bytes.clear();
    out.file.discard();
    Bitmap& pixels = job_.saveKind == kSaveBmp ? bmpPixels : out.pixels;
    if (job_.saveKind == kSaveBmp) out.pixels.clear();
    bool drawn = false;
    try {
        drawn = render(k, pixels, out.error);
    } catch (const std::exception& e) {
        out.error = "ﾌﾚｰﾑを作成できません: " + framePath(job_, k) + " (" + e.what() + ")";
    }
    {
        // A stopped run wants nothing more of this frame.
        std::lock_guard lock(mutex_);
        if (aborted_) return false;
    }
    if (job_.saveKind == kSaveGif) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return aborted_ || compositeTurn_ == k; });
        if (aborted_) return false;
        lock.unlock();
        // Alone with the previous frame's slot until the turn passes on.
        if (drawn) composite(k, pixels);
        lock.lock();
        compositeTurn_ = k + 1;
        if (k > 0) {
            Slot& previous = slots_[size_t(k - 1) % slotCount];
            if (previous.state == Slot::State::Written) previous.state = Slot::State::Free;
        }
        changed_.notify_all();
    }
    const ScheduledFrame& scheduled = job_.frames[size_t(k)];
    if (drawn && scheduled.written) {
        try {
            encode(k, pixels, out, encoders);
        } catch (const std::exception& e) {
            out.bytes.clear();
            out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (" + e.what() + ")";
        }
    }
    // Writing is most of a BMP frame's cost outside the warp: done here, it
    // runs beside the other frames; the caller only renames.
    if (out.error.empty() && scheduled.written && job_.saveKind >= kSaveBmp && job_.saveKind <= kSavePng) {
        const std::string_view data(reinterpret_cast<const char*>(out.bytes.data()), out.bytes.size());
        if (std::error_code ec = out.file.stage(framePath(job_, k), data, false)) out.writeError = ec.message();
    }
    std::lock_guard lock(mutex_);
    slot.state = Slot::State::Ready;
    changed_.notify_all();
    return true;
}

// False with `error` set when the frame cannot be made.
bool FramePipeline::render(int k, Bitmap& pixels, std::string& error) {
    if (pixels.width() != job_.width || pixels.height() != job_.height || pixels.bpp() != 32) {
        if (!pixels.create(job_.width, job_.height, 32, true)) {
            error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) +
                    (job_.width > 0 && job_.height > 0 ? " (out of memory)" : " (empty picture)");
            return false;
        }
    }
    fillPixels(pixels, job_.saveKind == kSaveGif ? kUncovered : job_.background);
    // As on the canvas: an unreadable source leaves the cleared frame.
    const ScheduledFrame& scheduled = job_.frames[size_t(k)];
    const FrameSegment& segment = job_.segments[size_t(scheduled.segment)];
    WarpFrame(*segment.startTriangles, *segment.endTriangles, scheduled.step, job_.lastFrame, *segment.startPixels,
              *segment.endPixels, job_.startWidth, job_.startHeight, pixels, job_.options);
    return true;
}

// Pixels no triangle drew take the previous frame's; a segment's first
// frame's previous is the cleared canvas.
void FramePipeline::composite(int k, Bitmap& pixels) {
    const bool first = job_.frames[size_t(k)].step == 0;
    const Bitmap* previous = !first && k > 0 ? &slots_[size_t(k - 1) % slots_.size()].output.pixels : nullptr;
    for (int y = 0; y < job_.height; ++y) {
        uint32_t* frame = reinterpret_cast<uint32_t*>(pixels.scanline(y));
        const uint32_t* before = previous ? reinterpret_cast<const uint32_t*>(previous->scanline(y)) : nullptr;
        for (int x = 0; x < job_.width; ++x)
            if (frame[x] == kUncovered) frame[x] = before ? before[x] : job_.background;
    }
}

void FramePipeline::encode(int k, const Bitmap& pixels, FrameOutput& out, FrameEncoders& encoders) {
    switch (job_.saveKind) {
        case kSaveBmp:
            if (!EncodeBmp24(pixels, out.bytes))
                out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (out of memory)";
            break;
        case kSaveJpg:
            if (int result = encoders.jpeg.encode(pixels, out.bytes, -1, 100, -1); result != kConvertOk)
                out.error = "JPGに変換できません: " + framePath(job_, k) + " (" +
                            (result == kConvertBadArguments ? "the frame cannot be encoded as JPEG"
                                                            : "the JPEG encoder failed") +
                            ")";
            break;
        case kSaveGif: {
            // The transparent colour is the frame's pixel (0, 0), as the canvas reports it.
            const RGBQuad c = pixels.pixelColor(0, 0);
            try {
                GIF::Encode(pixels, &pixels, job_.transparency, RGBColor(c.red, c.green, c.blue), out.bytes);
            } catch (const RuntimeError& e) {
                out.bytes.clear();
                out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (" + e.what() + ")";
            }
            break;
        }
        case kSavePng:
            if (!encoders.png.encode(pixels, out.bytes))
                out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (the PNG encoder failed)";
            break;
        default: break;  // an unknown kind saves nothing
    }
}

}  // namespace tarnel
