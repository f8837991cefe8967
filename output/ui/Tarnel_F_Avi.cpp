// The export window's AVI commands: writing the folder's images as an AVI
// file (or, for a name ending in .mp4 or .webm, as an H.264 or VP9 video),
// and handing the AVI to the player.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "platform/FileRead.h"
#include "output/AviExport.h"
#include "output/VideoExport.h"
#include "output/ui/Tarnel_F.h"
#include "platform/Dialogs.h"
#include "platform/NumText.h"
#include "platform/ProgramFolder.h"
#include "platform/StaleTempFiles.h"
#include "ui/widgets/RaisingScrollBar.h"
#include "ui/ChildWindows.h"

namespace tarnel {

namespace {

constexpr const char* kSaveTitle = "ﾌｧｲﾙ名を付けて保存";
// AVI first; a name ending in .mp4 or .webm is written by the video export.
constexpr const char* kSaveFilter =
    "AVI Videoﾌｧｲﾙ|*.avi|MP4 Videoﾌｧｲﾙ|*.mp4|WebM Videoﾌｧｲﾙ|*.webm|WebP ｱﾆﾒｰｼｮﾝﾌｧｲﾙ|*.webp|"
    "APNG ｱﾆﾒｰｼｮﾝﾌｧｲﾙ|*.apng;*.png";
constexpr const char* kInitialName = "*.avi";
constexpr const char* kAviWritten = "AVI ﾌｧｲﾙを作成しました！！";

// The last options the user confirmed, offered again by the next export of the session.
AviCompressOptions& lastCompression() {
    static AviCompressOptions options;
    return options;
}

// The hourglass for as long as the object lives, whichever way the export ends.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Frames written, shown in the panel; the window repaints between frames but
// takes no input, so nothing can start a second export or close the window
// under the writer.
class ExportProgress : public ProgressSink {
public:
    ExportProgress(QLabel* label, QLabel* current, const std::vector<std::string>& frames)
        : label_(label), current_(current), frames_(frames), max_(int32_t(frames.size())) {}
    void SetMax(int32_t max) override { max_ = max; }
    void SetValue(int32_t value) override {
        if (value >= 0 && size_t(value) < frames_.size()) current_->setText(QString::fromStdString(frames_[size_t(value)]));
        label_->setText(QString::number(value) + " / " + QString::number(max_));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

private:
    QLabel* label_;
    QLabel* current_;
    const std::vector<std::string>& frames_;
    int32_t max_;
};

}  // namespace

std::string Tarnel_F::TempBmpPath() { return ProcessTempFilePath(ProgramFolder(), "AVI_Temp.bmp"); }

void Tarnel_F::Cmd_Avi_Save_Click() {
    if (!aviMode_) return;
    // 1. The initial name is a pattern; MediaFilePath keeps the last AVI
    // until a new one is chosen, so the player never gets the pattern.
    FileDialogRequest request;
    request.title = kSaveTitle;
    request.filter = kSaveFilter;
    request.fileName = kInitialName;
    request.initialFolder = Settings().SaveFolder;
    request.defaultExtension = "avi";
    request.overwritePrompt = true;
    const std::optional<std::string> chosen = Dialogs().saveFile(request);
    if (!chosen) return;

    // 2
    const std::string path = chosen->substr(0, chosen->find('\0'));
    if (path.empty()) return;
    if (AnimationFormatFor(path)) {
        Settings().SaveFolder = FolderOf(path);
        writeVideo(path);
        return;
    }
    Links().MediaFilePath = path;
    Settings().SaveFolder = FolderOf(path);
    // The player plays MediaFilePath: only an AVI written there may be played.
    Cmd_Viewer->setEnabled(false);

    // 3
    writeAvi(path);
}

std::optional<int16_t> Tarnel_F::takeSizeAndRate() {
    const std::optional<int16_t> width = ToInt16(txtWidth->text().toStdString());
    const std::optional<int16_t> height = ToInt16(txtHeight->text().toStdString());
    // A size that is no size leaves picSave as it was.
    if (width && height && *width > 0 && *height > 0) {
        picSaveW_ = *width;
        picSaveH_ = *height;
    }
    const std::optional<int16_t> rate = ToInt16(txtFPS->text().toStdString());
    if (!rate || picSaveW_ <= 0 || picSaveH_ <= 0) return std::nullopt;
    return rate;
}

void Tarnel_F::writeAvi(const std::string& path) {
    const std::optional<int16_t> rate = takeSizeAndRate();
    if (!rate) return;

    AviExportRequest job;
    for (int i = 0; i < chooser_.fileCount(); ++i) job.framePaths.push_back(chooser_.filePath(i));
    job.outputPath = path;
    job.width = picSaveW_;
    job.height = picSaveH_;
    job.framesPerSecond = *rate;
    job.tempBmpPath = TempBmpPath();
    job.staging = &staging_;

    const AviOptionsChooser choose = []() -> std::optional<AviCompressOptions> {
        // The pointer is an arrow again while the user chooses.
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
        std::optional<AviCompressOptions> chosen =
            Dialogs().chooseCompression(CompressionDialogRequest{AvailableAviCodecs(), lastCompression()});
        QGuiApplication::restoreOverrideCursor();
        if (chosen) lastCompression() = *chosen;
        return chosen;
    };

    AviExportResult result;
    {
        WaitCursor hourglass;
        lbl_Message->hide();
        lbl_Progress->setText(QString());
        lbl_Progress->show();
        ExportProgress progress(lbl_Progress, lbl_S, job.framePaths);
        result = exporter_ ? exporter_(job, choose, &progress) : ExportAvi(job, choose, &progress);
        lbl_Progress->hide();
    }

    switch (result) {
        case AviExportResult::Written:
            // 7
            Cmd_Viewer->setEnabled(true);
            lbl_Message->setText(QString::fromUtf8(kAviWritten));
            lbl_Message->show();
            break;
        case AviExportResult::ImageLoadFailed:
            Dialogs().messageBox(kAviImageLoadFailed, MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
            break;
        case AviExportResult::WriteFailed:
            Dialogs().messageBox(kAviWriteFailed, MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
            break;
        case AviExportResult::Cancelled:
        case AviExportResult::Abandoned:
        case AviExportResult::StagingFailed:
            break;
    }
}

void Tarnel_F::writeVideo(const std::string& path) {
    const std::optional<int16_t> rate = takeSizeAndRate();
    if (!rate) return;

    VideoExportRequest job;
    for (int i = 0; i < chooser_.fileCount(); ++i) job.framePaths.push_back(chooser_.filePath(i));
    job.outputPath = path;
    job.width = picSaveW_;
    job.height = picSaveH_;
    // Out-of-range rates are taken to the nearest one a file can have, as the AVI does.
    job.framesPerSecond = std::clamp(int(*rate), kMinVideoFrameRate, kMaxVideoFrameRate);

    VideoExportResult result;
    {
        WaitCursor hourglass;
        lbl_Message->hide();
        lbl_Progress->setText(QString());
        lbl_Progress->show();
        ExportProgress progress(lbl_Progress, lbl_S, job.framePaths);
        result = videoExporter_ ? videoExporter_(job, &progress) : ExportVideo(job, &progress);
        lbl_Progress->hide();
    }

    if (result == VideoExportResult::Written) {
        const AnimationFormat format = *AnimationFormatFor(path);
        lbl_Message->setText(QString::fromUtf8(AnimationFormatName(format)) + QStringLiteral(" ﾌｧｲﾙを作成しました！！"));
        lbl_Message->show();
        return;
    }
    Dialogs().messageBox(VideoExportMessage(job, result), MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
}

void Tarnel_F::Cmd_Viewer_Click() {
    if (!aviMode_) return;
    Links().PlayerFilePath = Links().MediaFilePath;
    Settings().AviRepeat[0] = int16_t(VS_Repeat->count());
    if (ChildWindows().aviPlayer) ChildWindows().aviPlayer(this);
}

}  // namespace tarnel
