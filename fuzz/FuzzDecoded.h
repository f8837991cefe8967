#pragma once
// What every format decoder promises, checked on one input: a 32-bpp
// top-down picture with reserved bytes 0 within the load budget, or a reason
// and an empty bitmap; and the picture front door gives the same picture.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "imaging/LoadBudget.h"
#include "imaging/PictureIO.h"

namespace tarnel::fuzz {

using Decoder = bool (*)(const uint8_t* data, size_t size, Bitmap& out, LoadBudget& budget, std::string* why);

inline void checkDecoder(const std::vector<uint8_t>& input, Decoder decode) {
    Bitmap out;
    std::string why;
    LoadBudget budget = LoadBudget::ForInput(input.size());
    if (!decode(input.data(), input.size(), out, budget, &why)) {
        check(out.empty() && !why.empty());
        return;
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
}

}  // namespace tarnel::fuzz
