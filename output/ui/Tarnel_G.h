#pragma once
// The animated GIF composer: imports every frame of an AVI file (or of a
// morph run's frame folder) into a cGif, at its own size or reduced to a
// chosen width, plays the animation on a zoomable canvas, optimises it, makes
// one palette index transparent in every frame, and saves it as a GIF or an
// animated WebP file. After a successful save the window closes itself.
//
// The import runs when the window is first shown (or through ImportMedia),
// so the progress bar paints while it works.
#include <QRect>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/gif/cGif.h"
#include "imaging/cTile.h"
#include "output/GifQuality.h"
#include "core/Settings.h"
#include "ui/SkinWindow.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace tarnel {

class ucCanvas;
class ucProgress;

class Tarnel_G : public SkinWindow {
    Q_OBJECT
public:
    static constexpr int kFaceWidth = 600;
    static constexpr int kFaceHeight = 384;
    static constexpr int kMaxZoom = 10;

    // Fills the container from the file with the window's quality choice;
    // true when every frame came in.
    using Importer =
        std::function<bool(const std::string& path, cGif& GIF, ProgressSink* Progress, const GifQuality& quality)>;

    // Reads Links().MediaFilePath (empty: an empty window) and MediaFolder.
    // Without an importer the file is read as an AVI (a folder as a morph
    // run's frames) with the chosen quality and width. With `settings`, the
    // palette, dither, optimisation and width choices start from its
    // Composer record and are kept there when the window closes.
    explicit Tarnel_G(QWidget* parent = nullptr, Importer importer = {}, MorphSettings* settings = nullptr);
    ~Tarnel_G() override;

    // Controls, named as the window's design names them.
    ::tarnel::ucCanvas* ucCanvas = nullptr;
    ::tarnel::ucProgress* ucProgress = nullptr;
    QPushButton* Cmd_Save = nullptr;
    QPushButton* Cmd_Optimize = nullptr;
    QPushButton* cmdPickColor = nullptr;
    QPushButton* Cmd_Exit = nullptr;
    ClickLabel* Img_Transparent = nullptr;
    ClickLabel* lbl_Transparent = nullptr;
    QLabel* Img_Opt_on = nullptr;  // hidden pictures of the switch
    QLabel* Img_Opt_off = nullptr;
    QLabel* lblInfo = nullptr;
    QLabel* lblScreen = nullptr;
    QLabel* lblFrames = nullptr;
    QLabel* lblPalette = nullptr;
    QLabel* lblScreenV = nullptr;
    QLabel* lblFramesV = nullptr;
    QLabel* lblPaletteV = nullptr;
    QLabel* lblQuality = nullptr;  // "画質": palette and dither of the import
    QComboBox* cmbPalette = nullptr;
    QComboBox* cmbDither = nullptr;
    QComboBox* cmbOptimize = nullptr;  // "最適化(標準)" / "最適化(最大)"
    QLabel* lblSize = nullptr;         // "読込ｻｲｽﾞ"
    QComboBox* cmbSize = nullptr;      // "原寸", "幅960", ...: the width of the next import
    QPushButton* Cmd_ZoomOut = nullptr;  // "－"
    QPushButton* Cmd_ZoomFit = nullptr;  // "全体": the whole frame in the canvas
    QPushButton* Cmd_ZoomIn = nullptr;   // "＋"
    QTimer tmrDelay;

    // Handlers, named as the controls' events.
    void Cmd_Optimize_Click();
    void Cmd_Save_Click();
    void Cmd_Exit_Click();
    void cmdPickColor_Click();
    void Img_Transparent_Click();
    void lbl_Transparent_Click() { Img_Transparent_Click(); }
    void ucCanvas_MouseDown(int Button, int Shift, int X, int Y);
    void ucCanvas_MouseMove(int Button, int Shift, int X, int Y);
    void ucCanvas_MouseUp(int Button, int Shift, int X, int Y);
    void tmrDelay_Timer();
    // A wheel turn over the window: a delta below 1 zooms out, others in.
    void Form_MouseWheel(int delta);
    void cmbQuality_Change();
    void cmbOptimize_Change();
    void cmbSize_Change();
    // One zoom step: in from the fit to the actual size (or 2 when the fit
    // is the actual size) and up to kMaxZoom; out back down to the fit.
    void ZoomStep(int direction);
    void ZoomFit();

    // Imports Links().MediaFilePath unless the window has done so already.
    void ImportMedia();
    // What showing the window does: checks the source's headers against the
    // chosen width first, and when its frames are too large for an animated
    // GIF at that width but a smaller choice would do, says so and imports
    // nothing (a smaller choice then imports); otherwise ImportMedia.
    void OpenMedia();
    void StartPreview();
    void ShowFrame(int k);
    void UpdateInfo();

    // The timer interval in milliseconds for a frame delay in hundredths of a second.
    static int DelayInterval(int16_t delay);

    // The palette and dither method of the next import; changing the
    // choices in the window re-imports the file.
    const GifQuality& quality() const { return quality_; }
    void setQuality(const GifQuality& quality);

    cGif& container() { return gif_; }
    const GcDIB& backBuffer() const { return backBuffer_; }
    const cTile& tiler() const { return tiler_; }
    bool useTransparency() const { return useTransparency_; }
    uint8_t transparentIndex() const { return transparentIndex_; }
    int currentFrame() const { return currentFrame_; }
    int frameCount() const { return frameCount_; }
    bool picking() const { return picking_; }
    bool optimized() const { return optimized_; }
    // "最適化(最大)": the optimisation also orders the palette by use, and the
    // save codes each frame's unchanged pixels in whichever way is smallest
    // (`tarnel-cli anigif --optimize=max`).
    bool optimizeMax() const { return optimizeMax_; }
    void setOptimizeMax(bool max);
    // The width the import reduces frames to, 0 for the source's; one of kComposerWidths.
    int importWidth() const { return importWidth_; }
    void setImportWidth(int width);
    // The choices as the settings keep them.
    ComposerChoices choices() const;
    const std::string& sourcePath() const { return sourcePath_; }

    // Where the composer's controls go in a face of width x height (the design
    // size or larger): the canvas takes all the extra room, the progress bar
    // stays under it as wide, the information and command column keeps to the
    // right edge and Exit to the bottom-right corner.
    enum class Anchor { Fixed, Canvas, UnderCanvas, Right, BottomRight, Wide };
    static QRect PlaceControl(const QRect& design, Anchor anchor, int faceWidth, int faceHeight);

protected:
    void done(int result) override;
    void layoutFace(int width, int height) override;
    void showEvent(QShowEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void buildControls();
    void importSource(const std::string& path);
    void releaseSurfaces();
    void pickAt(int x, int y);
    void applyTransparency();
    void showSwitch();
    void importChecked(const std::string& path);
    bool admitSize(const std::string& path);
    void zoomChanged();
    bool saveAs(const std::string& path);

    Importer importer_;
    std::string importError_;  // why the window's own AVI import failed
    GifQuality quality_;
    MorphSettings* settings_ = nullptr;
    int importWidth_ = 0;
    cGif gif_;
    cTile tiler_;
    GcDIB backBuffer_;
    bool useTransparency_ = false;
    uint8_t transparentIndex_ = 0;
    int currentFrame_ = 0;
    int frameCount_ = 0;
    std::string sourcePath_;
    bool picking_ = false;
    // Cmd_Optimize has run on the container as imported: the save then also
    // leaves out what each frame repeats, as `tarnel-cli anigif --optimize` does.
    bool optimized_ = false;
    bool optimizeMax_ = false;
    bool imported_ = false;
    bool importing_ = false;
    struct Placed {
        QWidget* widget;
        QRect design;
        Anchor anchor;
    };
    std::vector<Placed> placed_;
};

}  // namespace tarnel
