#include "imaging/PictureIO.h"

#include <memory>
#include <new>
#include <system_error>

#include "imaging/bmp/BmpDecoder.h"
#include "imaging/bmp/BmpFormat.h"
#include "imaging/gif/GifPicture.h"
#include "imaging/jpeg/JpegDecoder.h"
#include "imaging/png/PngDecoder.h"
#include "imaging/webp/WebpDecoder.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"

namespace tarnel {

namespace {

// One format the loader reads: a cheap look at the first bytes, and the
// decoder that makes the 32-bpp top-down picture out of the budget.
struct PictureCodec {
    PictureFormat format;
    bool (*sniff)(const uint8_t* data, size_t size);
    bool (*decode)(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error);
};

bool decodeGif(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    std::string why;
    if (DecodeGifPicture(data, size, out, budget, &why) && !out.empty()) return true;
    if (error) *error = "GIF file could not be decoded" + (why.empty() ? "" : ": " + why);
    return false;
}

bool decodeJpeg(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error) {
    return DecodeJpeg(data, size, out, budget, error);
}

constexpr PictureCodec kCodecs[] = {
    {PictureFormat::Bmp, LooksLikeBmp, DecodeBmpPicture},
    {PictureFormat::Jpeg, LooksLikeJpeg, decodeJpeg},
    {PictureFormat::Gif, LooksLikeGif, decodeGif},
    {PictureFormat::Png, LooksLikePng, DecodePng},
    {PictureFormat::Webp, LooksLikeWebp, DecodeWebp},
};

const PictureCodec* codecFor(const uint8_t* data, size_t size) {
    if (!data) return nullptr;
    for (const PictureCodec& codec : kCodecs)
        if (codec.sniff(data, size)) return &codec;
    return nullptr;
}

PictureError readFailure(const std::error_code& ec) {
    if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) return PictureError::NotFound;
    if (ec == std::errc::is_a_directory) return PictureError::Folder;
    if (ec.category() == FileTypeErrorCategory()) return PictureError::NotAFile;
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted) return PictureError::NoAccess;
    if (ec == std::errc::file_too_large) return PictureError::TooLarge;
    if (ec == std::errc::not_enough_memory) return PictureError::OutOfMemory;
    return PictureError::Unreadable;
}

}  // namespace

PictureFormat DetectPictureFormat(const uint8_t* data, size_t size) {
    const PictureCodec* codec = codecFor(data, size);
    return codec ? codec->format : PictureFormat::Unknown;
}

PictureResult LoadPictureFromMemory(const uint8_t* data, size_t size, StdPicture& out) {
    const PictureCodec* codec = codecFor(data, size);
    if (!codec) return {PictureError::UnknownFormat, "not a BMP, JPEG, GIF, PNG or WebP file"};
    try {
        Bitmap picture;
        LoadBudget budget = LoadBudget::ForInput(size);
        std::string why;
        if (!codec->decode(data, size, picture, budget, &why)) return {PictureError::Undecodable, why};
        out.bitmap = std::make_shared<Bitmap>(std::move(picture));
        return {};
    } catch (const std::bad_alloc&) {
        return {PictureError::OutOfMemory, "out of memory"};
    }
}

PictureResult LoadPicture(const std::string& path, StdPicture& out) {
    std::vector<uint8_t> bytes;
    return LoadPicture(path, out, bytes);
}

PictureResult LoadPicture(const std::string& path, StdPicture& out, std::vector<uint8_t>& buffer) {
    if (std::error_code ec = ReadRegularFile(path, kMaxPictureFile, buffer))
        return {readFailure(ec), ReadErrorText(ec)};
    return LoadPictureFromMemory(buffer.data(), buffer.size(), out);
}

PictureResult SavePictureBMP(const Bitmap& picture, const std::string& path) {
    if (picture.empty()) return {PictureError::Empty, "empty picture"};
    std::vector<uint8_t> bytes;
    if (!EncodeBmp24(picture, bytes)) return {PictureError::OutOfMemory, "out of memory"};
    std::string why;
    if (!WriteFileReplacing(path, bytes.data(), bytes.size(), &why)) return {PictureError::WriteFailed, why};
    return {};
}

PictureResult SavePictureBMP(const StdPicture& picture, const std::string& path) {
    if (!picture.isBitmap()) return {PictureError::Empty, "empty picture"};
    return SavePictureBMP(*picture.bitmap, path);
}

}  // namespace tarnel
