#include "output/ui/Composer.h"

#include "core/Settings.h"
#include "output/ui/Tarnel_G.h"
#include "ui/ChildWindows.h"

namespace tarnel {

void ShowGifComposer(QWidget* owner) {
    Tarnel_G composer(owner, {}, &Settings());
    composer.exec();
}

void RegisterGifComposer() { ChildWindows().gifComposer = [](QWidget* owner) { ShowGifComposer(owner); }; }

}  // namespace tarnel
