#include "ui/SkinWindow.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>

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
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint) {
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
    if (dragFlag_ != 1) return;
    move(screenPos.x() - dragOffsetX_, screenPos.y() - dragOffsetY_);
}

void SkinWindow::Image1_MouseUp() { dragFlag_ = 0; }

void SkinWindow::ImgExit_MouseDown() { ImgExit->setPixmap(Skin::get().exitPressed); }

void SkinWindow::ImgExit_MouseUp() {
    ImgExit->setPixmap(Skin::get().exitNormal);
    QCoreApplication::processEvents();
    exitImageReleased();
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
