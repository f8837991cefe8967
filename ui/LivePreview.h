#pragma once
// The editor's side of the live preview window: what the window reads from
// the editor, the notifications the editor sends it, and a handle that
// forgets the window once it has closed (it deletes itself).
#include <QPointer>
#include <QWidget>

namespace tarnel {

class PictureBox;
struct MeshModel;

// Pointers into the editor's state; they must outlive the window (the
// editor owns them and is the window's owner).
struct PreviewInputs {
    const PictureBox* start = nullptr;  // P(0): its picture is read, not its image (which carries the drawn mesh)
    const PictureBox* end = nullptr;    // P(1)
    const MeshModel* mesh = nullptr;    // StartMesh and EndMesh
    const int* totalFrames = nullptr;   // TotalFrames: the last frame's index N (frames 0..N)
};

class LivePreview {
public:
    virtual ~LivePreview() = default;
    // A picture was loaded, trimmed, reduced or reset (its mesh rebuilt with it).
    virtual void sourcesChanged() = 0;
    // A mesh point moved: moving while a drag goes on, false at its release
    // or for a one-off change (grid size, reset).
    virtual void meshChanged(bool moving) = 0;
    // TotalFrames changed.
    virtual void framesChanged() = 0;
    virtual void closePreview() = 0;
    virtual QWidget* previewWidget() = 0;
};

// What the editor keeps: the preview while its window lives, null afterwards.
class LivePreviewHandle {
public:
    void reset(LivePreview* preview) {
        preview_ = preview;
        window_ = preview ? preview->previewWidget() : nullptr;
    }
    LivePreview* get() const { return window_ ? preview_ : nullptr; }
    LivePreview* operator->() const { return get(); }
    explicit operator bool() const { return get() != nullptr; }

private:
    QPointer<QWidget> window_;
    LivePreview* preview_ = nullptr;
};

}  // namespace tarnel
