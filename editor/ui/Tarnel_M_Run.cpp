// The editor window: the morph run and the commands that open other windows.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <cmath>
#include <exception>
#include <vector>

#include "core/WindowLinks.h"
#include "ui/ChildWindows.h"
#include "editor/ui/Tarnel_M.h"
#include "editor/ui/WaitCursor.h"
#include "platform/FileRead.h"
#include "platform/Dialogs.h"
#include "platform/ProgramFolder.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/Spinner.h"

namespace tarnel {

namespace {

constexpr ColorRef kProgressColor = RGBColor(64, 84, 190);
constexpr const char* kRunFailedMessage = "ﾓｰﾌｨﾝｸﾞを中断しました。\n";
constexpr const char* kAviDialogTitle = "AVIﾌｧｲﾙを選択";
constexpr const char* kTooManyChainFrames = "ﾌﾚｰﾑが多すぎます。ｷｰ画像か総ﾌﾚｰﾑ数を減らしてください";
constexpr const char* kAviDialogFilter = "AVI Videoﾌｧｲﾙ (avi)|*.avi";

std::string upToNul(const std::string& s) { return s.substr(0, s.find('\0')); }

std::string showAviDialog() {
    FileDialogRequest request;
    request.title = kAviDialogTitle;
    request.filter = kAviDialogFilter;
    request.initialFolder = Settings().SaveFolder;
    std::optional<std::string> chosen = Dialogs().openFile(request);
    return chosen ? upToNul(*chosen) : std::string();
}

}  // namespace

class Tarnel_M::RunObserver : public MorphRunObserver {
public:
    RunObserver(Tarnel_M& window, int saveKind) : w_(window), saveKind_(saveKind) {}

    void folderCreated(const std::string& folder) override { Settings().SaveFolder = folder; }

    void runStarting(int width, int height) override { w_.images.PrepareRunCanvases(width, height); }

    void frameStarting(int k, int lastFrame) override {
        w_.lbl_Prog->setText(QString::number(k + 1) + "/" + QString::number(lastFrame + 1));
        // The meshes came off both canvases when the run started.
        if (k == 0) {
            w_.P[0]->refresh();
            w_.P[1]->refresh();
        }
    }

    void showFrame(int, const Bitmap& frame) override { w_.images.ShowRunFrame(frame, saveKind_); }

    bool frameDone(int k, int lastFrame) override {
        // Progress: N + 1 equal steps; earlier steps stay filled.
        PictureBox& bar = w_.progressBox;
        const double step = double(bar.scaleWidth()) / (lastFrame + 1);
        const float end = float((k + 1) * step);
        FillRect(bar.hDC(), Rect{0, 0, int(std::nearbyint(end)), bar.scaleHeight()}, Brush::solid(kProgressColor));
        // Preview of the frame.
        PictureBox& preview = w_.images.Pic_Pre;
        PictureBox& frame = w_.images.P[2];
        SetStretchBltMode(preview.hDC(), COLORONCOLOR);
        StretchBlt(preview.hDC(), 0, 0, preview.scaleWidth(), preview.scaleHeight(), frame.hDC(), 0, 0,
                   frame.scaleWidth(), frame.scaleHeight(), SRCCOPY);
        DrawEdgeFrame(preview);
        w_.Pic_Pre->refresh();
        w_.PicProgress->refresh();
        // The one yield per frame: the window repaints and every live command runs.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (w_.onFrameYield) w_.onFrameYield(k, lastFrame);
        return !w_.cancelRequested_;
    }

private:
    Tarnel_M& w_;
    int saveKind_;
};

void Tarnel_M::setRunLocks(bool locked) {
    if (!locked) {
        for (auto& [widget, wasEnabled] : runLocked_) widget->setEnabled(wasEnabled);
        runLocked_.clear();
        return;
    }
    // Commands that replace an image or change the grid would pull the
    // images and meshes from under the run; the mesh controls would draw
    // the meshes back onto canvases the run has cleared.
    std::vector<QWidget*> locks = {Cmd_Douki, Cmd_Auto, VS_Gyo, VS_Retu, VS_Point, Cmd_C[0], Cmd_C[1], Fra_Keys};
    for (size_t i = 0; i < 2; ++i)
        for (QWidget* w : std::initializer_list<QWidget*>{Cmd_Sanshyo[i], Cmd_Triming[i], Cmd_Stretch[i], VS_Stretch[i],
                                                           Cmd_Reset[i]})
            locks.push_back(w);
    runLocked_.clear();
    for (QWidget* w : locks) {
        runLocked_.emplace_back(w, w->isEnabled());
        w->setEnabled(false);
    }
}

void Tarnel_M::Cmd_Start_Click() {
    if (running_) return;
    RunPrecondition check = CheckRunPreconditions(images.ImagePath[0], images.ImagePath[1], images.RunPicture(0),
                                                  images.RunPicture(1));
    if (check == RunPrecondition::MissingImage) return;
    if (check == RunPrecondition::SizeMismatch) {
        Dialogs().messageBox(kSizeMismatchMessage, MsgIcon::Information, MsgButtons::OK, kAppTitle);
        return;
    }
    if (keyCount() > 2) {
        // Every key of the chain must be of the run's size, and the frames
        // must fit the three-digit names.
        const Bitmap* first = images.RunPicture(0);
        for (const ChainKey& key : runKeys()) {
            const Bitmap* b = key.source && key.source->picture.isBitmap() ? key.source->picture.bitmap.get() : nullptr;
            if (!b || b->width() != first->width() || b->height() != first->height()) {
                Dialogs().messageBox(kSizeMismatchMessage, MsgIcon::Information, MsgButtons::OK, kAppTitle);
                return;
            }
        }
        const long long frames = ChainFrameCount(keyCount(), Settings().TotalFrames, projectLoop_);
        if (frames > kMaxRunFrameFiles) {
            Dialogs().messageBox(std::string(kTooManyChainFrames) + "\n(" + std::to_string(frames) + " / 最大 " +
                                     std::to_string(kMaxRunFrameFiles) + ")",
                                 MsgIcon::Information, MsgButtons::OK, kAppTitle);
            return;
        }
    }
    lbl_Prog->show();
    PicProgress->show();
    Cmd_Start->hide();
    RunMorph();
}

void Tarnel_M::RunMorph() {
    running_ = true;
    cancelRequested_ = false;
    setRunLocks(true);
    MorphRunResult result;
    {
        WaitCursor hourglass;
        progressBox.Cls();
        PicProgress->refresh();
        const MorphSettings& s = Settings();
        MorphRunRequest request;
        request.start = images.RunPicture(0);
        request.end = images.RunPicture(1);
        request.background = images.P[2].backColor;
        request.startMesh = &mesh.StartMesh;
        request.endMesh = &mesh.EndMesh;
        request.totalFrames = s.TotalFrames;
        // A chain: every key with its mesh, the shown pair's as edited.
        const std::vector<ChainKey> chain = keyCount() > 2 ? runKeys() : std::vector<ChainKey>();
        for (size_t k = 0; k < chain.size(); ++k) {
            const bool shown = int(k) == pair_ || int(k) == pair_ + 1;
            const MeshGrid* keyMesh =
                shown ? (int(k) == pair_ ? &mesh.StartMesh : &mesh.EndMesh) : &hiddenKeys_[k < size_t(pair_) ? k : k - 2].mesh;
            request.keys.push_back(MorphKey{chain[k].source->picture.bitmap.get(), keyMesh});
        }
        request.loop = !chain.empty() && projectLoop_;
        request.saveKind = s.SaveKind;
        request.transparency = s.Transparency != 0;
        request.programFolder = ProgramFolder();
        RunObserver observer(*this, request.saveKind);
        try {
            result = tarnel::RunMorph(request, observer);
        } catch (const std::exception& e) {
            result.status = MorphRunResult::Status::Failed;
            result.error = e.what();
        }
        // Back to idle: progress cleared, meshes drawn again, start command back.
        progressBox.Cls();
        P[0]->show();
        P[1]->show();
    }
    Refresh_Mesh(0);
    Refresh_Mesh(1);
    lbl_Prog->hide();
    PicProgress->hide();
    Cmd_Start->show();
    setRunLocks(false);
    running_ = false;
    lastRun_ = result;
    if (result.status == MorphRunResult::Status::Failed)
        Dialogs().messageBox(kRunFailedMessage + result.error, MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
    if (endAfterRun_) {
        close();
        return;
    }
    if (result.status == MorphRunResult::Status::Completed) {
        Links().ViewerFromEditor = false;
        if (ChildWindows().viewer) ChildWindows().viewer(this);
    }
}

// ---------------------------------------------------------------- other windows

void Tarnel_M::Cmd_Morph_View_Click() {
    Links().ViewerFromEditor = true;
    if (ChildWindows().viewer) ChildWindows().viewer(this);
}

void Tarnel_M::Cmd_Avi_Click() {
    Links().AviExportMode = true;
    if (ChildWindows().aviExport) ChildWindows().aviExport(this);
}

void Tarnel_M::Cmd_Avi_View_Click() {
    const std::string path = showAviDialog();
    if (path.empty()) return;
    Links().PlayerFilePath = path;
    Settings().AviRepeat[0] = int16_t(VS_Repeat->value());
    if (ChildWindows().aviPlayer) ChildWindows().aviPlayer(this);
}

void Tarnel_M::Cmd_AniGif_Click() {
    const std::string path = showAviDialog();
    if (path.empty()) return;
    WaitCursor hourglass;
    Links().MediaFilePath = path;
    Links().MediaFolder = FolderOf(path);
    if (ChildWindows().gifComposer) ChildWindows().gifComposer(this);
}

}  // namespace tarnel
