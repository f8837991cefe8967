#pragma once
// The JPEG converter a morph run calls for each JPG frame: one saved BMP file
// in, one JPEG file out.
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

inline constexpr int32_t kJpegProgressive = 1;
inline constexpr int32_t kJpegFastDct = 2;

// Encodes any bitmap as JPEG with TurboJPEG. `subsampling` is a TJSAMP value
// (0..3 as above), `options` the bits above.
bool EncodeJpeg(const Bitmap& picture, int quality, int subsampling, int options, std::vector<uint8_t>& out,
                std::string* error = nullptr);

}  // namespace tarnel
