#pragma once
// Little-endian fields written into a byte buffer built by a test.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnel::test {

inline void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}

inline void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

}  // namespace tarnel::test
