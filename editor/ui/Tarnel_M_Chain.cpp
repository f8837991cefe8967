// The editor window: the chain of key pictures. The views show one pair of
// neighbouring keys; the strip under them (shown with three or more keys)
// lists every key, adds, removes and moves them, and picks the pair.
#include <QFrame>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <map>

#include "core/Settings.h"
#include "editor/ui/Tarnel_M.h"
#include "platform/Dialogs.h"
#include "platform/FileRead.h"
#include "ui/Skin.h"
#include "ui/widgets/PictureBoxWidget.h"

namespace tarnel {

namespace {

constexpr const char* kKeyNeedsImages = "ｽﾀｰﾄ ｲﾒｰｼﾞとｴﾝﾄﾞ ｲﾒｰｼﾞをﾛｰﾄﾞしてください";
constexpr const char* kTooManyKeys = "ｷｰ画像はこれ以上追加できません";
constexpr int kThumbWidth = 96, kThumbHeight = 54, kThumbGap = 8;

// A small copy of a picture, nearest pixel, for the strip.
QImage thumbnailOf(const StdPicture& picture) {
    QImage thumb(kThumbWidth, kThumbHeight, QImage::Format_RGB32);
    thumb.fill(Qt::white);
    if (!picture.isBitmap() || picture.bitmap->empty()) return thumb;
    const Bitmap& b = *picture.bitmap;
    // Letterboxed: the whole picture, its proportions kept.
    const double scale = std::min(double(kThumbWidth) / b.width(), double(kThumbHeight) / b.height());
    const int w = std::max(1, int(b.width() * scale)), h = std::max(1, int(b.height() * scale));
    const int ox = (kThumbWidth - w) / 2, oy = (kThumbHeight - h) / 2;
    for (int y = 0; y < h; ++y) {
        const int sy = std::min(b.height() - 1, int((y + 0.5) * b.height() / h));
        auto* row = reinterpret_cast<QRgb*>(thumb.scanLine(oy + y));
        for (int x = 0; x < w; ++x) {
            const RGBQuad c = b.pixelColor(std::min(b.width() - 1, int((x + 0.5) * b.width() / w)), sy);
            row[ox + x] = qRgb(c.red, c.green, c.blue);
        }
    }
    return thumb;
}

// The thumbnails: key k at kThumbGap + k * (kThumbWidth + kThumbGap), the
// shown pair outlined, the current key's number marked.
class KeyThumbs : public QWidget {
public:
    KeyThumbs(Tarnel_M& w, QWidget* parent) : QWidget(parent), w_(w) {}

    int keyAt(QPoint p) const {
        const int x = p.x() + offset_ - kThumbGap / 2;
        if (x < 0) return -1;
        const int k = x / (kThumbWidth + kThumbGap);
        return k < w_.keyCount() ? k : -1;
    }
    // Scrolls so that the shown pair is in sight.
    void follow() {
        const int step = kThumbWidth + kThumbGap;
        const int left = w_.shownPair() * step, right = (w_.shownPair() + 2) * step + kThumbGap;
        if (left < offset_) offset_ = left;
        if (right > offset_ + width()) offset_ = std::max(0, right - width());
        offset_ = std::clamp(offset_, 0, std::max(0, w_.keyCount() * step + kThumbGap - width()));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(236, 238, 246));
        const std::vector<ChainKey> keys = ChainKeys(w_.captureState());
        std::map<const Bitmap*, QImage> cache;
        p.setFont(Skin::font(11, true));
        const int top = 4;
        for (int k = 0; k < int(keys.size()); ++k) {
            const int x = kThumbGap + k * (kThumbWidth + kThumbGap) - offset_;
            if (x + kThumbWidth < 0 || x > width()) continue;
            const StdPicture& picture = keys[size_t(k)].source ? keys[size_t(k)].source->picture : StdPicture();
            const Bitmap* key = picture.isBitmap() ? picture.bitmap.get() : nullptr;
            auto it = cache_.find(key);
            if (it == cache_.end()) it = cache_.emplace(key, thumbnailOf(picture)).first;
            cache[key] = it->second;
            p.drawImage(x, top, it->second);
            p.setPen(QColor(40, 46, 96));
            p.drawRect(x - 1, top - 1, kThumbWidth + 1, kThumbHeight + 1);
            const QRect label(x, top + kThumbHeight + 1, kThumbWidth, height() - top - kThumbHeight - 1);
            if (k == w_.currentKey()) {
                p.fillRect(label.adjusted(kThumbWidth / 2 - 14, 1, -(kThumbWidth / 2 - 14), 0), QColor(40, 46, 96));
                p.setPen(Qt::white);
            }
            p.drawText(label, Qt::AlignCenter, QString::number(k + 1));
        }
        // The pair in the views: start and end.
        const int x = kThumbGap + w_.shownPair() * (kThumbWidth + kThumbGap) - offset_;
        p.setPen(QPen(QColor(220, 40, 40), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(x - 4, top - 3, 2 * kThumbWidth + kThumbGap + 7, kThumbHeight + 5);
        cache_ = std::move(cache);  // only the pictures still in the chain
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        const int k = keyAt(e->position().toPoint());
        if (k >= 0) w_.SelectKey(k);
    }
    void wheelEvent(QWheelEvent* e) override {
        offset_ -= e->angleDelta().y() / 2 + e->angleDelta().x() / 2;
        const int step = kThumbWidth + kThumbGap;
        offset_ = std::clamp(offset_, 0, std::max(0, w_.keyCount() * step + kThumbGap - width()));
        update();
    }

private:
    Tarnel_M& w_;
    int offset_ = 0;
    std::map<const Bitmap*, QImage> cache_;
};

QPushButton* stripButton(QWidget* parent, const QString& text, const QString& tip) {
    auto* b = new QPushButton(text, parent);
    b->setProperty("skin", "true");
    b->setFocusPolicy(Qt::TabFocus);
    b->setFont(Skin::font(12));
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

void tell(const std::string& text) { Dialogs().messageBox(text, MsgIcon::Exclamation, MsgButtons::OK, kAppTitle); }

}  // namespace

void Tarnel_M::buildKeyStrip() {
    // Under both views, in the height they give up while it shows.
    const int top = 31 + kViewSize + 2 - kKeyStripHeight + 4;
    Fra_Keys = new QFrame(Pic_Base);
    Fra_Keys->setGeometry(12, top, 314 + kViewSize + 2, kKeyStripHeight - 4);
    Fra_Keys->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette pal = Fra_Keys->palette();
    pal.setColor(QPalette::WindowText, QColor(40, 46, 96));
    Fra_Keys->setPalette(pal);
    auto* thumbs = new KeyThumbs(*this, Fra_Keys);
    Pic_Keys = thumbs;
    Cmd_KeyLeft = stripButton(Fra_Keys, QStringLiteral("←"), QStringLiteral("選んだｷｰ画像を前へ"));
    Cmd_KeyRight = stripButton(Fra_Keys, QStringLiteral("→"), QStringLiteral("選んだｷｰ画像を後ろへ"));
    Cmd_KeyAdd = stripButton(Fra_Keys, QStringLiteral("ｷｰ追加..."), QStringLiteral("最後にｷｰ画像を追加"));
    Cmd_KeyRemove = stripButton(Fra_Keys, QStringLiteral("ｷｰ削除"), QStringLiteral("選んだｷｰ画像を削除"));
    connect(Cmd_KeyLeft, &QPushButton::clicked, this, [this] { MoveChainKey(currentKey_, -1); });
    connect(Cmd_KeyRight, &QPushButton::clicked, this, [this] { MoveChainKey(currentKey_, +1); });
    connect(Cmd_KeyAdd, &QPushButton::clicked, this, [this] { AddKeyImage(); });
    connect(Cmd_KeyRemove, &QPushButton::clicked, this, [this] { RemoveChainKey(currentKey_); });
    anchorControl(Fra_Keys, EditorLayout::Anchor::Strip);
    Fra_Keys->hide();
    placeKeyStrip();
}

// The commands keep to the strip's right end; the thumbnails take the rest.
void Tarnel_M::placeKeyStrip() {
    if (!Fra_Keys) return;
    const int w = Fra_Keys->width(), h = Fra_Keys->height();
    const int bw = 70, bh = 24, right = w - 2 * bw - 10;
    Pic_Keys->setGeometry(1, 1, std::max(0, right - 2), h - 2);
    Cmd_KeyLeft->setGeometry(right + 2, 6, bw, bh);
    Cmd_KeyRight->setGeometry(right + 4 + bw, 6, bw, bh);
    Cmd_KeyAdd->setGeometry(right + 2, h - bh - 6, bw, bh);
    Cmd_KeyRemove->setGeometry(right + 4 + bw, h - bh - 6, bw, bh);
}

void Tarnel_M::showKeyStrip() {
    if (!Fra_Keys) return;
    const bool shown = keyCount() > 2;
    if (Fra_Keys->isHidden() == shown) {
        Fra_Keys->setVisible(shown);
        layoutFace(Pic_Base->width(), Pic_Base->height());
    }
    currentKey_ = std::clamp(currentKey_, pair_, pair_ + 1);
    Cmd_KeyLeft->setEnabled(currentKey_ > 0 && !running_);
    Cmd_KeyRight->setEnabled(currentKey_ < keyCount() - 1 && !running_);
    Cmd_KeyRemove->setEnabled(keyCount() > 2 && !running_);
    Cmd_KeyAdd->setEnabled(!running_);
    static_cast<KeyThumbs*>(Pic_Keys)->follow();
    if (shown) showChainAlignment();
}

// One chain command: the change made to the whole state, put in place as one
// undo step.
bool Tarnel_M::changeChain(const std::function<bool(EditorState&)>& change) {
    if (running_ || meshEditor.dragging()) return false;
    if (dragBefore_) {
        edited(*dragBefore_);
        dragBefore_.reset();
    }
    EditorState target = captureState();
    if (!change(target)) return false;
    {
        EditScope edit(*this);
        applyState(target);
    }
    return true;
}

bool Tarnel_M::AddKeyImage(const std::string& chosenPath) {
    if (running_) return false;
    if (!images.bothLoaded()) {
        tell(kKeyNeedsImages);
        return false;
    }
    if (keyCount() >= kMaxEditorKeys) {
        tell(kTooManyKeys);
        return false;
    }
    std::string path = chosenPath;
    if (path.empty()) {
        path = ShowOpenImageDialog(Settings().ImageFolder);
        if (path.empty()) return false;
        Settings().ImageFolder = FolderOf(path);
    }
    auto source = std::make_shared<SourceState>();
    std::string reason;
    if (!LoadSourcePicture(path, source->picture, reason)) {
        tell(kLoadFailedMessage + path + "\n" + reason);
        return false;
    }
    // Every key is of the run's size: the size of the pictures in the views.
    const Bitmap* first = images.RunPicture(0);
    const Bitmap& added = *source->picture.bitmap;
    if (!first || first->width() != added.width() || first->height() != added.height()) {
        Dialogs().messageBox(kSizeMismatchMessage, MsgIcon::Information, MsgButtons::OK, kAppTitle);
        return false;
    }
    source->workingCopy = source->picture;
    source->path = path;
    source->width = added.width();
    source->height = added.height();
    source->sizeLabel = source->sizeLabelS = SizeText(source->width, source->height);
    source->preparable = true;
    ChainKey key{source, DefaultMesh(mesh.Rows, mesh.Columns, added.width(), added.height())};
    if (!changeChain([&](EditorState& s) { return AppendKey(s, std::move(key)); })) return false;
    currentKey_ = keyCount() - 1;
    showKeyStrip();
    return true;
}

void Tarnel_M::SelectKey(int k) {
    if (k < 0 || k >= keyCount() || running_) return;
    if (k != pair_ && k != pair_ + 1) {
        const int pair = PairForKey(keyCount(), k);
        if (!changeChain([pair](EditorState& s) { return SelectPair(s, pair); })) return;
    }
    currentKey_ = k;
    showKeyStrip();
}

void Tarnel_M::SelectKeyPair(int pair) {
    if (pair < 0 || pair > keyCount() - 2) return;
    if (pair != pair_ && !changeChain([pair](EditorState& s) { return SelectPair(s, pair); })) return;
    currentKey_ = pair;
    showKeyStrip();
}

bool Tarnel_M::RemoveChainKey(int k) {
    if (!changeChain([k](EditorState& s) { return RemoveKey(s, k); })) return false;
    currentKey_ = std::min(k, keyCount() - 1);
    showKeyStrip();
    return true;
}

bool Tarnel_M::MoveChainKey(int k, int direction) {
    if (!changeChain([k, direction](EditorState& s) { return MoveKey(s, k, direction); })) return false;
    currentKey_ = k + (direction < 0 ? -1 : 1);
    showKeyStrip();
    return true;
}

void Tarnel_M::fitHiddenMeshes() {
    for (HiddenKey& key : hiddenKeys_) {
        if (key.mesh.rows() == mesh.Rows && key.mesh.columns() == mesh.Columns) continue;
        const Bitmap* picture = key.source && key.source->picture.isBitmap() ? key.source->picture.bitmap.get() : nullptr;
        key.mesh = picture ? DefaultMesh(mesh.Rows, mesh.Columns, picture->width(), picture->height())
                           : MeshGrid(mesh.Rows, mesh.Columns);
    }
}

// The run's keys: the shown pair as the views hold it, the others as kept.
std::vector<ChainKey> Tarnel_M::runKeys() const { return ChainKeys(captureState()); }

}  // namespace tarnel
