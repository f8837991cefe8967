// The editor window: source image commands, the views and the meshes.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "platform/FileRead.h"
#include "ui/Skin.h"
#include "editor/ui/Tarnel_M.h"
#include "ui/ChildWindows.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/Spinner.h"

namespace tarnel {

void Tarnel_M::enableImageCommands(int i, bool on) {
    Cmd_Triming[size_t(i)]->setEnabled(on);
    Cmd_Stretch[size_t(i)]->setEnabled(on);
    VS_Stretch[size_t(i)]->setEnabled(on);
    Cmd_Reset[size_t(i)]->setEnabled(on);
}

void Tarnel_M::showSizeLabels(int i) {
    lbl_Size[size_t(i)]->setText(QString::fromStdString(images.SizeLabel[size_t(i)]));
    lbl_Size[size_t(i)]->show();
    lbl_Size_S[size_t(i)]->setText(QString::fromStdString(images.SizeLabelS[size_t(i)]));
}

void Tarnel_M::showPreview() {
    // Centred in its slot beside the views.
    const int w = images.Pic_Pre.scaleWidth(), h = images.Pic_Pre.scaleHeight();
    Pic_Pre->syncSize();
    const QPoint slot = previewSlot_ ? previewSlot_->pos() : QPoint(640, 31);
    Pic_Pre->move(slot.x() + (105 - w) / 2, slot.y() + 1 + (kPreviewSize - h) / 2);
    Pic_Pre->show();
    Pic_Pre->refresh();
}

void Tarnel_M::afterImageChange(int i) {
    P[size_t(i)]->syncSize();
    ResetView(i);
    images.P[size_t(i)].Cls();
    Triangles(i);
    Refresh_Mesh(i);
}

void Tarnel_M::Cmd_Sanshyo_Click(int i) {
    if ((i != 0 && i != 1) || running_) return;
    const std::string path = ShowOpenImageDialog(Settings().ImageFolder);
    if (path.empty()) return;
    Settings().ImageFolder = FolderOf(path);
    LoadImageFile(i, path);
}

void Tarnel_M::Cmd_Triming_Click(int i) {
    if ((i != 0 && i != 1) || running_) return;
    EditScope edit(*this);
    SourceImages::TrimCheck check =
        images.CheckTrim(i, txt_w->text().toStdString(), txt_h->text().toStdString(), Settings());
    if (!check.ok) {
        if (check.focus == SourceImages::TrimFocus::Width) txt_w->setFocus();
        if (check.focus == SourceImages::TrimFocus::Height) txt_h->setFocus();
        return;
    }
    if (!ChildWindows().trimming) return;
    ChildWindows().trimming(this, images.P[size_t(i)], Settings().TrimWidth, Settings().TrimHeight);
    if (!Links().TrimAccepted) return;
    images.AcceptTrim(i);
    showSizeLabels(i);
    if (i == 0) showPreview();
    afterImageChange(i);
}

void Tarnel_M::Cmd_Stretch_Click(int i) {
    if ((i != 0 && i != 1) || running_) return;
    EditScope edit(*this);
    if (!images.Reduce(i, VS_Stretch[size_t(i)]->value())) return;
    lbl_Size[size_t(i)]->setText(QString::fromStdString(images.SizeLabel[size_t(i)]));
    afterImageChange(i);
}

void Tarnel_M::VS_Stretch_Change(int i) {
    const int v = VS_Stretch[size_t(i)]->value();
    lbl_Stretch[size_t(i)]->setText(QString::number(v) + QStringLiteral("%"));
    lbl_Size_S[size_t(i)]->setText(QString::fromStdString(images.StretchSizeText(i, v)));
}

void Tarnel_M::Cmd_Reset_Click(int i) {
    if ((i != 0 && i != 1) || running_ || !images.loaded(i)) return;
    EditScope edit(*this);
    if (!images.Reset(i)) return;
    enableImageCommands(i, true);
    VS_Stretch[size_t(i)]->setValue(100);
    showSizeLabels(i);
    if (i == 0) showPreview();
    afterImageChange(i);
}

void Tarnel_M::Cmd_Douki_Click() {
    if (running_) return;
    EditScope edit(*this);
    SourceImages::SyncOutcome sync = images.Synchronise();
    if (!sync.done) return;
    for (int i = 0; i < 2; ++i) {
        Cmd_Triming[size_t(i)]->setEnabled(false);
        Cmd_Stretch[size_t(i)]->setEnabled(false);
        VS_Stretch[size_t(i)]->setEnabled(false);
        lbl_Size[size_t(i)]->setText(QString::fromStdString(images.SizeLabel[size_t(i)]));
        if (!sync.changed[size_t(i)]) continue;
        if (i == 0) showPreview();
        afterImageChange(i);
    }
}

// ---------------------------------------------------------------- views

void Tarnel_M::ResetView(int i) {
    const PictureBox& box = images.P[size_t(i)];
    // The bars span the image at the view's zoom, in screen pixels.
    const double zoom = zoomOf(i);
    P[size_t(i)]->setZoom(zoom);
    const QSize view = viewSize(i);
    const ViewBars bars = ResetViewBars(ZoomedLength(box.scaleWidth(), zoom), ZoomedLength(box.scaleHeight(), zoom),
                                        view.width(), view.height());
    // A new image starts at the view's top-left corner, bars or not.
    P[size_t(i)]->move(0, 0);
    HScroll[size_t(i)]->setValue(0);
    VScroll[size_t(i)]->setValue(0);
    setViewBars(i, bars);
    showZoom(i);
}

void Tarnel_M::setViewBars(int i, const ViewBars& bars) {
    QScrollBar* h = HScroll[size_t(i)];
    QScrollBar* v = VScroll[size_t(i)];
    Cmd_D[size_t(i)]->show();
    h->setRange(0, bars.hMax);
    h->setVisible(bars.hVisible);
    v->setRange(0, bars.vMax);
    v->setVisible(bars.vVisible);
    if (!bars.hVisible && !bars.vVisible) Cmd_D[size_t(i)]->hide();
    h->raise();
    v->raise();
    Cmd_D[size_t(i)]->raise();
}

void Tarnel_M::HScroll_Change(int i) { P[size_t(i)]->move(-HScroll[size_t(i)]->value(), P[size_t(i)]->y()); }

void Tarnel_M::VScroll_Change(int i) { P[size_t(i)]->move(P[size_t(i)]->x(), -VScroll[size_t(i)]->value()); }

// ---------------------------------------------------------------- meshes

void Tarnel_M::Triangles(int i) {
    mesh.Triangles(i, images.P[size_t(i)].scaleWidth(), images.P[size_t(i)].scaleHeight());
}

void Tarnel_M::repaintDamage(const MeshEditor::Damage& d) {
    for (size_t k = 0; k < 2; ++k) {
        if (d.rect[k].isEmpty()) continue;
        // A zoomed view draws markers and the partner ring in screen pixels around the damage.
        P[k]->setOverlayMargin(mesh.PointerSize + 6);
        P[k]->refreshRect(d.rect[k]);
    }
}

void Tarnel_M::Refresh_Mesh(int i) { repaintDamage(meshEditor.Refresh_Mesh(i)); }

void Tarnel_M::P_MouseDown(int index, int button, int shift, float x, float y) {
    // The meshes are off the canvases while a run goes on.
    if (running_) return;
    // A press ends any drag: that drag is one undo step.
    if (dragBefore_ && button == kLeftButton) {
        edited(*dragBefore_);
        dragBefore_.reset();
    }
    lastCanvas_ = index;
    std::optional<EditorState> before;
    if (button == kLeftButton) before = captureState();
    repaintDamage(meshEditor.P_MouseDown(index, button, shift, x, y, images.bothLoaded(), grabRadius(index)));
    if (meshEditor.dragging()) {
        dragBefore_ = std::move(before);
        followDrag(index, false);
    }
}

void Tarnel_M::P_MouseMove(int index, int button, int shift, float x, float y) {
    const MeshEditor::Damage d = meshEditor.P_MouseMove(index, button, shift, x, y);
    repaintDamage(d);
    if (d.any()) followDrag(index, true);
    if (preview_ && d.any()) preview_->meshChanged(true);
}

void Tarnel_M::P_MouseUp(int index, int button, int shift, float x, float y) {
    meshEditor.P_MouseUp(index, button, shift, x, y);
    if (dragBefore_ && !meshEditor.dragging()) {
        edited(*dragBefore_);
        dragBefore_.reset();
    }
}

}  // namespace tarnel
