#include "imaging/png/PngDecoder.h"

#include <csetjmp>
#include <cstring>
#include <new>
#include <png.h>

namespace tarnel {

namespace {

// Everything libpng's callbacks touch. Plain data only: a longjmp out of a
// callback skips destructors, so nothing that needs one lives in the frames
// it unwinds.
struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
    char message[160];
};

void setMessage(PngSource* source, const char* text) {
    size_t n = 0;
    for (; text && text[n] && n + 1 < sizeof source->message; ++n) source->message[n] = text[n];
    source->message[n] = '\0';
}

[[noreturn]] void onError(png_structp png, png_const_charp text) {
    setMessage(static_cast<PngSource*>(png_get_error_ptr(png)), text);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep to, size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->pos) png_error(png, "file is truncated");
    std::memcpy(to, source->data + source->pos, length);
    source->pos += length;
}

// libpng's own row buffers at the widest pixel it reads (16-bit RGBA, plus
// the filter byte), for the current and the previous row, and the inflate
// window.
uint64_t libpngWorkBytes(uint64_t width) { return 2 * (width * 8 + 1) + (64 << 10); }

enum class Outcome { Done, Failed, TooLarge, OutOfRange, NoMemory };

// The header, the budget and the rows. setjmp lives here and the only C++
// object touched, `out`, belongs to the caller; libpng's error handler
// jumps back with the message in `source`.
Outcome decodeRows(png_structp png, png_infop info, PngSource* source, Bitmap* out, LoadBudget* budget) {
    if (setjmp(png_jmpbuf(png))) return Outcome::Failed;
    png_set_read_fn(png, source, readData);
    // Of the ancillary chunks only tRNS is read (libpng keeps it for the
    // palette expansion, and its alpha is dropped below); gamma, colour
    // spaces and text are skipped unread, their CRC still checked, a bad one
    // only skipping them.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_user_limits(png, kMaxSurfaceSide, kMaxSurfaceSide);
    png_set_chunk_malloc_max(png, 1 << 20);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (!Bitmap::sizeAllowed(width, height)) return Outcome::OutOfRange;
    if (!budget->Reserve(SurfaceBytes(width, height, 32) + libpngWorkBytes(width))) return Outcome::TooLarge;

    const int colourType = png_get_color_type(png, info);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_strip_16(png);
    // A palette with tRNS expands to RGBA: that alpha goes too.
    if ((colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS)) png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) {
        setMessage(source, "unexpected row layout");
        return Outcome::Failed;
    }
    // An allocation failure throws out of create() before libpng runs again.
    if (!out->create(int(width), int(height), 32, true)) return Outcome::OutOfRange;
    // Each pass fills in its pixels over the rows the earlier ones left.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, out->scanline(int(y)), nullptr);
    return Outcome::Done;
}

// libpng takes a chunk's declared length for the buffer it reads the chunk
// into, so a few bytes claiming a 2 GB text chunk would make it allocate
// and fill 2 GB before it finds the file too short. Every chunk up to the
// first IDAT must fit in the file (IDAT data is streamed, not buffered).
bool chunksBeforeImageFit(const uint8_t* data, size_t size) {
    size_t pos = 8;
    while (size - pos >= 8) {
        const uint32_t length = uint32_t(data[pos]) << 24 | uint32_t(data[pos + 1]) << 16 |
                                uint32_t(data[pos + 2]) << 8 | uint32_t(data[pos + 3]);
        if (std::memcmp(data + pos + 4, "IDAT", 4) == 0) return true;
        if (length > size - pos - 8 || size - pos - 8 - length < 4) return false;  // data and CRC
        pos += 12 + size_t(length);
    }
    return true;  // libpng tells what is missing
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, Bitmap& out, std::string* error) {
    LoadBudget budget = LoadBudget::ForInput(size);
    return DecodePng(data, size, out, budget, error);
}

bool DecodePng(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    out.clear();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        out.clear();
        return false;
    };
    if (!data || !LooksLikePng(data, size)) return fail("not a PNG file");
    if (!chunksBeforeImageFit(data, size)) return fail("PNG file is truncated");
    PngSource source{data, size, 0, {}};
    Outcome outcome = Outcome::Failed;
    try {
        PngReader reader;
        reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, onError, onWarning);
        if (!reader.png) return fail("out of memory");
        reader.info = png_create_info_struct(reader.png);
        if (!reader.info) return fail("out of memory");
        outcome = decodeRows(reader.png, reader.info, &source, &out, &budget);
    } catch (const std::bad_alloc&) {
        outcome = Outcome::NoMemory;
    }
    switch (outcome) {
        case Outcome::Done: return true;
        case Outcome::TooLarge: return fail("PNG needs more memory than allowed");
        case Outcome::OutOfRange: return fail("PNG size out of range");
        case Outcome::NoMemory: return fail("out of memory");
        case Outcome::Failed: break;
    }
    const std::string why = source.message;
    if (why.find("truncated") != std::string::npos || why.find("Not enough image data") != std::string::npos)
        return fail("PNG file is truncated");
    return fail("PNG file could not be decoded: " + why);
}

}  // namespace tarnel
