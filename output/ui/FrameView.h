#pragma once
// PicMorph: shows one decoded frame at one pixel per pixel, straight from the
// decoder's pixels (a frame is never copied to be shown). The viewer sizes it
// from frame 000; a frame of another size is drawn from the top-left corner,
// clipped, with the background around it, so the window's layout holds.
// When frame 000 is larger than the screen the view is smaller than the
// frames, and every frame is drawn scaled (smoothly) to fill it.
#include <QWidget>

#include "platform/Picture.h"

namespace tarnel {

class FrameView : public QWidget {
    Q_OBJECT
public:
    explicit FrameView(QWidget* parent = nullptr);

    void setFrame(const StdPicture& frame);
    const StdPicture& frame() const { return frame_; }
    // Frames are scaled to the view's size instead of shown pixel for pixel.
    void setFitted(bool fitted) {
        fitted_ = fitted;
        update();
    }
    bool fitted() const { return fitted_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    StdPicture frame_;
    bool fitted_ = false;
};

}  // namespace tarnel
