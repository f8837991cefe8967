#pragma once
// A zlib stream (RFC 1950) whose deflate blocks hold literals only, each
// block with the Huffman code of its own bytes, or stored where that is
// shorter. Filtered photographs gain almost nothing from LZ77 matches, so
// this codes them as small as zlib's Huffman-only strategy does, several
// times faster.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnel {

// Appends the zlib stream of `size` bytes at `data` to `out`.
void DeflateLiterals(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

}  // namespace tarnel
