#include "output/AviExport.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/PictureIO.h"
#include "imaging/bmp/cDIB.h"
#include "platform/StaleTempFiles.h"
#include "platform/gdi.h"
#include "platform/media/AviSink.h"

namespace tarnel {

int ClampAviFrameRate(int framesPerSecond) { return std::clamp(framesPerSecond, 1, 30); }

namespace {

// picTemp, picSave and the temporary BMP of the writer: one frame at a time
// is loaded, stretched to the AVI size, saved and read back. The surface and
// the file buffers live as long as the export, so frames after the first
// reuse their memory instead of faulting in fresh pages.
class FramePreparer {
public:
    FramePreparer(int width, int height, std::string tempBmpPath, LockedTempFile* staging)
        : tempBmp_(std::move(tempBmpPath)), staging_(staging ? *staging : own_) {
        ok_ = save_.create(width, height, 32);
        saveDC_.select(&save_);
        SetStretchBltMode(&saveDC_, COLORONCOLOR);
    }
    // The file stays for the caller; only a lock of the export's own goes.
    ~FramePreparer() { own_.release(); }

    enum class Step { Ready, ImageNotLoaded, TempNotSaved, TempNotRead, StagingFailed };

    // lbl_S = path; load into picTemp; stretch the whole of it onto picSave;
    // save picSave as the temporary BMP; read that back into `dib`.
    Step prepare(const std::string& path, cDIB& dib, std::string& error) {
        if (!ok_) {
            error = "cannot make a frame of " + std::to_string(save_.width()) + "x" + std::to_string(save_.height());
            return Step::TempNotSaved;
        }
        StdPicture picture;
        if (PictureResult loaded = LoadPicture(path, picture, fileBytes_); !loaded) {
            error = loaded.reason.find(path) == std::string::npos ? path + ": " + loaded.reason : loaded.reason;
            return Step::ImageNotLoaded;
        }
        DC source;
        source.select(picture.bitmap.get());
        StretchBlt(&saveDC_, 0, 0, save_.width(), save_.height(), &source, 0, 0, picture.width(), picture.height(),
                   SRCCOPY);
        // SavePictureBMP, with the file image kept for the next frame.
        if (!EncodeBmp24(save_, bmpBytes_)) {
            error = "cannot encode the frame";
            return Step::TempNotSaved;
        }
        if (!writeStaging(error)) return Step::StagingFailed;
        if (!dib.CreateFromFile(tempBmp_, &error)) return Step::TempNotRead;
        return Step::Ready;
    }

private:
    // Every frame is written over the previous one in the same file, which
    // stays locked for the whole export so no cleaner takes it for litter.
    bool writeStaging(std::string& error) {
        if (!staging_.held() || staging_.path() != tempBmp_) {
            if (std::error_code ec = staging_.open(tempBmp_)) {
                error = "cannot create the frame staging file " + tempBmp_ + ": " + ec.message();
                return false;
            }
        }
        size_t done = 0;
        while (done < bmpBytes_.size()) {
            const ssize_t put = ::pwrite(staging_.fd(), bmpBytes_.data() + done, bmpBytes_.size() - done, off_t(done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return stagingWriteFailed(put < 0 ? errno : EIO, error);
            done += size_t(put);
        }
        if (::ftruncate(staging_.fd(), off_t(done)) != 0) return stagingWriteFailed(errno, error);
        return true;
    }
    bool stagingWriteFailed(int code, std::string& error) {
        error = "cannot write the frame staging file " + tempBmp_ + ": " + std::strerror(code);
        return false;
    }

    std::string tempBmp_;
    LockedTempFile own_;
    LockedTempFile& staging_;  // the caller's, or own_
    std::vector<uint8_t> fileBytes_, bmpBytes_;
    Bitmap save_;
    DC saveDC_;
    bool ok_ = false;
};

}  // namespace

AviExportResult ExportAvi(const AviExportRequest& request, const AviOptionsChooser& chooseOptions,
                          ProgressSink* progress, std::string* error) {
    std::string problem;
    auto result = [&](AviExportResult r) {
        if (error) *error = problem;
        return r;
    };
    if (request.framePaths.empty()) {
        problem = "no images to write";
        return result(AviExportResult::Abandoned);
    }
    if (!Bitmap::sizeAllowed(request.width, request.height)) {
        problem = "the AVI size " + std::to_string(request.width) + "x" + std::to_string(request.height) +
                  " is out of range";
        return result(AviExportResult::Abandoned);
    }

    // 1. The file.
    AviWriter file;
    if (!file.FileOpen(request.outputPath, OF_CREATE)) {
        problem = file.LastError();
        return result(AviExportResult::WriteFailed);
    }

    // 2. Frame 0 gives the format.
    FramePreparer frames(request.width, request.height, request.tempBmpPath, request.staging);
    cDIB dib;
    switch (frames.prepare(request.framePaths[0], dib, problem)) {
        case FramePreparer::Step::Ready: break;
        case FramePreparer::Step::TempNotRead: return result(AviExportResult::ImageLoadFailed);
        case FramePreparer::Step::StagingFailed: return result(AviExportResult::StagingFailed);
        default: return result(AviExportResult::Abandoned);
    }

    // 3. The stream header.
    AVISTREAMINFO header;
    header.fccType = mmioStringToFOURCC("vids");
    header.fccHandler = 0;
    header.dwScale = 1;
    header.dwRate = uint32_t(ClampAviFrameRate(request.framesPerSecond));
    header.dwSuggestedBufferSize = uint32_t(dib.SizeImage());
    header.rcFrame = Rect{0, 0, dib.Width(), dib.Height()};

    // 4. The stream and the user's choice of compression.
    if (!file.CreateStream(header)) {
        problem = file.LastError();
        return result(AviExportResult::WriteFailed);
    }
    std::optional<AviCompressOptions> options = chooseOptions ? chooseOptions() : AviCompressOptions{};
    if (!options) {
        problem.clear();
        return result(AviExportResult::Cancelled);
    }

    // Uncompressed frames have a known size: a file that cannot hold them all
    // is refused before the first is written.
    if (options->codec == AviCodec::Raw) {
        const uint64_t frameBytes = uint64_t(dib.SizeImage()) + (uint64_t(dib.SizeImage()) & 1);
        const uint64_t count = request.framePaths.size();
        // Each frame's chunk head and index entry, the index's own head.
        const uint64_t atLeast = count * (frameBytes + 8 + 16) + 8;
        if (atLeast > kMaxAviFileBytes) {
            problem = "the AVI file would grow beyond 1 GB: " + std::to_string(count) + " uncompressed frames of " +
                      std::to_string(dib.Width()) + "x" + std::to_string(dib.Height()) + " take " +
                      std::to_string((atLeast + (1u << 20) - 1) >> 20) + " MB";
            return result(AviExportResult::WriteFailed);
        }
    }

    // 5. The compressed stream and its format.
    if (!file.MakeCompressedStream(*options) ||
        !file.SetFormat(dib.PointerToBitmapInfo(), size_t(dib.SizeBitmapInfo()))) {
        problem = file.LastError();
        return result(AviExportResult::WriteFailed);
    }

    // 6. Every image as a key frame; the first is read again.
    const int count = int(request.framePaths.size());
    if (progress) progress->SetMax(count);
    for (int i = 0; i < count; ++i) {
        switch (frames.prepare(request.framePaths[size_t(i)], dib, problem)) {
            case FramePreparer::Step::Ready: break;
            // A frame read back wrongly would repeat the previous one unnoticed.
            case FramePreparer::Step::TempNotRead: return result(AviExportResult::ImageLoadFailed);
            case FramePreparer::Step::StagingFailed: return result(AviExportResult::StagingFailed);
            default: return result(AviExportResult::Abandoned);
        }
        if (!file.Write(i, dib.PointerToBits(), size_t(dib.SizeImage()), AVIIF_KEYFRAME)) {
            problem = file.LastError();
            return result(AviExportResult::WriteFailed);
        }
        if (progress) progress->SetValue(i + 1);
    }

    // 7-8. In place only when complete.
    if (!file.Commit()) {
        problem = file.LastError();
        return result(AviExportResult::WriteFailed);
    }
    problem.clear();
    return result(AviExportResult::Written);
}

}  // namespace tarnel
