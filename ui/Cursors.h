#pragma once
// Cursor resources of the program beyond the skin's own pointer.
#include <QCursor>

namespace tarnel {

// "CURSOR_PICKCOLOR": an eyedropper whose tip (the hot spot) is the pixel picked.
QCursor PickColorCursor();

}  // namespace tarnel
