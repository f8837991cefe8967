#include "output/ui/Viewer.h"

#include "core/WindowLinks.h"
#include "ui/ChildWindows.h"
#include "output/ui/Tarnel_F.h"
#include "output/ui/Tarnel_V.h"

namespace tarnel {

void ShowFrameViewer(QWidget* parent, bool fromEditor) {
    Links().ViewerFromEditor = fromEditor;
    Tarnel_V viewer(parent);
    viewer.exec();
}

void ShowFolderChooser(QWidget* parent) {
    Links().AviExportMode = false;
    Tarnel_F chooser(parent);
    chooser.exec();
}

void RegisterFrameViewer() {
    ChildWindows().viewer = [](QWidget* owner) { ShowFrameViewer(owner, Links().ViewerFromEditor); };
}

}  // namespace tarnel
