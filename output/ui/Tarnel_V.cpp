#include "output/ui/Tarnel_V.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QScreen>
#include <algorithm>
#include <climits>
#include <optional>
#include <unistd.h>
#include <thread>

#include "core/WindowLinks.h"
#include "core/Settings.h"
#include "ui/ScreenArea.h"
#include "ui/Skin.h"
#include "output/ui/FrameView.h"
#include "output/ui/Viewer.h"

namespace tarnel {

namespace {

constexpr int kPathBand = 14;     // lbl_Path above the picture
constexpr int kControlsTop = 15;  // the control row, below the picture
constexpr int kButtonSide = 22;

enum class Glyph { Folder, Play, Pause, Loop };

// The pictures of the four graphical buttons, drawn in the skin's navy.
QIcon glyphIcon(Glyph glyph) {
    qreal dpr = 1.0;
    if (QScreen* s = QGuiApplication::primaryScreen()) dpr = std::max<qreal>(1.0, s->devicePixelRatio());
    QPixmap pm(int(16 * dpr), int(16 * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = Skin::textColor();
    p.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (glyph) {
        case Glyph::Folder: {
            QPainterPath back;
            back.moveTo(1.5, 3.5);
            back.lineTo(6, 3.5);
            back.lineTo(7.5, 5);
            back.lineTo(13.5, 5);
            back.lineTo(13.5, 13.5);
            back.lineTo(1.5, 13.5);
            back.closeSubpath();
            p.setBrush(QColor(236, 206, 110));
            p.drawPath(back);
            QPainterPath front;
            front.moveTo(1.5, 13.5);
            front.lineTo(3.5, 7.5);
            front.lineTo(15, 7.5);
            front.lineTo(13.5, 13.5);
            front.closeSubpath();
            p.setBrush(QColor(250, 226, 140));
            p.drawPath(front);
            break;
        }
        case Glyph::Play: {
            QPainterPath tri;
            tri.moveTo(4, 2.5);
            tri.lineTo(13, 8);
            tri.lineTo(4, 13.5);
            tri.closeSubpath();
            p.setBrush(ink);
            p.drawPath(tri);
            break;
        }
        case Glyph::Pause:
            p.setBrush(ink);
            p.drawRect(QRectF(3.5, 3, 3, 10));
            p.drawRect(QRectF(9.5, 3, 3, 10));
            break;
        case Glyph::Loop: {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 30 * 16, 150 * 16);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 210 * 16, 150 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            QPainterPath head;  // arrow heads at the ends of both arcs
            head.moveTo(1, 6.5);
            head.lineTo(6, 6.5);
            head.lineTo(3.5, 9.5);
            head.closeSubpath();
            head.moveTo(15, 9.5);
            head.lineTo(10, 9.5);
            head.lineTo(12.5, 6.5);
            head.closeSubpath();
            p.drawPath(head);
            break;
        }
    }
    return QIcon(pm);
}

QPushButton* makeGlyphButton(QWidget* parent, Glyph glyph, const QString& tip) {
    auto* b = new QPushButton(parent);
    b->setProperty("skin", "true");
    b->setIcon(glyphIcon(glyph));
    b->setIconSize(QSize(16, 16));
    b->setToolTip(tip);
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::TabFocus);
    b->setCursor(Skin::get().cursor);
    return b;
}

QLabel* makeLabel(QWidget* parent, const QString& text, int pixelSize, Qt::Alignment align) {
    auto* l = new QLabel(text, parent);
    l->setFont(Skin::font(pixelSize));
    l->setAlignment(align | Qt::AlignVCenter);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Skin::textColor());
    l->setPalette(pal);
    return l;
}

FrameCache::Limits cacheLimits() {
    FrameCache::Limits limits;
    limits.workers = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    // Large JPG frames decode slower than a short interval shows them: read the
    // whole folder ahead when memory allows (an eighth of it, 256 MB to 2 GB),
    // so from the second pass on nothing is decoded at all.
    long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) {
        size_t eighth = size_t(pages) / 8 * size_t(pageSize);
        limits.byteBudget = std::clamp(eighth, size_t(256) << 20, size_t(2048) << 20);
    }
    limits.ahead = 128;
    limits.behind = 128;
    return limits;
}

int frameKindOf(int saveKind) { return saveKind >= 0 && saveKind <= 3 ? saveKind : 0; }

}  // namespace

Tarnel_V::Tarnel_V(QWidget* parent)
    : SkinWindow(kMinFaceWidth, kDesignPictureHeight + kExtraHeight, QStringLiteral("ﾓｰﾌｨﾝｸﾞﾋﾞｭｰｱ (ﾌﾚｰﾑ)"), parent),
      cache_(cacheLimits()) {
    setModal(true);
    elapsed_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { PlayTimer_Tick(); });
    chooseFolder_ = [](QWidget* owner) { ShowFolderChooser(owner); };
    Form_Load();
}

Tarnel_V::~Tarnel_V() = default;

int64_t Tarnel_V::now() const { return clock_ ? clock_() : elapsed_.elapsed(); }

void Tarnel_V::buildControls() {
    QWidget* face = this->face();
    lbl_Path = makeLabel(face, QString(), 10, Qt::AlignLeft);
    PicMorph = new FrameView(face);
    Cmd_File = makeGlyphButton(face, Glyph::Folder, QStringLiteral("ﾌｫﾙﾀﾞを開く"));
    Cmd_Play = makeGlyphButton(face, Glyph::Play, QStringLiteral("ﾌﾟﾚｲ"));
    Cmd_Pause = makeGlyphButton(face, Glyph::Pause, QStringLiteral("ﾎﾟｰｽﾞ"));
    Cmd_Loop = makeGlyphButton(face, Glyph::Loop, QStringLiteral("ﾙｰﾌﾟ"));
    lbl = makeLabel(face, QStringLiteral("ｲﾝﾀｰﾊﾞﾙ"), 11, Qt::AlignLeft);
    HS_Interval = new QScrollBar(Qt::Horizontal, face);
    HS_Interval->setRange(10, 500);
    HS_Interval->setSingleStep(10);
    HS_Interval->setPageStep(10);
    HS_Interval->setValue(100);
    HS_Interval->setCursor(Skin::get().cursor);
    LblInterval = makeLabel(face, QStringLiteral("100 f/ms"), 11, Qt::AlignRight);

    connect(Cmd_File, &QPushButton::clicked, this, [this] { Cmd_File_Click(); });
    connect(Cmd_Play, &QPushButton::clicked, this, [this] { Cmd_Play_Click(); });
    connect(Cmd_Pause, &QPushButton::clicked, this, [this] { Cmd_Pause_Click(); });
    connect(Cmd_Loop, &QPushButton::clicked, this, [this] { Cmd_Loop_Click(); });
    connect(HS_Interval, &QScrollBar::valueChanged, this, [this](int v) { HS_Interval_Change(v); });
    ImgExit->setCursor(Skin::get().cursor);
}

void Tarnel_V::Form_Load() {
    buildControls();
    layOut(kDesignPictureWidth, kDesignPictureHeight);
    if (Links().ViewerFromEditor) {
        // 1: empty until a folder is chosen.
        setPlayControlsEnabled(false);
    } else {
        // 2: the folder of the run that just ended, with frames of SaveKind.
        Cmd_File->setEnabled(false);
        setPath(Settings().SaveFolder);
        openFolder(Settings().SaveFolder, frameKindOf(Settings().SaveKind));
    }
    // 3: a stored interval outside the scroll bar's range is refused.
    const int stored = Settings().FrameInterval;
    if (stored >= HS_Interval->minimum() && stored <= HS_Interval->maximum()) HS_Interval->setValue(stored);
    startZoom();
}

void Tarnel_V::openFolder(const std::string& folder, int kind) {
    cache_.setSource(folder, kind);
    frameKind_ = kind;
    // Frame 000 that cannot be loaded leaves PicMorph and the layout as they were.
    StdPicture first;
    if (!cache_.take(0, first)) return;
    PicMorph->setFrame(first);
    shownFrame_ = 0;
    layOut(first.width(), first.height());
}

void Tarnel_V::setPath(const std::string& folder) {
    lbl_Path->setToolTip(QString::fromStdString(folder));
    elidePath();
}

void Tarnel_V::elidePath() {
    lbl_Path->setText(QFontMetrics(lbl_Path->font()).elidedText(lbl_Path->toolTip(), Qt::ElideMiddle, lbl_Path->width()));
}

void Tarnel_V::layOut(int pictureWidth, int pictureHeight) {
    // Frames whose window would not fit the screen's free area are shown
    // smaller, in their own proportions, so that the title, the exit image
    // and the controls stay on the screen.
    const WindowMargins margins{kExtraWidth, kExtraHeight + Skin::kTitleHeight, kMinFaceWidth, 0};
    std::optional<FittedWindow> fit;
    if (const std::optional<ScreenAreas> areas = ScreenAreasFor(this))
        fit = FitPictureWindow(pictureWidth, pictureHeight, margins, areas->screen, areas->available);
    const bool fitted = fit && fit->scale < 1.0;
    if (fitted) {
        pictureWidth = fit->pictureWidth;
        pictureHeight = fit->pictureHeight;
    }
    const int faceWidth = std::max(pictureWidth + kExtraWidth, kMinFaceWidth);
    const int faceHeight = pictureHeight + kExtraHeight;
    face()->resize(faceWidth, faceHeight);
    Image1->setGeometry(0, 0, faceWidth, Skin::kTitleHeight);
    Image1->setPixmap(Skin::get().titleStrip(faceWidth, windowTitle()));
    ImgExit->move(faceWidth - 21, ImgExit->y());
    if (fitted) placeAt(fit->window);
    else sizeAndCentre();

    PicMorph->setGeometry((faceWidth - pictureWidth) / 2, kPathBand, pictureWidth, pictureHeight);
    PicMorph->setFitted(fitted);
    lbl_Path->setGeometry(6, 0, faceWidth - 12, kPathBand);
    elidePath();

    const int row = pictureHeight + kControlsTop;
    int x = 6;
    for (QPushButton* b : {Cmd_File, Cmd_Play, Cmd_Pause, Cmd_Loop}) {
        b->setGeometry(x, row, kButtonSide, 20);
        x += kButtonSide;
    }
    lbl->setGeometry(x + 6, row, 42, 20);
    LblInterval->setGeometry(faceWidth - 56, row, 50, 20);
    HS_Interval->setGeometry(x + 48, row + 2, faceWidth - 58 - (x + 48), 16);
    face()->update();
}

void Tarnel_V::setPlayControlsEnabled(bool enabled) {
    for (QWidget* w : {static_cast<QWidget*>(Cmd_Play), static_cast<QWidget*>(Cmd_Loop),
                       static_cast<QWidget*>(Cmd_Pause), static_cast<QWidget*>(HS_Interval)})
        w->setEnabled(enabled);
}

// ---------------------------------------------------------------- commands

void Tarnel_V::Cmd_File_Click() {
    Links().FolderChoiceCancelled = true;
    Links().AviExportMode = false;
    // A running pass waits while the chooser is open, and goes on afterwards
    // in whatever folder was chosen.
    choosing_ = true;
    timer_.stop();
    if (chooseFolder_) chooseFolder_(this);
    choosing_ = false;
    if (!Links().FolderChoiceCancelled) {
        const std::string folder = Settings().SaveFolder;
        setPath(folder);
        const int kind = FindFrameKind(folder);
        if (kind != kFrameKindNone) {
            openFolder(folder, kind);
            setPlayControlsEnabled(true);
        }
    }
    schedule();
}

void Tarnel_V::Cmd_Play_Click() {
    cache_.forgetFailures();
    player_.play(now(), HS_Interval->value());
    schedule();
}

void Tarnel_V::Cmd_Loop_Click() {
    Cmd_Play->setEnabled(false);
    cache_.forgetFailures();
    player_.loop(now(), HS_Interval->value());
    schedule();
}

void Tarnel_V::Cmd_Pause_Click() {
    player_.pause();
    Cmd_Play->setEnabled(true);
    PlayTimer_Tick();  // the pass ends here
}

void Tarnel_V::HS_Interval_Change(int value) {
    LblInterval->setText(QString::number(value) + QStringLiteral("f/ms"));
    player_.setInterval(value);
    Settings().FrameInterval = value;
    schedule();
}

// ---------------------------------------------------------------- the pass

void Tarnel_V::PlayTimer_Tick() {
    if (choosing_) return;
    player_.tick(now(), [this](int index) { return showFrame(index); });
    schedule();
}

bool Tarnel_V::showFrame(int index) {
    StdPicture frame;
    if (!cache_.take(index, frame)) return false;
    PicMorph->setFrame(frame);
    shownFrame_ = index;
    ++framesShown_;
    return true;
}

void Tarnel_V::schedule() {
    if (choosing_ || !player_.active()) {
        timer_.stop();
        return;
    }
    cache_.prefetch(player_.frameIndex(), player_.direction(), player_.looping());
    const int64_t wait = std::clamp<int64_t>(player_.nextDue() - now(), 0, INT_MAX);
    timer_.start(int(wait));
}

void Tarnel_V::done(int result) {
    player_.stop();
    timer_.stop();
    SkinWindow::done(result);
}

}  // namespace tarnel
