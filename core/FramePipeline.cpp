#include "core/FramePipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>

#include "core/MorphRun.h"
#include "imaging/GIF.h"
#include "imaging/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "platform/RuntimeError.h"

namespace tarnel {

namespace {

void fillPixels(Bitmap& bitmap, uint32_t value) {
    for (int y = 0; y < bitmap.height(); ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap.scanline(y));
        std::fill(row, row + bitmap.width(), value);
    }
}

std::string framePath(const FrameJob& job, int k) { return job.folder + "/" + FrameFileName(k, job.saveKind); }

}  // namespace

FramePipeline::FramePipeline(const FrameJob& job, int workers) : job_(job) {
    const int frames = job_.lastFrame + 1;
    workers = std::clamp(workers, 1, std::max(frames, 1));
    endFrame_ = frames;
    slots_.resize(size_t(workers) + 1);
    if (job_.saveKind == kSaveGif && previous_.create(job_.width, job_.height, 32, true))
        fillPixels(previous_, job_.background);  // frame 0 is drawn over the cleared canvas
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

int FramePipeline::stopStarting() {
    std::lock_guard lock(mutex_);
    endFrame_ = nextFrame_;
    changed_.notify_all();
    return endFrame_;
}

const FrameOutput& FramePipeline::wait(int k) {
    Slot& slot = slots_[size_t(k) % slots_.size()];
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return slot.frame == k && slot.state == Slot::State::Ready; });
    return slot.output;
}

void FramePipeline::release(int k) {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[size_t(k) % slots_.size()];
    slot.state = Slot::State::Free;
    released_ = k + 1;
    changed_.notify_all();
}

void FramePipeline::work() {
    JpegEncoder jpeg;  // one TurboJPEG handle and buffer for all of this worker's frames
    const int slotCount = int(slots_.size());
    for (;;) {
        int k = 0;
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            // A frame starts when its slot is free: frame k - slots has been released.
            changed_.wait(lock, [&] { return aborted_ || nextFrame_ >= endFrame_ || nextFrame_ < released_ + slotCount; });
            if (aborted_ || nextFrame_ >= endFrame_) return;
            k = nextFrame_++;
            slot = &slots_[size_t(k % slotCount)];
            slot->state = Slot::State::Busy;
            slot->frame = k;
        }
        FrameOutput& out = slot->output;
        out.error.clear();
        out.bytes.clear();
        bool drawn = false;
        try {
            drawn = render(k, out);
        } catch (const std::exception& e) {
            out.error = "ﾌﾚｰﾑを作成できません: " + framePath(job_, k) + " (" + e.what() + ")";
        }
        if (job_.saveKind == kSaveGif) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return aborted_ || compositeTurn_ == k; });
            if (aborted_) return;
            lock.unlock();
            // Alone with previous_ until the turn passes on.
            if (drawn) composite(out);
            lock.lock();
            compositeTurn_ = k + 1;
            changed_.notify_all();
        }
        if (drawn) {
            try {
                encode(k, out, jpeg);
            } catch (const std::exception& e) {
                out.bytes.clear();
                out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (" + e.what() + ")";
            }
        }
        std::lock_guard lock(mutex_);
        slot->state = Slot::State::Ready;
        changed_.notify_all();
    }
}

// False with out.error set when the frame cannot be made.
bool FramePipeline::render(int k, FrameOutput& out) {
    Bitmap& pixels = out.pixels;
    if (pixels.width() != job_.width || pixels.height() != job_.height || pixels.bpp() != 32) {
        if (!pixels.create(job_.width, job_.height, 32, true)) {
            out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) +
                        (job_.width > 0 && job_.height > 0 ? " (out of memory)" : " (empty picture)");
            return false;
        }
    }
    if (job_.saveKind == kSaveGif && previous_.empty()) {
        out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (out of memory)";
        return false;
    }
    fillPixels(pixels, job_.saveKind == kSaveGif ? kUncovered : job_.background);
    // As on the canvas: an unreadable source leaves the cleared frame.
    WarpFrame(*job_.startTriangles, *job_.endTriangles, k, job_.lastFrame, *job_.startPixels, *job_.endPixels,
              job_.startWidth, job_.startHeight, pixels, job_.options);
    return true;
}

void FramePipeline::composite(FrameOutput& out) {
    for (int y = 0; y < job_.height; ++y) {
        uint32_t* frame = reinterpret_cast<uint32_t*>(out.pixels.scanline(y));
        uint32_t* previous = reinterpret_cast<uint32_t*>(previous_.scanline(y));
        for (int x = 0; x < job_.width; ++x) {
            if (frame[x] == kUncovered) frame[x] = previous[x];
            else previous[x] = frame[x];
        }
    }
}

void FramePipeline::encode(int k, FrameOutput& out, JpegEncoder& jpeg) {
    switch (job_.saveKind) {
        case kSaveBmp:
            if (!EncodeBmp24(out.pixels, out.bytes))
                out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (out of memory)";
            break;
        case kSaveJpg:
            if (int result = jpeg.encode(out.pixels, out.bytes, -1, 100, -1); result != kConvertOk)
                out.error = "JPGに変換できません: " + framePath(job_, k) + " (code " + std::to_string(result) + ")";
            break;
        case kSaveGif: {
            // The transparent colour is the frame's pixel (0, 0), as the canvas reports it.
            const RGBQuad c = out.pixels.pixelColor(0, 0);
            try {
                GIF::Encode(out.pixels, &out.pixels, job_.transparency, RGBColor(c.red, c.green, c.blue), out.bytes);
            } catch (const RuntimeError& e) {
                out.bytes.clear();
                out.error = "ﾌﾚｰﾑを保存できません: " + framePath(job_, k) + " (" + e.what() + ")";
            }
            break;
        }
        default: break;  // an unknown kind saves nothing
    }
}

}  // namespace tarnel
