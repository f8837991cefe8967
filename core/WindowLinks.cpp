#include "core/WindowLinks.h"

namespace tarnel {

WindowLinks& Links() {
    static WindowLinks links;
    return links;
}

}  // namespace tarnel
