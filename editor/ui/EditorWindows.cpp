#include "editor/ui/EditorWindows.h"

#include "editor/ui/Tarnel_T.h"
#include "ui/ChildWindows.h"

namespace tarnel {

void RegisterTrimmingWindow() {
    ChildWindows().trimming = [](QWidget* owner, PictureBox& target, int trimWidth, int trimHeight) {
        Tarnel_T trimming(target, trimWidth, trimHeight, owner);
        trimming.exec();
    };
}

}  // namespace tarnel
