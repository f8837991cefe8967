#pragma once
// The live preview: the morph's frame at t for the editor's current pictures
// and meshes, t chosen with a slider (or Left/Right by one frame, Home, End).
// A worker thread renders; the newest request replaces any that waits. While
// something moves the frame renders at the size it is shown; once nothing
// has changed for a moment, at full size, which is exactly the run's frame
// when t = k / N. Non-modal over the editor; deletes itself when closed.
#include <QTimer>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "core/PreviewRender.h"
#include "ui/LivePreview.h"
#include "ui/SkinWindow.h"

class QLabel;
class QSlider;

namespace tarnel {


class PreviewWindow : public SkinWindow, public LivePreview {
    Q_OBJECT
public:
    static constexpr int kSliderSteps = 1000;  // slider 0..1000 is t 0..1
    static constexpr int kRestMs = 150;        // quiet time before the full-size frame

    PreviewWindow(const PreviewInputs& inputs, QWidget* owner = nullptr);
    ~PreviewWindow() override;

    QWidget* Pic_View = nullptr;  // the frame, fitted with its aspect kept
    QSlider* HS_T = nullptr;
    QLabel* lbl_Frame = nullptr;

    // LivePreview
    void sourcesChanged() override;
    void meshChanged(bool moving) override;
    void framesChanged() override;
    void closePreview() override { close(); }
    QWidget* previewWidget() override { return this; }

    double t() const { return t_; }
    // t := value (limited to 0..1), slider and label follow, a frame is requested.
    void setT(double value, bool moving = true);
    // To the next frame k / N above (+1) or below (-1) the current t.
    void stepFrame(int direction);

    // What is shown: the last frame the worker finished.
    const Bitmap& shownFrame() const;
    FrameSize shownSize() const;
    double shownT() const { return shownT_; }
    int framesShown() const { return framesShown_; }
    // Size of the latest request.
    FrameSize requestedSize() const { return requestedSize_; }
    int lastFrameIndex() const;  // N
    // The start picture's size: the run's frame size.
    FrameSize fullSize() const;

signals:
    void frameShown();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void exitImageReleased() override { close(); }

private:
    struct Request {
        StdPicture start, end;
        uint64_t sourcesGeneration = 0;
        MeshGrid startMesh, endMesh;
        double t = 0;
        FrameSize size;
    };

    void layoutFor(FrameSize full);
    void updateLabel();
    void request(bool moving);
    void rest();
    void work();
    void deliver();

    PreviewInputs inputs_;
    double t_ = 0.0;
    bool syncingSlider_ = false;
    QTimer restTimer_;
    bool reducedRequested_ = false;
    std::weak_ptr<Bitmap> sentStart_, sentEnd_;
    bool placedBeside_ = false;  // placed beside the editor once; the user moves it after that
    FrameSize layoutSize_;
    FrameSize requestedSize_;
    uint64_t sourcesGeneration_ = 1;
    double shownT_ = -1.0;
    int framesShown_ = 0;

    // Shared with the worker under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false, stop_ = false;
    Request next_;
    // Three frames: the worker renders into back, hands over through ready,
    // the window shows front; only indices move.
    std::array<Bitmap, 3> frames_;
    int back_ = 0, ready_ = 1, front_ = 2;
    bool readyFresh_ = false;
    double readyT_ = 0.0;

    PreviewRender renderer_;  // worker only
    uint64_t loadedGeneration_ = 0;
    std::thread worker_;
};

// ChildWindows().preview: opens a PreviewWindow over its owner.
void RegisterPreviewWindow();

}  // namespace tarnel
