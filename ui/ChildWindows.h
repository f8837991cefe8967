#pragma once
// How the editor opens the windows that come with other parts of the
// program: each registers a function that shows its window modally over the
// given owner. A command whose window is not registered stays disabled.
#include <functional>

class QWidget;

namespace tarnel {

class PictureBox;
class LivePreview;
struct PreviewInputs;

struct ChildWindowOpeners {
    // Tarnel_T over the picture box it trims, at the editor's trimming size.
    std::function<void(QWidget* owner, PictureBox& target, int trimWidth, int trimHeight)> trimming;
    std::function<void(QWidget* owner)> viewer;       // Tarnel_V
    std::function<void(QWidget* owner)> aviExport;    // Tarnel_F
    std::function<void(QWidget* owner)> aviPlayer;    // Tarnel_A
    std::function<void(QWidget* owner)> gifComposer;  // Tarnel_G
    // The live preview, non-modal over its owner (ui/LivePreview.h); it deletes itself when closed.
    std::function<LivePreview*(QWidget* owner, const PreviewInputs& inputs)> preview;
};

ChildWindowOpeners& ChildWindows();

}  // namespace tarnel
