#pragma once
// A mesh painted over a zoomed canvas in screen pixels: one-pixel lines in the
// line colour, point markers whose radius is the marker size in screen
// pixels, and the partner ring, so that the mesh reads the same at every zoom.
#include <QRectF>
#include <vector>

#include "core/MeshEdit.h"

class QPainter;

namespace tarnel {

// `exposed` is the part of the canvas to paint, in image pixels; cells and
// points that cannot reach it are skipped. Points flagged in `toCheck` (flat
// index; may be empty) get a ring in kCheckRingColor.
void PaintMeshOverlay(QPainter& painter, const MeshGrid& mesh, const MeshStyle& style,
                      const MeshEditor::Partner& partner, const QRectF& exposed, double zoom,
                      const std::vector<bool>& toCheck = {});

// Orange: apart from the usual line and marker colours, and from the partner ring.
inline constexpr unsigned kCheckRingColor = 0xFF8C00;

}  // namespace tarnel
