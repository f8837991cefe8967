#pragma once
// The flat progress bar, horizontal (filling from the left) or vertical
// (filling from the bottom). It repaints only when the filled length
// changes, and while a long operation drives it through ProgressSink it
// lets the window paint now and then, so the window stays alive without
// taking user input. The arithmetic is ProgressBarModel (imaging/).
#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>

#include "imaging/Progress.h"
#include "ui/view/ProgressBarModel.h"

namespace tarnel {

class ucProgress : public QWidget, public ProgressSink {
    Q_OBJECT
public:
    explicit ucProgress(QWidget* parent = nullptr);

    // 0 none, 1 thin, 2 sunken (default); the border takes 0, 1 or 2 pixels
    // from each side of the client area.
    int32_t BorderStyle() const { return model_.BorderStyle(); }
    void SetBorderStyle(int32_t style);
    // 0 horizontal (default), 1 vertical. Switching swaps the control's width
    // and height, keeping its position.
    int32_t Orientation() const { return model_.Orientation(); }
    void SetOrientation(int32_t orientation);
    // OLE colours; system colours allowed.
    uint32_t BackColor() const { return model_.BackColor(); }
    void SetBackColor(uint32_t color);
    uint32_t ForeColor() const { return model_.ForeColor(); }
    void SetForeColor(uint32_t color);

    // 0 or less is stored as 1.
    int32_t Max() const { return model_.Max(); }
    void SetMax(int32_t max) override;
    int32_t Value() const { return model_.Value(); }
    void SetValue(int32_t value) override;

    // A changed value lets pending paints and timers run (never user input)
    // at most this often; 0 at every change.
    void SetPumpInterval(int milliseconds) { pumpIntervalMs_ = milliseconds; }
    // Paints asked for since the control was made.
    int repaintRequests() const { return repaintRequests_; }
    const ProgressBarModel& model() const { return model_; }

signals:
    void Click();
    void MouseDown(int Button, int Shift, float X, float Y);
    void MouseMove(int Button, int Shift, float X, float Y);
    void MouseUp(int Button, int Shift, float X, float Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // A hidden control hears of its new size only when shown: every entry
    // point takes the current size first. True when it changed.
    bool syncSize();
    void requestRepaint();
    void letWindowPaint();

    ProgressBarModel model_;
    int pumpIntervalMs_ = 30;
    QElapsedTimer sincePump_;
    bool pumping_ = false;
    int repaintRequests_ = 0;
};

}  // namespace tarnel
