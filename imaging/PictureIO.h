#pragma once
// The picture loader and saver: BMP, JPEG and GIF files into 32-bpp top-down
// pictures, and pictures out as uncompressed 24-bpp BMP files that cDIB reads
// back. The format is told by the file's content, never by its name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/LoadBudget.h"
#include "platform/Picture.h"
#include "platform/gdi.h"

namespace tarnel {

enum class PictureFormat { Unknown, Bmp, Jpeg, Gif };

// By magic bytes: "BM", FF D8 FF, "GIF87a"/"GIF89a".
PictureFormat DetectPictureFormat(const uint8_t* data, size_t size);

// On success `out` holds a new 32-bpp top-down bitmap; on failure it is left
// as it was and `error` says why. A file that does not decode is a failure.
// Every surface of one load, the 32-bpp copy included, comes out of one
// LoadBudget::ForInput(size), so memory and time follow the file's size.
//
// Picture files larger than this are refused before they are read: the
// largest picture we hold is 2^28 pixels of 4 bytes, plus room for headers.
inline constexpr uint64_t kMaxPictureFile = (uint64_t(1) << 30) + (uint64_t(1) << 20);

bool LoadPicture(const std::string& path, StdPicture& out, std::string* error = nullptr);
bool LoadPictureFromMemory(const uint8_t* data, size_t size, StdPicture& out, std::string* error = nullptr);

// Writes an uncompressed 24-bpp bottom-up BMP (BITMAPINFOHEADER, biSizeImage
// set) through a temporary file beside `path` that is renamed into place.
bool SavePictureBMP(const Bitmap& picture, const std::string& path, std::string* error = nullptr);
bool SavePictureBMP(const StdPicture& picture, const std::string& path, std::string* error = nullptr);
// The same file image in memory.
bool EncodeBmp24(const Bitmap& picture, std::vector<uint8_t>& out);

// A 32-bpp top-down copy of any bitmap (reserved bytes zero).
bool ToTopDown32(const Bitmap& src, Bitmap& out);

// JPEG through TurboJPEG into a 32-bpp top-down bitmap (CMYK files included).
// Refused before decoding: a picture larger than its data can hold (at most
// 1024 pixels a byte beyond kLoadFloorPixels), a multi-scan file whose scans
// would sweep the picture more often than its size allows, and anything the
// budget (by default one sized for `size`) cannot hold. Corrupt data, which
// the library only warns about, and files of more than 500 scans fail.
bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out, std::string* error = nullptr);
bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* error = nullptr);

// Whole-file helpers shared by the converters. Reading takes regular files
// only (never blocks on a FIFO) and refuses files larger than any picture we
// could hold; writing goes through WriteFileAtomically (a symbolic link is
// written through, what is not a regular file is refused), with `sync` for
// files that must survive a crash. Errors give the cause, not the path: the
// caller names the file.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string* error = nullptr);
bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size, std::string* error = nullptr,
                        bool sync = false);

}  // namespace tarnel
