#include "output/ui/Viewer.h"

#include "core/WindowLinks.h"
#include "ui/ChildWindows.h"
#include "output/ui/Tarnel_A.h"
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

void ShowAviExport(QWidget* parent) {
    Links().AviExportMode = true;
    Tarnel_F exporter(parent);
    exporter.exec();
}

void ShowAviPlayer(QWidget* parent) {
    Tarnel_A player(parent);
    player.exec();
}

void RegisterAviWindows() {
    ChildWindows().aviExport = [](QWidget* owner) { ShowAviExport(owner); };
    ChildWindows().aviPlayer = [](QWidget* owner) { ShowAviPlayer(owner); };
}

}  // namespace tarnel
