#pragma once
// The export window in its folder-choice mode: the viewer's folder picker.
// Drive list, folder list, the images of the folder with a preview and their
// number; OK accepts a folder that holds frame 000.
//
// The same window writes AVI files when Links().AviExportMode is true: it is
// then 489 pixels wide, its title reads "AVIﾌｧｲﾙの作成", OK is hidden and
// the panel Pic_C (x = 348 on) holds the frame count, the AVI size and rate,
// the export and player commands and the number of plays.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/SkinWindow.h"
#include "output/AviExport.h"
#include "output/FolderChooser.h"
#include "output/VideoExport.h"
#include "platform/PictureBox.h"
#include "platform/StaleTempFiles.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTreeWidget;
class QPushButton;

namespace tarnel {

class PictureBoxWidget;
class RaisingScrollBar;

class Tarnel_F : public SkinWindow {
    Q_OBJECT
public:
    static constexpr int kFolderChoiceWidth = 349;
    static constexpr int kAviWidth = 489;
    static constexpr int kFaceHeight = 290;

    explicit Tarnel_F(QWidget* parent = nullptr, std::vector<DriveEntry> drives = ListDrives());

    bool aviMode() const { return aviMode_; }
    const FolderChooser& chooser() const { return chooser_; }

    QLabel* Img_T = nullptr;  // heading plate
    QLabel* lbl0 = nullptr;   // lbl(0): the title on the plate
    QComboBox* drv1 = nullptr;
    QTreeWidget* dir1 = nullptr;  // the folders from the drive's top down to the folder, then its subfolders
    QListWidget* File1 = nullptr;
    PictureBoxWidget* Pic_Pre = nullptr;
    QLabel* lbl_Flame = nullptr;
    QPushButton* cmd_OK = nullptr;
    QPushButton* Cmd_Can = nullptr;
    // AVI mode only: the panel and what it holds.
    QWidget* Pic_C = nullptr;
    QLineEdit* txtFPS = nullptr;
    QLineEdit* txtWidth = nullptr;
    QLineEdit* txtHeight = nullptr;
    QPushButton* Cmd_Avi_Save = nullptr;
    QPushButton* Cmd_Viewer = nullptr;
    RaisingScrollBar* VS_Repeat = nullptr;  // 10 at the top, 1 at the bottom
    QLabel* lbl_Repeat = nullptr;
    QLabel* lbl_Message = nullptr;
    QLabel* lbl_Progress = nullptr;  // frames written, in lbl_Message's place while an export runs
    QLabel* lbl_S = nullptr;         // hidden: the frame being written

    // Handlers, named as the controls' events.
    void drv1_Change();
    void dir1_Change(const std::string& path);
    void File1_Click(int index);
    void cmd_OK_Click();
    void Cmd_Can_Click();
    void VS_Repeat_Change();
    void Cmd_Avi_Save_Click();
    void Cmd_Viewer_Click();

    // picSave: the AVI frame size, from txtWidth and txtHeight at the last export.
    int picSaveWidth() const { return picSaveW_; }
    int picSaveHeight() const { return picSaveH_; }
    // The temporary BMP every frame passes through ("AVI_Temp.bmp" of this process).
    static std::string TempBmpPath();

    // For tests: the writer Cmd_Avi_Save runs (ExportAvi by default).
    using Exporter = std::function<AviExportResult(const AviExportRequest&, const AviOptionsChooser&, ProgressSink*)>;
    void setExporter(Exporter exporter) { exporter_ = std::move(exporter); }
    // For tests: the writer of MP4 and WebM files (ExportVideo by default).
    using VideoExporter = std::function<VideoExportResult(const VideoExportRequest&, ProgressSink*)>;
    void setVideoExporter(VideoExporter exporter) { videoExporter_ = std::move(exporter); }

    // The size of the image last previewed.
    int previewSourceWidth() const { return lastW_; }
    int previewSourceHeight() const { return lastH_; }
    const PictureBox& preview() const { return preview_; }

protected:
    void done(int result) override;

private:
    void Form_Load();
    void buildControls(int faceWidth);
    void buildAviPanel(int faceWidth);
    // Step 3 of the export: sizes from the text boxes, then the writer.
    void writeAvi(const std::string& path);
    // The same for a name ending in .mp4 or .webm: no compression dialog, the
    // player is left to the last AVI.
    void writeVideo(const std::string& path);
    // Sizes from the text boxes into picSave; the rate, nothing when it is no number.
    std::optional<int16_t> takeSizeAndRate();
    // The folder change: lists, preview of the first image, count.
    void folderChanged();
    // Loads an image of File1 and draws Pic_Pre from it.
    bool showPreview(int index);
    void clearPreview();
    void fillFolderList();
    void fillFileList();
    void selectDriveOfFolder();

    bool aviMode_ = false;
    FolderChooser chooser_;
    PictureBox preview_;  // Pic_Pre's model
    QWidget* previewArea_ = nullptr;
    QLabel* frameCountCaption_ = nullptr;  // "ﾌﾚｰﾑ数 ："
    int lastW_ = 0, lastH_ = 0;
    int picSaveW_ = 0, picSaveH_ = 0;
    Exporter exporter_;
    VideoExporter videoExporter_;
    // The frames' staging file, held locked from the first AVI export until
    // the window unloads, so that a sweep of another process never removes
    // it between two exports.
    LockedTempFile staging_;
};

}  // namespace tarnel
