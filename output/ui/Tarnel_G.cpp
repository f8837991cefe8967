#include "output/ui/Tarnel_G.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QWheelEvent>
#include <algorithm>
#include <exception>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "output/ComposerMedia.h"
#include "platform/Colors.h"
#include "platform/Dialogs.h"
#include "ui/Cursors.h"
#include "ui/Skin.h"
#include "ui/widgets/ucCanvas.h"
#include "ui/widgets/ucProgress.h"

namespace tarnel {

namespace {

// System colour indices of the button edges.
constexpr int kColorBtnShadow = 16;
constexpr int kColorBtnHighlight = 20;

QColor qColor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }


// The form's top edge: a shadow line over a highlight line, as a raised
// panel's edge reads under the title strip.
class FormEdge : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(qColor(GetSysColor(kColorBtnShadow)));
        p.drawLine(0, 0, width(), 0);
        p.setPen(qColor(GetSysColor(kColorBtnHighlight)));
        p.drawLine(0, 1, width(), 1);
    }
};

// The second line under the import's message, for the causes an AVI's
// headers make known before its frames are read.
const char* importReason(const std::string& error) {
    auto has = [&](const char* part) { return error.find(part) != std::string::npos; };
    if (has("more frames than an animated GIF can hold")) return "ﾌﾚｰﾑ数またはｻｲｽﾞがｱﾆﾒGIFの限度を超えています";
    if (has("more memory than allowed")) return "ﾌﾚｰﾑ数とｻｲｽﾞがﾌｧｲﾙの大きさに見合いません (ﾒﾓﾘが足りません)";
    if (has("frame size") && has("is invalid")) return "ﾌﾚｰﾑｻｲｽﾞが不正です";
    if (has("frame size") && has("is too large")) return "ﾌﾚｰﾑｻｲｽﾞが大きすぎます";
    if (has("is implausible for")) return "ﾌﾚｰﾑｻｲｽﾞがﾌｧｲﾙのﾃﾞｰﾀに見合いません";
    return nullptr;
}

// Frames that a smaller width choice brings within an animated GIF's limits.
const char* kTooLargeReason = "ﾌﾚｰﾑｻｲｽﾞがｱﾆﾒGIFには大きすぎます (読込ｻｲｽﾞを小さくしてください)";

const char* kComboStyle =
    "QComboBox { color: rgb(24, 30, 64); background: white; border: 1px solid rgb(66, 72, 132);"
    "  border-radius: 2px; padding: 1px 4px; }";

}  // namespace

Tarnel_G::Tarnel_G(QWidget* parent, Importer importer, MorphSettings* settings)
    : SkinWindow(kFaceWidth, kFaceHeight, QStringLiteral("AVItoGIF"), parent),
      importer_(std::move(importer)),
      settings_(settings) {
    setModal(true);
    if (!importer_)
        importer_ = [this](const std::string& path, cGif& GIF, ProgressSink* progress, const GifQuality& quality) {
            return ImportForComposer(path, GIF, progress, quality, importWidth_, &importError_);
        };
    tmrDelay.setSingleShot(false);
    connect(&tmrDelay, &QTimer::timeout, this, [this] { tmrDelay_Timer(); });
    Form_Load();
    if (settings_ && settings_->Composer) {
        const ComposerChoices& k = *settings_->Composer;
        GifQuality remembered;
        remembered.palette = GifPaletteChoice(k.Palette);
        remembered.ditherMethod = k.Dither;
        setQuality(remembered);
        setOptimizeMax(k.Optimize == 1);
        setImportWidth(k.Width);
    }
    makeResizable();
    restorePlace(Settings().ComposerPlace);
}

Tarnel_G::~Tarnel_G() { tmrDelay.stop(); }

void Tarnel_G::Form_Load() {
    // 1: the face sets the size; centred; the skin paints itself.
    buildControls();
    sizeAndCentre();

    // 2: every frame goes to the 216-colour cube by nearest colour (quality_
    // as it starts) unless the quality choice says otherwise.

    // 3: the pick cursor; wheel turns come through wheelEvent and the canvas' filter.
    ucCanvas->SetUserIcon(PickColorCursor());
    ucCanvas->installEventFilter(this);

    // 4
    useTransparency_ = false;
    showSwitch();
    UpdateInfo();

    // 6 (the import, step 5, waits until the window shows)
    const QCursor& cursor = Skin::get().cursor;
    for (QWidget* w :
         std::initializer_list<QWidget*>{cmdPickColor, Cmd_Optimize, Cmd_Save, Cmd_Exit, Img_Transparent,
                                         lbl_Transparent, cmbPalette, cmbDither, cmbOptimize, cmbSize, Cmd_ZoomOut,
                                         Cmd_ZoomFit, Cmd_ZoomIn})
        w->setCursor(cursor);
    // The opener's hourglass ends here.
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
}

void Tarnel_G::buildControls() {
    QWidget* face = this->face();
    const Skin& skin = Skin::get();
    face->setStyleSheet(kComboStyle);

    auto* edge = new FormEdge(face);
    edge->setGeometry(0, 0, kFaceWidth, 2);

    auto* plate = new QLabel(face);
    plate->setGeometry(8, 6, 150, 20);
    plate->setPixmap(skin.titlePlate);
    QLabel* title = SkinLabel(face, QStringLiteral("ｱﾆﾒGifの作成"), QRect(24, 6, 134, 20), true);
    QPalette pal = title->palette();
    pal.setColor(QPalette::WindowText, QColor(240, 242, 255));
    title->setPalette(pal);

    ucCanvas = new ::tarnel::ucCanvas(face);
    ucCanvas->setGeometry(8, 32, 420, 312);
    connect(ucCanvas, &::tarnel::ucCanvas::MouseDown, this,
            [this](int b, int s, int x, int y) { ucCanvas_MouseDown(b, s, x, y); });
    connect(ucCanvas, &::tarnel::ucCanvas::MouseMove, this,
            [this](int b, int s, int x, int y) { ucCanvas_MouseMove(b, s, x, y); });
    connect(ucCanvas, &::tarnel::ucCanvas::MouseUp, this,
            [this](int b, int s, int x, int y) { ucCanvas_MouseUp(b, s, x, y); });

    // The canvas starts by showing the whole frame; zoomed past it, scroll bars appear.
    ucCanvas->SetFitMode(true);
    ucCanvas->SetScrollBars(true);

    // Beside the title: the width of the import, chosen before it runs, and the zoom.
    lblSize = SkinLabel(face, QStringLiteral("読込ｻｲｽﾞ"), QRect(166, 7, 62, 18), true);
    cmbSize = new QComboBox(face);
    cmbSize->setGeometry(228, 5, 84, 22);
    cmbSize->setFont(Skin::font(12));
    for (int width : kComposerWidths)
        cmbSize->addItem(width == 0 ? QStringLiteral("原寸") : QStringLiteral("幅%1").arg(width));
    connect(cmbSize, &QComboBox::activated, this, [this](int) { cmbSize_Change(); });
    Cmd_ZoomOut = SkinButton(face, QStringLiteral("－"), QRect(320, 5, 26, 22));
    Cmd_ZoomFit = SkinButton(face, QStringLiteral("全体"), QRect(348, 5, 52, 22));
    Cmd_ZoomIn = SkinButton(face, QStringLiteral("＋"), QRect(402, 5, 26, 22));
    connect(Cmd_ZoomOut, &QPushButton::clicked, this, [this] { ZoomStep(-1); });
    connect(Cmd_ZoomFit, &QPushButton::clicked, this, [this] { ZoomFit(); });
    connect(Cmd_ZoomIn, &QPushButton::clicked, this, [this] { ZoomStep(1); });

    ucProgress = new ::tarnel::ucProgress(face);
    ucProgress->setGeometry(8, 352, 420, 16);

    // The information block.
    const int x = 440, w = kFaceWidth - x - 8;
    lblInfo = SkinLabel(face, QStringLiteral("GIF情報"), QRect(x, 32, w, 20), true);
    lblScreen = SkinLabel(face, QStringLiteral("ｻｲｽﾞ"), QRect(x + 8, 54, 56, 18));
    lblFrames = SkinLabel(face, QStringLiteral("ﾌﾚｰﾑ数"), QRect(x + 8, 72, 56, 18));
    lblPalette = SkinLabel(face, QStringLiteral("ﾊﾟﾚｯﾄ"), QRect(x + 8, 90, 56, 18));
    lblScreenV = SkinLabel(face, QString(), QRect(x + 66, 54, w - 66, 18), true);
    lblFramesV = SkinLabel(face, QString(), QRect(x + 66, 72, w - 66, 18), true);
    lblPaletteV = SkinLabel(face, QString(), QRect(x + 66, 90, w - 66, 18), true);

    lblQuality = SkinLabel(face, QStringLiteral("画質"), QRect(x, 114, w, 20), true);
    cmbPalette = new QComboBox(face);
    cmbPalette->setGeometry(x + 8, 136, w - 8, 22);
    cmbPalette->setFont(Skin::font(12));
    cmbPalette->addItem(QStringLiteral("216色(固定)"));
    cmbPalette->addItem(QStringLiteral("最適化(1ﾌﾚｰﾑ目)"));
    cmbPalette->addItem(QStringLiteral("最適化(全ﾌﾚｰﾑ)"));
    cmbPalette->addItem(QStringLiteral("最適化(高画質)"));
    cmbDither = new QComboBox(face);
    cmbDither->setGeometry(x + 8, 162, w - 8, 22);
    cmbDither->setFont(Skin::font(12));
    cmbDither->addItem(QStringLiteral("ﾃﾞｨｻﾞなし"));
    cmbDither->addItem(QStringLiteral("ﾃﾞｨｻﾞ(網点)"));
    cmbDither->addItem(QStringLiteral("ﾃﾞｨｻﾞ(誤差拡散)"));
    // How far the optimisation and the save go; changing it re-imports nothing.
    cmbOptimize = new QComboBox(face);
    cmbOptimize->setGeometry(x + 8, 188, w - 8, 22);
    cmbOptimize->setFont(Skin::font(12));
    cmbOptimize->addItem(QStringLiteral("最適化(標準)"));
    cmbOptimize->addItem(QStringLiteral("最適化(最大)"));
    connect(cmbPalette, &QComboBox::activated, this, [this](int) { cmbQuality_Change(); });
    connect(cmbDither, &QComboBox::activated, this, [this](int) { cmbQuality_Change(); });
    connect(cmbOptimize, &QComboBox::activated, this, [this](int) { cmbOptimize_Change(); });

    // The transparency switch and the commands.
    Img_Opt_on = new QLabel(face);
    Img_Opt_on->setPixmap(skin.switchOn);
    Img_Opt_on->hide();
    Img_Opt_off = new QLabel(face);
    Img_Opt_off->setPixmap(skin.switchOff);
    Img_Opt_off->hide();
    Img_Transparent = new ClickLabel(face);
    Img_Transparent->setGeometry(x + 8, 220, 34, 16);
    lbl_Transparent = new ClickLabel(QStringLiteral("透過処理"), face);
    lbl_Transparent->setGeometry(x + 48, 218, w - 48, 20);
    lbl_Transparent->setFont(Skin::font(12));
    connect(Img_Transparent, &ClickLabel::mouseDown, this, [this](int b, int, QPoint) {
        if (b == 1) Img_Transparent_Click();
    });
    connect(lbl_Transparent, &ClickLabel::mouseDown, this, [this](int b, int, QPoint) {
        if (b == 1) lbl_Transparent_Click();
    });

    cmdPickColor = SkinButton(face, QStringLiteral("透過色のﾋﾟｯｸｱｯﾌﾟ"), QRect(x, 242, w, 24));
    cmdPickColor->setEnabled(false);
    Cmd_Optimize = SkinButton(face, QStringLiteral("最適化(Gif)"), QRect(x, 272, w, 24));
    Cmd_Save = SkinButton(face, QStringLiteral("ｱﾆﾒGif作成"), QRect(x, 302, w, 24));
    Cmd_Exit = SkinButton(face, QStringLiteral("Exit"), QRect(x, 344, w, 24));
    connect(cmdPickColor, &QPushButton::clicked, this, [this] { cmdPickColor_Click(); });
    connect(Cmd_Optimize, &QPushButton::clicked, this, [this] { Cmd_Optimize_Click(); });
    connect(Cmd_Save, &QPushButton::clicked, this, [this] { Cmd_Save_Click(); });
    connect(Cmd_Exit, &QPushButton::clicked, this, [this] { Cmd_Exit_Click(); });

    ImgExit->setCursor(skin.cursor);

    // Every control keeps its design place; the anchors say how it follows a larger face.
    for (QObject* child : face->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w) continue;
        Anchor anchor = w->x() >= x ? Anchor::Right : Anchor::Fixed;
        if (w == ucCanvas) anchor = Anchor::Canvas;
        if (w == ucProgress) anchor = Anchor::UnderCanvas;
        if (w == edge) anchor = Anchor::Wide;
        if (w == Cmd_Exit) anchor = Anchor::BottomRight;
        placed_.push_back(Placed{w, w->geometry(), anchor});
    }
}

QRect Tarnel_G::PlaceControl(const QRect& design, Anchor anchor, int faceWidth, int faceHeight) {
    const int dx = std::max(0, faceWidth - kFaceWidth), dy = std::max(0, faceHeight - kFaceHeight);
    switch (anchor) {
        case Anchor::Fixed: return design;
        case Anchor::Canvas: return design.adjusted(0, 0, dx, dy);
        case Anchor::UnderCanvas: return QRect(design.x(), design.y() + dy, design.width() + dx, design.height());
        case Anchor::Right: return design.translated(dx, 0);
        case Anchor::BottomRight: return design.translated(dx, dy);
        case Anchor::Wide: return design.adjusted(0, 0, dx, 0);
    }
    return design;
}

void Tarnel_G::layoutFace(int width, int height) {
    for (const Placed& p : placed_) {
        const QRect r = PlaceControl(p.design, p.anchor, width, height);
        if (p.widget->geometry() != r) p.widget->setGeometry(r);
    }
}

void Tarnel_G::showSwitch() {
    Img_Transparent->setPixmap(useTransparency_ ? Img_Opt_on->pixmap() : Img_Opt_off->pixmap());
}

// ---------------------------------------------------------------- opening and import

void Tarnel_G::showEvent(QShowEvent* event) {
    SkinWindow::showEvent(event);
    if (zooms_) return;
    startZoom();
    // The import paints its progress into the window, so it waits until the window shows.
    QTimer::singleShot(0, this, [this] { OpenMedia(); });
}

void Tarnel_G::OpenMedia() {
    if (imported_) return;
    const std::string path = Links().MediaFilePath;
    if (!path.empty() && !admitSize(path)) {
        imported_ = true;
        sourcePath_ = path;
        return;
    }
    ImportMedia();
}

bool Tarnel_G::admitSize(const std::string& path) {
    AnimationHeader header;
    // A source whose headers do not read is the import's to report.
    if (!ReadAnimationHeader(path, header) || FitsAnimatedGif(header, importWidth_)) return true;
    bool smallerFits = false;
    for (int width : kComposerWidths)
        if (width > 0 && (importWidth_ == 0 || width < importWidth_) && FitsAnimatedGif(header, width))
            smallerFits = true;
    // Too many frames for any width: the import refuses with its own reason.
    if (!smallerFits) return true;
    tmrDelay.stop();
    gif_.Destroy();
    releaseSurfaces();
    UpdateInfo();
    Dialogs().messageBox(std::string("loading error AVI file.\n") + kTooLargeReason, MsgIcon::Exclamation,
                         MsgButtons::OK, kAppTitle);
    return false;
}

void Tarnel_G::importChecked(const std::string& path) {
    sourcePath_ = path;
    if (admitSize(path)) importSource(path);
}

void Tarnel_G::ImportMedia() {
    if (imported_) return;
    imported_ = true;
    if (!Links().MediaFilePath.empty()) importSource(Links().MediaFilePath);
}

void Tarnel_G::importSource(const std::string& path) {
    if (importing_) return;
    importing_ = true;
    sourcePath_ = path;
    tmrDelay.stop();
    gif_.Destroy();
    cmdPickColor->setEnabled(false);
    useTransparency_ = false;
    transparentIndex_ = 0;
    picking_ = false;
    optimized_ = false;
    ucCanvas->SetWorkMode(0);
    showSwitch();
    QCoreApplication::processEvents();

    bool ok = false;
    importError_.clear();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        ok = importer_ && importer_(sourcePath_, gif_, ucProgress, quality_);
    } catch (const std::exception&) {
        // Out of memory on a long video: the import failed like any other.
        ok = false;
    }
    QGuiApplication::restoreOverrideCursor();
    importing_ = false;

    if (ok) {
        StartPreview();
        UpdateInfo();
        return;
    }
    std::string message = "loading error AVI file.";
    if (const char* reason = importReason(importError_)) message += std::string("\n") + reason;
    Dialogs().messageBox(message, MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
    gif_.Destroy();
    releaseSurfaces();
    UpdateInfo();
}

void Tarnel_G::releaseSurfaces() {
    tmrDelay.stop();
    tiler_.DestroyPattern();
    backBuffer_.Destroy();
    // The canvas shows nothing once its animation is gone, and the labels clear.
    ucCanvas->DIB().Destroy();
    ucCanvas->Resize();
    ucCanvas->Repaint();
}

void Tarnel_G::setQuality(const GifQuality& quality) {
    cmbPalette->setCurrentIndex(int(quality.palette));
    cmbDither->setCurrentIndex(std::clamp(int(quality.ditherMethod), 0, 2));
    cmbQuality_Change();
}

void Tarnel_G::cmbOptimize_Change() { optimizeMax_ = cmbOptimize->currentIndex() == 1; }

void Tarnel_G::setOptimizeMax(bool max) {
    cmbOptimize->setCurrentIndex(max ? 1 : 0);
    cmbOptimize_Change();
}

void Tarnel_G::cmbQuality_Change() {
    GifQuality chosen;
    chosen.palette = GifPaletteChoice(std::clamp(cmbPalette->currentIndex(), 0, 3));
    chosen.ditherMethod = std::clamp(cmbDither->currentIndex(), 0, 2);
    if (chosen.palette == quality_.palette && chosen.ditherMethod == quality_.ditherMethod) return;
    quality_ = chosen;
    if (!sourcePath_.empty()) importChecked(sourcePath_);
}

void Tarnel_G::setImportWidth(int width) {
    const auto at = std::find(kComposerWidths.begin(), kComposerWidths.end(), width);
    cmbSize->setCurrentIndex(at == kComposerWidths.end() ? 0 : int(at - kComposerWidths.begin()));
    cmbSize_Change();
}

void Tarnel_G::cmbSize_Change() {
    const int width = kComposerWidths[size_t(std::clamp(cmbSize->currentIndex(), 0, int(kComposerWidths.size()) - 1))];
    if (width == importWidth_) return;
    importWidth_ = width;
    if (!sourcePath_.empty()) importChecked(sourcePath_);
}

ComposerChoices Tarnel_G::choices() const {
    ComposerChoices k;
    k.Palette = int32_t(quality_.palette);
    k.Dither = quality_.ditherMethod;
    k.Optimize = optimizeMax_ ? 1 : 0;
    k.Width = importWidth_;
    return k;
}

// ---------------------------------------------------------------- preview

int Tarnel_G::DelayInterval(int16_t delay) {
    if (delay < 0) return 60000;
    if (delay == 0) return 100;
    if (delay <= 4) return 50;
    return 10 * delay;
}

void Tarnel_G::StartPreview() {
    tmrDelay.stop();
    frameCount_ = gif_.FramesCount();
    GcDIB& surface = ucCanvas->DIB();
    const int w = gif_.ScreenWidth(), h = gif_.ScreenHeight();
    if (frameCount_ < 1 || !surface.Create(w, h, 32) || !backBuffer_.Create(w, h, 24)) {
        releaseSurfaces();
        return;
    }
    ucCanvas->Resize();

    tiler_.SetPatternFromSolidColor(ucCanvas->BackColor());
    tiler_.Tile(surface.hDIBDC(), 0, 0, w, h, true);
    tiler_.Tile(backBuffer_.hDIBDC(), 0, 0, w, h, true);

    if (frameCount_ < 2) {
        gif_.FrameDraw(surface.hDIBDC(), 1, 0, 0, 1.0f, false);
        currentFrame_ = 1;
        ucCanvas->Repaint();
        return;
    }
    // The first tick shows frame 1.
    currentFrame_ = frameCount_;
    tmrDelay.setInterval(1);
    tmrDelay.start();
}

void Tarnel_G::tmrDelay_Timer() {
    currentFrame_ = currentFrame_ >= frameCount_ ? 1 : currentFrame_ + 1;
    ShowFrame(currentFrame_);
}

void Tarnel_G::ShowFrame(int k) {
    GcDIB& surface = ucCanvas->DIB();
    if (k < 1 || k > gif_.FramesCount() || surface.empty() || backBuffer_.empty()) return;
    tmrDelay.setInterval(DelayInterval(gif_.FrameDelay(k)));

    const int w = surface.Width(), h = surface.Height();
    if (k == 1)
        tiler_.Tile(surface.hDIBDC(), 0, 0, w, h, true);
    else
        surface.LoadBlt(backBuffer_.hDIBDC(), 0, 0);
    gif_.FrameDraw(surface.hDIBDC(), k, 0, 0, 1.0f, false);

    switch (gif_.FrameDisposalMethod(k)) {
        case 0:
        case 1: backBuffer_.LoadBlt(surface.hDIBDC(), 0, 0); break;
        case 2: {
            const GcDIB& image = gif_.FrameDIBXOR(k);
            tiler_.Tile(backBuffer_.hDIBDC(), gif_.FrameLeft(k), gif_.FrameTop(k), image.Width(), image.Height(),
                        false);
            break;
        }
        default: break;  // 3: the back buffer stays as it was
    }
    ucCanvas->Repaint();
}

void Tarnel_G::UpdateInfo() {
    if (ucCanvas->DIB().empty() || gif_.FramesCount() < 1) {
        lblScreenV->clear();
        lblFramesV->clear();
        lblPaletteV->clear();
        return;
    }
    int depth = 1;
    while ((1 << depth) < gif_.GlobalPaletteEntries()) ++depth;
    const GcDIB& first = gif_.FrameDIBXOR(1);
    lblScreenV->setText(QStringLiteral("%1x%2").arg(first.Width()).arg(first.Height()));
    lblFramesV->setText(QString::number(gif_.FramesCount()));
    lblPaletteV->setText(QStringLiteral("%1 bpp").arg(depth));
}

// ---------------------------------------------------------------- closing

void Tarnel_G::Cmd_Exit_Click() { reject(); }

void Tarnel_G::done(int result) {
    Settings().ComposerPlace = placeToRemember();
    if (settings_) settings_->Composer = choices();
    tmrDelay.stop();
    picking_ = false;
    gif_.Destroy();
    tiler_.DestroyPattern();
    backBuffer_.Destroy();
    SkinWindow::done(result);
}

// ---------------------------------------------------------------- wheel

void Tarnel_G::wheelEvent(QWheelEvent* event) {
    const QPoint d = event->angleDelta();
    const int delta = d.y() != 0 ? d.y() : d.x();
    if (delta != 0) Form_MouseWheel(delta);
    event->accept();
}

bool Tarnel_G::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ucCanvas && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return SkinWindow::eventFilter(watched, event);
}

void Tarnel_G::Form_MouseWheel(int delta) { ZoomStep(delta < 1 ? -1 : 1); }

void Tarnel_G::ZoomStep(int direction) {
    if (ucCanvas->DIB().empty()) return;
    const int zoom = ucCanvas->Zoom();
    if (ucCanvas->FitMode()) {
        if (direction < 0) return;
        // From the fit to the actual size, or past it when the fit already is that.
        const bool fitIsActual =
            ucCanvas->DIB().Width() <= ucCanvas->width() && ucCanvas->DIB().Height() <= ucCanvas->height();
        ucCanvas->SetFitMode(false);
        ucCanvas->SetZoom(fitIsActual ? std::min(2, kMaxZoom) : 1);
    } else if (direction < 0) {
        if (zoom > 1)
            ucCanvas->SetZoom(zoom - 1);
        else
            ucCanvas->SetFitMode(true);
    } else {
        if (zoom >= kMaxZoom) return;
        ucCanvas->SetZoom(zoom + 1);
    }
    zoomChanged();
}

void Tarnel_G::ZoomFit() {
    if (ucCanvas->FitMode()) return;
    ucCanvas->SetZoom(1);
    ucCanvas->SetFitMode(true);
    zoomChanged();
}

void Tarnel_G::zoomChanged() {
    ucCanvas->Resize();
    ucCanvas->Repaint();
}

}  // namespace tarnel
