#pragma once
// What one animated GIF can hold and read back: frames are counted in 16
// bits, and a load takes at most this many frame pixels. Imports stop short
// of either.
#include <cstdint>

namespace tarnel {

inline constexpr int32_t kMaxGifFrames = 32767;
inline constexpr int64_t kMaxGifPixels = int64_t(1) << 29;

}  // namespace tarnel
