#pragma once
// The trimming window: a rectangle of the trimming size stays fixed in the
// middle of a 360 x 360 view while the user drags the image under it. OK cuts
// the rectangle into the editor's image box; cancel and the exit image leave
// it as it was.
#include <array>

#include "ui/SkinWindow.h"
#include "platform/PictureBox.h"

class QLabel;
class QPushButton;

namespace tarnel {

class PictureBoxWidget;

class Tarnel_T : public SkinWindow {
    Q_OBJECT
public:
    static constexpr int kViewSide = 360;

    // `target` is the editor's P(TrimTarget); it is changed only by OK.
    Tarnel_T(PictureBox& target, int trimWidth, int trimHeight, QWidget* parent = nullptr);

    std::array<QLabel*, 2> lbl{};
    QWidget* PicBack = nullptr;  // the 360 x 360 view
    PictureBoxWidget* P = nullptr;
    std::array<QWidget*, 4> Pic_Line{};  // top, bottom, left, right edge of the rectangle
    QPushButton* Cmd_End = nullptr;      // OK
    QPushButton* Cmd_Can = nullptr;

    void P_MouseDown(int button, QPoint screenPos);
    void P_MouseMove(QPoint screenPos);
    void P_MouseUp();
    void Cmd_End_Click();
    void Cmd_Can_Click();

    bool draggingImage() const { return imageDrag_ != 0; }

private:
    void Form_Load();

    PictureBox& target_;
    PictureBox image_;  // the picture being dragged
    int trimWidth_, trimHeight_;
    int imageDrag_ = 0;
    int dragOffsetX_ = 0, dragOffsetY_ = 0;
};

}  // namespace tarnel
