// cDIB over arbitrary bytes, both as a BMP file and as a packed DIB in
// memory. What loads is exactly the bytes the headers point at; a refused
// load keeps what the object held; a loaded file writes out and reads back
// to the same blocks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "imaging/bmp/cDIB.h"
#include "platform/LittleEndian.h"

using namespace tarnel;
using tarnel::fuzz::check;

namespace {

bool sameBlocks(const cDIB& a, const cDIB& b) {
    return a.Bits() == b.Bits() && a.BitmapInfo() == b.BitmapInfo() && a.Width() == b.Width() &&
           a.Height() == b.Height() && a.BitOffset() == b.BitOffset();
}

// A small valid packed DIB, so that a refusal can be told from a reset.
const cDIB& knownDib() {
    static const cDIB dib = [] {
        uint8_t packed[40 + 4] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 4, 0, 0, 0};
        packed[40] = 0x12, packed[41] = 0x34, packed[42] = 0x56;
        cDIB d;
        check(d.CreateFromPackedDIBPointer(packed, sizeof packed));
        return d;
    }();
    return dib;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDialogs();
    static const fuzz::ScratchFolder scratch("cdib");
    static const std::string input = scratch.file("input.bmp"), output = scratch.file("output.bmp");

    cDIB fromFile = knownDib();
    check(fuzz::writeWholeFile(input, data, size));
    if (fromFile.CreateFromFile(input)) {
        check(size >= 54);
        const uint32_t offBits = Le32(data + 10);
        check(offBits >= 54 && offBits <= size);
        check(fromFile.SizeImage() > 0 && size_t(fromFile.SizeImage()) <= size - offBits);
        check(fromFile.Bits().size() == size_t(fromFile.SizeImage()));
        check(std::memcmp(fromFile.PointerToBits(), data + offBits, fromFile.Bits().size()) == 0);
        check(fromFile.BitmapInfo().size() == offBits - 14);
        check(std::memcmp(fromFile.PointerToBitmapInfo(), data + 14, offBits - 14) == 0);

        check(fromFile.WriteToFile(output));
        cDIB back;
        check(back.CreateFromFile(output));
        check(sameBlocks(fromFile, back));
    } else {
        check(sameBlocks(fromFile, knownDib()));
    }

    cDIB packed = knownDib();
    if (packed.CreateFromPackedDIBPointer(data, size)) {
        check(packed.SizeImage() > 0 && size_t(packed.SizeImage()) <= size - 40);
        check(packed.BitmapInfo().size() == 40 && std::memcmp(packed.PointerToBitmapInfo(), data, 40) == 0);
        check(packed.Bits().size() == size_t(packed.SizeImage()));
        check(std::memcmp(packed.PointerToBits(), data + 40, packed.Bits().size()) == 0);
    } else {
        check(sameBlocks(packed, knownDib()));
    }
    return 0;
}
