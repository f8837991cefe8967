#pragma once
// What every window of the program shares: no system frame, a face painted
// with the skin texture 20 pixels below a title strip, moving the window by
// its title image, closing it by its exit image, centring on the screen and
// the zoom effect of child windows.
#include <QDialog>
#include <QPoint>
#include <QRect>

#include <optional>

#include "core/Settings.h"
#include "ui/widgets/ClickLabel.h"
#include "ui/view/ScreenFit.h"

class QSizeGrip;

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

    // --- A window that grows with the screen (the editor, the composer). ---
    // From now on the window may be made larger than its design size, never
    // smaller: a size grip in the bottom-right corner, the maximise image
    // beside the exit image, and a double click on the title strip.
    void makeResizable();
    bool resizable() const { return resizable_; }
    bool maximised() const { return maximised_; }
    // Fills the screen's free area, or goes back to the size and place it had.
    void setMaximised(bool on);
    // Size and place when not maximised: what is remembered for the next start.
    QRect normalPlace() const { return maximised_ ? normalPlace_ : geometry(); }
    // A remembered size and place, made at least the design size and moved
    // and shrunk into the free area of the screen.
    void restorePlace(const QRect& place, bool maximised);
    // What to remember of the window: nothing while it is where and as large
    // as it opened.
    std::optional<WindowPlace> placeToRemember() const;
    void restorePlace(const std::optional<WindowPlace>& place);
    // The face's size at the window's design size.
    QSize designFace() const { return designFace_; }
    ClickLabel* ImgMax = nullptr;  // the maximise image, once resizable
    // The window's title and the caption on its title strip.
    void setCaption(const QString& caption);
    const QString& caption() const { return caption_; }
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
    // The face is now width x height (also at the design size); windows that
    // grow place their controls here.
    virtual void layoutFace(int width, int height) { (void)width, (void)height; }
    void resizeEvent(QResizeEvent* event) override;

    int dragFlag_ = 0;
    int dragOffsetX_ = 0, dragOffsetY_ = 0;
    bool zooms_ = false;
    QPoint zoomPoint_;

private:
    SkinFace* face_;
    QString caption_;
    QSize designFace_;
    bool resizable_ = false;
    bool maximised_ = false;
    QRect normalPlace_;
    QRect openedPlace_;  // where sizeAndCentre put it
    QSizeGrip* grip_ = nullptr;
};

}  // namespace tarnel
