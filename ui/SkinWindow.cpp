#include "ui/SkinWindow.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QResizeEvent>
#include <QSizeGrip>
#include <algorithm>

#include "ui/ScreenArea.h"
#include "ui/Skin.h"
#include "ui/ZoomAnimation.h"
#include "ui/widgets/PictureBoxWidget.h"

namespace tarnel {

SkinFace::SkinFace(QWidget* parent, bool panel) : QWidget(parent), panel_(panel) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SkinFace::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintSkin(p, width(), height());
    if (panel_) {
        // A soft wash and a sunken edge set the panel apart from the face.
        p.fillRect(rect(), QColor(255, 255, 255, 38));
        p.setPen(QColor(104, 112, 150));
        p.drawLine(0, 0, width() - 1, 0);
        p.drawLine(0, 0, 0, height() - 1);
        p.setPen(QColor(236, 238, 250));
        p.drawLine(1, height() - 1, width() - 1, height() - 1);
        p.drawLine(width() - 1, 1, width() - 1, height() - 1);
    }
}

SkinWindow::SkinWindow(int faceWidth, int faceHeight, const QString& caption, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), caption_(caption), designFace_(faceWidth, faceHeight) {
    const Skin& skin = Skin::get();
    setWindowTitle(caption);
    setWindowIcon(skin.icon);
    setFont(Skin::font(12));
    setStyleSheet(Skin::styleSheet());
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Skin::textColor());
    setPalette(pal);
    face_ = new SkinFace(this);
    face_->setGeometry(0, Skin::kTitleHeight, faceWidth, faceHeight);

    Image1 = new ClickLabel(this);
    Image1->setGeometry(0, 0, faceWidth, Skin::kTitleHeight);
    Image1->setPixmap(skin.titleStrip(faceWidth, caption));
    connect(Image1, &ClickLabel::mouseDown, this, [this](int b, int, QPoint g) { Image1_MouseDown(b, g); });
    connect(Image1, &ClickLabel::mouseMove, this, [this](int, int, QPoint g) { Image1_MouseMove(g); });
    connect(Image1, &ClickLabel::mouseUp, this, [this](int, int, QPoint) { Image1_MouseUp(); });

    ImgExit = new ClickLabel(this);
    ImgExit->setGeometry(faceWidth - 20, 2, 16, 16);
    ImgExit->setPixmap(skin.exitNormal);
    ImgExit->setCursor(skin.cursor);
    ImgExit->setToolTip(QStringLiteral("閉じる"));
    connect(ImgExit, &ClickLabel::mouseDown, this, [this](int b, int, QPoint) {
        if (b != 0) ImgExit_MouseDown();
    });
    connect(ImgExit, &ClickLabel::mouseUp, this, [this](int, int, QPoint) { ImgExit_MouseUp(); });
    sizeAndCentre();
}

void SkinWindow::sizeAndCentre() {
    const int w = face_->width(), h = face_->height() + Skin::kTitleHeight;
    setFixedSize(w, h);
    const std::optional<ScreenAreas> areas = ScreenAreasFor(this);
    if (!areas) return;
    const ScreenRect r = PlaceWindow(w, h, areas->screen, areas->available);
    move(r.left, r.top);
    openedPlace_ = QRect(r.left, r.top, w, h);
}

void SkinWindow::placeAt(const ScreenRect& window) {
    setFixedSize(window.width, window.height);
    move(window.left, window.top);
}

// Offsets kept in twips (pixels x 15) would give the same moves; pixels are enough.
void SkinWindow::Image1_MouseDown(int button, QPoint screenPos) {
    if (button != kLeftButton) return;
    dragFlag_ = 1;
    dragOffsetX_ = screenPos.x() - x();
    dragOffsetY_ = screenPos.y() - y();
}

void SkinWindow::Image1_MouseMove(QPoint screenPos) {
    if (dragFlag_ != 1 || maximised_) return;
    move(screenPos.x() - dragOffsetX_, screenPos.y() - dragOffsetY_);
}

void SkinWindow::Image1_MouseUp() { dragFlag_ = 0; }

void SkinWindow::ImgExit_MouseDown() { ImgExit->setPixmap(Skin::get().exitPressed); }

void SkinWindow::ImgExit_MouseUp() {
    ImgExit->setPixmap(Skin::get().exitNormal);
    QCoreApplication::processEvents();
    exitImageReleased();
}

void SkinWindow::setCaption(const QString& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    setWindowTitle(caption);
    Image1->setPixmap(Skin::get().titleStrip(Image1->width(), caption));
}

void SkinWindow::makeResizable() {
    if (resizable_) return;
    resizable_ = true;
    setMinimumSize(designFace_.width(), designFace_.height() + Skin::kTitleHeight);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const Skin& skin = Skin::get();
    ImgMax = new ClickLabel(this);
    ImgMax->setPixmap(skin.maximiseImage);
    ImgMax->setCursor(skin.cursor);
    ImgMax->setToolTip(QStringLiteral("最大化"));
    connect(ImgMax, &ClickLabel::mouseUp, this, [this](int, int, QPoint) { setMaximised(!maximised_); });
    connect(Image1, &ClickLabel::doubleClicked, this, [this](int button) {
        if (button == kLeftButton) {
            dragFlag_ = 0;
            setMaximised(!maximised_);
        }
    });
    grip_ = new QSizeGrip(this);
    grip_->resize(14, 14);
    grip_->setToolTip(QStringLiteral("ﾄﾞﾗｯｸﾞで大きさを変更"));
    ImgMax->show();
    grip_->show();
    resizeEvent(nullptr);
}

void SkinWindow::setMaximised(bool on) {
    if (!resizable_ || on == maximised_) return;
    if (on) {
        const std::optional<ScreenAreas> areas = ScreenAreasFor(this);
        if (!areas) return;
        normalPlace_ = geometry();
        maximised_ = true;
        setGeometry(ToQRect(areas->available));
    } else {
        maximised_ = false;
        setGeometry(normalPlace_);
    }
    ImgMax->setPixmap(maximised_ ? Skin::get().restoreImage : Skin::get().maximiseImage);
    ImgMax->setToolTip(maximised_ ? QStringLiteral("元のｻｲｽﾞに戻す") : QStringLiteral("最大化"));
    grip_->setVisible(!maximised_);
}

void SkinWindow::restorePlace(const QRect& place, bool maximised) {
    if (!resizable_) return;
    if (maximised_) setMaximised(false);
    const QSize least = minimumSize();
    QRect r(place.topLeft(), place.size().expandedTo(least));
    if (const std::optional<ScreenAreas> areas = ScreenAreasFor(this)) {
        const QRect free = ToQRect(areas->available);
        r.setSize(r.size().boundedTo(free.size()).expandedTo(least));
        r.moveLeft(std::clamp(r.left(), free.left(), std::max(free.left(), free.right() + 1 - r.width())));
        r.moveTop(std::clamp(r.top(), free.top(), std::max(free.top(), free.bottom() + 1 - r.height())));
    }
    setGeometry(r);
    if (maximised) setMaximised(true);
}

std::optional<WindowPlace> SkinWindow::placeToRemember() const {
    const QRect r = normalPlace();
    if (!maximised_ && (r == openedPlace_ || !resizable_)) return std::nullopt;
    return WindowPlace{r.left(), r.top(), r.width(), r.height(), maximised_};
}

void SkinWindow::restorePlace(const std::optional<WindowPlace>& place) {
    if (place) restorePlace(QRect(place->left, place->top, place->width, place->height), place->maximised);
}

void SkinWindow::resizeEvent(QResizeEvent* event) {
    if (event) QDialog::resizeEvent(event);
    if (!resizable_) return;
    const int w = width(), h = height() - Skin::kTitleHeight;
    if (face_->width() != w || face_->height() != h) face_->setGeometry(0, Skin::kTitleHeight, w, h);
    if (Image1->width() != w) {
        Image1->setGeometry(0, 0, w, Skin::kTitleHeight);
        Image1->setPixmap(Skin::get().titleStrip(w, caption_));
    }
    ImgExit->move(w - 20, 2);
    ImgMax->setGeometry(w - 40, 2, 16, 16);
    grip_->move(w - grip_->width(), height() - grip_->height());
    grip_->raise();
    layoutFace(w, h);
}

void SkinWindow::startZoom() {
    zooms_ = true;
    zoomPoint_ = QCursor::pos();
    ZoomWindowOpen(this, zoomPoint_);
}

void SkinWindow::done(int result) {
    QRect r = frameGeometry();
    bool wasVisible = isVisible();
    QDialog::done(result);
    if (zooms_ && wasVisible) ZoomWindowClose(r, zoomPoint_);
}

}  // namespace tarnel
