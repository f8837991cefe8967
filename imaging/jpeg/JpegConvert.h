#pragma once
// The JPEG converter of the morph run's JPG frames: one saved BMP file in, one
// JPEG file out; and its in-memory sibling, which takes the frame as it is held.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi.h"

namespace tarnel {

// Results of ConvertBMPtoJPG; 0 is success.
enum ConvertResult : int {
    kConvertOk = 0,
    kConvertBadArguments = 1,
    kConvertReadFailed = 2,    // the BMP file cannot be read
    kConvertDecodeFailed = 3,  // it is not a BMP we can decode
    kConvertEncodeFailed = 4,
    kConvertWriteFailed = 5,   // the JPEG file cannot be written
};

// The three numbers the run passes as -1, 100, -1:
//   Subsampling  -1 for 4:4:4, else 0 (4:4:4), 1 (4:2:2), 2 (4:2:0) or 3 (grey);
//   Quality      1..100, -1 for 100;
//   Options      -1 for none, else bit 0 progressive, bit 1 fast DCT.
// The defaults give a baseline JPEG at quality 100 without chroma subsampling.
// The BMP file is read whole and closed before the JPEG is written; the JPEG
// goes through a temporary file, so a failure leaves no partial file.
int ConvertBMPtoJPG(const std::string& bmpPath, const std::string& jpgPath, int32_t Subsampling = -1,
                    int32_t Quality = 100, int32_t Options = -1);

// The same JPEG file made from a picture in memory: the bytes equal those of
// ConvertBMPtoJPG on the picture saved as a BMP file (colours as the BMP file
// holds them, the reserved byte of 32-bpp pixels ignored). No file but the
// JPEG is written. kConvertReadFailed and kConvertDecodeFailed do not occur.
int ConvertBitmapToJPG(const Bitmap& picture, const std::string& jpgPath, int32_t Subsampling = -1,
                       int32_t Quality = 100, int32_t Options = -1);

// Encodes frame after frame with one TurboJPEG handle and one output buffer,
// so a run of same-sized frames allocates once. One encoder per thread.
class JpegEncoder {
public:
    JpegEncoder() = default;
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // The JPEG bytes ConvertBitmapToJPG would write, into `out` (its storage
    // reused). Returns kConvertOk, kConvertBadArguments or kConvertEncodeFailed.
    int encode(const Bitmap& picture, std::vector<uint8_t>& out, int32_t Subsampling = -1, int32_t Quality = 100,
               int32_t Options = -1);

private:
    void* handle_ = nullptr;  // tjhandle
    int handleFlags_ = 0;     // the flags the handle was last used with
    unsigned char* buffer_ = nullptr;  // TurboJPEG's own allocation
    unsigned long capacity_ = 0;
    Bitmap converted_;  // pictures other than 32-bpp top-down, converted
};

inline constexpr int32_t kJpegProgressive = 1;
inline constexpr int32_t kJpegFastDct = 2;

// Encodes any bitmap as JPEG with TurboJPEG. `subsampling` is a TJSAMP value
// (0..3 as above), `options` the bits above.
bool EncodeJpeg(const Bitmap& picture, int quality, int subsampling, int options, std::vector<uint8_t>& out,
                std::string* error = nullptr);

}  // namespace tarnel
