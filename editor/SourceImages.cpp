#include "editor/SourceImages.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "core/FrameNaming.h"
#include "core/MeshEdit.h"
#include "core/WindowLinks.h"
#include "imaging/PictureIO.h"
#include "platform/Dialogs.h"
#include "platform/FileRead.h"
#include "platform/NumText.h"
#include "platform/ProgramFolder.h"

namespace tarnel {

namespace {

void showMessage(const std::string& text, MsgIcon icon = MsgIcon::Information) {
    Dialogs().messageBox(text, icon, MsgButtons::OK, kAppTitle);
}

void showLoadFailure(const std::string& path, const std::string& reason) {
    showMessage(kLoadFailedMessage + path + "\n" + reason, MsgIcon::Exclamation);
}

// The decoders explain themselves in English for the command line; the
// window names the kind of failure.
std::string decodeReason(const std::string& why) {
    auto has = [&why](const char* word) { return why.find(word) != std::string::npos; };
    if (has("not a BMP, JPEG, GIF, PNG or WebP") || has("not a BMP file"))
        return "対応していない形式です (BMP、JPEG、GIF、PNG、WebP のみ)";
    if (has("unsupported") || has("top-down run-length") || has("bit fields need"))
        return "対応していない種類の画像です";
    if (has("more memory than allowed") || has("out of range") || has("above 32767") || has("implausible") || has("too many scans"))
        return "画像が大きすぎます";
    if (has("out of memory")) return "ﾒﾓﾘが足りません";
    if (has("truncated") || has("cut short") || has("ends early") || has("too short") || has("beyond the end") ||
        has("no data") || has("Premature end"))
        return "ﾌｧｲﾙが途中で切れています";
    return "画像のﾃﾞｰﾀが壊れています";
}

std::string loadReason(const PictureResult& result) {
    switch (result.kind) {
        case PictureError::NotFound: return "ﾌｧｲﾙが見つかりません";
        case PictureError::NoAccess: return "ﾌｧｲﾙを開く権限がありません";
        case PictureError::Folder: return "ﾌｫﾙﾀﾞです。画像ﾌｧｲﾙを選んでください";
        case PictureError::NotAFile: return "通常のﾌｧｲﾙではありません (ﾊﾟｲﾌﾟやﾃﾞﾊﾞｲｽ)";
        case PictureError::TooLarge: return "ﾌｧｲﾙが大きすぎます";
        case PictureError::OutOfMemory: return "ﾒﾓﾘが足りません";
        case PictureError::Unreadable: return "ﾌｧｲﾙを読めません (" + result.reason + ")";
        default: return decodeReason(result.reason);
    }
}

bool deleteFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::remove(path, ec);
}

// The top-left width x height part of a box's picture becomes its picture.
void keepTopLeft(PictureBox& box, int width, int height) {
    StdPicture source = box.hasPicture() ? box.picture() : box.imagePicture();
    CutInto(box, source, 0, 0, width, height);
}

}  // namespace

std::string ShowOpenImageDialog(const std::string& imageFolder) {
    FileDialogRequest request;
    request.title = kOpenImageTitle;
    request.filter = kOpenImageFilter;
    request.initialFolder = imageFolder;
    std::optional<std::string> chosen = Dialogs().openFile(request);
    if (!chosen) return std::string();
    std::string path;
    for (char c : *chosen)
        if (c != '\0') path += c;
    size_t first = path.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    size_t last = path.find_last_not_of(' ');
    return path.substr(first, last - first + 1);
}

bool LoadSourcePicture(const std::string& path, StdPicture& out, std::string& reason) {
    const PictureResult loaded = LoadPicture(path, out);
    if (!loaded) reason = loadReason(loaded);
    return bool(loaded);
}

std::string SizeText(int width, int height) { return std::to_string(width) + " * " + std::to_string(height); }

ViewBars ResetViewBars(int imageWidth, int imageHeight, int viewWidth, int viewHeight) {
    ViewBars bars;
    const bool wide = imageWidth > viewWidth, high = imageHeight > viewHeight;
    if (wide) {
        bars.hVisible = true;
        bars.hMax = imageWidth - viewWidth + (high ? kScrollBarSize : 0);
    }
    if (high) {
        bars.vVisible = true;
        bars.vMax = imageHeight - viewHeight + (wide ? kScrollBarSize : 0);
    }
    bars.cornerVisible = bars.hVisible || bars.vVisible;
    return bars;
}

bool CutInto(PictureBox& target, const StdPicture& source, int dx, int dy, int w, int h) {
    if (w <= 0 || h <= 0 || !Bitmap::sizeAllowed(w, h)) return false;
    target.resize(w, h);
    if (source.isBitmap()) {
        DC from;
        from.select(source.bitmap.get());
        BitBlt(target.hDC(), 0, 0, w, h, &from, dx, dy, SRCCOPY);
    }
    target.setPicture(target.imagePicture());
    return true;
}

SourceImages::SourceImages() {
    for (int i = 0; i < 2; ++i) {
        P[size_t(i)].backColor = RGBColor(255, 255, 255);
        P[size_t(i)].resize(kViewSize, kViewSize);
    }
    P[2].backColor = RGBColor(0, 0, 0);
    Pic_Pre.backColor = GetSysColor(15);
    Pic_Pre.resize(kPreviewSize, kPreviewSize);
    DrawEdgeFrame(Pic_Pre);
}

std::string SourceImages::WorkingCopyPath(int i) {
    return ProcessTempFilePath(ProgramFolder(), "temp" + FormatNumber(i, "00") + ".bmp");
}

bool SourceImages::writeWorkingCopy(int i, const std::string& path, const StdPicture& picture) {
    LockedTempFile& file = workingFiles_[size_t(i)];
    std::vector<uint8_t> bytes;
    // The program folder may have changed since the file was made.
    if (file.held() && file.path() != path) file.remove();
    bool ok = picture.isBitmap() && EncodeBmp24(*picture.bitmap, bytes) && (file.held() || !file.open(path));
    if (ok) ok = ::ftruncate(file.fd(), 0) == 0;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::pwrite(file.fd(), bytes.data() + done, bytes.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += size_t(n);
    }
    if (!ok) file.remove();
    return ok;
}

void SourceImages::removeWorkingCopy(int i) { workingFiles_[size_t(i)].remove(); }

void SourceImages::SaveWorkingCopy(int i) {
    // The new copy is written over the old one; when it cannot be written
    // the old one goes, so that no reduction starts from a stale image.
    const std::string path = WorkingCopyPath(i);
    const PictureBox& box = P[size_t(i)];
    WorkingPicture[size_t(i)] = box.picture();
    if (!box.hasPicture() || !writeWorkingCopy(i, path, box.picture())) {
        removeWorkingCopy(i);
        deleteFile(path);
        WorkingPicture[size_t(i)] = StdPicture();
    }
}

void SourceImages::RecordSize(int i) {
    ImgW[size_t(i)] = P[size_t(i)].scaleWidth();
    ImgH[size_t(i)] = P[size_t(i)].scaleHeight();
}

void SourceImages::UpdateSizeLabels(int i) {
    const PictureBox& box = P[size_t(i)];
    SizeLabel[size_t(i)] = SizeLabelS[size_t(i)] = SizeText(box.scaleWidth(), box.scaleHeight());
}

void SourceImages::UpdatePreview() {
    const PictureBox& start = P[0];
    const int w = start.scaleWidth(), h = start.scaleHeight();
    if (w <= 0 || h <= 0) return;
    double pw, ph;
    if (w > h) {
        pw = kPreviewSize;
        ph = double(h) * kPreviewSize / w;
    } else {
        pw = double(w) * kPreviewSize / h;
        ph = kPreviewSize;
    }
    const int width = int(std::nearbyint(pw)), height = int(std::nearbyint(ph));
    Pic_Pre.resize(width, height);
    if (Pic_Pre.image().empty()) return;
    SetStretchBltMode(Pic_Pre.hDC(), COLORONCOLOR);
    StretchBlt(Pic_Pre.hDC(), 0, 0, width, height, const_cast<PictureBox&>(start).hDC(), 0, 0, w, h, SRCCOPY);
    DrawEdgeFrame(Pic_Pre);
}

SourceImages::LoadOutcome SourceImages::Load(int i, MorphSettings& settings) {
    if (i != 0 && i != 1) return LoadOutcome::Cancelled;
    const std::string path = ShowOpenImageDialog(settings.ImageFolder);
    if (path.empty()) return LoadOutcome::Cancelled;
    settings.ImageFolder = FolderOf(path);
    return LoadFile(i, path);
}

SourceImages::LoadOutcome SourceImages::LoadFile(int i, const std::string& path) {
    if (i != 0 && i != 1) return LoadOutcome::Failed;
    StdPicture picture;
    std::string reason;
    if (!LoadSourcePicture(path, picture, reason)) {
        showLoadFailure(path, reason);
        return LoadOutcome::Failed;
    }
    P[size_t(i)].setPicture(picture);
    Prepared[size_t(i)] = false;
    SaveWorkingCopy(i);
    RecordSize(i);
    UpdateSizeLabels(i);
    ImagePath[size_t(i)] = path;
    if (i == 0) UpdatePreview();
    return LoadOutcome::Loaded;
}

bool SourceImages::Reduce(int i, int percent) {
    if (!loaded(i)) return false;
    StdPicture copy;
    if (!LoadPicture(WorkingCopyPath(i), copy)) return false;
    PictureBox& scratch = P[2];
    scratch.setPicture(copy);
    const auto scaled = [percent](int size) -> int {
        double v = std::nearbyint(double(percent) * size);
        if (!(v >= 0) || v > 2147483647.0) return 0;
        return int(v) / 100;
    };
    const int w = scaled(scratch.scaleWidth()), h = scaled(scratch.scaleHeight());
    if (w <= 0 || h <= 0 || !Bitmap::sizeAllowed(w, h)) return false;
    PictureBox& box = P[size_t(i)];
    box.resize(w, h);
    SetStretchBltMode(box.hDC(), COLORONCOLOR);
    StretchBlt(box.hDC(), 0, 0, w, h, scratch.hDC(), 0, 0, scratch.scaleWidth(), scratch.scaleHeight(), SRCCOPY);
    box.setPicture(box.imagePicture());
    Prepared[size_t(i)] = true;
    SizeLabel[size_t(i)] = SizeText(w, h);
    return true;
}

std::string SourceImages::StretchSizeText(int i, int percent) const {
    if (i != 0 && i != 1) return std::string();
    const int64_t w = int64_t(percent) * ImgW[size_t(i)] / 100, h = int64_t(percent) * ImgH[size_t(i)] / 100;
    if (w == 0) return std::string();
    return SizeText(int(w), int(h));
}

bool SourceImages::Reset(int i) {
    if (!loaded(i)) return false;
    StdPicture picture;
    std::string reason;
    if (!LoadSourcePicture(ImagePath[size_t(i)], picture, reason)) {
        showLoadFailure(ImagePath[size_t(i)], reason);
        return false;
    }
    P[size_t(i)].setPicture(picture);
    Prepared[size_t(i)] = false;
    SaveWorkingCopy(i);
    RecordSize(i);
    UpdateSizeLabels(i);
    if (i == 0) UpdatePreview();
    return true;
}

SourceImages::SyncOutcome SourceImages::Synchronise() {
    SyncOutcome out;
    if (!bothLoaded()) return out;
    out.done = true;
    // The sizes are at most 32767, so they always fit 16 bits.
    out.width = std::min(P[0].scaleWidth(), P[1].scaleWidth());
    out.height = std::min(P[0].scaleHeight(), P[1].scaleHeight());
    for (int i = 0; i < 2; ++i) {
        SizeLabel[size_t(i)] = SizeText(out.width, out.height);
        PictureBox& box = P[size_t(i)];
        if (box.scaleWidth() == out.width && box.scaleHeight() == out.height) continue;
        keepTopLeft(box, out.width, out.height);
        Prepared[size_t(i)] = true;
        out.changed[size_t(i)] = true;
        if (i == 0) UpdatePreview();
    }
    return out;
}

SourceImages::TrimCheck SourceImages::CheckTrim(int i, const std::string& txtW, const std::string& txtH,
                                                MorphSettings& settings) {
    TrimCheck check;
    std::optional<int32_t> w32 = ToInt32(txtW), h32 = ToInt32(txtH);
    if (!IsNumeric(txtW) || !IsNumeric(txtH) || !w32 || !h32 || *w32 <= 0 || *h32 <= 0) {
        showMessage(kTrimSizeMessage);
        check.focus = TrimFocus::Width;
        return check;
    }
    if (!loaded(i)) {
        showMessage(kTrimImageMessage);
        return check;
    }
    const PictureBox& box = P[size_t(i)];
    // A width too large for 16 bits is too large for any image.
    std::optional<int16_t> w16 = ToInt16(txtW), h16 = ToInt16(txtH);
    if (!w16 || *w16 > box.scaleWidth()) {
        showMessage(kTrimMaxWidthMessage + std::to_string(box.scaleWidth()));
        check.focus = TrimFocus::Width;
        return check;
    }
    if (!h16 || *h16 > box.scaleHeight()) {
        showMessage(kTrimMaxHeightMessage + std::to_string(box.scaleHeight()));
        check.focus = TrimFocus::Height;
        return check;
    }
    Links().TrimTarget = int16_t(i);
    Links().TrimAccepted = false;
    settings.TrimWidth = *w32;
    settings.TrimHeight = *h32;
    check.ok = true;
    return check;
}

void SourceImages::AcceptTrim(int i) {
    if (i != 0 && i != 1) return;
    Prepared[size_t(i)] = true;
    SaveWorkingCopy(i);
    RecordSize(i);
    UpdateSizeLabels(i);
    if (i == 0) UpdatePreview();
}

void SourceImages::DeleteWorkingCopies() {
    for (int i = 0; i < 2; ++i) {
        removeWorkingCopy(i);
        const std::string path = WorkingCopyPath(i);
        if (FileExists(path)) deleteFile(path);
    }
}

const Bitmap* SourceImages::RunPicture(int i) const {
    if ((i != 0 && i != 1) || !P[size_t(i)].hasPicture()) return nullptr;
    return P[size_t(i)].picture().bitmap.get();
}

void SourceImages::PrepareRunCanvases(int width, int height) {
    P[0].Cls();
    P[1].Cls();
    P[2].setPicture(StdPicture{});
    P[2].resize(width, height);
}

void SourceImages::ShowRunFrame(const Bitmap& frame, int saveKind) {
    Bitmap& canvas = P[2].image();
    if (canvas.sizeBytes() == frame.sizeBytes() && !frame.empty())
        std::memcpy(canvas.bits(), frame.bits(), frame.sizeBytes());
    if (saveKind == kSaveGif) P[2].setPictureFromImage();
}

SourceState SourceImages::Capture(int i) const {
    SourceState s;
    if (i != 0 && i != 1) return s;
    const size_t k = size_t(i);
    if (loaded(i)) s.picture = P[k].picture();
    s.workingCopy = WorkingPicture[k];
    s.path = ImagePath[k];
    s.width = ImgW[k];
    s.height = ImgH[k];
    s.sizeLabel = SizeLabel[k];
    s.sizeLabelS = SizeLabelS[k];
    s.prepared = Prepared[k];
    return s;
}

void SourceImages::Restore(int i, const SourceState& state) {
    if (i != 0 && i != 1) return;
    const size_t k = size_t(i);
    PictureBox& box = P[k];
    if (state.picture.isBitmap()) {
        box.setPicture(state.picture);
    } else {
        box.setPicture(StdPicture());
        box.resize(kViewSize, kViewSize);
    }
    if (WorkingPicture[k].bitmap != state.workingCopy.bitmap) {
        const std::string path = WorkingCopyPath(i);
        WorkingPicture[k] = state.workingCopy;
        if (!writeWorkingCopy(i, path, state.workingCopy)) {
            deleteFile(path);
            WorkingPicture[k] = StdPicture();
        }
    }
    ImagePath[k] = state.path;
    ImgW[k] = state.width;
    ImgH[k] = state.height;
    SizeLabel[k] = state.sizeLabel;
    SizeLabelS[k] = state.sizeLabelS;
    Prepared[k] = state.prepared;
    if (i == 0) {
        if (state.picture.isBitmap()) {
            UpdatePreview();
        } else {
            Pic_Pre.setPicture(StdPicture());
            Pic_Pre.resize(kPreviewSize, kPreviewSize);
            DrawEdgeFrame(Pic_Pre);
        }
    }
}

}  // namespace tarnel
