#pragma once
// The picture loader and saver: BMP, JPEG, GIF, PNG and WebP files into
// 32-bpp top-down pictures, and pictures out as uncompressed 24-bpp BMP files
// that cDIB reads back. The format is told by the file's content, never by its name; each
// format's own code lives in its folder (bmp/, jpeg/, gif/, png/, webp/).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/LoadBudget.h"
#include "imaging/bmp/BmpEncoder.h"  // EncodeBmp24, ToTopDown32
#include "platform/Picture.h"
#include "platform/gdi.h"

namespace tarnel {

enum class PictureFormat { Unknown, Bmp, Jpeg, Gif, Png, Webp };

// By magic bytes: "BM", FF D8 FF, "GIF87a"/"GIF89a", the PNG signature,
// "RIFF" with form type "WEBP".
PictureFormat DetectPictureFormat(const uint8_t* data, size_t size);

// What went wrong at this boundary. The file kinds follow the cause of the
// failed read; a decoder's refusal (damaged, unsupported, too large for the
// budget, or memory it could not get) is Undecodable, its reason saying which.
enum class PictureError {
    None,
    NotFound,       // no such file, or a folder on the way is missing
    Folder,         // the path names a folder
    NotAFile,       // a FIFO, device or socket
    NoAccess,       // permission denied
    TooLarge,       // above kMaxPictureFile
    Unreadable,     // any other read failure
    OutOfMemory,    // memory for the file or the picture could not be had
    UnknownFormat,  // not a BMP, JPEG, GIF, PNG or WebP file
    Undecodable,
    Empty,          // nothing to save
    WriteFailed,
};

// The outcome of a load or a save: true when it worked. `reason` gives the
// cause in English without the path (the caller names the file).
struct [[nodiscard]] PictureResult {
    PictureError kind = PictureError::None;
    std::string reason;
    explicit operator bool() const { return kind == PictureError::None; }
};

// On success `out` holds a new 32-bpp top-down bitmap; on failure it is left
// as it was. A file that does not decode is a failure. Every surface of one
// load, the 32-bpp copy included, comes out of one LoadBudget::ForInput(size),
// so memory and time follow the file's size. Only regular files of at most
// kMaxPictureFile bytes are read.
PictureResult LoadPicture(const std::string& path, StdPicture& out);
// The same reading the file into `buffer`, whose storage a caller loading
// frame after frame keeps.
PictureResult LoadPicture(const std::string& path, StdPicture& out, std::vector<uint8_t>& buffer);
PictureResult LoadPictureFromMemory(const uint8_t* data, size_t size, StdPicture& out);

// Writes EncodeBmp24's file image through a temporary file beside `path`
// that is renamed into place.
PictureResult SavePictureBMP(const Bitmap& picture, const std::string& path);
PictureResult SavePictureBMP(const StdPicture& picture, const std::string& path);

}  // namespace tarnel
