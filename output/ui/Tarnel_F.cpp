#include "output/ui/Tarnel_F.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QTreeWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <filesystem>
#include <system_error>

#include "core/WindowLinks.h"
#include "core/Settings.h"
#include "ui/Skin.h"
#include "imaging/PictureIO.h"
#include "platform/Dialogs.h"
#include "platform/ProgramFolder.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/RaisingScrollBar.h"

namespace tarnel {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kAviColumnLeft = 348;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QPushButton* makeButton(QWidget* parent, const QString& text, const QRect& r) {
    QPushButton* b = SkinButton(parent, text, r);
    b->setCursor(Skin::get().cursor);
    return b;
}

// The lists on the skin: white, a thin navy frame, the selection in the buttons' blue.
const char* kListStyle =
    "QListWidget, QTreeWidget, QComboBox { color: rgb(24, 30, 64); background: white;"
    "  border: 1px solid rgb(66, 72, 132); border-radius: 2px; }"
    "QListWidget::item:selected, QTreeWidget::item:selected { background: rgb(52, 64, 132); color: white; }"
    "QComboBox { padding: 1px 4px; }"
    // The folder chain is always open: no branch arrows.
    "QTreeWidget::branch { image: none; border-image: none; background: transparent; }";

}  // namespace

Tarnel_F::Tarnel_F(QWidget* parent, std::vector<DriveEntry> drives)
    : SkinWindow(Links().AviExportMode ? kAviWidth : kFolderChoiceWidth, kFaceHeight, QStringLiteral("Tarnel"), parent),
      aviMode_(Links().AviExportMode),
      chooser_(std::move(drives)) {
    setModal(true);
    Form_Load();
}

void Tarnel_F::Form_Load() {
    // 1, 2: the AVI column lies beyond x = 348 and is cut off in folder-choice mode.
    const int width = aviMode_ ? kAviWidth : kFolderChoiceWidth;
    buildControls(width);
    lbl0->setText(aviMode_ ? QStringLiteral("AVIﾌｧｲﾙの作成") : QStringLiteral("ﾌｫﾙﾀﾞの選択"));
    cmd_OK->setVisible(!aviMode_);
    ImgExit->move(width - 21, ImgExit->y());
    sizeAndCentre();

    if (aviMode_) {
        // 3, 4
        {
            QSignalBlocker block(VS_Repeat);
            VS_Repeat->setCount(Settings().AviRepeat[2]);
        }
        VS_Repeat_Change();
        Cmd_Viewer->setEnabled(false);
        lbl_Message->hide();
    }

    // 5: drive and folder from SaveFolder; a folder that is gone leaves the
    // program folder, and failing that the root.
    if (!chooser_.setFolder(Settings().SaveFolder) && !chooser_.setFolder(ProgramFolder())) chooser_.setFolder("/");
    selectDriveOfFolder();
    folderChanged();

    // 6
    startZoom();
}

void Tarnel_F::buildControls(int faceWidth) {
    QWidget* face = this->face();
    face->setStyleSheet(kListStyle);
    const Skin& skin = Skin::get();

    Img_T = new QLabel(face);
    Img_T->setGeometry(8, 6, 150, 20);
    Img_T->setPixmap(skin.titlePlate);
    lbl0 = SkinLabel(face, QString(), QRect(24, 6, 134, 20), true);
    QPalette pal = lbl0->palette();
    pal.setColor(QPalette::WindowText, QColor(240, 242, 255));
    lbl0->setPalette(pal);

    drv1 = new QComboBox(face);
    drv1->setGeometry(8, 32, 196, 22);
    drv1->setFont(Skin::font(12));
    for (const DriveEntry& d : chooser_.drives()) drv1->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), qs(d.text));
    connect(drv1, &QComboBox::currentIndexChanged, this, [this](int) { drv1_Change(); });

    dir1 = new QTreeWidget(face);
    dir1->setGeometry(8, 58, 196, 192);
    dir1->setFont(Skin::font(12));
    dir1->setCursor(skin.cursor);
    dir1->setHeaderHidden(true);
    dir1->setRootIsDecorated(false);
    dir1->setItemsExpandable(false);
    dir1->setIndentation(10);
    dir1->setIconSize(QSize(16, 16));
    connect(dir1, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { dir1_Change(item->data(0, kPathRole).toString().toStdString()); });

    File1 = new QListWidget(face);
    File1->setGeometry(212, 32, 129, 114);
    File1->setFont(Skin::font(12));
    connect(File1, &QListWidget::currentRowChanged, this, [this](int row) { File1_Click(row); });

    // Pic_Pre takes the preview's size, centred in a 93 x 93 area.
    previewArea_ = new QWidget(face);
    previewArea_->setGeometry(230, 152, kPreviewSide, kPreviewSide);
    preview_.backColor = RGBColor(255, 255, 255);
    Pic_Pre = new PictureBoxWidget(&preview_, previewArea_);
    Pic_Pre->hide();

    frameCountCaption_ = SkinLabel(face, QStringLiteral("ﾌﾚｰﾑ数 ："), QRect(8, 258, 64, 24));
    lbl_Flame = SkinLabel(face, QStringLiteral("999"), QRect(72, 258, 48, 24), true);

    cmd_OK = makeButton(face, QStringLiteral("OK"), QRect(153, 258, 90, 24));
    Cmd_Can = makeButton(face, QStringLiteral("ｷｬﾝｾﾙ"), QRect(251, 258, 90, 24));
    connect(cmd_OK, &QPushButton::clicked, this, [this] { cmd_OK_Click(); });
    connect(Cmd_Can, &QPushButton::clicked, this, [this] { Cmd_Can_Click(); });
    ImgExit->setCursor(skin.cursor);

    if (aviMode_) buildAviPanel(faceWidth);
}

void Tarnel_F::buildAviPanel(int faceWidth) {
    QWidget* face = this->face();
    const Skin& skin = Skin::get();
    Pic_C = new SkinFace(face, true);
    Pic_C->setGeometry(kAviColumnLeft, 32, faceWidth - kAviColumnLeft - 8, kFaceHeight - 40);
    const int w = Pic_C->width();

    // The frame count belongs to the panel in this mode.
    frameCountCaption_->setParent(Pic_C);
    frameCountCaption_->setGeometry(8, 6, 64, 22);
    lbl_Flame->setParent(Pic_C);
    lbl_Flame->setGeometry(72, 6, w - 80, 22);

    auto textBox = [&](const QString& text, const QRect& r) {
        auto* t = new QLineEdit(text, Pic_C);
        t->setProperty("skin", "true");
        t->setGeometry(r);
        t->setFont(Skin::font(12));
        t->setAlignment(Qt::AlignRight);
        return t;
    };
    SkinLabel(Pic_C, QStringLiteral("幅"), QRect(8, 34, 40, 22));
    txtWidth = textBox(QString(), QRect(50, 34, 56, 22));
    SkinLabel(Pic_C, QStringLiteral("高さ"), QRect(8, 60, 40, 22));
    txtHeight = textBox(QString(), QRect(50, 60, 56, 22));
    txtFPS = textBox(QStringLiteral("20"), QRect(50, 86, 40, 22));
    SkinLabel(Pic_C, QStringLiteral("fp/s"), QRect(94, 86, 34, 22));

    Cmd_Avi_Save = makeButton(Pic_C, QStringLiteral("AVI ﾌｧｨﾙの作成"), QRect(8, 114, w - 16, 24));
    connect(Cmd_Avi_Save, &QPushButton::clicked, this, [this] { Cmd_Avi_Save_Click(); });

    SkinLabel(Pic_C, QStringLiteral("ﾘﾋﾟｰﾄ"), QRect(8, 154, 44, 22));
    lbl_Repeat = SkinLabel(Pic_C, QStringLiteral("99回"), QRect(54, 154, 44, 22), true);
    lbl_Repeat->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Top 10, bottom 1: the up arrow raises the count.
    VS_Repeat = new RaisingScrollBar(kAviRepeatRange.min, kAviRepeatRange.max, Pic_C);
    VS_Repeat->setGeometry(w - 26, 144, 17, 42);
    VS_Repeat->setCursor(skin.cursor);
    connect(VS_Repeat, &RaisingScrollBar::countChanged, this, [this](int) { VS_Repeat_Change(); });

    Cmd_Viewer = makeButton(Pic_C, QStringLiteral("AVI ﾋﾞｭｰｱ"), QRect(8, 196, w - 16, 24));
    connect(Cmd_Viewer, &QPushButton::clicked, this, [this] { Cmd_Viewer_Click(); });

    // The message takes the row OK leaves free: the panel is too narrow for it on one line.
    lbl_Message = SkinLabel(face, QStringLiteral("AVI ﾌｧｲﾙを作成しました！！"), QRect(8, 258, 235, 24), true);
    lbl_Progress = SkinLabel(face, QString(), QRect(8, 258, 235, 24), true);
    lbl_Progress->hide();
    lbl_S = new QLabel(Pic_C);
    lbl_S->hide();
}

void Tarnel_F::VS_Repeat_Change() {
    lbl_Repeat->setText(QString::number(VS_Repeat->count()) + QStringLiteral("回"));
    Settings().AviRepeat[2] = int16_t(VS_Repeat->count());
}

// ---------------------------------------------------------------- drive, folder, files

void Tarnel_F::drv1_Change() {
    const int index = drv1->currentIndex();
    if (index < 0 || index == chooser_.driveIndex()) return;
    for (;;) {
        FolderError error;
        if (chooser_.setDrive(index, &error)) {
            folderChanged();
            return;
        }
        const std::string text = drv1->itemText(index).toStdString();
        MsgResult answer =
            Dialogs().messageBox(DriveErrorMessage(text, error), MsgIcon::Exclamation, MsgButtons::RetryCancel, kAppTitle);
        if (answer != MsgResult::Retry) break;
    }
    // Cancel: the drive list goes back to the drive of the folder shown.
    selectDriveOfFolder();
}

void Tarnel_F::selectDriveOfFolder() {
    QSignalBlocker block(drv1);
    drv1->setCurrentIndex(chooser_.driveIndex());
}

void Tarnel_F::dir1_Change(const std::string& path) {
    // A folder that cannot be opened is not entered; the list stays as it was.
    if (!chooser_.setFolder(path)) return;
    selectDriveOfFolder();
    folderChanged();
}

void Tarnel_F::fillFolderList() {
    QSignalBlocker block(dir1);
    dir1->clear();
    const int drive = chooser_.driveIndex();
    const std::string top = drive >= 0 ? chooser_.drives()[size_t(drive)].path : chooser_.folder();
    const std::vector<std::string> chain = FolderChain(top, chooser_.folder());
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QTreeWidgetItem* current = nullptr;
    for (const std::string& path : chain) {
        const std::string name = current ? std::filesystem::path(path).filename().string() : path;
        auto* item = current ? new QTreeWidgetItem(current) : new QTreeWidgetItem(dir1);
        item->setIcon(0, open);
        item->setText(0, qs(name));
        item->setData(0, kPathRole, qs(path));
        current = item;
    }
    for (const std::string& name : chooser_.subfolders()) {
        auto* item = new QTreeWidgetItem(current);
        item->setIcon(0, closed);
        item->setText(0, qs(name));
        item->setData(0, kPathRole, qs(JoinFolder(chooser_.folder(), name)));
    }
    dir1->expandAll();
    if (current) {
        dir1->setCurrentItem(current);
        dir1->scrollToItem(current);
    }
}

void Tarnel_F::fillFileList() {
    QSignalBlocker block(File1);
    File1->clear();
    for (const std::string& name : chooser_.files()) File1->addItem(qs(name));
}

void Tarnel_F::folderChanged() {
    fillFolderList();
    fillFileList();
    if (chooser_.fileCount() > 0) {
        showPreview(0);
        QSignalBlocker block(File1);  // the preview of entry 0 is drawn already
        File1->setCurrentRow(0);
    } else {
        // An empty folder shows no count and no preview of the folder before it.
        clearPreview();
    }
    lbl_Flame->setText(QString::number(chooser_.fileCount()));
    if (!aviMode_) return;
    // The AVI takes the size of the first image; a new folder needs a new export before playing.
    if (chooser_.fileCount() > 0 && lastW_ > 0) {
        txtWidth->setText(QString::number(lastW_));
        txtHeight->setText(QString::number(lastH_));
    }
    Cmd_Avi_Save->setEnabled(true);
    Cmd_Viewer->setEnabled(false);
    lbl_Message->hide();
}

void Tarnel_F::File1_Click(int index) {
    if (index < 0) return;
    showPreview(index);
}

bool Tarnel_F::showPreview(int index) {
    StdPicture picture;
    if (!LoadPicture(chooser_.filePath(index), picture) || !DrawPreview(picture, preview_)) {
        clearPreview();
        return false;
    }
    lastW_ = picture.width();
    lastH_ = picture.height();
    Pic_Pre->syncSize();
    Pic_Pre->move((kPreviewSide - preview_.scaleWidth()) / 2, (kPreviewSide - preview_.scaleHeight()) / 2);
    Pic_Pre->show();
    Pic_Pre->refresh();
    return true;
}

void Tarnel_F::clearPreview() {
    lastW_ = lastH_ = 0;
    preview_.resize(0, 0);
    Pic_Pre->hide();
}

// ---------------------------------------------------------------- OK, cancel, unload

void Tarnel_F::cmd_OK_Click() {
    if (!chooser_.folderHoldsFrames()) {
        Dialogs().messageBox(kNoFramesMessage, MsgIcon::Information, MsgButtons::OK, kAppTitle);
        return;
    }
    Links().FolderChoiceCancelled = false;
    Settings().SaveFolder = chooser_.folder();
    accept();
}

void Tarnel_F::Cmd_Can_Click() {
    Links().FolderChoiceCancelled = true;
    reject();
}

void Tarnel_F::done(int result) {
    staging_.remove();
    std::error_code ec;
    const std::string temp = TempBmpPath();
    if (std::filesystem::exists(temp, ec)) std::filesystem::remove(temp, ec);
    SkinWindow::done(result);
}

}  // namespace tarnel
