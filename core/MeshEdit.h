#pragma once
// Mesh editing on the two canvases: drawing a mesh into a canvas's image,
// grabbing a control point with the left button and dragging it within the
// canvas, with the point of the same indices marked on the other canvas.
//
// A drag redraws only the part of the canvas that the moved point's lines and
// marker touch (before and after the move), so a 40 x 40 mesh over a large
// image stays responsive; the pixels come out exactly as a full clear and
// redraw would leave them.
#include <array>

#include "core/Mesh.h"
#include "platform/PictureBox.h"
#include "platform/gdi.h"

namespace tarnel {

// True when the pointer lies closer than pointerSize to the point (distance
// in double precision, strictly less).
bool HitPoint(float pointX, float pointY, int pointerSize, float x, float y);
// The same for any grab radius (a zoomed view grabs within its screen pixels).
bool HitPointWithin(float pointX, float pointY, double radius, float x, float y);

// Rectangles are half-open: [left, right) x [top, bottom).
Rect UnionRect(const Rect& a, const Rect& b);
Rect IntersectRect(const Rect& a, const Rect& b);

// Line and circle drawing on a 32-bpp image, coordinates rounded to the
// nearest pixel (ties to even). Lines include both end pixels; circles are
// one pixel wide outlines of the given radius. Only pixels inside `clip` (and
// inside the image) are set; the pixels set are the same whatever the clip.
void DrawLine(Bitmap& image, float x1, float y1, float x2, float y2, ColorRef color, const Rect& clip);
void DrawCircle(Bitmap& image, float cx, float cy, float radius, ColorRef color, const Rect& clip);
// The pixels a line or circle can touch.
Rect LineBounds(float x1, float y1, float x2, float y2);
Rect CircleBounds(float cx, float cy, float radius);

// The partner marker: a ring two pixels wide just outside the point's own
// marker, in the pointer colour, edged on both sides by one pixel of black or
// white (whichever stands out against the pointer colour), so that it shows
// whatever the line colour and the picture.
void DrawPartnerRing(Bitmap& image, float cx, float cy, int pointerSize, ColorRef pointerColor, const Rect& clip);
Rect PartnerRingBounds(float cx, float cy, int pointerSize);
// Black for light colours, white for dark ones.
ColorRef ContrastColor(ColorRef color);

struct MeshStyle {
    ColorRef lineColor = RGBColor(255, 0, 0);
    ColorRef pointerColor = RGBColor(0, 255, 0);
    int pointerSize = 4;  // marker radius and grab distance
};

// DrawMesh: for every cell (bands top first, cells left first) its left,
// bottom, right and top edges and its diagonal in the line colour, then a
// marker on every visible point in the pointer colour. The ring is never
// drawn. Only pixels inside `clip` change.
void DrawMesh(PictureBox& canvas, const MeshGrid& mesh, const MeshStyle& style, const Rect& clip);
void DrawMesh(PictureBox& canvas, const MeshGrid& mesh, const MeshStyle& style);
// Puts the picture (or the background) back into part of the image: Cls for a rectangle.
void ClsRect(PictureBox& canvas, const Rect& area);
// The raised edge (outer light/dark shadow, inner highlight/shadow) drawn
// around the whole image of a box: DrawEdgeFrame with edge style 5.
void DrawEdgeFrame(PictureBox& box);

// The two canvases with their meshes and the drag state.
class MeshEditor {
public:
    // canvases[0] shows StartMesh, canvases[1] EndMesh.
    MeshEditor(PictureBox& start, PictureBox& end, MeshModel& model);

    MeshStyle style;  // colours; the marker size is the model's PointerSize

    // Image rectangles that changed and need repainting, per canvas.
    struct Damage {
        std::array<Rect, 2> rect{};
        bool any() const { return !rect[0].isEmpty() || !rect[1].isEmpty(); }
    };

    // Refresh_Mesh: clear the drawing of the canvas and draw its mesh.
    Damage Refresh_Mesh(int index);

    // P_MouseDown: with both images loaded and exactly the left button, ends
    // any drag and looks for the first point within the grab radius (smaller
    // j first, then smaller i); on a hit takes the previous partner marker off
    // the other canvas, selects the point, starts the drag and marks the
    // partner. A negative grab radius is the marker size.
    Damage P_MouseDown(int index, int button, int shift, float x, float y, bool bothImagesLoaded,
                       float grabRadius = -1.0f);
    // P_MouseMove: while dragging with exactly the left button, each
    // coordinate inside the canvas (bounds included) is taken over; then the
    // canvas is redrawn.
    Damage P_MouseMove(int index, int button, int shift, float x, float y);
    // P_MouseUp: any button ends the drag.
    void P_MouseUp(int index, int button, int shift, float x, float y);

    bool dragging() const { return dragging_; }
    int selectedI() const { return selectedI_; }
    int selectedJ() const { return selectedJ_; }
    void endDrag() { dragging_ = false; }

    // The partner marker a canvas shows, if any: the point's indices and the
    // pixels the ring covers.
    struct Partner {
        bool shown = false;
        int i = 0, j = 0;
        Rect rect{};
    };
    const Partner& partner(int index) const { return partner_[size_t(index & 1)]; }

private:
    int pointerSize() const { return model_.PointerSize; }
    // The pixels that the lines and marker of point (i, j) touch where it lies now.
    Rect pointRegion(int index, int i, int j) const;
    Rect imageRect(int index) const;
    Rect markPartner(int index, int i, int j);
    Rect removePartner(int index);
    void redraw(int index, const Rect& area);

    std::array<PictureBox*, 2> canvas_;
    MeshModel& model_;
    int selectedI_ = 0, selectedJ_ = 0;
    bool dragging_ = false;
    // The partner marker drawn outside DrawMesh on each canvas; a redraw of
    // its area takes it off.
    std::array<Partner, 2> partner_{};
};

}  // namespace tarnel
