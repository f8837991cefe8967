#include "editor/EditorState.h"

namespace tarnel {

WindowLinks& Links() {
    static WindowLinks links;
    return links;
}

}  // namespace tarnel
