#include "ui/ChildWindows.h"

namespace tarnel {

ChildWindowOpeners& ChildWindows() {
    static ChildWindowOpeners openers;
    return openers;
}

}  // namespace tarnel
