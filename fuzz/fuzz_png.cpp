// The PNG decoder over arbitrary bytes (a PNG signature is put in front of
// inputs that lack one, so the search starts at the chunks). A decode gives a
// 32-bpp top-down picture with reserved bytes 0 within the load budget, or a
// reason and an empty bitmap; the front door gives the same picture.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "imaging/PictureIO.h"
#include "imaging/png/PngDecoder.h"

using namespace tarnel;
using tarnel::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> input;
    if (!LooksLikePng(data, size)) {
        static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        input.assign(kSignature, kSignature + 8);
    }
    input.insert(input.end(), data, data + size);

    Bitmap out;
    std::string why;
    LoadBudget budget = LoadBudget::ForInput(input.size());
    if (!DecodePng(input.data(), input.size(), out, budget, &why)) {
        check(out.empty() && !why.empty());
        return 0;
    }
    check(out.bpp() == 32 && out.topDown() && budget.Used() <= budget.Limit());
    check(budget.Used() >= SurfaceBytes(out.width(), out.height(), 32));
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) check(out.scanline(y)[4 * x + 3] == 0);

    StdPicture front;
    check(bool(LoadPictureFromMemory(input.data(), input.size(), front)));
    check(front.bitmap->width() == out.width() && front.bitmap->height() == out.height());
    for (int y = 0; y < out.height(); ++y)
        check(std::memcmp(front.bitmap->scanline(y), out.scanline(y), size_t(out.width()) * 4) == 0);
    return 0;
}
