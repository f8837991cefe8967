#include "editor/ui/Tarnel_T.h"

#include <QLabel>
#include <QPushButton>

#include "core/WindowLinks.h"
#include "editor/SourceImages.h"
#include "ui/Skin.h"
#include "platform/NumText.h"
#include "ui/widgets/PictureBoxWidget.h"

namespace tarnel {

namespace {
constexpr int kFaceWidth = 386;
constexpr int kFaceHeight = 454;
constexpr int kLine = 2;
}  // namespace

Tarnel_T::Tarnel_T(PictureBox& target, int trimWidth, int trimHeight, QWidget* parent)
    : SkinWindow(kFaceWidth, kFaceHeight, QStringLiteral("Tarnel  ﾄﾘﾐﾝｸﾞ"), parent),
      target_(target),
      trimWidth_(trimWidth),
      trimHeight_(trimHeight) {
    setModal(true);
    Form_Load();
}

void Tarnel_T::Form_Load() {
    imageDrag_ = 0;
    dragFlag_ = 0;
    QWidget* face = this->face();
    lbl[0] = new QLabel(face);
    lbl[0]->setGeometry(12, 7, 362, 18);
    lbl[0]->setFont(Skin::font(12, true));
    lbl[1] = new QLabel(QStringLiteral("画像をﾄﾞﾗｯｸﾞして枠内にﾄﾘﾐﾝｸﾞ"), face);
    lbl[1]->setGeometry(12, 25, 362, 18);
    lbl[1]->setFont(Skin::font(12));

    auto solid = [](QWidget* w, const QColor& c) {
        w->setAutoFillBackground(true);
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, c);
        w->setPalette(pal);
    };
    auto* frame = new QWidget(face);
    frame->setGeometry(12, 47, kViewSide + 2, kViewSide + 2);
    solid(frame, QColor(40, 46, 96));
    PicBack = new QWidget(frame);
    PicBack->setGeometry(1, 1, kViewSide, kViewSide);
    solid(PicBack, Qt::white);

    image_.backColor = RGBColor(255, 255, 255);
    image_.setPicture(target_.hasPicture() ? target_.picture() : target_.imagePicture());
    P = new PictureBoxWidget(&image_, PicBack);
    P->move(0, 0);
    connect(P, &PictureBoxWidget::mouseDown, this,
            [this](int b, int, float x, float y) { P_MouseDown(b, P->mapToGlobal(QPointF(x, y)).toPoint()); });
    connect(P, &PictureBoxWidget::mouseMove, this,
            [this](int, int, float x, float y) { P_MouseMove(P->mapToGlobal(QPointF(x, y)).toPoint()); });
    connect(P, &PictureBoxWidget::mouseUp, this, [this](int, int, float, float) { P_MouseUp(); });

    // The rectangle, centred; its lines lie inside its outer bounds.
    const int x0 = (kViewSide - trimWidth_) / 2, y0 = (kViewSide - trimHeight_) / 2;
    const QRect lines[4] = {QRect(x0, y0, trimWidth_, kLine), QRect(x0, y0 + trimHeight_ - kLine, trimWidth_, kLine),
                            QRect(x0, y0, kLine, trimHeight_), QRect(x0 + trimWidth_ - kLine, y0, kLine, trimHeight_)};
    for (int k = 0; k < 4; ++k) {
        auto* line = new QWidget(PicBack);
        line->setGeometry(lines[k]);
        solid(line, QColor(0, 0, 255));
        line->raise();
        Pic_Line[size_t(k)] = line;
    }
    lbl[0]->setText(QStringLiteral("ﾄﾘﾐﾝｸﾞのｻｲｽﾞ： ") + QString::number(trimWidth_) + QStringLiteral(" * ") +
                    QString::number(trimHeight_));

    Cmd_End = new QPushButton(QStringLiteral("OK"), face);
    Cmd_End->setGeometry(182, 419, 92, 26);
    Cmd_Can = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), face);
    Cmd_Can->setGeometry(282, 419, 92, 26);
    for (QPushButton* b : {Cmd_End, Cmd_Can}) {
        b->setProperty("skin", "true");
        b->setFont(Skin::font(12, b == Cmd_End));
        b->setCursor(Skin::get().cursor);
        b->setAutoDefault(false);
    }
    connect(Cmd_End, &QPushButton::clicked, this, [this] { Cmd_End_Click(); });
    connect(Cmd_Can, &QPushButton::clicked, this, [this] { Cmd_Can_Click(); });
    ImgExit->setCursor(Skin::get().cursor);
    startZoom();
}

void Tarnel_T::P_MouseDown(int button, QPoint screenPos) {
    if (button != kLeftButton) return;
    imageDrag_ = 1;
    dragOffsetX_ = screenPos.x() - P->x();
    dragOffsetY_ = screenPos.y() - P->y();
}

void Tarnel_T::P_MouseMove(QPoint screenPos) {
    if (imageDrag_ != 1) return;
    // Not limited: the rectangle may leave the image.
    P->move(screenPos.x() - dragOffsetX_, screenPos.y() - dragOffsetY_);
}

void Tarnel_T::P_MouseUp() { imageDrag_ = 0; }

void Tarnel_T::Cmd_End_Click() {
    std::optional<int16_t> dx = RoundToInt16(double(Pic_Line[0]->x() - P->x()));
    std::optional<int16_t> dy = RoundToInt16(double(Pic_Line[0]->y() - P->y()));
    // A position beyond 16 bits cuts nothing; the window stays open.
    if (!dx || !dy) return;
    if (!CutInto(target_, image_.picture(), *dx, *dy, trimWidth_, trimHeight_)) return;
    Links().TrimAccepted = true;
    accept();
}

void Tarnel_T::Cmd_Can_Click() { reject(); }

}  // namespace tarnel
