#pragma once
// The working memory one load of a picture, an animation or a mesh file may
// take. A header of a few bytes can claim a picture of gigabytes; decoders
// reserve every surface here before they allocate it, so a file costs memory
// in proportion to its own size and never more than the process cap.
#include <cstddef>
#include <cstdint>

namespace tarnel {

// The cap of one load: TARNEL_MAX_LOAD_MB megabytes (a whole number from 1),
// 1 GiB when the variable is unset or not such a number.
uint64_t LoadMemoryCap();

// Any input may use this much, however small it is.
inline constexpr uint64_t kLoadFloorBytes = uint64_t(16) << 20;
// And this much more for every byte it holds. The densest coding we read is
// LZW: a 12-bit code spells at most 4097 pixels, 2731 pixels a byte, each
// held at most as an 8-bit image, its 1-bit mask and a 32-bit picture.
inline constexpr uint64_t kLoadBytesPerInputByte = 16 << 10;
// Pixels any picture may have whatever its data: the floor at 4 bytes a pixel.
inline constexpr int64_t kLoadFloorPixels = int64_t(kLoadFloorBytes / 4);

// Picture files larger than this are refused before they are read: the
// largest picture we hold is 2^28 pixels of 4 bytes, plus room for headers.
inline constexpr uint64_t kMaxPictureFile = (uint64_t(1) << 30) + (uint64_t(1) << 20);

class LoadBudget {
public:
    explicit LoadBudget(uint64_t limit) : limit_(limit) {}
    // kLoadFloorBytes plus kLoadBytesPerInputByte for each input byte, never
    // above LoadMemoryCap().
    static LoadBudget ForInput(size_t inputBytes);

    // False, reserving nothing, when `bytes` more would pass the limit.
    bool Reserve(uint64_t bytes) {
        if (bytes > limit_ - used_) return false;
        used_ += bytes;
        return true;
    }
    uint64_t Limit() const { return limit_; }
    uint64_t Used() const { return used_; }

private:
    uint64_t limit_;
    uint64_t used_ = 0;
};

// Bytes of a surface of that size and depth (rows padded to 32 bits).
uint64_t SurfaceBytes(int64_t width, int64_t height, int bpp);

}  // namespace tarnel
