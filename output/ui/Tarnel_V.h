#pragma once
// The frame-sequence viewer: plays the frames of a frame folder in PicMorph,
// once forwards or back and forth until paused, at the interval of
// HS_Interval. Passes run on a timer: between frames the window idles, and
// the frames are decoded ahead on a worker thread.
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "ui/SkinWindow.h"
#include "output/FrameSequence.h"

class QLabel;
class QPushButton;
class QScrollBar;

namespace tarnel {

class FrameView;

class Tarnel_V : public SkinWindow {
    Q_OBJECT
public:
    // The face without a frame: room for a 243 x 182 picture.
    static constexpr int kDesignPictureWidth = 243;
    static constexpr int kDesignPictureHeight = 182;
    static constexpr int kMinFaceWidth = 269;
    static constexpr int kExtraWidth = 26;   // 13 pixels either side of the picture
    static constexpr int kExtraHeight = 36;  // the path above it, the controls below

    // Reads Links().ViewerFromEditor, Settings().SaveFolder, SaveKind and FrameInterval.
    explicit Tarnel_V(QWidget* parent = nullptr);
    ~Tarnel_V() override;

    QPushButton* Cmd_File = nullptr;
    QPushButton* Cmd_Play = nullptr;
    QPushButton* Cmd_Pause = nullptr;
    QPushButton* Cmd_Loop = nullptr;
    QScrollBar* HS_Interval = nullptr;
    QLabel* LblInterval = nullptr;
    QLabel* lbl = nullptr;  // "ｲﾝﾀｰﾊﾞﾙ"
    QLabel* lbl_Path = nullptr;
    FrameView* PicMorph = nullptr;

    // Handlers, named as the controls' events.
    void Cmd_File_Click();
    void Cmd_Play_Click();
    void Cmd_Pause_Click();
    void Cmd_Loop_Click();
    void HS_Interval_Change(int value);
    // One turn of the running pass; the play timer calls it when the next frame is due.
    void PlayTimer_Tick();

    int frameKind() const { return frameKind_; }
    // The frame PicMorph shows (-1 before the first), and the player's state.
    int shownFrame() const { return shownFrame_; }
    int framesShown() const { return framesShown_; }
    const FramePlayer& player() const { return player_; }
    const QTimer& playTimer() const { return timer_; }

    // For tests: the tick source in milliseconds (a steady clock by default),
    // and what Cmd_File opens (the folder chooser Tarnel_F by default); it
    // returns when the choice is made, with Links() and SaveFolder set.
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }
    void setFolderChooser(std::function<void(QWidget* owner)> chooser) { chooseFolder_ = std::move(chooser); }

protected:
    void done(int result) override;

private:
    void Form_Load();
    void buildControls();
    // Lays the window out around a frame of w x h pixels.
    void layOut(int pictureWidth, int pictureHeight);
    void setPlayControlsEnabled(bool enabled);
    // Shows a frame folder of the given kind: frame 000 into PicMorph and the window laid out around it.
    void openFolder(const std::string& folder, int kind);
    // lbl_Path: the folder, shortened in the middle to fit; whole in its tool tip.
    void setPath(const std::string& folder);
    void elidePath();
    bool showFrame(int index);
    // Arms the play timer for the next due turn, or stops it when nothing runs.
    void schedule();
    int64_t now() const;

    FramePlayer player_;
    FrameCache cache_;
    QTimer timer_;
    QElapsedTimer elapsed_;
    std::function<int64_t()> clock_;
    std::function<void(QWidget*)> chooseFolder_;
    int frameKind_ = 0;
    int shownFrame_ = -1;
    int framesShown_ = 0;  // frames put into PicMorph while playing
    bool choosing_ = false;  // the folder chooser is open: passes wait for it
};

}  // namespace tarnel
