#pragma once
// The editor window: the start and end images side by side with their meshes,
// the commands that prepare them, the mesh and output options, the morph run
// and the commands that open the other windows. It owns the editor's state
// for as long as the program runs; closing it ends the program.
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <array>
#include <functional>
#include <map>
#include <future>
#include <optional>
#include <utility>
#include <vector>

#include "core/EditHistory.h"
#include "core/Mesh.h"
#include "core/MeshEdit.h"
#include "core/MorphRun.h"
#include "ui/view/ViewZoom.h"
#include "editor/EditorSession.h"
#include "editor/KeyChain.h"
#include "editor/SourceImages.h"
#include "ui/LivePreview.h"
#include "ui/SkinWindow.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPainter;
class QPushButton;
class QScrollBar;
class QTimer;

namespace tarnel {

class PictureBoxWidget;
class Spinner;

// Where the editor's controls go in a face of any size from the design size
// up. At the design size everything stays where it was designed; larger, the
// two views share the extra width equally and take all the extra height;
// what belongs to a view moves with it (headings with its left edge, the size
// and zoom labels with its right edge, the command rows under it with its
// bottom), the run column keeps to the right edge (its output group to the
// bottom-right corner), and the option panel to the bottom, as wide as the
// two views.
struct EditorLayout {
    enum class Anchor {
        Fixed,        // never moves (hidden helpers)
        ViewTop,      // above view i, by its left edge
        ViewTopRight, // above view i, by its right edge
        View,         // view i itself: moves and grows
        ViewBelow,    // under view i, by its left edge
        ViewBelowRight,
        Gap,          // between the two views, at mid-height
        RunTop,       // the run column: right edge, top
        RunBottom,    // the run column's output group: bottom-right corner
        Panel,        // the option panel: bottom, across both views
        Strip,        // the key strip: under both views, in height they give up
    };
    int dx = 0, dy = 0;           // face size beyond the design size
    int strip = 0;                // height the views give up to the key strip
    std::array<int, 2> shift{};   // how far view i moved right
    std::array<int, 2> grow{};    // how much wider view i is
    QRect place(const QRect& design, Anchor anchor, int view) const;
};
// `strip`: the key strip's height while it is shown, else 0.
EditorLayout ComputeEditorLayout(int faceWidth, int faceHeight, int strip = 0);
// The key strip's height; it is shown with three or more keys.
inline constexpr int kKeyStripHeight = 78;

inline constexpr const char* kSaveChangesQuestion = "変更を保存しますか？";

class Tarnel_M : public SkinWindow {
    Q_OBJECT
public:
    static constexpr int kFaceWidth = 757;
    static constexpr int kFaceHeight = 489;

    explicit Tarnel_M(QWidget* parent = nullptr);
    ~Tarnel_M() override;

    // --- Controls, named as the handlers know them (index 0 start, 1 end). ---
    SkinFace* Pic_Base = nullptr;
    SkinFace* Pic_C = nullptr;
    std::array<QLabel*, 3> Img_T{};
    std::array<QFrame*, 2> PicBack{};
    std::array<PictureBoxWidget*, 3> P{};
    std::array<QScrollBar*, 2> HScroll{}, VScroll{};
    std::array<QPushButton*, 2> Cmd_D{}, Cmd_Sanshyo{}, Cmd_Triming{}, Cmd_Stretch{}, Cmd_Reset{};
    std::array<Spinner*, 2> VS_Stretch{};
    std::array<QLabel*, 2> lbl_Stretch{}, lbl_Size{}, lbl_Size_S{};
    PictureBoxWidget* Pic_Pre = nullptr;
    QPushButton* Cmd_Douki = nullptr;
    QLineEdit* txt_w = nullptr;
    QLineEdit* txt_h = nullptr;
    Spinner* VS_Frame = nullptr;
    Spinner* VS_Gyo = nullptr;
    Spinner* VS_Retu = nullptr;
    Spinner* VS_Point = nullptr;
    Spinner* VS_Repeat = nullptr;
    QLabel* lbl_Frame = nullptr;
    QLabel* lbl_Gyo = nullptr;
    QLabel* lbl_Retu = nullptr;
    QLabel* lbl_Point = nullptr;
    QLabel* lbl_Repeat = nullptr;
    std::array<QPushButton*, 2> Cmd_C{};
    std::array<QLabel*, 2> lbl_C{};
    std::array<ColorRef, 2> lbl_C_ForeColor{};
    std::array<ClickLabel*, 3> Img_Kind{}, lbl_Kind{};
    // "保存ﾌｧｲﾙ", naming PNG when that kind, chosen in the views' menu, is on.
    QLabel* lbl_KindTitle = nullptr;
    ClickLabel* Img_Trans = nullptr;
    std::array<ClickLabel*, 2> lbl_Trans{};
    QPushButton* Cmd_Start = nullptr;
    QPushButton* Cmd_Can = nullptr;
    QPushButton* Cmd_Morph_View = nullptr;
    QPushButton* Cmd_Avi = nullptr;
    QPushButton* Cmd_Avi_View = nullptr;
    QPushButton* Cmd_AniGif = nullptr;
    QPushButton* Cmd_End = nullptr;
    QPushButton* Cmd_Auto = nullptr;  // automatic placement of the end mesh
    PictureBoxWidget* PicProgress = nullptr;
    QLabel* lbl_Prog = nullptr;
    std::array<ClickLabel*, 2> lbl_Zoom{};  // each view's zoom; a click toggles 100 % and fit
    ClickLabel* lbl_Link = nullptr;         // "連動": show the partner point on the other view
    // The key strip (three or more keys): thumbnails and its commands.
    QFrame* Fra_Keys = nullptr;
    QWidget* Pic_Keys = nullptr;
    QPushButton* Cmd_KeyAdd = nullptr;
    QPushButton* Cmd_KeyLeft = nullptr;
    QPushButton* Cmd_KeyRight = nullptr;
    QPushButton* Cmd_KeyRemove = nullptr;

    // --- State. ---
    SourceImages images;  // P(0..2), Pic_Pre, paths, working copies
    MeshModel mesh;
    MeshEditor meshEditor{images.P[0], images.P[1], mesh};
    PictureBox progressBox;
    bool Initialising = false;
    std::array<ZoomLevel, 2> zoomLevel{};
    bool linkedViews = true;

    // --- Handlers. ---
    void Form_Load();
    void Form_QueryUnload();
    void Cmd_End_Click();
    void Cmd_Can_Click();

    void Cmd_Sanshyo_Click(int i);
    void Cmd_Triming_Click(int i);
    void Cmd_Stretch_Click(int i);
    void VS_Stretch_Change(int i);
    void Cmd_Reset_Click(int i);
    void Cmd_Douki_Click();

    void VS_Frame_Change();
    void VS_Gyo_Change();
    void VS_Retu_Change();
    void VS_Point_Change();
    void VS_Repeat_Change();
    void Cmd_C_Click(int index);
    void Img_Kind_MouseDown(int index);
    void lbl_Kind_MouseDown(int index) { Img_Kind_MouseDown(index); }
    void Img_Trans_MouseDown();
    void lbl_Trans_MouseDown() { Img_Trans_MouseDown(); }

    void HScroll_Change(int i);
    void VScroll_Change(int i);
    void ResetView(int i);
    void Triangles(int i);
    void Refresh_Mesh(int i);
    void P_MouseDown(int index, int button, int shift, float x, float y);
    void P_MouseMove(int index, int button, int shift, float x, float y);
    void P_MouseUp(int index, int button, int shift, float x, float y);

    // Zoom and scroll of the views (view coordinates are pixels of the 300 x 300 view).
    double zoomOf(int i) const;
    void ZoomView(int i, ZoomLevel level, QPointF anchor);
    void P_MouseWheel(int i, int delta, int shift, QPointF at);  // delta in eighths of a degree
    void ZoomKey(int direction);                                 // +1, -1; 0 for 100 %
    void lbl_Zoom_MouseDown(int i);
    void lbl_Link_MouseDown();

    void Cmd_Start_Click();
    void Cmd_Morph_View_Click();
    void Cmd_Avi_Click();
    void Cmd_Avi_View_Click();
    void Cmd_AniGif_Click();

    // --- Run state. ---
    bool running() const { return running_; }
    const MorphRunResult& lastRun() const { return lastRun_; }
    // Each frame's yield; tests hook in here to act between frames.
    std::function<void(int k, int lastFrame)> onFrameYield;
    // True once the window has shut down (working copies gone).
    bool unloaded() const { return unloaded_; }

    // The values of the controls that the end command stores.
    SettingsControls settingsControls() const;

    // --- Editing beyond the single commands: undo, the saved session,
    // dropped files, the canvases' menu. ---
    EditHistory history;
    void Undo();
    void Redo();
    // The whole editing state now, and putting one back (undo, redo, restore).
    EditorState captureState() const;
    void applyState(const EditorState& state);
    // Loads a file into image i as the open command does, without its dialog.
    bool LoadImageFile(int i, const std::string& path);
    // After an end that did not go through the end command: asks whether to
    // restore that session, and does so on yes. True when restored.
    bool OfferSessionRestore();
    // Writes the session if a change is waiting: on a worker, or at once
    // (after any save still running) with `wait`, as every end does.
    void flushSession(bool wait = false);
    EditorSession& session() { return session_; }
    // The views' zoom and scrolling as a session keeps them, and putting them back.
    SessionView sessionView() const;
    void applySessionView(const SessionView& view);
    // Project files: with an empty path the file dialog asks. Messages name
    // what went wrong; false when nothing was saved or opened.
    bool SaveProject(const std::string& path = std::string());
    bool OpenProject(const std::string& path = std::string());
    // Meshes or pictures differ from what was last saved or opened as a
    // project (from the start when there is none).
    bool hasUnsavedChanges() const;
    const std::string& projectPath() const { return projectPath_; }
    // The live preview of the morph (key P, the canvases' menu); raised when already open.
    void OpenPreview();
    LivePreview* preview() const { return preview_.get(); }
    // Places the end mesh on the end picture's features (key A, the button by
    // the mesh controls, the canvases' menu) as one undo step. Points moved
    // by hand since the last placement stay and guide their neighbours.
    // False when the pictures were refused (the message says why).
    bool AutoAlign();
    // Per point of the end mesh: true where the last placement is unsure and
    // the point has not been moved since; drawn as a ring.
    std::vector<bool> pointsToCheck() const;

    // --- The chain of key pictures (editor/KeyChain.h): the views show keys
    // shownPair() and shownPair() + 1; the strip's commands act on currentKey(). ---
    int keyCount() const { return 2 + int(hiddenKeys_.size()); }
    int shownPair() const { return pair_; }
    int currentKey() const { return currentKey_; }
    const std::vector<HiddenKey>& hiddenKeys() const { return hiddenKeys_; }
    // Appends a key picture after the last ("ｷｰ画像を追加..."); with an empty
    // path the image dialog asks. False when nothing was added (a message
    // says why, unless cancelled).
    bool AddKeyImage(const std::string& path = std::string());
    // A click on key k's thumbnail: the key becomes current, and the views
    // show a pair holding it.
    void SelectKey(int k);
    // The views show keys pair and pair + 1.
    void SelectKeyPair(int pair);
    bool RemoveChainKey(int k);
    bool MoveChainKey(int k, int direction);

    // The size of view i's client area (300 x 300 at the design size).
    QSize viewSize(int i) const;
    // A control of the face made outside the build steps follows the face's
    // size by `anchor` from where it is now (its place at the design size).
    void anchorControl(QWidget* control, EditorLayout::Anchor anchor, int view = 0);

protected:
    void exitImageReleased() override;
    void layoutFace(int width, int height) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void reject() override {}  // Escape does not close the editor

private:
    class RunObserver;
    void buildControls();
    void buildImageBlock(int i);
    void buildRunColumn();
    void buildOptionPanel();
    void applySettingsToControls();
    void giveCursors();
    void afterImageChange(int i);  // step E
    void showSizeLabels(int i);
    void showPreview();
    void enableImageCommands(int i, bool on);
    void setRunLocks(bool running);
    void applyMeshSpinners();
    void repaintDamage(const MeshEditor::Damage& d);
    void buildZoomControls(int i);
    void buildZoomShortcuts();
    void setViewBars(int i, const ViewBars& bars);
    ViewAxis viewAxis(int i, bool horizontal) const;
    void scrollToShow(int i, const MeshPoint& p, double margin);
    void centreOn(int i, const MeshPoint& p, double margin);
    void followDrag(int index, bool moved);
    void dragScrollTick();
    float grabRadius(int i) const;
    void paintMeshOverlay(int i, QPainter& painter, const QRectF& exposed, double zoom);
    void showZoom(int i);
    void showLink();
    int canvasForKeys() const;
    void RunMorph();
    void endProgram(bool saveSettings);

    // Records the change from `before` to now as one undo step.
    void edited(const EditorState& before);
    void meshesMoved();  // a change that needs no undo step of its own (during a drag)
    void buildEditActions();
    void showCanvasMenu(int index, const QPoint& globalPos);
    // The option images and the title for a save kind (0..3).
    void showSaveKind(int kind);
    void updateImageControls();
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Records one undo step for the command it spans (when anything changed).
    class EditScope {
    public:
        explicit EditScope(Tarnel_M& w);
        ~EditScope();
        EditScope(const EditScope&) = delete;
        EditScope& operator=(const EditScope&) = delete;

    private:
        Tarnel_M& w_;
        EditorState before_;
        bool active_;
    };
    friend class EditScope;
    std::optional<EditorState> dragBefore_;
    bool applyingState_ = false;
    EditorSession session_;
    QTimer* sessionTimer_ = nullptr;
    bool sessionDirty_ = false;
    std::future<bool> sessionSave_;  // the save running on a worker, if any
    void removeSession();
    std::string projectFolder() const;
    std::string projectPath_;  // the project last saved or opened
    bool projectLoop_ = false;  // its chain closes back to the first key (kept; runs with 3+ keys)
    std::optional<EditorState> savedState_;  // as last saved or opened, or at the start
    void markSaved();
    void showTitle();
    QTimer* titleFlash_ = nullptr;  // the "saved" note in the title while it runs
    bool askSaveBeforeEnd();
    LivePreviewHandle preview_;

    struct Placed {
        QWidget* widget;
        QRect design;
        EditorLayout::Anchor anchor;
        int view;
    };
    std::vector<Placed> placed_;  // every control of the face with its design place
    QFrame* previewSlot_ = nullptr;
    void placeView(int i);

    std::vector<std::pair<QWidget*, bool>> runLocked_;
    std::array<QWidget*, 2> viewArea_{};  // the 300 x 300 client of each view
    std::array<int, 2> wheelRest_{};      // wheel turns not yet a whole zoom step
    int lastCanvas_ = 0;
    QTimer* dragScroll_ = nullptr;        // scrolls on while a drag holds the pointer beyond the view
    bool running_ = false;
    bool cancelRequested_ = false;
    bool endAfterRun_ = false;
    bool unloaded_ = false;
    MorphRunResult lastRun_;
    std::vector<HiddenKey> hiddenKeys_;  // the keys the views do not show, in order
    int pair_ = 0;
    int currentKey_ = 0;
    void buildKeyStrip();
    void placeKeyStrip();
    // Keys the views do not show get the default mesh of a new grid.
    void fitHiddenMeshes();
    void showKeyStrip();
    bool changeChain(const std::function<bool(EditorState&)>& change);
    bool chainAutoAlign();
    void showChainAlignment();
    struct AlignedKey {
        MeshGrid mesh;
        std::vector<float> confidence;
    };
    std::map<const Bitmap*, AlignedKey> chainAligned_;  // each key's last placement, by its picture
    std::vector<ChainKey> runKeys() const;
    MeshGrid alignedEnd_;                // the end mesh as the last placement left it
    std::vector<float> alignConfidence_;  // and how sure it was of each point
};

}  // namespace tarnel
