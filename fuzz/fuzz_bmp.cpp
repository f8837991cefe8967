// Feeds arbitrary bytes to the BMP decoder (and its 32-bpp conversion) and to
// cDIB's packed-DIB path; both must refuse bad input without reading or
// writing out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/BmpDecoder.h"
#include "imaging/PictureIO.h"
#include "imaging/cDIB.h"
#include "platform/Dialogs.h"

namespace {

class QuietDialogs : public tarnel::DialogService {
public:
    tarnel::MsgResult messageBox(const std::string&, tarnel::MsgIcon, tarnel::MsgButtons, const std::string&) override {
        return tarnel::MsgResult::OK;
    }
};

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Run-length files may legitimately describe a surface far larger than
// themselves; past 16M pixels they only slow the fuzzer down.
bool hugeRunLengthFile(const uint8_t* data, size_t size) {
    if (size < 54 || le32(data + 14) < 40) return false;
    uint32_t compression = le32(data + 30);
    if (compression != 1 && compression != 2) return false;
    int64_t w = int32_t(le32(data + 18)), h = int32_t(le32(data + 22));
    return w * (h < 0 ? -h : h) > (int64_t(1) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QuietDialogs dialogs;
    tarnel::SetDialogs(&dialogs);

    if (!hugeRunLengthFile(data, size)) {
        tarnel::Bitmap bitmap;
        std::string error;
        if (tarnel::DecodeBmp(data, size, bitmap, &error)) {
            tarnel::Bitmap picture;
            if (int64_t(bitmap.width()) * bitmap.height() <= (int64_t(1) << 22)) tarnel::ToTopDown32(bitmap, picture);
            volatile uint32_t sink = bitmap.pixelValue(bitmap.width() - 1, bitmap.height() - 1);
            (void)sink;
        } else if (!bitmap.empty()) {
            __builtin_trap();  // a refusal must leave nothing behind
        }
    }

    tarnel::cDIB dib;
    if (dib.CreateFromPackedDIBPointer(data, size)) {
        // Every byte the object claims must be readable.
        uint32_t sum = 0;
        const uint8_t* bits = dib.PointerToBits();
        for (int32_t i = 0; i < dib.SizeImage(); ++i) sum += bits[i];
        const uint8_t* info = dib.PointerToBitmapInfo();
        for (int32_t i = 0; i < dib.SizeBitmapInfo(); ++i) sum += info[i];
        volatile uint32_t sink = sum;
        (void)sink;
    }
    return 0;
}
