#include "imaging/GifPicture.h"

namespace tarnel {

// Interim: replaced once the GIF container lands.
bool DecodeGifPicture(const uint8_t*, size_t, Bitmap& out) {
    out.clear();
    return false;
}

}  // namespace tarnel
