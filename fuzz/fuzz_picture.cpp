// The picture loader over arbitrary bytes: BMP (the one-pass 24-bpp path and
// the general decoder), JPEG (CMYK included) and the first frame of a GIF.
// A load gives a 32-bpp top-down picture or leaves the target as it was; the
// 24-bpp path must give what the general decoder gives; a loaded picture
// saved as BMP loads back to the same colours.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "imaging/bmp/BmpDecoder.h"
#include "imaging/PictureIO.h"

using namespace tarnel;
using tarnel::fuzz::check;

namespace {

// The extra comparisons run on every picture up to this size; larger ones
// only load (the load itself always runs, whatever the size). A second
// decode, an encode and a reload of a megapixel cost far more than they
// find: larger pictures take no path that smaller ones do not.
constexpr int64_t kMaxComparedPixels = int64_t(1) << 16;

bool samePixels(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.bpp() != 32 || b.bpp() != 32) return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.scanline(y), b.scanline(y), size_t(a.width()) * 4) != 0) return false;
    return true;
}

bool sameColours(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y) {
        const uint8_t *p = a.scanline(y), *q = b.scanline(y);
        for (int x = 0; x < a.width(); ++x)
            if (std::memcmp(p + 4 * x, q + 4 * x, 3) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDialogs();

    // A failed load must not touch what the target held.
    StdPicture picture;
    auto before = std::make_shared<Bitmap>();
    check(before->create(1, 1, 32));
    picture.bitmap = before;
    if (PictureResult loaded = LoadPictureFromMemory(data, size, picture); !loaded) {
        check(picture.bitmap == before && before->width() == 1);
        check(!loaded.reason.empty());
        return 0;
    }
    check(picture.isBitmap());
    const Bitmap& loaded = *picture.bitmap;
    check(loaded.bpp() == 32 && loaded.topDown());
    check(loaded.sizeBytes() >= size_t(loaded.stride()) * size_t(loaded.height()));

    if (int64_t(loaded.width()) * loaded.height() > kMaxComparedPixels) return 0;

    if (DetectPictureFormat(data, size) == PictureFormat::Bmp) {
        Bitmap decoded, general;
        check(DecodeBmp(data, size, decoded));
        check(ToTopDown32(decoded, general));
        check(samePixels(loaded, general));
    }

    std::vector<uint8_t> file;
    check(EncodeBmp24(loaded, file));
    StdPicture back;
    check(bool(LoadPictureFromMemory(file.data(), file.size(), back)));
    check(sameColours(loaded, *back.bitmap));
    return 0;
}
