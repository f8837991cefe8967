// The editor window: layout, start-up, shutdown and the option controls.
#include "editor/ui/Tarnel_M.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>
#include <filesystem>

#include "core/FrameNaming.h"
#include "core/Settings.h"
#include "ui/ChildWindows.h"
#include "ui/Skin.h"
#include "platform/Dialogs.h"
#include "platform/NumText.h"
#include "platform/ProgramFolder.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/Spinner.h"

namespace tarnel {

namespace {

QPushButton* makeButton(QWidget* parent, const QString& text, const QRect& r, bool bold = false) {
    auto* b = new QPushButton(text, parent);
    b->setProperty("skin", "true");
    b->setGeometry(r);
    b->setFocusPolicy(Qt::TabFocus);
    QFont f = Skin::font(12, bold);
    b->setFont(f);
    return b;
}

QLabel* makeLabel(QWidget* parent, const QString& text, const QRect& r, Qt::Alignment align = Qt::AlignVCenter | Qt::AlignLeft,
                  bool bold = false, int pixelSize = 12) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(r);
    l->setAlignment(align);
    l->setFont(Skin::font(pixelSize, bold));
    return l;
}

ClickLabel* makeClickLabel(QWidget* parent, const QString& text, const QRect& r) {
    auto* l = new ClickLabel(text, parent);
    l->setGeometry(r);
    l->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    l->setFont(Skin::font(12));
    return l;
}

// A heading on a title plate: the plate image with white text over it.
QLabel* makePlate(QWidget* parent, const QString& text, QPoint at, QLabel** textLabel) {
    auto* plate = new QLabel(parent);
    plate->setGeometry(at.x(), at.y(), 150, 20);
    QLabel* t = makeLabel(parent, text, QRect(at.x() + 16, at.y(), 130, 20), Qt::AlignVCenter | Qt::AlignLeft, true);
    QPalette pal = t->palette();
    pal.setColor(QPalette::WindowText, QColor(240, 242, 255));
    t->setPalette(pal);
    if (textLabel) *textLabel = t;
    return plate;
}

QColor qcolor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

}  // namespace

Tarnel_M::Tarnel_M(QWidget* parent)
    : SkinWindow(kFaceWidth, kFaceHeight, QStringLiteral("Tarnel"), parent), session_(ProgramFolder()) {
    Form_Load();
    markSaved();
    makeResizable();
    restorePlace(Settings().EditorPlace);
}

bool Tarnel_M::event(QEvent* event) {
    // A modal dialog or child window has closed: unless another window took
    // the focus, the editor takes it back, so its keys work without a click.
    if (event->type() == QEvent::WindowUnblocked)
        QTimer::singleShot(0, this, [this] {
            if (isVisible() && !unloaded_ && !QGuiApplication::focusWindow() && !QApplication::activeModalWidget())
                activateWindow();
        });
    return SkinWindow::event(event);
}

Tarnel_M::~Tarnel_M() {
    if (sessionSave_.valid()) sessionSave_.wait();
    // Whatever ends the window, the working copies go with it.
    if (!unloaded_) Form_QueryUnload();
}

// ---------------------------------------------------------------- layout

void Tarnel_M::buildControls() {
    Pic_Base = face();
    using Anchor = EditorLayout::Anchor;
    // Each group's new controls take the group's anchor.
    auto group = [this](const std::function<void()>& build, Anchor anchor, int view) {
        const QObjectList before = Pic_Base->children();
        build();
        for (QObject* child : Pic_Base->children()) {
            auto* w = qobject_cast<QWidget*>(child);
            if (w && !before.contains(child)) placed_.push_back(Placed{w, w->geometry(), anchor, view});
        }
    };
    group([this] { buildImageBlock(0); }, Anchor::ViewTop, 0);
    group([this] { buildImageBlock(1); }, Anchor::ViewTop, 1);
    group([this] { buildRunColumn(); }, Anchor::RunTop, 0);
    group([this] { buildOptionPanel(); }, Anchor::Panel, 0);
    // Within the groups: what sits under a view, by a view's right edge,
    // between the views, or in the lower part of the run column.
    constexpr int kRunOutputTop = 268;
    for (Placed& p : placed_) {
        const int i = p.view;
        const QWidget* w = p.widget;
        if (p.anchor == Anchor::ViewTop && p.design.top() > 31 + kViewSize) p.anchor = Anchor::ViewBelow;
        if (w == lbl_Size[size_t(i)] || w == lbl_Zoom[size_t(i)]) p.anchor = Anchor::ViewTopRight;
        if (w == lbl_Size_S[size_t(i)]) p.anchor = Anchor::ViewBelowRight;
        if (w == PicBack[size_t(i)]) p.anchor = Anchor::View;
        if (w == lbl_Link) p.anchor = Anchor::Gap;
        if (p.anchor == Anchor::RunTop && p.design.top() >= kRunOutputTop) p.anchor = Anchor::RunBottom;
        if (w == Pic_Pre) p.anchor = Anchor::Fixed;  // centred in its slot by showPreview
    }
    // The hidden third box: scratch for reductions and the frame canvas of a run.
    P[2] = new PictureBoxWidget(&images.P[2], Pic_Base);
    P[2]->hide();
}

void Tarnel_M::buildImageBlock(int i) {
    const int bx = 12 + i * 314;
    QLabel* heading = nullptr;
    Img_T[size_t(i)] = makePlate(Pic_Base, i == 0 ? QStringLiteral("ｽﾀｰﾄ ｲﾒｰｼﾞ") : QStringLiteral("ｴﾝﾄﾞ ｲﾒｰｼﾞ"),
                                 QPoint(bx, 7), &heading);
    lbl_Size[size_t(i)] = makeLabel(Pic_Base, QStringLiteral("9999 * 999"), QRect(bx + 200, 7, 102, 20),
                                    Qt::AlignVCenter | Qt::AlignRight, true);

    QFrame* back = new QFrame(Pic_Base);
    back->setFrameStyle(QFrame::Box | QFrame::Plain);
    back->setLineWidth(1);
    back->setGeometry(bx, 31, kViewSize + 2, kViewSize + 2);
    QPalette pal = back->palette();
    pal.setColor(QPalette::WindowText, QColor(40, 46, 96));
    pal.setColor(QPalette::Window, Qt::white);
    back->setPalette(pal);
    back->setAutoFillBackground(true);
    PicBack[size_t(i)] = back;
    // The 300 x 300 client area of the view.
    auto* client = new QWidget(back);
    client->setGeometry(1, 1, kViewSize, kViewSize);
    viewArea_[size_t(i)] = client;

    PictureBoxWidget* box = new PictureBoxWidget(&images.P[size_t(i)], client);
    box->move(0, 0);
    P[size_t(i)] = box;
    connect(box, &PictureBoxWidget::mouseDown, this, [this, i](int b, int s, float x, float y) { P_MouseDown(i, b, s, x, y); });
    connect(box, &PictureBoxWidget::mouseMove, this, [this, i](int b, int s, float x, float y) { P_MouseMove(i, b, s, x, y); });
    connect(box, &PictureBoxWidget::mouseUp, this, [this, i](int b, int s, float x, float y) { P_MouseUp(i, b, s, x, y); });

    auto* v = new QScrollBar(Qt::Vertical, client);
    v->setGeometry(kViewSize - kScrollBarSize, 0, kScrollBarSize, kViewSize - kScrollBarSize);
    auto* h = new QScrollBar(Qt::Horizontal, client);
    h->setGeometry(0, kViewSize - kScrollBarSize, kViewSize - kScrollBarSize, kScrollBarSize);
    for (QScrollBar* bar : {v, h}) {
        bar->setSingleStep(8);
        bar->setPageStep(kViewSize / 2);
        bar->hide();
    }
    VScroll[size_t(i)] = v;
    HScroll[size_t(i)] = h;
    connect(h, &QScrollBar::valueChanged, this, [this, i](int) { HScroll_Change(i); });
    connect(v, &QScrollBar::valueChanged, this, [this, i](int) { VScroll_Change(i); });
    auto* corner = new QPushButton(client);
    corner->setProperty("skin", "corner");
    corner->setGeometry(kViewSize - kScrollBarSize, kViewSize - kScrollBarSize, kScrollBarSize, kScrollBarSize);
    corner->setFocusPolicy(Qt::NoFocus);
    corner->hide();
    Cmd_D[size_t(i)] = corner;

    // Load, trim and reset under the view, then the reduction row.
    const int rowA = 341, rowB = 370;
    Cmd_Sanshyo[size_t(i)] = makeButton(Pic_Base, QStringLiteral("参照..."), QRect(bx, rowA, 96, 24), true);
    Cmd_Triming[size_t(i)] = makeButton(Pic_Base, QStringLiteral("ﾄﾘﾐﾝｸﾞ"), QRect(bx + 103, rowA, 96, 24));
    Cmd_Reset[size_t(i)] = makeButton(Pic_Base, QStringLiteral("ﾘｾｯﾄ"), QRect(bx + 206, rowA, 96, 24));
    makeLabel(Pic_Base, QStringLiteral("画像の縮小"), QRect(bx, rowB, 66, 24), Qt::AlignVCenter | Qt::AlignLeft, true);
    lbl_Stretch[size_t(i)] =
        makeLabel(Pic_Base, QStringLiteral("100％"), QRect(bx + 64, rowB, 42, 24), Qt::AlignVCenter | Qt::AlignRight);
    VS_Stretch[size_t(i)] = new Spinner(10, 100, 100, Pic_Base);
    VS_Stretch[size_t(i)]->move(bx + 109, rowB + 2);
    Cmd_Stretch[size_t(i)] = makeButton(Pic_Base, QStringLiteral("縮小"), QRect(bx + 130, rowB, 64, 24));
    lbl_Size_S[size_t(i)] = makeLabel(Pic_Base, QStringLiteral("9999 * 999"), QRect(bx + 196, rowB, 106, 24),
                                      Qt::AlignVCenter | Qt::AlignRight);

    connect(Cmd_Sanshyo[size_t(i)], &QPushButton::clicked, this, [this, i] { Cmd_Sanshyo_Click(i); });
    connect(Cmd_Triming[size_t(i)], &QPushButton::clicked, this, [this, i] { Cmd_Triming_Click(i); });
    connect(Cmd_Reset[size_t(i)], &QPushButton::clicked, this, [this, i] { Cmd_Reset_Click(i); });
    connect(Cmd_Stretch[size_t(i)], &QPushButton::clicked, this, [this, i] { Cmd_Stretch_Click(i); });
    connect(VS_Stretch[size_t(i)], &Spinner::changed, this, [this, i](int) { VS_Stretch_Change(i); });
    buildZoomControls(i);
}

void Tarnel_M::buildRunColumn() {
    const int x = 640, w = 105;
    // The preview slot: Pic_Pre is centred in it at the start image's aspect.
    auto* slot = new QFrame(Pic_Base);
    previewSlot_ = slot;
    slot->setGeometry(x, 31, w, 102);
    slot->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    slot->setStyleSheet(QStringLiteral("QFrame { background: rgba(40, 46, 96, 40); border: 1px solid rgba(40, 46, 96, 110);"
                                       " border-radius: 3px; }"));
    Pic_Pre = new PictureBoxWidget(&images.Pic_Pre, Pic_Base);
    showPreview();

    Cmd_Douki = makeButton(Pic_Base, QStringLiteral("ｻｲｽﾞの同期"), QRect(x, 141, w, 24));
    lbl_Prog = makeLabel(Pic_Base, QStringLiteral("999/999"), QRect(x, 174, w, 18), Qt::AlignCenter, true);
    Cmd_Start = makeButton(Pic_Base, QStringLiteral("ﾓｰﾌｨﾝｸﾞｽﾀｰﾄ"), QRect(x, 193, w, 34), true);
    progressBox.backColor = RGBColor(232, 234, 248);
    progressBox.resize(w, 34);
    PicProgress = new PictureBoxWidget(&progressBox, Pic_Base);
    PicProgress->move(x, 193);
    PicProgress->setFrameColor(QColor(40, 46, 96));
    Cmd_Can = makeButton(Pic_Base, QStringLiteral("ｷｬﾝｾﾙ"), QRect(x, 233, w, 24));

    auto* rule = new QFrame(Pic_Base);
    rule->setGeometry(x, 268, w, 2);
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    Cmd_Morph_View = makeButton(Pic_Base, QStringLiteral("ﾓｰﾌｨﾝｸﾞﾋﾞｭｰｱ"), QRect(x, 280, w, 24));
    Cmd_Avi = makeButton(Pic_Base, QStringLiteral("AVI で保存"), QRect(x, 309, w, 24));
    makeLabel(Pic_Base, QStringLiteral("ﾘﾋﾟｰﾄ"), QRect(x, 339, 44, 22), Qt::AlignVCenter | Qt::AlignLeft, true);
    lbl_Repeat = makeLabel(Pic_Base, QStringLiteral("99回"), QRect(x + 44, 339, 40, 22), Qt::AlignVCenter | Qt::AlignRight);
    VS_Repeat = new Spinner(1, 10, 1, Pic_Base);
    VS_Repeat->move(x + 90, 340);
    Cmd_Avi_View = makeButton(Pic_Base, QStringLiteral("AVI ﾋﾞｭｰｱ"), QRect(x, 366, w, 24));
    Cmd_AniGif = makeButton(Pic_Base, QStringLiteral("ｱﾆﾒGifの作成"), QRect(x, 395, w, 24));
    Cmd_End = makeButton(Pic_Base, QStringLiteral("終了"), QRect(x, 453, w, 24), true);

    connect(Cmd_Douki, &QPushButton::clicked, this, [this] { Cmd_Douki_Click(); });
    connect(Cmd_Start, &QPushButton::clicked, this, [this] { Cmd_Start_Click(); });
    connect(Cmd_Can, &QPushButton::clicked, this, [this] { Cmd_Can_Click(); });
    connect(Cmd_Morph_View, &QPushButton::clicked, this, [this] { Cmd_Morph_View_Click(); });
    connect(Cmd_Avi, &QPushButton::clicked, this, [this] { Cmd_Avi_Click(); });
    connect(Cmd_Avi_View, &QPushButton::clicked, this, [this] { Cmd_Avi_View_Click(); });
    connect(Cmd_AniGif, &QPushButton::clicked, this, [this] { Cmd_AniGif_Click(); });
    connect(Cmd_End, &QPushButton::clicked, this, [this] { Cmd_End_Click(); });
    connect(VS_Repeat, &Spinner::changed, this, [this](int) { VS_Repeat_Change(); });
}

void Tarnel_M::buildOptionPanel() {
    Pic_C = new SkinFace(Pic_Base, true);
    Pic_C->setGeometry(12, 403, 616, 74);
    QWidget* c = Pic_C;
    const int head = 3, row1 = 27, row2 = 50;
    const Qt::Alignment right = Qt::AlignVCenter | Qt::AlignRight;
    const Qt::Alignment left = Qt::AlignVCenter | Qt::AlignLeft;

    // Trimming size.
    makeLabel(c, QStringLiteral("ﾄﾘﾐﾝｸﾞｻｲｽﾞ"), QRect(10, head, 100, 20), left, true);
    makeLabel(c, QStringLiteral("幅"), QRect(10, row1, 30, 21), left);
    txt_w = new QLineEdit(c);
    txt_w->setGeometry(40, row1, 58, 21);
    makeLabel(c, QStringLiteral("高さ"), QRect(10, row2, 30, 21), left);
    txt_h = new QLineEdit(c);
    txt_h->setGeometry(40, row2, 58, 21);
    for (QLineEdit* t : {txt_w, txt_h}) {
        t->setProperty("skin", "true");
        t->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        t->setMaxLength(10);
        t->setFont(Skin::font(12));
        // Enter confirms the box: the text is kept and selected, nothing else happens.
        connect(t, &QLineEdit::returnPressed, t, [t] { t->selectAll(); });
    }

    // Frame count.
    makeLabel(c, QStringLiteral("総ﾌﾚｰﾑ数"), QRect(114, head, 72, 20), left, true);
    lbl_Frame = makeLabel(c, QStringLiteral("999"), QRect(114, row1, 34, 21), right, true, 14);
    VS_Frame = new Spinner(2, 100, 2, c);
    VS_Frame->move(152, row1);

    // Mesh: rows, columns, marker size.
    QLabel* plateText = nullptr;
    Img_T[2] = makePlate(c, QStringLiteral("ﾏﾄﾘｸｽ"), QPoint(192, head), &plateText);
    makeLabel(c, QStringLiteral("行数"), QRect(194, row1, 30, 21), left);
    lbl_Gyo = makeLabel(c, QStringLiteral("99"), QRect(222, row1, 22, 21), right, true);
    VS_Gyo = new Spinner(1, 40, 1, c);
    VS_Gyo->move(248, row1);
    makeLabel(c, QStringLiteral("列数"), QRect(274, row1, 30, 21), left);
    lbl_Retu = makeLabel(c, QStringLiteral("99"), QRect(302, row1, 22, 21), right, true);
    VS_Retu = new Spinner(1, 40, 1, c);
    VS_Retu->move(328, row1);
    makeLabel(c, QStringLiteral("ﾎﾟｲﾝﾀの大きさ"), QRect(194, row2, 86, 21), left);
    lbl_Point = makeLabel(c, QStringLiteral("99"), QRect(280, row2, 22, 21), right, true);
    VS_Point = new Spinner(1, 15, 1, c);
    VS_Point->move(306, row2);
    // Automatic placement of the end mesh, beside the grid it places.
    Cmd_Auto = makeButton(c, QStringLiteral("自動配置"), QRect(270, head, 80, 20));
    Cmd_Auto->setToolTip(QStringLiteral("ｴﾝﾄﾞのﾏﾄﾘｸｽをｽﾀｰﾄの画像と一致する特徴の上に置きます (A)\n"
                                        "手で動かした点はそのまま残り、まわりの点の手がかりになります\n"
                                        "ｵﾚﾝｼﾞの輪: 確かめてほしい点"));
    connect(Cmd_Auto, &QPushButton::clicked, this, [this] { AutoAlign(); });

    // Colours of the lines and markers.
    for (int k = 0; k < 2; ++k) {
        const int y = k == 0 ? row1 : row2;
        makeLabel(c, k == 0 ? QStringLiteral("ﾗｲﾝの色") : QStringLiteral("ﾎﾟｲﾝﾀの色"), QRect(356, y, 62, 21), left);
        lbl_C[size_t(k)] = makeLabel(c, k == 0 ? QStringLiteral("□") : QStringLiteral("○"), QRect(418, y - 1, 22, 22),
                                     Qt::AlignCenter, true, 17);
        Cmd_C[size_t(k)] = makeButton(c, QStringLiteral("..."), QRect(442, y, 30, 21));
        connect(Cmd_C[size_t(k)], &QPushButton::clicked, this, [this, k] { Cmd_C_Click(k); });
    }

    // Output kind and transparency.
    // Wide enough for "保存ﾌｧｲﾙ  PNG"; the three options keep their places.
    lbl_KindTitle = makeLabel(c, QStringLiteral("保存ﾌｧｲﾙ"), QRect(484, head, 130, 20), left, true);
    const char* kinds[] = {"BMP", "JPG", "GIF"};
    for (int k = 0; k < 3; ++k) {
        const int x = 484 + k * 44;
        Img_Kind[size_t(k)] = new ClickLabel(c);
        Img_Kind[size_t(k)]->setGeometry(x, row1 + 4, 14, 14);
        lbl_Kind[size_t(k)] = makeClickLabel(c, QString::fromLatin1(kinds[k]), QRect(x + 16, row1, 27, 21));
        connect(Img_Kind[size_t(k)], &ClickLabel::mouseDown, this, [this, k](int, int, QPoint) { Img_Kind_MouseDown(k); });
        connect(lbl_Kind[size_t(k)], &ClickLabel::mouseDown, this, [this, k](int, int, QPoint) { lbl_Kind_MouseDown(k); });
    }
    Img_Trans = new ClickLabel(c);
    Img_Trans->setGeometry(484, row2 + 3, 34, 16);
    lbl_Trans[0] = makeClickLabel(c, QStringLiteral("Off"), QRect(521, row2, 24, 21));
    lbl_Trans[1] = makeClickLabel(c, QStringLiteral("透過処理"), QRect(546, row2, 62, 21));
    connect(Img_Trans, &ClickLabel::mouseDown, this, [this](int, int, QPoint) { Img_Trans_MouseDown(); });
    for (ClickLabel* l : lbl_Trans) connect(l, &ClickLabel::mouseDown, this, [this](int, int, QPoint) { lbl_Trans_MouseDown(); });

    connect(VS_Frame, &Spinner::changed, this, [this](int) { VS_Frame_Change(); });
    connect(VS_Gyo, &Spinner::changed, this, [this](int) { VS_Gyo_Change(); });
    connect(VS_Retu, &Spinner::changed, this, [this](int) { VS_Retu_Change(); });
    connect(VS_Point, &Spinner::changed, this, [this](int) { VS_Point_Change(); });
}

// ---------------------------------------------------------------- start-up

void Tarnel_M::Form_Load() {
    // Size and centre: the skinned window did that from the face size.
    dragFlag_ = 0;
    Initialising = true;
    mesh.Initialising = true;
    buildControls();
    buildKeyStrip();
    // Enter typed into a size box must not press a button (the first one
    // loads a new start image).
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    const Skin& skin = Skin::get();
    for (QLabel* plate : Img_T) plate->setPixmap(skin.titlePlate);
    for (QLabel* plate : Img_T) plate->lower();
    // A settings file that exists but cannot be read is left alone and named
    // once here; the defaults apply.
    if (std::error_code error = LoadSettings(Settings()))
        Dialogs().messageBox(SettingsReadFailedText(error), MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
    MorphSettings& s = Settings();
    mesh.Rows = s.Rows;
    mesh.Columns = s.Columns;
    mesh.PointerSize = s.PointerSize;
    images.ImagePath = {std::string(), std::string()};
    // The views were laid out with their boxes at (0, 0) and the bars at the edges.
    applySettingsToControls();
    giveCursors();
    buildEditActions();
}

void Tarnel_M::applySettingsToControls() {
    MorphSettings& s = Settings();
    // Every handler runs once here, also when the value equals the design
    // value, so the labels always show the value.
    auto apply = [](Spinner* spinner, int value, const std::function<void()>& handler) {
        const int before = spinner->value();
        if (!spinner->setValue(value) || before == value) handler();
    };
    apply(VS_Frame, s.TotalFrames + 1, [this] { VS_Frame_Change(); });
    apply(VS_Gyo, s.Rows, [this] { VS_Gyo_Change(); });
    apply(VS_Retu, s.Columns, [this] { VS_Retu_Change(); });
    apply(VS_Point, s.PointerSize, [this] { VS_Point_Change(); });
    txt_w->setText(QString::fromStdString(FormatNumber(s.TrimWidth, "####")));
    txt_h->setText(QString::fromStdString(FormatNumber(s.TrimHeight, "####")));
    for (int k = 0; k < 2; ++k) {
        lbl_C_ForeColor[size_t(k)] = k == 0 ? s.LineColor : s.PointerColor;
        QPalette pal = lbl_C[size_t(k)]->palette();
        pal.setColor(QPalette::WindowText, qcolor(lbl_C_ForeColor[size_t(k)]));
        lbl_C[size_t(k)]->setPalette(pal);
    }
    meshEditor.style.lineColor = s.LineColor;
    meshEditor.style.pointerColor = s.PointerColor;
    lbl_Prog->hide();
    lbl_Size[0]->hide();
    lbl_Size[1]->hide();
    PicProgress->hide();
    for (int i = 0; i < 2; ++i) {
        images.P[size_t(i)].backColor = RGBColor(255, 255, 255);
        apply(VS_Stretch[size_t(i)], 100, [this, i] { VS_Stretch_Change(i); });
    }
    DrawEdgeFrame(images.Pic_Pre);
    Pic_Pre->refresh();
    // Disabled until images are loaded.
    for (int i = 0; i < 2; ++i) enableImageCommands(i, false);
    for (QWidget* w : std::initializer_list<QWidget*>{Cmd_Start, Cmd_Douki, Cmd_Auto, Cmd_C[0], Cmd_C[1], VS_Frame, VS_Gyo, VS_Retu,
                                                       VS_Point, txt_w, txt_h})
        w->setEnabled(false);
    Initialising = false;
    mesh.Initialising = false;

    const Skin& skin = Skin::get();
    showSaveKind(s.SaveKind);
    Img_Trans->setPixmap(s.Transparency != 0 ? skin.switchOn : skin.switchOff);
    lbl_Trans[0]->setText(s.Transparency != 0 ? QStringLiteral("On") : QStringLiteral("Off"));
    apply(VS_Repeat, s.AviRepeat[1], [this] { VS_Repeat_Change(); });

    // The windows of later parts of the program open only when they exist.
    const ChildWindowOpeners& open = ChildWindows();
    Cmd_Morph_View->setEnabled(bool(open.viewer));
    Cmd_Avi->setEnabled(bool(open.aviExport));
    Cmd_Avi_View->setEnabled(bool(open.aviPlayer));
    Cmd_AniGif->setEnabled(bool(open.gifComposer));
}

void Tarnel_M::giveCursors() {
    const QCursor& cursor = Skin::get().cursor;
    std::vector<QWidget*> widgets = {Cmd_Douki, Cmd_C[0], Cmd_C[1], Cmd_Start, Cmd_Morph_View, Cmd_Can, Cmd_End,
                                     Cmd_Avi, Cmd_Avi_View, Cmd_AniGif, VS_Frame, VS_Gyo, VS_Retu, VS_Point, VS_Repeat,
                                     Img_Trans, lbl_Trans[0], lbl_Trans[1], ImgExit};
    for (int i = 0; i < 2; ++i) {
        for (QWidget* w : std::initializer_list<QWidget*>{Cmd_Sanshyo[size_t(i)], Cmd_Triming[size_t(i)],
                                                           Cmd_Stretch[size_t(i)], Cmd_Reset[size_t(i)],
                                                           VS_Stretch[size_t(i)], HScroll[size_t(i)], VScroll[size_t(i)]})
            widgets.push_back(w);
    }
    for (int k = 0; k < 3; ++k) {
        widgets.push_back(Img_Kind[size_t(k)]);
        widgets.push_back(lbl_Kind[size_t(k)]);
    }
    for (QWidget* w : widgets) w->setCursor(cursor);
}

// ---------------------------------------------------------------- shutdown

void Tarnel_M::Form_QueryUnload() {
    images.DeleteWorkingCopies();
    unloaded_ = true;
}

SettingsControls Tarnel_M::settingsControls() const {
    SettingsControls c;
    c.VS_Frame = VS_Frame->value();
    c.VS_Gyo = VS_Gyo->value();
    c.VS_Retu = VS_Retu->value();
    c.lbl_C0_ForeColor = lbl_C_ForeColor[0];
    c.lbl_C1_ForeColor = lbl_C_ForeColor[1];
    c.txt_w = txt_w->text().toStdString();
    c.txt_h = txt_h->text().toStdString();
    c.VS_Point = VS_Point->value();
    return c;
}

void Tarnel_M::endProgram(bool saveSettings) {
    if (saveSettings) {
        Settings().EditorPlace = placeToRemember();
        SaveSettings(Settings(), settingsControls());
    }
    // Only the end command closes the session; any other end keeps it for the next start.
    if (saveSettings)
        removeSession();
    else
        flushSession(true);
    if (running_) {
        // The run stops at its next yield and the window closes after it.
        cancelRequested_ = true;
        endAfterRun_ = true;
        return;
    }
    close();
}

bool Tarnel_M::hasUnsavedChanges() const { return savedState_ && !(captureState() == *savedState_); }

void Tarnel_M::markSaved() {
    savedState_ = captureState();
    showTitle();
}

void Tarnel_M::showTitle() {
    QString title = QStringLiteral("Tarnel");
    if (!projectPath_.empty())
        title += QStringLiteral(" - ") + QString::fromStdString(std::filesystem::path(projectPath_).filename().string());
    if (hasUnsavedChanges()) title += QStringLiteral(" *");
    if (titleFlash_ && titleFlash_->isActive()) title += QStringLiteral("  ― 保存しました");
    setCaption(title);
}

// True when the end may go on: nothing unsaved, saved now, or the user lets it go.
bool Tarnel_M::askSaveBeforeEnd() {
    if (!hasUnsavedChanges()) return true;
    switch (Dialogs().messageBox(kSaveChangesQuestion, MsgIcon::Question, MsgButtons::YesNoCancel, kAppTitle)) {
        case MsgResult::Yes: return SaveProject();
        case MsgResult::Cancel: return false;
        default: return true;
    }
}

void Tarnel_M::Cmd_End_Click() {
    // A run in hand has its own end (the frame finishes first); the question
    // is for the editing.
    if (!running_ && !askSaveBeforeEnd()) return;
    endProgram(true);
}

void Tarnel_M::Cmd_Can_Click() { endProgram(false); }

void Tarnel_M::exitImageReleased() { endProgram(false); }

void Tarnel_M::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore();
        endProgram(false);
        return;
    }
    flushSession(true);
    if (!unloaded_) Form_QueryUnload();
    event->accept();
}

// ---------------------------------------------------------------- options

void Tarnel_M::VS_Frame_Change() {
    lbl_Frame->setText(QString::number(VS_Frame->value()));
    if (!Initialising) Settings().TotalFrames = VS_Frame->value() - 1;
    if (preview_) preview_->framesChanged();
}

void Tarnel_M::VS_Repeat_Change() {
    lbl_Repeat->setText(QString::number(VS_Repeat->value()) + QStringLiteral("回"));
    Settings().AviRepeat[1] = int16_t(VS_Repeat->value());
}

void Tarnel_M::VS_Gyo_Change() {
    lbl_Gyo->setText(QString::number(VS_Gyo->value()));
    applyMeshSpinners();
}

void Tarnel_M::VS_Retu_Change() {
    lbl_Retu->setText(QString::number(VS_Retu->value()));
    applyMeshSpinners();
}

void Tarnel_M::VS_Point_Change() {
    lbl_Point->setText(QString::number(VS_Point->value()));
    applyMeshSpinners();
}

void Tarnel_M::applyMeshSpinners() {
    if (Initialising) return;
    EditScope edit(*this);
    mesh.ApplyMeshSettings(VS_Gyo->value(), VS_Retu->value(), VS_Point->value(), images.P[0].scaleWidth(),
                           images.P[0].scaleHeight(), images.P[1].scaleWidth(), images.P[1].scaleHeight());
    MorphSettings& s = Settings();
    s.Rows = mesh.Rows;
    s.Columns = mesh.Columns;
    s.PointerSize = mesh.PointerSize;
    fitHiddenMeshes();
    Refresh_Mesh(0);
    Refresh_Mesh(1);
}

void Tarnel_M::Cmd_C_Click(int index) {
    if (index != 0 && index != 1) return;
    std::optional<ColorRef> chosen = Dialogs().chooseColor(RGBColor(0, 0, 0));
    if (!chosen) return;
    lbl_C_ForeColor[size_t(index)] = *chosen;
    QPalette pal = lbl_C[size_t(index)]->palette();
    pal.setColor(QPalette::WindowText, qcolor(*chosen));
    lbl_C[size_t(index)]->setPalette(pal);
    if (index == 1) {
        Settings().PointerColor = *chosen;
        meshEditor.style.pointerColor = *chosen;
    } else {
        Settings().LineColor = *chosen;
        meshEditor.style.lineColor = *chosen;
    }
    Refresh_Mesh(0);
    Refresh_Mesh(1);
}

// 0..2 from the option images; 3 (PNG) from the views' menu or a project.
void Tarnel_M::Img_Kind_MouseDown(int index) {
    if (index < 0 || index > kSavePng) return;
    showSaveKind(index);
    Settings().SaveKind = int16_t(index);
}

void Tarnel_M::showSaveKind(int kind) {
    const Skin& skin = Skin::get();
    for (ClickLabel* k : Img_Kind) k->setPixmap(skin.optOff);
    if (kind >= 0 && kind < int(Img_Kind.size())) Img_Kind[size_t(kind)]->setPixmap(skin.optOn);
    lbl_KindTitle->setText(kind == kSavePng ? QStringLiteral("保存ﾌｧｲﾙ  PNG") : QStringLiteral("保存ﾌｧｲﾙ"));
}

void Tarnel_M::Img_Trans_MouseDown() {
    MorphSettings& s = Settings();
    s.Transparency = int16_t(s.Transparency ^ 1);
    Img_Trans->setPixmap(s.Transparency != 0 ? Skin::get().switchOn : Skin::get().switchOff);
    lbl_Trans[0]->setText(s.Transparency != 0 ? QStringLiteral("On") : QStringLiteral("Off"));
}

}  // namespace tarnel
