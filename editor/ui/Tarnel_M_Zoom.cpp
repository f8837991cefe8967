// The editor window: zoom and scroll of the two views, the mesh drawn over a
// zoomed view, and the views following a dragged point and its partner.
#include <QCursor>
#include <QKeySequence>
#include <QPainter>
#include <QScrollBar>
#include <QGuiApplication>
#include <QShortcut>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "editor/ui/Tarnel_M.h"
#include "ui/widgets/ClickLabel.h"
#include "ui/MeshOverlay.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/Skin.h"

namespace tarnel {

namespace {

constexpr int kWheelStep = 120;       // one notch of a mouse wheel
constexpr int kWheelScrollPixels = 48;
constexpr int kDragScrollMs = 30;
constexpr int kDragScrollStep = 16;  // screen pixels a turn at most

// Hands the wheel turns that reach a view (over its canvas or its empty part) to the window.
class ViewWheelFilter : public QObject {
public:
    ViewWheelFilter(QObject* parent, std::function<void(QWheelEvent*)> onWheel)
        : QObject(parent), onWheel_(std::move(onWheel)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Wheel) return false;
        onWheel_(static_cast<QWheelEvent*>(event));
        return true;
    }

private:
    std::function<void(QWheelEvent*)> onWheel_;
};

QString zoomText(double zoom) {
    const double percent = zoom * 100;
    return (percent < 10 ? QString::number(percent, 'f', 1) : QString::number(std::lround(percent))) + QStringLiteral("%");
}

}  // namespace

void Tarnel_M::buildZoomControls(int i) {
    const int bx = 12 + i * 314;
    auto* zoom = new ClickLabel(QStringLiteral("100%"), Pic_Base);
    zoom->setGeometry(bx + 155, 9, 42, 16);
    zoom->setAlignment(Qt::AlignCenter);
    zoom->setFont(Skin::font(11));
    zoom->setCursor(Skin::get().cursor);
    zoom->setStyleSheet(QStringLiteral("QLabel { color: rgb(24, 30, 64); background: rgba(255, 255, 255, 150);"
                                       " border: 1px solid rgba(40, 46, 96, 120); border-radius: 3px; }"));
    zoom->setToolTip(QStringLiteral("表示倍率 (Ctrl+ﾎｲｰﾙ、+ / -、0 で 100%)。ｸﾘｯｸで 100% と全体表示を切り替え"));
    lbl_Zoom[size_t(i)] = zoom;
    connect(zoom, &ClickLabel::mouseDown, this, [this, i](int button, int, QPoint) {
        if (button == kLeftButton) lbl_Zoom_MouseDown(i);
    });

    P[size_t(i)]->setOverlay([this, i](QPainter& painter, const QRectF& exposed, double z) {
        paintMeshOverlay(i, painter, exposed, z);
    });
    viewArea_[size_t(i)]->installEventFilter(new ViewWheelFilter(this, [this, i](QWheelEvent* e) {
        const QPoint d = e->angleDelta();
        // A sideways wheel scrolls across as Shift does.
        const int across = d.y() == 0 && d.x() != 0 ? kShiftMask : 0;
        P_MouseWheel(i, d.y() != 0 ? d.y() : d.x(), PictureBoxWidget::shiftCode(e->modifiers()) | across, e->position());
    }));
    if (i == 1) buildZoomShortcuts();
}

void Tarnel_M::buildZoomShortcuts() {
    // In the gap between the two views, written downwards.
    lbl_Link = new ClickLabel(QStringLiteral("連\n動"), Pic_Base);
    lbl_Link->setGeometry(315, 31 + kViewSize / 2 - 20, 11, 42);
    lbl_Link->setAlignment(Qt::AlignCenter);
    lbl_Link->setFont(Skin::font(10, true));
    lbl_Link->setCursor(Skin::get().cursor);
    lbl_Link->setToolTip(QStringLiteral("連動: 点をﾄﾞﾗｯｸﾞする間、もう一方の画像で対応する点を表示"));
    connect(lbl_Link, &ClickLabel::mouseDown, this, [this](int button, int, QPoint) {
        if (button == kLeftButton) lbl_Link_MouseDown();
    });
    showLink();

    dragScroll_ = new QTimer(this);
    dragScroll_->setInterval(kDragScrollMs);
    connect(dragScroll_, &QTimer::timeout, this, [this] { dragScrollTick(); });

    const struct {
        int direction;
        QList<QKeySequence> keys;
    } bindings[] = {
        {+1, {QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal), QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)}},
        {-1, {QKeySequence(Qt::Key_Minus), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus)}},
        {0, {QKeySequence(Qt::Key_0), QKeySequence(Qt::KeypadModifier | Qt::Key_0)}},
    };
    for (const auto& b : bindings) {
        auto* shortcut = new QShortcut(this);
        shortcut->setKeys(b.keys);
        shortcut->setContext(Qt::WindowShortcut);
        const int direction = b.direction;
        // Keyboards that make "+" with Shift may match two of the keys at once.
        connect(shortcut, &QShortcut::activated, this, [this, direction] { ZoomKey(direction); });
        connect(shortcut, &QShortcut::activatedAmbiguously, this, [this, direction] { ZoomKey(direction); });
    }
}

// ---------------------------------------------------------------- zoom

double Tarnel_M::zoomOf(int i) const {
    const PictureBox& box = images.P[size_t(i)];
    const QSize view = viewSize(i);
    return ZoomFactor(zoomLevel[size_t(i)], box.scaleWidth(), box.scaleHeight(), view.width(), view.height());
}

void Tarnel_M::showZoom(int i) { lbl_Zoom[size_t(i)]->setText(zoomText(zoomOf(i))); }

void Tarnel_M::ZoomView(int i, ZoomLevel level, QPointF anchor) {
    if ((i != 0 && i != 1) || !images.loaded(i)) return;
    const PictureBox& box = images.P[size_t(i)];
    const double before = zoomOf(i);
    const int scrollX = HScroll[size_t(i)]->value(), scrollY = VScroll[size_t(i)]->value();
    zoomLevel[size_t(i)] = level;
    const double zoom = zoomOf(i);
    P[size_t(i)]->setZoom(zoom);
    const QSize view = viewSize(i);
    const ViewBars bars = ResetViewBars(ZoomedLength(box.scaleWidth(), zoom), ZoomedLength(box.scaleHeight(), zoom),
                                        view.width(), view.height());
    setViewBars(i, bars);
    HScroll[size_t(i)]->setValue(ScrollKeepingAnchor(anchor.x(), scrollX, before, zoom, bars.hMax));
    VScroll[size_t(i)]->setValue(ScrollKeepingAnchor(anchor.y(), scrollY, before, zoom, bars.vMax));
    P[size_t(i)]->move(-HScroll[size_t(i)]->value(), -VScroll[size_t(i)]->value());
    P[size_t(i)]->setOverlayMargin(mesh.PointerSize + 6);
    P[size_t(i)]->refresh();
    showZoom(i);
    // The session keeps the zoom too; the editing itself did not change.
    if (!Initialising && !applyingState_) {
        sessionDirty_ = true;
        if (sessionTimer_) sessionTimer_->start();
    }
}

void Tarnel_M::P_MouseWheel(int i, int delta, int shift, QPointF at) {
    if (i != 0 && i != 1) return;
    lastCanvas_ = i;
    if (shift & kCtrlMask) {
        // Whole notches zoom; finer wheels add up to one.
        int& rest = wheelRest_[size_t(i)];
        rest += delta;
        while (std::abs(rest) >= kWheelStep) {
            const int direction = rest > 0 ? 1 : -1;
            rest -= direction * kWheelStep;
            const PictureBox& box = images.P[size_t(i)];
            const QSize view = viewSize(i);
            ZoomView(i, StepZoom(zoomLevel[size_t(i)], direction, box.scaleWidth(), box.scaleHeight(), view.width(), view.height()),
                     at);
        }
        return;
    }
    QScrollBar* bar = (shift & kShiftMask) ? HScroll[size_t(i)] : VScroll[size_t(i)];
    bar->setValue(bar->value() - delta * kWheelScrollPixels / kWheelStep);
}

int Tarnel_M::canvasForKeys() const {
    for (int i = 0; i < 2; ++i) {
        const QWidget* view = viewArea_[size_t(i)];
        if (view->isVisible() && view->rect().contains(view->mapFromGlobal(QCursor::pos()))) return i;
    }
    return lastCanvas_;
}

void Tarnel_M::ZoomKey(int direction) {
    const int i = canvasForKeys();
    const PictureBox& box = images.P[size_t(i)];
    const QSize view = viewSize(i);
    const ZoomLevel level = direction == 0 ? ZoomLevel{false, 100}
                                           : StepZoom(zoomLevel[size_t(i)], direction, box.scaleWidth(), box.scaleHeight(),
                                                      view.width(), view.height());
    const ViewAxis h = viewAxis(i, true), v = viewAxis(i, false);
    ZoomView(i, level, QPointF(h.visible / 2.0, v.visible / 2.0));
}

void Tarnel_M::lbl_Zoom_MouseDown(int i) {
    lastCanvas_ = i;
    const ZoomLevel actual{false, 100};
    const ViewAxis h = viewAxis(i, true), v = viewAxis(i, false);
    ZoomView(i, zoomLevel[size_t(i)] == actual ? ZoomLevel{true, 100} : actual, QPointF(h.visible / 2.0, v.visible / 2.0));
}

// ---------------------------------------------------------------- following a drag

void Tarnel_M::lbl_Link_MouseDown() {
    linkedViews = !linkedViews;
    showLink();
    if (linkedViews && meshEditor.dragging()) followDrag(lastCanvas_, false);
}

void Tarnel_M::showLink() {
    lbl_Link->setStyleSheet(linkedViews
                                ? QStringLiteral("QLabel { color: rgb(240, 242, 255); background: rgb(40, 46, 96); border-radius: 2px; }")
                                : QStringLiteral("QLabel { color: rgb(128, 132, 160); background: rgba(255, 255, 255, 90);"
                                                 " border: 1px solid rgba(40, 46, 96, 80); border-radius: 2px; }"));
}

ViewAxis Tarnel_M::viewAxis(int i, bool horizontal) const {
    const QScrollBar* bar = horizontal ? HScroll[size_t(i)] : VScroll[size_t(i)];
    const QScrollBar* across = horizontal ? VScroll[size_t(i)] : HScroll[size_t(i)];
    // A bar covers the last pixels of the other direction.
    const QSize view = viewSize(i);
    const int length = horizontal ? view.width() : view.height();
    return ViewAxis{bar->value(), bar->isHidden() ? 0 : bar->maximum(), length - (across->isHidden() ? 0 : kScrollBarSize)};
}

void Tarnel_M::scrollToShow(int i, const MeshPoint& p, double margin) {
    const double zoom = zoomOf(i);
    HScroll[size_t(i)]->setValue(ScrollToShow(p.x, margin, zoom, viewAxis(i, true)));
    VScroll[size_t(i)]->setValue(ScrollToShow(p.y, margin, zoom, viewAxis(i, false)));
}

void Tarnel_M::centreOn(int i, const MeshPoint& p, double margin) {
    // The partner stays put while its point is in sight; once it would leave,
    // the view brings it to the middle rather than just inside the edge.
    const double zoom = zoomOf(i);
    const std::pair<QScrollBar*, double> axes[] = {{HScroll[size_t(i)], p.x}, {VScroll[size_t(i)], p.y}};
    for (bool horizontal : {true, false}) {
        const ViewAxis axis = viewAxis(i, horizontal);
        const auto& [bar, at] = axes[horizontal ? 0 : 1];
        if (ScrollToShow(at, margin, zoom, axis) == axis.scroll) continue;
        const double middle = ImageToScreen(at, zoom) - axis.visible / 2.0;
        bar->setValue(int(std::clamp(std::nearbyint(middle), 0.0, double(axis.maxScroll))));
    }
}

void Tarnel_M::followDrag(int index, bool moved) {
    const int si = meshEditor.selectedI(), sj = meshEditor.selectedJ();
    const double margin = mesh.PointerSize + 2;
    // The dragged point pulls its view along at the edge.
    if (moved && mesh.mesh(index).contains(si, sj)) {
        scrollToShow(index, mesh.mesh(index)(si, sj), margin);
        lastCanvas_ = index;
        if (!dragScroll_->isActive()) dragScroll_->start();
    }
    const int other = 1 - index;
    if (linkedViews && mesh.mesh(other).contains(si, sj)) centreOn(other, mesh.mesh(other)(si, sj), margin + 6);
}

void Tarnel_M::dragScrollTick() {
    // A pointer held still beyond the view's edge keeps the drag, and so the view, moving.
    const int i = lastCanvas_;
    const QPoint global = QCursor::pos();
    const QPoint inView = viewArea_[size_t(i)]->mapFromGlobal(global);
    const bool outside = inView.x() < 0 || inView.y() < 0 || inView.x() >= viewAxis(i, true).visible ||
                         inView.y() >= viewAxis(i, false).visible;
    if (!meshEditor.dragging() || !(QGuiApplication::mouseButtons() & Qt::LeftButton) || !outside) {
        dragScroll_->stop();
        return;
    }
    // However far out the pointer is, the view moves at most this far a turn.
    const int w = viewAxis(i, true).visible, h = viewAxis(i, false).visible;
    const QPoint near(std::clamp(inView.x(), -kDragScrollStep, w + kDragScrollStep),
                      std::clamp(inView.y(), -kDragScrollStep, h + kDragScrollStep));
    const QPointF at = P[size_t(i)]->mapFrom(viewArea_[size_t(i)], QPointF(near));
    const double zoom = zoomOf(i);
    P_MouseMove(i, kLeftButton, PictureBoxWidget::shiftCode(QGuiApplication::keyboardModifiers()),
                float(ScreenToImage(at.x(), zoom)), float(ScreenToImage(at.y(), zoom)));
}

float Tarnel_M::grabRadius(int i) const {
    // Zoomed, a point is grabbed within the marker size in screen pixels.
    const double zoom = zoomOf(i);
    return zoom == 1.0 ? -1.0f : float(mesh.PointerSize / zoom);
}

void Tarnel_M::paintMeshOverlay(int i, QPainter& painter, const QRectF& exposed, double zoom) {
    // The run takes the meshes off the canvases.
    if (running_) return;
    MeshStyle style = meshEditor.style;
    style.pointerSize = mesh.PointerSize;
    PaintMeshOverlay(painter, mesh.mesh(i), style, meshEditor.partner(i), exposed, zoom,
                     i == 1 ? pointsToCheck() : std::vector<bool>{});
}

}  // namespace tarnel
