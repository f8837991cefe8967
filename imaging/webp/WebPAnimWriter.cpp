#include "imaging/webp/WebPAnimWriter.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/AtomicFile.h"

namespace tarnel {

namespace {

struct FrameRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// One lossy frame: its changed rectangle, then its coded bytes.
struct LossyFrame {
    FrameRect rect;
    int milliseconds = 0;
    std::vector<uint8_t> pixels;  // BGRA of the rectangle, until coded
    std::vector<uint8_t> coded;
    bool done = false;
};

// The bounding rectangle of the pixels that differ, its corner on even
// coordinates as WebP places frames; empty (width 0) when none does.
FrameRect changedRect(const std::vector<uint8_t>& before, const std::vector<uint8_t>& now, int width, int height) {
    const size_t row = size_t(width) * 4;
    int top = 0, bottom = height - 1;
    while (top < height && std::memcmp(&before[size_t(top) * row], &now[size_t(top) * row], row) == 0) ++top;
    if (top == height) return {};
    while (bottom > top && std::memcmp(&before[size_t(bottom) * row], &now[size_t(bottom) * row], row) == 0) --bottom;
    int left = width, right = -1;
    for (int y = top; y <= bottom; ++y) {
        const uint32_t* a = reinterpret_cast<const uint32_t*>(&before[size_t(y) * row]);
        const uint32_t* b = reinterpret_cast<const uint32_t*>(&now[size_t(y) * row]);
        int x = 0;
        while (x < left && a[x] == b[x]) ++x;
        left = std::min(left, x);
        int z = width - 1;
        while (z > right && a[z] == b[z]) --z;
        right = std::max(right, z);
    }
    FrameRect r;
    r.x = left & ~1;
    r.y = top & ~1;
    r.width = right + 1 - r.x;
    r.height = bottom + 1 - r.y;
    return r;
}

}  // namespace

struct WebPAnimWriter::Impl {
    std::string error;
    std::string path;
    WebPAnimOptions options;
    WebPConfig config{};
    int frames = 0;
    size_t bytes = 0;
    std::vector<uint8_t> bgra, previous;  // opaque BGRA of this frame and the one before

    // Lossless: the animation encoder.
    WebPAnimEncoder* encoder = nullptr;
    int64_t timestamp = 0;  // milliseconds at the start of the next frame

    // Lossy: frames coded by workers, in order of arrival.
    std::deque<LossyFrame> lossy;
    size_t nextJob = 0;     // the first frame no worker has taken
    size_t inFlight = 0;    // frames given out and not yet coded
    std::string workerError;
    bool stopping = false;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::thread> workers;

    bool fail(const std::string& text) {
        error = text;
        return false;
    }
    std::string encoderError() const {
        const char* text = encoder ? WebPAnimEncoderGetError(encoder) : nullptr;
        return text && *text ? text : "the WebP encoder failed";
    }
    void stopWorkers() {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        changed.notify_all();
        for (std::thread& t : workers) t.join();
        workers.clear();
        stopping = false;
    }
    void free() {
        stopWorkers();
        if (encoder) WebPAnimEncoderDelete(encoder);
        encoder = nullptr;
        lossy.clear();
        nextJob = inFlight = 0;
        workerError.clear();
        std::vector<uint8_t>().swap(bgra);
        std::vector<uint8_t>().swap(previous);
    }
    void work();
    bool startWorkers();
    bool addLossy(int milliseconds);
    bool waitForAll();
    bool assembleLossy(WebPData& out);
};

// Takes the next frame waiting, codes it, hands it back; until stopped.
void WebPAnimWriter::Impl::work() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [&] { return stopping || nextJob < lossy.size(); });
        if (nextJob >= lossy.size()) return;
        LossyFrame& frame = lossy[nextJob++];  // a deque keeps references on push_back
        guard.unlock();
        std::vector<uint8_t> coded;
        std::string why;
        WebPPicture picture;
        WebPMemoryWriter writer;
        WebPMemoryWriterInit(&writer);
        if (!WebPPictureInit(&picture)) {
            why = "this libwebp does not match its headers";
        } else {
            picture.use_argb = 1;
            picture.width = frame.rect.width;
            picture.height = frame.rect.height;
            picture.writer = WebPMemoryWrite;
            picture.custom_ptr = &writer;
            if (!WebPPictureImportBGRA(&picture, frame.pixels.data(), frame.rect.width * 4))
                why = "out of memory for a WebP frame";
            else if (!WebPEncode(&config, &picture))
                why = picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY ? "out of memory for a WebP frame"
                                                                       : "the WebP encoder failed on a frame";
            WebPPictureFree(&picture);
        }
        try {
            if (why.empty()) coded.assign(writer.mem, writer.mem + writer.size);
        } catch (const std::bad_alloc&) {
            why = "out of memory for a WebP frame";
        }
        WebPMemoryWriterClear(&writer);
        guard.lock();
        frame.coded = std::move(coded);
        std::vector<uint8_t>().swap(frame.pixels);
        frame.done = true;
        --inFlight;
        if (!why.empty() && workerError.empty()) workerError = why;
        changed.notify_all();
    }
}

bool WebPAnimWriter::Impl::startWorkers() {
    int count = options.threads > 0 ? options.threads : int(std::thread::hardware_concurrency());
    count = std::clamp(count, 1, 16);
    try {
        for (int i = 0; i < count; ++i) workers.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        // Fewer threads do: one is enough.
        if (workers.empty()) return fail("cannot start a thread for the WebP encoder");
    }
    return true;
}

bool WebPAnimWriter::Impl::addLossy(int milliseconds) {
    const int w = options.width, h = options.height;
    FrameRect rect{0, 0, w, h};
    if (!previous.empty()) {
        rect = changedRect(previous, bgra, w, h);
        if (rect.width == 0) {
            // The same picture again: the frame before shows longer.
            std::lock_guard<std::mutex> guard(lock);
            lossy.back().milliseconds += milliseconds;
            return true;
        }
    }
    LossyFrame frame;
    frame.rect = rect;
    frame.milliseconds = milliseconds;
    try {
        frame.pixels.resize(size_t(rect.width) * size_t(rect.height) * 4);
        for (int y = 0; y < rect.height; ++y)
            std::memcpy(&frame.pixels[size_t(y) * size_t(rect.width) * 4],
                        &bgra[(size_t(rect.y + y) * size_t(w) + size_t(rect.x)) * 4], size_t(rect.width) * 4);
    } catch (const std::bad_alloc&) {
        return fail("out of memory for a WebP frame");
    }
    std::unique_lock<std::mutex> guard(lock);
    // A few frames per worker wait at most: the memory stays that of a few frames.
    changed.wait(guard, [&] { return inFlight < 2 * workers.size() || !workerError.empty(); });
    if (!workerError.empty()) return fail(workerError);
    try {
        lossy.push_back(std::move(frame));
    } catch (const std::bad_alloc&) {
        return fail("out of memory for a WebP frame");
    }
    ++inFlight;
    changed.notify_all();
    return true;
}

bool WebPAnimWriter::Impl::waitForAll() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return inFlight == 0 && nextJob == lossy.size(); });
    if (!workerError.empty()) return fail(workerError);
    return true;
}

bool WebPAnimWriter::Impl::assembleLossy(WebPData& out) {
    WebPMux* mux = WebPMuxNew();
    if (!mux) return fail("out of memory for the WebP file");
    bool ok = true;
    WebPMuxAnimParams params;
    params.bgcolor = 0xFFFFFFFF;
    params.loop_count = options.loops;
    ok = WebPMuxSetCanvasSize(mux, options.width, options.height) == WEBP_MUX_OK &&
         WebPMuxSetAnimationParams(mux, &params) == WEBP_MUX_OK;
    for (size_t i = 0; ok && i < lossy.size(); ++i) {
        const LossyFrame& f = lossy[i];
        WebPMuxFrameInfo info;
        std::memset(&info, 0, sizeof info);
        info.bitstream.bytes = f.coded.data();
        info.bitstream.size = f.coded.size();
        info.x_offset = f.rect.x;
        info.y_offset = f.rect.y;
        info.duration = f.milliseconds;
        info.id = WEBP_CHUNK_ANMF;
        info.dispose_method = WEBP_MUX_DISPOSE_NONE;
        info.blend_method = WEBP_MUX_NO_BLEND;
        ok = WebPMuxPushFrame(mux, &info, 0) == WEBP_MUX_OK;
    }
    ok = ok && WebPMuxAssemble(mux, &out) == WEBP_MUX_OK;
    WebPMuxDelete(mux);
    if (!ok) return fail("cannot assemble the WebP file (out of memory?)");
    return true;
}

WebPAnimWriter::WebPAnimWriter() : impl_(std::make_unique<Impl>()) {}
WebPAnimWriter::~WebPAnimWriter() { Release(); }

int WebPAnimWriter::framesWritten() const { return impl_->frames; }
size_t WebPAnimWriter::fileBytes() const { return impl_->bytes; }
const std::string& WebPAnimWriter::LastError() const { return impl_->error; }

bool WebPAnimWriter::Open(const std::string& path, const WebPAnimOptions& options) {
    Release();
    Impl& m = *impl_;
    m.error.clear();
    m.bytes = 0;
    // WebP's canvas is at most 16383 pixels a side.
    if (options.width < 1 || options.height < 1 || options.width > WEBP_MAX_DIMENSION ||
        options.height > WEBP_MAX_DIMENSION || !Bitmap::sizeAllowed(options.width, options.height))
        return m.fail("the frame size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
                      " is out of range for WebP (1 to 16383 a side)");
    if (options.quality < 0 || options.quality > 100) return m.fail("the WebP quality must be 0 to 100");
    if (options.method < 0 || options.method > 6) return m.fail("the WebP method must be 0 to 6");
    if (options.loops < 0 || options.loops > 65535) return m.fail("the loop count must be 0 to 65535");
    if (!WebPConfigInit(&m.config)) return m.fail("this libwebp does not match its headers");
    m.config.lossless = options.lossless ? 1 : 0;
    m.config.quality = float(options.quality);
    m.config.method = options.method;
    if (!WebPValidateConfig(&m.config)) return m.fail("the WebP settings are not valid");
    m.options = options;
    m.path = path;
    m.timestamp = 0;
    m.frames = 0;
    if (!options.lossless) return m.startWorkers();

    WebPAnimEncoderOptions anim;
    if (!WebPAnimEncoderOptionsInit(&anim)) return m.fail("this libwebp does not match its headers");
    anim.anim_params.loop_count = options.loops;
    anim.anim_params.bgcolor = 0xFFFFFFFF;
    m.config.thread_level = 1;
    m.encoder = WebPAnimEncoderNew(options.width, options.height, &anim);
    if (!m.encoder) return m.fail("cannot start the WebP encoder (out of memory?)");
    return true;
}

bool WebPAnimWriter::Write(const Bitmap& frame, int milliseconds) {
    Impl& m = *impl_;
    if (!m.encoder && m.workers.empty()) return m.fail("no WebP file is open");
    if (frame.bpp() != 24 && frame.bpp() != 32) return m.fail("frames must be 24 or 32 bits per pixel");
    if (frame.width() != m.options.width || frame.height() != m.options.height)
        return m.fail("a frame of " + std::to_string(frame.width()) + "x" + std::to_string(frame.height()) +
                      " in an animation of " + std::to_string(m.options.width) + "x" +
                      std::to_string(m.options.height));
    milliseconds = std::max(milliseconds, 1);
    const int w = frame.width(), h = frame.height();
    std::swap(m.bgra, m.previous);
    try {
        // Opaque BGRA rows, top first, whatever the bitmap's alpha bytes hold.
        m.bgra.resize(size_t(w) * size_t(h) * 4);
    } catch (const std::bad_alloc&) {
        return m.fail("out of memory for a WebP frame");
    }
    const int bytes = frame.bpp() / 8;
    for (int y = 0; y < h; ++y) {
        const uint8_t* from = frame.scanline(y);
        uint8_t* to = m.bgra.data() + size_t(y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x, from += bytes, to += 4) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
            to[3] = 0xFF;
        }
    }
    if (!m.options.lossless) {
        if (!m.addLossy(milliseconds)) return false;
        ++m.frames;
        return true;
    }
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) return m.fail("this libwebp does not match its headers");
    picture.use_argb = 1;
    picture.width = w;
    picture.height = h;
    const bool imported = WebPPictureImportBGRA(&picture, m.bgra.data(), w * 4);
    const bool added = imported && WebPAnimEncoderAdd(m.encoder, &picture, int(m.timestamp), &m.config);
    WebPPictureFree(&picture);
    if (!imported) return m.fail("out of memory for a WebP frame");
    if (!added) return m.fail(m.encoderError());
    m.timestamp += milliseconds;
    ++m.frames;
    return true;
}

bool WebPAnimWriter::Commit() {
    Impl& m = *impl_;
    if (!m.encoder && m.workers.empty()) return m.fail("no WebP file is open");
    if (m.frames == 0) return m.fail("an animation needs at least one frame");
    WebPData data;
    WebPDataInit(&data);
    if (m.encoder) {
        if (m.timestamp > INT32_MAX) return m.fail("the animation is too long for WebP");
        // The end time gives the last frame its duration.
        if (!WebPAnimEncoderAdd(m.encoder, nullptr, int(m.timestamp), nullptr)) return m.fail(m.encoderError());
        if (!WebPAnimEncoderAssemble(m.encoder, &data)) {
            WebPDataClear(&data);
            return m.fail(m.encoderError());
        }
    } else {
        if (!m.waitForAll() || !m.assembleLossy(data)) {
            WebPDataClear(&data);
            return false;
        }
    }
    std::string why;
    const bool written = WriteFileReplacing(m.path, data.bytes, data.size, &why, true);
    m.bytes = data.size;
    WebPDataClear(&data);
    m.free();
    if (!written) return m.fail(m.path + ": " + why);
    return true;
}

void WebPAnimWriter::Release() { impl_->free(); }

}  // namespace tarnel
