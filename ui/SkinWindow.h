#pragma once
// What every window of the program shares: no system frame, a face painted
// with the skin texture 20 pixels below a title strip, moving the window by
// its title image, closing it by its exit image, centring on the screen and
// the zoom effect of child windows.
#include <QDialog>
#include <QPoint>

#include "ui/widgets/ClickLabel.h"
#include "ui/view/ScreenFit.h"

namespace tarnel {

// A picture box painted with the skin texture; optionally framed as a sunken panel.
class SkinFace : public QWidget {
    Q_OBJECT
public:
    explicit SkinFace(QWidget* parent = nullptr, bool panel = false);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool panel_;
};

class SkinWindow : public QDialog {
    Q_OBJECT
public:
    SkinWindow(int faceWidth, int faceHeight, const QString& caption, QWidget* parent = nullptr);

    SkinFace* face() const { return face_; }
    ClickLabel* Image1 = nullptr;   // title strip, the drag handle
    ClickLabel* ImgExit = nullptr;  // exit button

    void Image1_MouseDown(int button, QPoint screenPos);
    void Image1_MouseMove(QPoint screenPos);
    void Image1_MouseUp();
    void ImgExit_MouseDown();
    void ImgExit_MouseUp();

    bool draggingWindow() const { return dragFlag_ != 0; }
    // Window size from the face, centred on the screen and kept inside its
    // free area (clear of panels).
    void sizeAndCentre();

protected:
    // What the exit image does after it is released; windows close like cancel.
    virtual void exitImageReleased() { reject(); }
    // Child windows: remember the pointer and play the opening zoom from it;
    // the closing zoom runs back to that point when the window closes.
    void startZoom();
    // Window size and place as worked out by the window itself (a face made
    // smaller to fit the screen).
    void placeAt(const ScreenRect& window);
    void done(int result) override;

    int dragFlag_ = 0;
    int dragOffsetX_ = 0, dragOffsetY_ = 0;
    bool zooms_ = false;
    QPoint zoomPoint_;

private:
    SkinFace* face_;
};

}  // namespace tarnel
