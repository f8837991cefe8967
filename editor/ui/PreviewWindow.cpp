#include "editor/ui/PreviewWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <optional>

#include "core/Mesh.h"
#include "platform/PictureBox.h"
#include "ui/ChildWindows.h"
#include "ui/ScreenArea.h"
#include "ui/view/ScreenFit.h"
#include "ui/Skin.h"

namespace tarnel {

namespace {

constexpr int kMargin = 8;
constexpr int kSliderHeight = 22;
constexpr int kLabelHeight = 18;
constexpr int kControlsHeight = kMargin + kSliderHeight + 4 + kLabelHeight + kMargin;
constexpr int kMinFaceWidth = 360;
constexpr FrameSize kEmptyCanvas{320, 240};
// Share of the available screen, each way, the frame may take by default.
constexpr double kScreenShare = 0.6;
// The preview's width where there is too little room beside the editor, and
// the least room used beside it.
constexpr int kWantBesideWidth = 640;
constexpr int kMinBesideHeight = 240;

}  // namespace

// The frame fitted into the widget with its aspect kept, on black.
class PreviewCanvas : public QWidget {
public:
    PreviewCanvas(const PreviewWindow& window, QWidget* parent) : QWidget(parent), window_(window) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        const Bitmap& frame = window_.shownFrame();
        if (frame.empty()) {
            painter.setPen(QColor(200, 200, 200));
            painter.setFont(Skin::font(12));
            painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("ｽﾀｰﾄとｴﾝﾄﾞの画像をﾛｰﾄﾞしてください"));
            return;
        }
        // A reduced frame stands for the full one: fit by the full frame's aspect.
        const FrameSize full = window_.fullSize();
        const FrameSize fit = FitFrameSize(full.width > 0 ? full.width : frame.width(),
                                           full.height > 0 ? full.height : frame.height(), width(), height());
        const QRect target((width() - fit.width) / 2, (height() - fit.height) / 2, fit.width, fit.height);
        // 32-bpp B,G,R,x top-down: Qt's RGB32 layout, shown without a copy.
        const QImage view(frame.bits(), frame.width(), frame.height(), frame.stride(), QImage::Format_RGB32);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != view.size());
        painter.drawImage(target, view);
    }

private:
    const PreviewWindow& window_;
};

PreviewWindow::PreviewWindow(const PreviewInputs& inputs, QWidget* owner)
    : SkinWindow(kMinFaceWidth, kEmptyCanvas.height + kControlsHeight, QStringLiteral("ﾌﾟﾚﾋﾞｭｰ"), owner),
      inputs_(inputs) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    Pic_View = new PreviewCanvas(*this, face());
    HS_T = new QSlider(Qt::Horizontal, face());
    HS_T->setRange(0, kSliderSteps);
    HS_T->setPageStep(kSliderSteps / 10);
    // The window takes the keys: Left/Right step whole frames.
    HS_T->setFocusPolicy(Qt::NoFocus);
    HS_T->setCursor(Skin::get().cursor);
    lbl_Frame = new QLabel(face());
    lbl_Frame->setFont(Skin::font(12));
    connect(HS_T, &QSlider::valueChanged, this, [this](int v) {
        if (!syncingSlider_) setT(double(v) / kSliderSteps);
    });

    restTimer_.setSingleShot(true);
    connect(&restTimer_, &QTimer::timeout, this, [this] { rest(); });

    layoutFor(fullSize());
    updateLabel();
    worker_ = std::thread([this] { work(); });
    request(false);
}

PreviewWindow::~PreviewWindow() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

FrameSize PreviewWindow::fullSize() const {
    const StdPicture& start = inputs_.start ? inputs_.start->picture() : StdPicture{};
    return {start.width(), start.height()};
}

int PreviewWindow::lastFrameIndex() const {
    return inputs_.totalFrames && *inputs_.totalFrames >= 1 ? *inputs_.totalFrames : 1;
}

const Bitmap& PreviewWindow::shownFrame() const { return frames_[size_t(front_)]; }

FrameSize PreviewWindow::shownSize() const { return {shownFrame().width(), shownFrame().height()}; }

void PreviewWindow::layoutFor(FrameSize full) {
    layoutSize_ = full;
    // Beside the editor, so that a dragged point and the frame it makes are
    // both in sight; the editor moves aside once when there is too little room.
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const std::optional<ScreenAreas> areas = ScreenAreasFor(owner ? owner : this);
    const ScreenRect available = areas ? areas->available : ScreenRect{0, 0, 1600, 1000};
    int maxWindowWidth = int(available.width * kScreenShare);
    int maxWindowHeight = int(available.height * kScreenShare);
    std::optional<ScreenRect> region;
    if (owner) {
        const ScreenRect ownerRect = ToScreenRect(owner->frameGeometry());
        // The editor stays where the user put it (asking for no width never
        // moves it); with too little room beside it, the preview goes to the
        // screen's edge on the roomier side and covers as little of it as it can.
        const BesidePlacement beside = PlaceBeside(ownerRect, available, 0);
        if (beside.region.width >= kMinFaceWidth && beside.region.height >= kMinBesideHeight) {
            region = beside.region;
        } else if (available.width >= kMinFaceWidth) {
            const int w = std::min(available.width, kWantBesideWidth);
            const bool right = available.right() - ownerRect.right() >= ownerRect.left - available.left;
            region = ScreenRect{right ? available.right() - w : available.left, available.top, w, available.height};
        }
        if (region) {
            maxWindowWidth = std::min(maxWindowWidth, region->width);
            maxWindowHeight = std::min(maxWindowHeight, region->height);
        }
    }
    FrameSize canvas = kEmptyCanvas;
    if (full.width > 0 && full.height > 0) {
        const int maxWidth = maxWindowWidth - 2 * kMargin;
        const int maxHeight = maxWindowHeight - Skin::kTitleHeight - kControlsHeight - kMargin;
        canvas = FitFrameSize(full.width, full.height, std::max(maxWidth, 64), std::max(maxHeight, 48));
    }
    const int faceWidth = std::max(canvas.width + 2 * kMargin, kMinFaceWidth);
    const int faceHeight = kMargin + canvas.height + kControlsHeight;
    face()->setGeometry(0, Skin::kTitleHeight, faceWidth, faceHeight);
    Image1->setGeometry(0, 0, faceWidth, Skin::kTitleHeight);
    Image1->setPixmap(Skin::get().titleStrip(faceWidth, windowTitle()));
    ImgExit->move(faceWidth - 20, 2);
    Pic_View->setGeometry((faceWidth - canvas.width) / 2, kMargin, canvas.width, canvas.height);
    const int controlsTop = kMargin + canvas.height + kMargin;
    HS_T->setGeometry(kMargin, controlsTop, faceWidth - 2 * kMargin, kSliderHeight);
    lbl_Frame->setGeometry(kMargin, controlsTop + kSliderHeight + 4, faceWidth - 2 * kMargin, kLabelHeight);
    sizeAndCentre();
    if (region && !placedBeside_) {
        const int w = width(), h = height();
        const QRect o = owner->frameGeometry();
        const int top = std::clamp(o.center().y() - h / 2, region->top, std::max(region->top, region->bottom() - h));
        placeAt(ScreenRect{region->left + std::max(0, (region->width - w) / 2), top, w, h});
        placedBeside_ = true;
    }
}

void PreviewWindow::updateLabel() {
    const int n = lastFrameIndex();
    const int k = int(std::nearbyint(t_ * n));
    lbl_Frame->setText(QStringLiteral("ﾌﾚｰﾑ %1/%2    t = %3").arg(k + 1).arg(n + 1).arg(t_, 0, 'f', 3));
}

void PreviewWindow::setT(double value, bool moving) {
    t_ = std::clamp(value, 0.0, 1.0);
    syncingSlider_ = true;
    HS_T->setValue(int(std::lround(t_ * kSliderSteps)));
    syncingSlider_ = false;
    updateLabel();
    request(moving);
}

void PreviewWindow::stepFrame(int direction) {
    const int n = lastFrameIndex();
    // Frames lying within a hair of t count as t itself.
    const double at = t_ * n;
    int k = direction > 0 ? int(std::floor(at + 1e-9)) + 1 : int(std::ceil(at - 1e-9)) - 1;
    k = std::clamp(k, 0, n);
    setT(double(k) / n);
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left: stepFrame(-1); return;
        case Qt::Key_Right: stepFrame(+1); return;
        case Qt::Key_Home: setT(0.0); return;
        case Qt::Key_End: setT(1.0); return;
        default: SkinWindow::keyPressEvent(event);  // Escape closes
    }
}

void PreviewWindow::sourcesChanged() {
    ++sourcesGeneration_;
    if (!(fullSize() == layoutSize_)) layoutFor(fullSize());
    request(false);
}

void PreviewWindow::meshChanged(bool moving) { request(moving); }

void PreviewWindow::framesChanged() { updateLabel(); }

void PreviewWindow::request(bool moving) {
    const FrameSize full = fullSize();
    const FrameSize display{Pic_View->width(), Pic_View->height()};
    const FrameSize reduced = FitFrameSize(full.width, full.height, display.width, display.height);
    const bool useReduced = moving && !(reduced == full);
    if (useReduced) restTimer_.start(kRestMs);
    else restTimer_.stop();
    reducedRequested_ = useReduced;
    requestedSize_ = useReduced ? reduced : full;

    Request r;
    if (inputs_.start && inputs_.end) {
        r.start = inputs_.start->picture();
        r.end = inputs_.end->picture();
    }
    // A picture replaced without a notification still counts as new.
    if (r.start.bitmap != sentStart_.lock() || r.end.bitmap != sentEnd_.lock()) ++sourcesGeneration_;
    sentStart_ = r.start.bitmap;
    sentEnd_ = r.end.bitmap;
    r.sourcesGeneration = sourcesGeneration_;
    if (inputs_.mesh) {
        r.startMesh = inputs_.mesh->StartMesh;
        r.endMesh = inputs_.mesh->EndMesh;
    }
    r.t = t_;
    r.size = requestedSize_;
    {
        std::lock_guard lock(mutex_);
        next_ = std::move(r);  // the newest request wins
        pending_ = true;
    }
    wake_.notify_one();
}

void PreviewWindow::rest() {
    if (reducedRequested_) request(false);
}

void PreviewWindow::work() {
    for (;;) {
        Request r;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return pending_ || stop_; });
            if (stop_) return;
            r = std::move(next_);
            pending_ = false;
        }
        if (r.sourcesGeneration != loadedGeneration_) {
            renderer_.setSources(r.start, r.end);  // false leaves no sources: nothing to show
            loadedGeneration_ = r.sourcesGeneration;
        }
        Bitmap& frame = frames_[size_t(back_)];
        if (!renderer_.render(r.startMesh, r.endMesh, r.t, r.size, frame)) frame.clear();
        {
            std::lock_guard lock(mutex_);
            std::swap(back_, ready_);
            readyFresh_ = true;
            readyT_ = r.t;
        }
        QMetaObject::invokeMethod(this, [this] { deliver(); }, Qt::QueuedConnection);
    }
}

void PreviewWindow::deliver() {
    {
        std::lock_guard lock(mutex_);
        if (!readyFresh_) return;
        std::swap(front_, ready_);
        readyFresh_ = false;
        shownT_ = readyT_;
    }
    ++framesShown_;
    Pic_View->update();
    emit frameShown();
}

void RegisterPreviewWindow() {
    ChildWindows().preview = [](QWidget* owner, const PreviewInputs& inputs) -> LivePreview* {
        auto* window = new PreviewWindow(inputs, owner);
        window->show();
        window->raise();
        return window;
    };
}

}  // namespace tarnel
