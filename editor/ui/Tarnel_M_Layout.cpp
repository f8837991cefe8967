// The editor window: where its controls go in a face of any size, and the
// views' client areas and scroll bars after a change of size.
#include <QFrame>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>

#include "editor/ui/Tarnel_M.h"
#include "ui/widgets/PictureBoxWidget.h"

namespace tarnel {

EditorLayout ComputeEditorLayout(int faceWidth, int faceHeight, int strip) {
    EditorLayout l;
    l.strip = std::max(0, strip);
    l.dx = std::max(0, faceWidth - Tarnel_M::kFaceWidth);
    l.dy = std::max(0, faceHeight - Tarnel_M::kFaceHeight);
    // An odd pixel goes to the end image's view.
    l.grow = {l.dx / 2, l.dx - l.dx / 2};
    l.shift = {0, l.grow[0]};
    return l;
}

QRect EditorLayout::place(const QRect& design, Anchor anchor, int view) const {
    const size_t i = size_t(view == 1 ? 1 : 0);
    switch (anchor) {
        case Anchor::Fixed: return design;
        case Anchor::ViewTop: return design.translated(shift[i], 0);
        case Anchor::ViewTopRight: return design.translated(shift[i] + grow[i], 0);
        case Anchor::View:
            return QRect(design.x() + shift[i], design.y(), design.width() + grow[i], design.height() + dy - strip);
        case Anchor::ViewBelow: return design.translated(shift[i], dy);
        case Anchor::ViewBelowRight: return design.translated(shift[i] + grow[i], dy);
        case Anchor::Gap: return design.translated(grow[0], (dy - strip) / 2);
        case Anchor::RunTop: return design.translated(dx, 0);
        case Anchor::RunBottom: return design.translated(dx, dy);
        case Anchor::Panel: return QRect(design.x(), design.y() + dy, design.width() + dx, design.height());
        case Anchor::Strip: return QRect(design.x(), design.y() + dy, design.width() + dx, design.height());
    }
    return design;
}

void Tarnel_M::layoutFace(int width, int height) {
    if (placed_.empty()) return;
    const EditorLayout layout = ComputeEditorLayout(width, height, keyCount() > 2 ? kKeyStripHeight : 0);
    for (const Placed& p : placed_) {
        const QRect r = layout.place(p.design, p.anchor, p.view);
        if (p.widget->geometry() != r) p.widget->setGeometry(r);
    }
    for (int i = 0; i < 2; ++i) placeView(i);
    placeKeyStrip();
    showPreview();
}

void Tarnel_M::anchorControl(QWidget* control, EditorLayout::Anchor anchor, int view) {
    if (!control) return;
    QRect design = control->geometry();
    // Placed while the face is larger: back to where it would be at the design size.
    const EditorLayout now =
        ComputeEditorLayout(Pic_Base->width(), Pic_Base->height(), keyCount() > 2 ? kKeyStripHeight : 0);
    const QRect shifted = now.place(design, anchor, view);
    design.translate(design.topLeft() - shifted.topLeft());
    design.setSize(design.size() - (shifted.size() - design.size()));
    placed_.push_back(Placed{control, design, anchor, view});
    control->setGeometry(now.place(design, anchor, view));
}

QSize Tarnel_M::viewSize(int i) const {
    const QWidget* client = viewArea_[size_t(i == 1 ? 1 : 0)];
    return client ? client->size() : QSize(kViewSize, kViewSize);
}

// The client area, bars and corner of view i inside its frame; the image
// keeps its zoom level and its top-left corner where the view can.
void Tarnel_M::placeView(int i) {
    const size_t k = size_t(i);
    const QSize size = PicBack[k]->size() - QSize(2, 2);
    if (viewArea_[k]->size() == size) return;
    viewArea_[k]->setGeometry(1, 1, size.width(), size.height());
    const int w = size.width(), h = size.height();
    VScroll[k]->setGeometry(w - kScrollBarSize, 0, kScrollBarSize, h - kScrollBarSize);
    HScroll[k]->setGeometry(0, h - kScrollBarSize, w - kScrollBarSize, kScrollBarSize);
    VScroll[k]->setPageStep(std::max(1, h / 2));
    HScroll[k]->setPageStep(std::max(1, w / 2));
    Cmd_D[k]->setGeometry(w - kScrollBarSize, h - kScrollBarSize, kScrollBarSize, kScrollBarSize);
    if (images.loaded(i)) ZoomView(i, zoomLevel[k], QPointF(0, 0));
}

}  // namespace tarnel
