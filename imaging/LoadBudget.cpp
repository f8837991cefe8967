#include "imaging/LoadBudget.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tarnel {

uint64_t LoadMemoryCap() {
    constexpr uint64_t kDefault = uint64_t(1) << 30;
    const char* text = std::getenv("TARNEL_MAX_LOAD_MB");
    if (!text || *text == '\0') return kDefault;
    errno = 0;
    char* end = nullptr;
    const unsigned long long mb = std::strtoull(text, &end, 10);
    // Up to 2^40 MB, far past any memory, so the shift cannot overflow.
    if (errno != 0 || *end != '\0' || *text == '-' || mb == 0 || mb > (1ull << 40)) return kDefault;
    return uint64_t(mb) << 20;
}

LoadBudget LoadBudget::ForInput(size_t inputBytes) {
    const uint64_t cap = LoadMemoryCap();
    // Past cap / kLoadBytesPerInputByte bytes the cap rules anyway.
    const uint64_t perInput = std::min<uint64_t>(inputBytes, cap / kLoadBytesPerInputByte + 1) * kLoadBytesPerInputByte;
    return LoadBudget(std::min(cap, kLoadFloorBytes + perInput));
}

uint64_t SurfaceBytes(int64_t width, int64_t height, int bpp) {
    if (width <= 0 || height <= 0 || bpp <= 0) return 0;
    return uint64_t((width * bpp + 31) / 32 * 4) * uint64_t(height);
}

}  // namespace tarnel
