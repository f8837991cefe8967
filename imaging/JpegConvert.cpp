#include "imaging/JpegConvert.h"

#include <new>
#include <turbojpeg.h>

#include "imaging/BmpDecoder.h"
#include "imaging/PictureIO.h"

namespace tarnel {

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

bool encodeInto(const Bitmap& picture, int quality, int subsampling, int options, std::vector<uint8_t>& out,
                std::string* error) {
    Bitmap bgrx;
    const Bitmap* src = &picture;
    if (picture.bpp() != 32 || !picture.topDown()) {
        if (!ToTopDown32(picture, bgrx)) {
            setError(error, "out of memory");
            return false;
        }
        src = &bgrx;
    }
    tjhandle tj = tjInitCompress();
    if (!tj) {
        setError(error, tjGetErrorStr2(nullptr));
        return false;
    }
    int flags = (options & kJpegFastDct) ? TJFLAG_FASTDCT : TJFLAG_ACCURATEDCT;
    if (options & kJpegProgressive) flags |= TJFLAG_PROGRESSIVE;
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    int rc = tjCompress2(tj, src->bits(), src->width(), src->stride(), src->height(), TJPF_BGRX, &jpeg, &jpegSize,
                         subsampling, quality, flags);
    bool ok = rc == 0 && jpeg && jpegSize > 0;
    if (!ok) setError(error, tjGetErrorStr2(tj));
    if (ok) {
        try {
            out.assign(jpeg, jpeg + jpegSize);
        } catch (const std::bad_alloc&) {
            setError(error, "out of memory");
            ok = false;
        }
    }
    tjFree(jpeg);
    tjDestroy(tj);
    return ok;
}

}  // namespace

bool EncodeJpeg(const Bitmap& picture, int quality, int subsampling, int options, std::vector<uint8_t>& out,
                std::string* error) {
    out.clear();
    if (picture.empty() || quality < 1 || quality > 100 || subsampling < TJSAMP_444 || subsampling > TJSAMP_GRAY) {
        setError(error, "bad JPEG parameters");
        return false;
    }
    return encodeInto(picture, quality, subsampling, options, out, error);
}

int ConvertBMPtoJPG(const std::string& bmpPath, const std::string& jpgPath, int32_t Subsampling, int32_t Quality,
                    int32_t Options) {
    const int subsampling = Subsampling == -1 ? TJSAMP_444 : Subsampling;
    const int quality = Quality == -1 ? 100 : Quality;
    const int options = Options == -1 ? 0 : Options;
    if (subsampling < TJSAMP_444 || subsampling > TJSAMP_GRAY || quality < 1 || quality > 100 || options < 0 ||
        options > (kJpegProgressive | kJpegFastDct) || jpgPath.empty())
        return kConvertBadArguments;

    std::vector<uint8_t> bmp;
    if (!ReadFileBytes(bmpPath, bmp)) return kConvertReadFailed;
    Bitmap picture;
    if (!DecodeBmp(bmp.data(), bmp.size(), picture)) return kConvertDecodeFailed;
    std::vector<uint8_t>().swap(bmp);

    std::vector<uint8_t> jpeg;
    if (!EncodeJpeg(picture, quality, subsampling, options, jpeg)) return kConvertEncodeFailed;
    if (!WriteFileReplacing(jpgPath, jpeg.data(), jpeg.size())) return kConvertWriteFailed;
    return kConvertOk;
}

}  // namespace tarnel
