#pragma once
// The two source images of the editor and their preparation: loading,
// working copies, size texts, the preview of the start image, reduction,
// reset, size synchronisation and the checks and result of trimming. The
// editor window calls these and then sets its controls; messages go through
// the dialog service.
#include <array>
#include <cstdint>
#include <string>

#include "core/EditHistory.h"
#include "core/Settings.h"
#include "platform/PictureBox.h"
#include "platform/StaleTempFiles.h"

namespace tarnel {

inline constexpr const char* kTrimSizeMessage = "ﾄﾘﾐﾝｸﾞのｻｲｽﾞを入力してください";
inline constexpr const char* kTrimImageMessage = "ﾄﾘﾐﾝｸﾞの画像をﾛｰﾄﾞしてください";
inline constexpr const char* kTrimMaxWidthMessage = "ﾄﾘﾐﾝｸﾞのｻｲｽﾞ幅(Max) = ";
inline constexpr const char* kTrimMaxHeightMessage = "ﾄﾘﾐﾝｸﾞのｻｲｽﾞ高さ(Max) = ";
// Shown with the file's path when a picture cannot be read; the reason
// follows on a second line.
inline constexpr const char* kLoadFailedMessage = "画像ﾌｧｲﾙを読み込めません： ";
inline constexpr const char* kOpenImageTitle = "ﾌｧｲﾙを開く";
inline constexpr const char* kOpenImageFilter = "画像ﾌｧｲﾙ (JPG、BMP、GIF、PNG、WebP)|*.jpg;*.bmp;*.gif;*.png;*.webp";

inline constexpr int kViewSize = 300;     // each image's view, pixels
inline constexpr int kScrollBarSize = 16;
inline constexpr int kPreviewSize = 100;  // Pic_Pre at most

// The open-image dialog starting in `imageFolder`: the chosen path with blanks
// trimmed and NUL characters removed, or "" when cancelled.
std::string ShowOpenImageDialog(const std::string& imageFolder);
// Loads a source picture; on failure `reason` says why, in the window's
// language (missing, not a plain file, cut short, unsupported kind, too large…).
bool LoadSourcePicture(const std::string& path, StdPicture& out, std::string& reason);

// "320 * 240"
std::string SizeText(int width, int height);

// The scroll bars of a 300 x 300 view over an image (ResetView), or of a
// larger view once the window has grown.
struct ViewBars {
    bool hVisible = false, vVisible = false, cornerVisible = false;
    int hMax = 0, vMax = 0;
};
ViewBars ResetViewBars(int imageWidth, int imageHeight, int viewWidth = kViewSize, int viewHeight = kViewSize);

// Copies the w x h pixels at (dx, dy) of `source` to a new picture of
// `target` (resized to w x h; what lies off the source keeps the box's
// background). False, and the target untouched, for a size of 0 or less.
bool CutInto(PictureBox& target, const StdPicture& source, int dx, int dy, int w, int h);

class SourceImages {
public:
    SourceImages();
    SourceImages(const SourceImages&) = delete;
    SourceImages& operator=(const SourceImages&) = delete;

    // P[0] start image, P[1] end image (white, 300 x 300 until loaded),
    // P[2] the scratch box and frame canvas (black).
    std::array<PictureBox, 3> P;
    PictureBox Pic_Pre;
    // StartImagePath, EndImagePath: "" while not loaded.
    std::array<std::string, 2> ImagePath;
    // Size of each working copy.
    std::array<int32_t, 2> ImgW{}, ImgH{};
    // Texts of lbl_Size and lbl_Size_S.
    std::array<std::string, 2> SizeLabel, SizeLabelS;

    bool loaded(int i) const { return (i == 0 || i == 1) && !ImagePath[size_t(i)].empty(); }
    bool bothLoaded() const { return loaded(0) && loaded(1); }

    // This process's temp00.bmp or temp01.bmp in the program folder, marked
    // as a temporary ("temp00.tarnel-tmp-<digits>.bmp", see
    // ProcessTempFilePath): two editors never share one, and a later writer
    // removes those of an editor that has ended.
    static std::string WorkingCopyPath(int i);

    // The letter steps of the commands.
    void SaveWorkingCopy(int i);   // A
    void RecordSize(int i);        // B
    void UpdateSizeLabels(int i);  // C
    void UpdatePreview();          // D (start image only)

    enum class LoadOutcome { Cancelled, Failed, Loaded };
    // Cmd_Sanshyo up to the preview: dialog, ImageFolder, picture, working
    // copy, size, path, preview. A file that does not load shows a message
    // naming it and leaves everything as it was (ImageFolder excepted).
    LoadOutcome Load(int i, MorphSettings& settings);
    // The same without the dialog.
    LoadOutcome LoadFile(int i, const std::string& path);

    // Cmd_Stretch: a reduced copy of the working copy to `percent`; false
    // (nothing changed) when the image is not loaded, the working copy cannot
    // be read or the new size would be empty.
    bool Reduce(int i, int percent);
    // lbl_Size_S for a spinner value: "" while no image is loaded.
    std::string StretchSizeText(int i, int percent) const;

    // Cmd_Reset: the file again, with working copy, size, labels and preview.
    // False when the image is not loaded or the file no longer loads (then a
    // message names it and the image stays).
    bool Reset(int i);

    struct SyncOutcome {
        bool done = false;  // both images loaded
        int width = 0, height = 0;
        std::array<bool, 2> changed{};  // that image was cut to width x height
    };
    // Cmd_Douki: both images cut to the smaller width and height.
    SyncOutcome Synchronise();

    enum class TrimFocus { None, Width, Height };
    struct TrimCheck {
        bool ok = false;
        TrimFocus focus = TrimFocus::None;
    };
    // Cmd_Triming's checks, each failure with its message. A size of 0 or
    // less counts as not entered. On success TrimTarget, TrimAccepted,
    // TrimWidth and TrimHeight are set for the trimming window.
    TrimCheck CheckTrim(int i, const std::string& txtW, const std::string& txtH, MorphSettings& settings);
    // After the trimming window accepted: working copy, size, labels, preview.
    void AcceptTrim(int i);

    // Deletes both working copies (every close of the editor).
    void DeleteWorkingCopies();

    // The morph run's side of the canvases. Picture i for the run: null while
    // image i has none.
    const Bitmap* RunPicture(int i) const;
    // The run starts making frames of width x height: the meshes come off
    // both source canvases and the frame canvas is blank at that size.
    void PrepareRunCanvases(int width, int height);
    // Puts a frame of the run on the frame canvas. In GIF runs the frame also
    // becomes the canvas's picture, so clearing the canvas restores it
    // rather than black.
    void ShowRunFrame(const Bitmap& frame, int saveKind);

    // What the working copy file of each image holds.
    std::array<StdPicture, 2> WorkingPicture;
    // Trimmed, reduced or cut by a synchronisation since the file was loaded.
    std::array<bool, 2> Prepared{};

    // Image i as it is now, for undo and the saved session (preparable is the window's).
    SourceState Capture(int i) const;
    // Puts image i back as captured: picture, working copy (rewritten when it
    // differs), path, size, labels and, for the start image, the preview.
    void Restore(int i, const SourceState& state);

private:
    // Writes the working copy file of image i (at `path`, WorkingCopyPath(i))
    // in place, through its held lock; false (the file removed) when it
    // cannot be written.
    bool writeWorkingCopy(int i, const std::string& path, const StdPicture& picture);
    void removeWorkingCopy(int i);

    // Locked for as long as this editor holds them, so that no cleaner takes
    // them; they go with it.
    std::array<LockedTempFile, 2> workingFiles_;
};

}  // namespace tarnel
