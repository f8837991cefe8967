#pragma once
// The zoom effect of child windows: a rectangle grows from a screen point to
// the window when it opens and shrinks back when it closes. It is drawn on a
// transparent overlay that takes no input, runs for about 200 ms on the event
// loop and never holds up the window.
#include <QPoint>
#include <QRect>

class QWidget;

namespace tarnel {

void ZoomWindowOpen(const QWidget* window, QPoint from);
void ZoomWindowClose(const QRect& windowRect, QPoint to);
// Overlays alive at the moment (for tests).
int ZoomOverlayCount();

}  // namespace tarnel
