#include "imaging/BmpDecoder.h"

namespace tarnel {

// Interim: replaced by the full decoder.
bool DecodeBmp(const uint8_t*, size_t, Bitmap& out, std::string* error) {
    out.clear();
    if (error) *error = "BMP decoding is not available";
    return false;
}

}  // namespace tarnel
