#include "imaging/jpeg/JpegConvert.h"

#include <climits>
#include <new>
#include <turbojpeg.h>

#include "imaging/LoadBudget.h"
#include "imaging/bmp/BmpDecoder.h"
#include "imaging/bmp/BmpEncoder.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"

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

namespace {

// The three numbers as ConvertBMPtoJPG takes them, in TurboJPEG's terms;
// false for values out of range.
bool normalise(int32_t Subsampling, int32_t Quality, int32_t Options, int& subsampling, int& quality, int& options) {
    subsampling = Subsampling == -1 ? TJSAMP_444 : Subsampling;
    quality = Quality == -1 ? 100 : Quality;
    options = Options == -1 ? 0 : Options;
    return subsampling >= TJSAMP_444 && subsampling <= TJSAMP_GRAY && quality >= 1 && quality <= 100 &&
           options >= 0 && options <= (kJpegProgressive | kJpegFastDct);
}

}  // namespace

int ConvertBMPtoJPG(const std::string& bmpPath, const std::string& jpgPath, int32_t Subsampling, int32_t Quality,
                    int32_t Options) {
    int subsampling = 0, quality = 0, options = 0;
    if (!normalise(Subsampling, Quality, Options, subsampling, quality, options) || jpgPath.empty())
        return kConvertBadArguments;

    std::vector<uint8_t> bmp;
    if (!ReadFileBytes(bmpPath, kMaxPictureFile, bmp)) return kConvertReadFailed;
    Bitmap picture;
    if (!DecodeBmp(bmp.data(), bmp.size(), picture)) return kConvertDecodeFailed;
    std::vector<uint8_t>().swap(bmp);

    std::vector<uint8_t> jpeg;
    if (!EncodeJpeg(picture, quality, subsampling, options, jpeg)) return kConvertEncodeFailed;
    if (!WriteFileReplacing(jpgPath, jpeg.data(), jpeg.size())) return kConvertWriteFailed;
    return kConvertOk;
}

int ConvertBitmapToJPG(const Bitmap& picture, const std::string& jpgPath, int32_t Subsampling, int32_t Quality,
                       int32_t Options) {
    if (jpgPath.empty()) return kConvertBadArguments;
    JpegEncoder encoder;
    std::vector<uint8_t> jpeg;
    if (int result = encoder.encode(picture, jpeg, Subsampling, Quality, Options); result != kConvertOk)
        return result;
    if (!WriteFileReplacing(jpgPath, jpeg.data(), jpeg.size())) return kConvertWriteFailed;
    return kConvertOk;
}

JpegEncoder::~JpegEncoder() {
    tjFree(buffer_);
    if (handle_) tjDestroy(static_cast<tjhandle>(handle_));
}

int JpegEncoder::encode(const Bitmap& picture, std::vector<uint8_t>& out, int32_t Subsampling, int32_t Quality,
                        int32_t Options) {
    out.clear();
    int subsampling = 0, quality = 0, options = 0;
    if (!normalise(Subsampling, Quality, Options, subsampling, quality, options)) return kConvertBadArguments;
    if (picture.empty()) return kConvertEncodeFailed;
    // A BMP file holds colours only: a 32-bpp picture's reserved bytes do not
    // reach the JPEG (BGRX ignores them), other depths become their colours.
    const Bitmap* src = &picture;
    if (picture.bpp() != 32 || !picture.topDown()) {
        if (!ToTopDown32(picture, converted_)) return kConvertEncodeFailed;
        src = &converted_;
    }
    int flags = (options & kJpegFastDct) ? TJFLAG_FASTDCT : TJFLAG_ACCURATEDCT;
    if (options & kJpegProgressive) flags |= TJFLAG_PROGRESSIVE;
    // A handle keeps some settings of its last use (progression among them),
    // so it serves only calls with the same flags.
    if (handle_ && flags != handleFlags_) {
        tjDestroy(static_cast<tjhandle>(handle_));
        handle_ = nullptr;
    }
    if (!handle_) handle_ = tjInitCompress();
    handleFlags_ = flags;
    if (!handle_) return kConvertEncodeFailed;
    tjhandle tj = static_cast<tjhandle>(handle_);

    // The worst case for this size, allocated once; pages the JPEG never
    // reaches are never touched.
    const unsigned long needed = tjBufSize(src->width(), src->height(), subsampling);
    if (capacity_ < needed && needed <= unsigned(INT_MAX)) {
        tjFree(buffer_);
        buffer_ = tjAlloc(int(needed));
        capacity_ = buffer_ ? needed : 0;
    }
    unsigned char* jpeg = buffer_;
    unsigned long jpegSize = capacity_;
    int rc = -1;
    if (buffer_ && capacity_ >= needed)
        rc = tjCompress2(tj, src->bits(), src->width(), src->stride(), src->height(), TJPF_BGRX, &jpeg, &jpegSize,
                         subsampling, quality, flags | TJFLAG_NOREALLOC);
    unsigned char* own = nullptr;  // TurboJPEG's own buffer, should ours not do
    if (rc != 0) {
        jpeg = nullptr;
        jpegSize = 0;
        rc = tjCompress2(tj, src->bits(), src->width(), src->stride(), src->height(), TJPF_BGRX, &jpeg, &jpegSize,
                         subsampling, quality, flags);
        own = jpeg;
    }
    bool ok = rc == 0 && jpeg && jpegSize > 0;
    if (ok) {
        try {
            out.assign(jpeg, jpeg + jpegSize);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    tjFree(own);
    return ok ? kConvertOk : kConvertEncodeFailed;
}

}  // namespace tarnel
