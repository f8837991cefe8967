#include "imaging/png/PngEncoder.h"

#include <csetjmp>
#include <cstring>
#include <new>
#include <png.h>
#include <zlib.h>

#include "imaging/bmp/BmpEncoder.h"

namespace tarnel {

namespace {

// Frames are written with the Sub filter on every row and Huffman coding
// only, no match search. A morph frame is a photograph: after the Sub filter
// its bytes are small differences that repeat too irregularly for LZ77
// matches to pay, so the entropy coding alone makes files some 20 % smaller
// than ImageMagick's default PNG (adaptive filters, level 7), at about a
// twentieth of its time; Paeth saves another 5 % for half as much time
// again (bench/compare_png.sh measures ours against ImageMagick).
constexpr int kZlibLevel = 1;
constexpr int kZlibStrategy = Z_HUFFMAN_ONLY;
constexpr int kFilter = PNG_FILTER_SUB;

// What libpng's callbacks touch: plain data only, as a longjmp out of a
// callback skips destructors.
struct PngSink {
    uint8_t* data;
    size_t capacity;
    size_t size;
};

[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

void writeData(png_structp png, png_bytep from, size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (length > sink->capacity - sink->size) png_error(png, "output larger than its bound");
    std::memcpy(sink->data + sink->size, from, length);
    sink->size += length;
}

void flushData(png_structp) {}

// setjmp lives here with no C++ object of its own; `picture` and `sink`
// belong to the caller.
bool writeRows(png_structp png, png_infop info, const Bitmap* picture, PngSink* sink) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, sink, writeData, flushData);
    png_set_compression_level(png, kZlibLevel);
    png_set_compression_strategy(png, kZlibStrategy);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kFilter);
    // Large IDAT chunks: fewer chunk headers and deflate flushes.
    png_set_compression_buffer_size(png, 1 << 17);
    png_set_IHDR(png, info, png_uint_32(picture->width()), png_uint_32(picture->height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    // Our pixels are B, G, R, reserved: swapped and the fourth byte dropped.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < picture->height(); ++y) png_write_row(png, picture->scanline(y));
    png_write_end(png, nullptr);
    return true;
}

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

}  // namespace

PngEncoder::PngEncoder() = default;
PngEncoder::~PngEncoder() = default;

bool PngEncoder::encode(const Bitmap& picture, std::vector<uint8_t>& out) {
    out.clear();
    if (picture.empty()) return false;
    try {
        const Bitmap* source = &picture;
        if (picture.bpp() != 32) {
            if (!ToTopDown32(picture, converted_)) return false;
            source = &converted_;
        }
        // Deflate at its worst adds 5 bytes per 16 KB stored block; each
        // 128 KB IDAT chunk adds 12; headers and IEND stay below 1 KB.
        const size_t raw = (size_t(source->width()) * 3 + 1) * size_t(source->height());
        const size_t bound = raw + raw / 1024 + 1024 + 12 * (raw / (1 << 17) + 1);
        if (capacity_ < bound) {
            buffer_.reset();
            buffer_.reset(new uint8_t[bound]);
            capacity_ = bound;
        }
        PngSink sink{buffer_.get(), capacity_, 0};
        PngWriter writer;
        writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
        if (!writer.png) return false;
        writer.info = png_create_info_struct(writer.png);
        if (!writer.info) return false;
        if (!writeRows(writer.png, writer.info, source, &sink)) return false;
        out.assign(sink.data, sink.data + sink.size);
        return true;
    } catch (const std::bad_alloc&) {
        capacity_ = 0;
        out.clear();
        return false;
    }
}

bool EncodePng(const Bitmap& picture, std::vector<uint8_t>& out) {
    PngEncoder encoder;
    return encoder.encode(picture, out);
}

}  // namespace tarnel
