#include "output/ui/Composer.h"

#include "output/ui/Tarnel_G.h"
#include "ui/ChildWindows.h"

namespace tarnel {

void ShowGifComposer(QWidget* owner) {
    Tarnel_G composer(owner);
    composer.exec();
}

void RegisterGifComposer() { ChildWindows().gifComposer = [](QWidget* owner) { ShowGifComposer(owner); }; }

}  // namespace tarnel
