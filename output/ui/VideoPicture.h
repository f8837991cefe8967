#pragma once
// The player's picVideo: a black picture box the MCI video device draws its
// frames into, stretched to the rectangle the device was placed at.
#include <QImage>
#include <QRect>
#include <QWidget>

#include "platform/media/Mci.h"

namespace tarnel {

class VideoPicture : public QWidget, public MciVideoWindow {
    Q_OBJECT
public:
    explicit VideoPicture(QWidget* parent = nullptr);

    void Place(const Rect& rect) override;
    void ShowFrame(const Bitmap& frame) override;
    void Clear() override;
    // While set, Clear keeps the last frame up: the next play's first frame
    // replaces it, so repeats follow each other without a black picture.
    void setHoldOnClear(bool hold) { holdOnClear_ = hold; }

    // Frames shown since the window was made (for tests and the play loop).
    int framesShown() const { return framesShown_; }
    const QImage& frame() const { return frame_; }
    const QRect& placed() const { return placed_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage frame_;
    QRect placed_;  // empty: the whole box
    int framesShown_ = 0;
    bool holdOnClear_ = false;
};

}  // namespace tarnel
