#pragma once
// The pictures of the window skin, drawn once at start-up: the marble
// texture every window face is tiled with, the title strip, the exit button,
// the option marks, the transparency switch, the heading plates, and the
// windows' own mouse cursor.
#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QPixmap>

class QLabel;
class QPainter;
class QPushButton;
class QRect;
class QWidget;

namespace tarnel {

class Skin {
public:
    // Built for the device pixel ratio of the primary screen on first use.
    static const Skin& get();

    QPixmap texture;                 // Pic_Mbl
    QPixmap exitNormal, exitPressed; // imgImages(0), imgImages(1)
    QPixmap maximiseImage, restoreImage;  // beside the exit image of a window that grows
    QPixmap optOn, optOff;           // Img_Opt_on, Img_Opt_off
    QPixmap switchOff, switchOn;     // Img_Ra(0), Img_Ra(1)
    QPixmap titlePlate;              // Img_TT
    QCursor cursor;                  // the windows' mouse icon
    QIcon icon;

    // The title strip across a window of the given width, with its caption.
    QPixmap titleStrip(int width, const QString& caption) const;

    static constexpr int kTitleHeight = 20;
    // Command buttons, text boxes and scroll bars of the skinned windows
    // (buttons and text boxes carry the property skin=true).
    static QString styleSheet();
    // IPA P Gothic, else Noto Sans CJK JP, at a pixel size.
    static QFont font(int pixelSize, bool bold = false);
    static QColor textColor() { return QColor(24, 30, 64); }
    static QColor buttonColor() { return QColor(192, 192, 255); }

private:
    explicit Skin(qreal dpr);
    qreal dpr_;
};

// A label in the skin's font at a fixed place.
QLabel* SkinLabel(QWidget* parent, const QString& text, const QRect& r, bool bold = false,
                  Qt::Alignment align = Qt::AlignVCenter | Qt::AlignLeft);
// A command button of the skin (never a default button) at a fixed place.
QPushButton* SkinButton(QWidget* parent, const QString& text, const QRect& r);

// Tiles the texture over a box of the given size column by column from the
// top-left corner, as every skinned window paints its face.
void PaintSkin(QPainter& painter, int boxWidth, int boxHeight);

}  // namespace tarnel
