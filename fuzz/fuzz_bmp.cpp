// Feeds arbitrary bytes to the BMP decoder (and its 32-bpp conversion) and to
// cDIB's packed-DIB path; both must refuse bad input without reading or
// writing out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/bmp/BmpDecoder.h"
#include "imaging/PictureIO.h"
#include "imaging/bmp/cDIB.h"
#include "platform/Dialogs.h"

namespace {

class QuietDialogs : public tarnel::DialogService {
public:
    tarnel::MsgResult messageBox(const std::string&, tarnel::MsgIcon, tarnel::MsgButtons, const std::string&) override {
        return tarnel::MsgResult::OK;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QuietDialogs dialogs;
    tarnel::SetDialogs(&dialogs);

    // Any size the headers claim: the load budget is what keeps a small
    // input from taking much memory or time, as in the product.
    tarnel::Bitmap bitmap;
    std::string error;
    if (tarnel::DecodeBmp(data, size, bitmap, &error)) {
        volatile uint32_t sink = bitmap.pixelValue(bitmap.width() - 1, bitmap.height() - 1);
        (void)sink;
    } else if (!bitmap.empty()) {
        __builtin_trap();  // a refusal must leave nothing behind
    }
    // The whole picture path, 32-bpp conversion included.
    tarnel::StdPicture picture;
    if (bool(tarnel::LoadPictureFromMemory(data, size, picture)) != picture.isBitmap()) __builtin_trap();

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
