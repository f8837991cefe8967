// The PNG decoder over arbitrary bytes (a PNG signature is put in front of
// inputs that lack one, so the search starts at the chunks). The decoder
// keeps what every decoder promises (FuzzDecoded.h).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzDecoded.h"
#include "imaging/png/PngDecoder.h"

using namespace tarnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> input;
    if (!LooksLikePng(data, size)) {
        static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        input.assign(kSignature, kSignature + 8);
    }
    input.insert(input.end(), data, data + size);

    tarnel::fuzz::checkDecoder(input, &DecodePng);
    return 0;
}
