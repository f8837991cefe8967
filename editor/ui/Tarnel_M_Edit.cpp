// The editor window: undo and redo, the saved session, dropped image files
// and the canvases' menu.
#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>

#include "core/FrameNaming.h"
#include "core/Settings.h"
#include "ui/ChildWindows.h"
#include "editor/ui/Tarnel_M.h"
#include "platform/Dialogs.h"
#include "platform/FileRead.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/Spinner.h"
#include "ui/Skin.h"

namespace tarnel {

namespace {

// Quiet time after the last change before the session is written.
constexpr int kSessionDelayMs = 800;

}  // namespace

// ---------------------------------------------------------------- state

EditorState Tarnel_M::captureState() const {
    EditorState s;
    s.rows = mesh.Rows;
    s.columns = mesh.Columns;
    s.start = mesh.StartMesh;
    s.end = mesh.EndMesh;
    for (int i = 0; i < 2; ++i) {
        auto source = std::make_shared<SourceState>(images.Capture(i));
        source->preparable = Cmd_Triming[size_t(i)]->isEnabled();
        s.sources[size_t(i)] = std::move(source);
    }
    s.hidden = hiddenKeys_;
    s.pair = pair_;
    return s;
}

void Tarnel_M::applyState(const EditorState& state) {
    if (running_) return;
    applyingState_ = true;
    meshEditor.endDrag();
    dragBefore_.reset();
    const EditorState now = captureState();
    hiddenKeys_ = state.hidden;
    pair_ = std::clamp(state.pair, 0, int(hiddenKeys_.size()));
    // The spinners show the grid without rebuilding the meshes.
    Initialising = true;
    mesh.Initialising = true;
    if (state.rows >= kMinMeshCells && state.rows <= kMaxMeshCells) VS_Gyo->setValue(state.rows);
    if (state.columns >= kMinMeshCells && state.columns <= kMaxMeshCells) VS_Retu->setValue(state.columns);
    lbl_Gyo->setText(QString::number(VS_Gyo->value()));
    lbl_Retu->setText(QString::number(VS_Retu->value()));
    Initialising = false;
    mesh.Initialising = false;
    mesh.Rows = VS_Gyo->value();
    mesh.Columns = VS_Retu->value();
    Settings().Rows = mesh.Rows;
    Settings().Columns = mesh.Columns;

    for (int i = 0; i < 2; ++i) {
        const auto& source = state.sources[size_t(i)];
        if (source && !now.sameSource(i, state)) {
            images.Restore(i, *source);
            P[size_t(i)]->syncSize();
            ResetView(i);
            images.P[size_t(i)].Cls();
            if (i == 0) showPreview();
        }
    }
    for (int i = 0; i < 2; ++i) {
        const MeshGrid& grid = i == 0 ? state.start : state.end;
        if (grid.rows() == mesh.Rows && grid.columns() == mesh.Columns) {
            mesh.mesh(i) = grid;
            mesh.triangles(i).assign(size_t(2 * mesh.Rows * mesh.Columns), MeshTriangle{});
        } else if (images.loaded(i)) {
            Triangles(i);  // a session without meshes: the default placement
        } else {
            mesh.mesh(i) = grid;  // no image, no mesh
            mesh.triangles(i).clear();
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (images.loaded(i)) showSizeLabels(i);
        Refresh_Mesh(i);
    }
    updateImageControls();
    for (int i = 0; i < 2; ++i)
        if (state.sources[size_t(i)])
            enableImageCommands(i, images.loaded(i) && state.sources[size_t(i)]->preparable);
    for (int i = 0; i < 2; ++i) Cmd_Reset[size_t(i)]->setEnabled(images.loaded(i));
    showKeyStrip();
    applyingState_ = false;
    if (preview_) preview_->sourcesChanged();
    meshesMoved();
}

void Tarnel_M::updateImageControls() {
    const bool any = images.loaded(0) || images.loaded(1);
    const bool both = images.bothLoaded();
    for (int i = 0; i < 2; ++i) {
        lbl_Size[size_t(i)]->setVisible(images.loaded(i));
        if (!images.loaded(i)) enableImageCommands(i, false);
    }
    Cmd_Start->setEnabled(both);
    Cmd_Douki->setEnabled(both);
    Cmd_Auto->setEnabled(both);
    for (int i = 0; i < 2; ++i) {
        if (both)
            P[size_t(i)]->setCursor(Skin::get().cursor);
        else
            P[size_t(i)]->unsetCursor();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{VS_Frame, VS_Gyo, VS_Retu, Cmd_C[0], Cmd_C[1], txt_w, txt_h, VS_Point})
        w->setEnabled(any);
}

// ---------------------------------------------------------------- undo

Tarnel_M::EditScope::EditScope(Tarnel_M& w)
    : w_(w), active_(!w.Initialising && !w.applyingState_ && !w.running_) {
    if (active_) before_ = w_.captureState();
}

Tarnel_M::EditScope::~EditScope() {
    if (active_) w_.edited(before_);
}

void Tarnel_M::edited(const EditorState& before) {
    EditorState after = captureState();
    if (before == after) return;
    if (preview_) {
        if (before.sameSource(0, after) && before.sameSource(1, after))
            preview_->meshChanged(false);
        else
            preview_->sourcesChanged();
    }
    history.record(before, after);
    meshesMoved();
}

void Tarnel_M::meshesMoved() {
    if (Initialising) return;
    sessionDirty_ = true;
    if (sessionTimer_) sessionTimer_->start();
    showTitle();
}

void Tarnel_M::Undo() {
    if (running_ || meshEditor.dragging()) return;
    if (std::optional<EditorState> back = history.undo(captureState())) applyState(*back);
}

void Tarnel_M::Redo() {
    if (running_ || meshEditor.dragging()) return;
    if (std::optional<EditorState> forward = history.redo(captureState())) applyState(*forward);
}

// ---------------------------------------------------------------- session

void Tarnel_M::flushSession(bool wait) {
    if (sessionTimer_) sessionTimer_->stop();
    // One save at a time: a change made meanwhile is written after it.
    if (sessionSave_.valid()) {
        if (!wait && sessionSave_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            if (sessionDirty_ && sessionTimer_) sessionTimer_->start();
            return;
        }
        // A session that could not be written is tried again at the next
        // change; the editing itself goes on.
        if (!sessionSave_.get()) sessionDirty_ = true;
    }
    if (!sessionDirty_ || running_) return;
    sessionDirty_ = false;
    if (!images.loaded(0) && !images.loaded(1)) {
        session_.Remove();
        return;
    }
    // Pictures are never changed in place, so the worker may encode them
    // while the editing goes on.
    auto save = [this, state = captureState(), view = sessionView()] {
        std::string error;
        return session_.Save(state, error, &view);
    };
    if (wait) {
        if (!save()) sessionDirty_ = true;
    } else {
        sessionSave_ = std::async(std::launch::async, std::move(save));
    }
}

void Tarnel_M::removeSession() {
    if (sessionTimer_) sessionTimer_->stop();
    if (sessionSave_.valid()) sessionSave_.wait();
    sessionSave_ = {};
    sessionDirty_ = false;
    session_.Remove();
}

bool Tarnel_M::OfferSessionRestore() {
    // Sessions of editors that have ended, newest first. No drops that one
    // and asks about the next; yes restores it and leaves the older ones for
    // a later start, as one window holds one editing.
    for (auto& left : EditorSession::Abandoned(session_.folder())) {
        if (Dialogs().messageBox(kRestoreSessionQuestion, MsgIcon::Question, MsgButtons::YesNo, kAppTitle) !=
            MsgResult::Yes) {
            left->Remove();
            continue;
        }
        EditorState state;
        SessionView view;
        std::string error;
        const bool loaded = left->Load(state, error, &view);
        // The session becomes this editor's either way: restored, it goes on
        // under its own name; unreadable, the next save replaces it.
        removeSession();
        session_.Adopt(std::move(*left));
        if (!loaded) {
            Dialogs().messageBox(std::string(kRestoreSessionFailed) + "\n" + error, MsgIcon::Exclamation,
                                 MsgButtons::OK, kAppTitle);
            return false;
        }
        applyState(state);
        applySessionView(view);
        history.clear();
        return true;
    }
    return false;
}

SessionView Tarnel_M::sessionView() const {
    SessionView v;
    for (size_t i = 0; i < 2; ++i) {
        v.zoom[i] = zoomLevel[i].fit ? 0 : zoomLevel[i].percent;
        v.scrollX[i] = HScroll[i]->value();
        v.scrollY[i] = VScroll[i]->value();
    }
    return v;
}

void Tarnel_M::applySessionView(const SessionView& view) {
    for (int i = 0; i < 2; ++i) {
        const size_t k = size_t(i);
        const int percent = view.zoom[k];
        const bool known = percent == 0 || std::find(kZoomPercents.begin(), kZoomPercents.end(), percent) != kZoomPercents.end();
        if (!known || !images.loaded(i)) continue;
        ZoomView(i, percent == 0 ? ZoomLevel{true, 100} : ZoomLevel{false, percent}, QPointF(0, 0));
        HScroll[k]->setValue(view.scrollX[k]);
        VScroll[k]->setValue(view.scrollY[k]);
    }
}

// ---------------------------------------------------------------- files

bool Tarnel_M::LoadImageFile(int i, const std::string& path) {
    if ((i != 0 && i != 1) || running_) return false;
    EditScope edit(*this);
    if (images.LoadFile(i, path) != SourceImages::LoadOutcome::Loaded) return false;
    Settings().ImageFolder = FolderOf(path);
    showSizeLabels(i);
    if (i == 0) showPreview();
    afterImageChange(i);
    enableImageCommands(i, true);
    VS_Stretch[size_t(i)]->setValue(100);
    updateImageControls();
    return true;
}

bool Tarnel_M::eventFilter(QObject* watched, QEvent* event) {
    for (int i = 0; i < 2; ++i) {
        if (watched != PicBack[size_t(i)]) continue;
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* e = static_cast<QDropEvent*>(event);
            const QList<QUrl> urls = e->mimeData()->urls();
            if (!running_ && urls.size() == 1 && urls.front().isLocalFile()) {
                e->acceptProposedAction();
                return true;
            }
            e->ignore();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* e = static_cast<QDropEvent*>(event);
            const QList<QUrl> urls = e->mimeData()->urls();
            if (urls.size() != 1 || !urls.front().isLocalFile()) return true;
            e->acceptProposedAction();
            const std::string path = urls.front().toLocalFile().toStdString();
            // After the drop has returned to the source application.
            QTimer::singleShot(0, this, [this, i, path] { LoadImageFile(i, path); });
            return true;
        }
        if (event->type() == QEvent::ContextMenu) {
            showCanvasMenu(i, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    }
    return SkinWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- preview

void Tarnel_M::OpenPreview() {
    if (preview_) {
        preview_->previewWidget()->raise();
        preview_->previewWidget()->activateWindow();
        return;
    }
    if (!ChildWindows().preview) return;
    preview_.reset(ChildWindows().preview(this, PreviewInputs{&images.P[0], &images.P[1], &mesh, &Settings().TotalFrames}));
}

// ---------------------------------------------------------------- commands

void Tarnel_M::buildEditActions() {
    sessionTimer_ = new QTimer(this);
    sessionTimer_->setSingleShot(true);
    sessionTimer_->setInterval(kSessionDelayMs);
    connect(sessionTimer_, &QTimer::timeout, this, [this] { flushSession(); });

    auto shortcut = [this](const QKeySequence& keys, auto slot) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence::Undo, [this] { Undo(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Y), [this] { Redo(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { Redo(); });
    shortcut(QKeySequence(Qt::Key_P), [this] { OpenPreview(); });
    shortcut(QKeySequence(Qt::Key_A), [this] { AutoAlign(); });
    shortcut(QKeySequence::Save, [this] { SaveProject(); });
    shortcut(QKeySequence::Open, [this] { OpenProject(); });

    for (int i = 0; i < 2; ++i) {
        PicBack[size_t(i)]->setAcceptDrops(true);
        PicBack[size_t(i)]->installEventFilter(this);
        // The menu is the view's; the canvas passes the right button on.
        P[size_t(i)]->setContextMenuPolicy(Qt::NoContextMenu);
    }
}

void Tarnel_M::showCanvasMenu(int index, const QPoint& globalPos) {
    if (running_ || meshEditor.dragging()) return;
    QMenu menu(this);
    menu.setFont(Skin::font(12));
    QAction* load = menu.addAction(QStringLiteral("画像を開く..."));
    // A chain: one more key picture after the last.
    QAction* addKey = menu.addAction(QStringLiteral("ｷｰ画像を追加..."));
    addKey->setEnabled(images.bothLoaded());
    menu.addSeparator();
    QAction* open = menu.addAction(QStringLiteral("ﾌﾟﾛｼﾞｪｸﾄを開く...\tCtrl+O"));
    QAction* save = menu.addAction(QStringLiteral("ﾌﾟﾛｼﾞｪｸﾄを保存...\tCtrl+S"));
    save->setEnabled(images.bothLoaded());
    menu.addSeparator();
    QAction* preview = menu.addAction(QStringLiteral("ﾌﾟﾚﾋﾞｭｰ\tP"));
    preview->setEnabled(bool(ChildWindows().preview));
    QAction* align = menu.addAction(QStringLiteral("ｴﾝﾄﾞのﾏﾄﾘｸｽを自動配置\tA"));
    align->setEnabled(images.bothLoaded());
    menu.addSeparator();
    QAction* undo = menu.addAction(QStringLiteral("元に戻す\tCtrl+Z"));
    QAction* redo = menu.addAction(QStringLiteral("やり直し\tCtrl+Y"));
    undo->setEnabled(history.canUndo());
    redo->setEnabled(history.canRedo());
    menu.addSeparator();
    // The fourth save kind: the options beside the views hold three.
    QAction* png = menu.addAction(QStringLiteral("PNGで保存"));
    png->setCheckable(true);
    png->setChecked(Settings().SaveKind == kSavePng);
    QAction* chosen = menu.exec(globalPos);
    if (chosen == png) Img_Kind_MouseDown(png->isChecked() ? kSavePng : kSaveBmp);
    if (chosen == load) Cmd_Sanshyo_Click(index);
    if (chosen == addKey) AddKeyImage();
    if (chosen == open) OpenProject();
    if (chosen == preview) OpenPreview();
    if (chosen == align) AutoAlign();
    if (chosen == save) SaveProject();
    if (chosen == undo) Undo();
    if (chosen == redo) Redo();
}

}  // namespace tarnel
