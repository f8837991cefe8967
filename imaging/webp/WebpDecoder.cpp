#include "imaging/webp/WebpDecoder.h"

#include <new>
#include <webp/decode.h>
#include <webp/demux.h>

namespace tarnel {

namespace {

void dropAlpha(Bitmap& out) {
    for (int y = 0; y < out.height(); ++y) {
        uint8_t* row = out.scanline(y);
        for (int x = 0; x < out.width(); ++x) row[4 * x + 3] = 0;
    }
}

struct AnimDecoder {
    WebPAnimDecoder* decoder = nullptr;
    ~AnimDecoder() { WebPAnimDecoderDelete(decoder); }
};

bool decodeFirstFrame(const uint8_t* data, size_t size, Bitmap& out, std::string& why) {
    WebPData whole{data, size};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) {
        why = "WebP decoder version mismatch";
        return false;
    }
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    AnimDecoder anim;
    anim.decoder = WebPAnimDecoderNew(&whole, &options);
    WebPAnimInfo info;
    if (!anim.decoder || !WebPAnimDecoderGetInfo(anim.decoder, &info)) {
        why = "WebP animation could not be decoded";
        return false;
    }
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (int(info.canvas_width) != out.width() || int(info.canvas_height) != out.height() ||
        !WebPAnimDecoderGetNext(anim.decoder, &canvas, &timestamp) || !canvas) {
        why = "WebP animation's first frame could not be decoded";
        return false;
    }
    const size_t rowBytes = size_t(out.width()) * 4;
    for (int y = 0; y < out.height(); ++y) std::memcpy(out.scanline(y), canvas + rowBytes * size_t(y), rowBytes);
    return true;
}

// libwebp's verdict as our reason.
std::string statusText(VP8StatusCode status, const char* what) {
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return "WebP file is truncated";
    if (status == VP8_STATUS_UNSUPPORTED_FEATURE) return "WebP file uses an unsupported feature";
    if (status == VP8_STATUS_OUT_OF_MEMORY) return "out of memory";
    return std::string("WebP file could not be decoded: damaged ") + what;
}

bool decodeWebpInto(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string& why) {
    WebPBitstreamFeatures features;
    if (const VP8StatusCode status = WebPGetFeatures(data, size, &features); status != VP8_STATUS_OK) {
        why = statusText(status, "header");
        return false;
    }
    const int width = features.width, height = features.height;
    if (!Bitmap::sizeAllowed(width, height)) {
        why = "WebP size out of range";
        return false;
    }
    // Beside the picture: a lossless stream decodes through a 32-bit ARGB
    // copy, a lossy one with alpha through an alpha plane; an animation keeps
    // two canvases of its own and decodes each frame like a still.
    const uint64_t surface = SurfaceBytes(width, height, 32);
    const uint64_t work = features.has_animation ? 3 * surface : surface + uint64_t(width) * uint64_t(height);
    if (!budget.Reserve(surface + work)) {
        why = "WebP needs more memory than allowed";
        return false;
    }
    if (!out.create(width, height, 32, true)) {
        why = "WebP size out of range";
        return false;
    }
    if (features.has_animation) {
        if (!decodeFirstFrame(data, size, out, why)) return false;
    } else {
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) {
            why = "WebP decoder version mismatch";
            return false;
        }
        config.output.colorspace = MODE_BGRA;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = out.bits();
        config.output.u.RGBA.stride = out.stride();
        config.output.u.RGBA.size = size_t(out.stride()) * size_t(height);
        const VP8StatusCode status = WebPDecode(data, size, &config);
        WebPFreeDecBuffer(&config.output);
        if (status != VP8_STATUS_OK) {
            why = statusText(status, "data");
            return false;
        }
    }
    dropAlpha(out);
    return true;
}

}  // namespace

bool DecodeWebp(const uint8_t* data, size_t size, Bitmap& out, std::string* error) {
    LoadBudget budget = LoadBudget::ForInput(size);
    return DecodeWebp(data, size, out, budget, error);
}

bool DecodeWebp(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    out.clear();
    std::string why;
    bool ok = false;
    if (!data || !LooksLikeWebp(data, size)) {
        why = "not a WebP file";
    } else {
        try {
            ok = decodeWebpInto(data, size, out, budget, why);
        } catch (const std::bad_alloc&) {
            why = "out of memory";
        }
    }
    if (!ok) {
        out.clear();
        if (error) *error = why;
    }
    return ok;
}

}  // namespace tarnel
