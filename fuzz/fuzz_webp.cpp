// The WebP decoder over arbitrary bytes (a RIFF header naming the form WEBP and
// the length is put in front of inputs that lack one). The decoder
// keeps what every decoder promises (FuzzDecoded.h).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzDecoded.h"
#include "imaging/webp/WebpDecoder.h"

using namespace tarnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> input;
    if (LooksLikeWebp(data, size)) {
        input.assign(data, data + size);
    } else {
        const uint32_t length = uint32_t(size + 4);
        const uint8_t header[12] = {'R', 'I', 'F', 'F', uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                                    uint8_t(length >> 24), 'W', 'E', 'B', 'P'};
        input.assign(header, header + 12);
        input.insert(input.end(), data, data + size);
    }

    tarnel::fuzz::checkDecoder(input, &DecodeWebp);
    return 0;
}
