#pragma once
// The control-point meshes of the two images, their default placement for a
// canvas size, the rules by which a grid change resets them, and the cutting
// of a mesh into triangles.
//
// Axes: Rows counts cells across the image (x, index i), Columns counts cells
// down it (y, index j). A mesh of R rows and C columns holds points
// (i, j) for i = 0..R+1 and j = 0..C+1; index 0 is an outer ring one cell
// beyond the left and top edges, placed but never drawn, grabbed or
// triangulated.
#include <cstddef>
#include <vector>

namespace tarnel {

inline constexpr int kMinMeshCells = 1;
inline constexpr int kMaxMeshCells = 40;

// A control point in image pixels: origin top-left, x right, y down. Points
// may lie outside the image.
struct MeshPoint {
    float x = 0.0f;
    float y = 0.0f;
    friend bool operator==(const MeshPoint&, const MeshPoint&) = default;
};

// A grid of (rows + 2) x (columns + 2) points, stored flat with j (down) in
// the outer and i (across) in the inner order: point (i, j) sits at
// j * (rows + 2) + i, the order of the mesh file.
class MeshGrid {
public:
    MeshGrid() = default;
    // All points (0, 0). A dimension outside 1..40 gives an empty grid.
    MeshGrid(int rows, int columns);

    bool empty() const { return points_.empty(); }
    int rows() const { return rows_; }        // cells across; i runs 0..rows()+1
    int columns() const { return columns_; }  // cells down; j runs 0..columns()+1
    int countI() const { return rows_ + 2; }
    int countJ() const { return columns_ + 2; }
    bool contains(int i, int j) const { return i >= 0 && j >= 0 && i < countI() && j < countJ(); }

    // Unchecked; use contains() for indices from outside.
    MeshPoint& at(int i, int j) { return points_[size_t(j) * size_t(countI()) + size_t(i)]; }
    const MeshPoint& at(int i, int j) const { return points_[size_t(j) * size_t(countI()) + size_t(i)]; }
    MeshPoint& operator()(int i, int j) { return at(i, j); }
    const MeshPoint& operator()(int i, int j) const { return at(i, j); }

    // Flat storage, index j * countI() + i.
    std::vector<MeshPoint>& points() { return points_; }
    const std::vector<MeshPoint>& points() const { return points_; }

    friend bool operator==(const MeshGrid&, const MeshGrid&) = default;

private:
    int rows_ = 0, columns_ = 0;
    std::vector<MeshPoint> points_;
};

// Three corners, six 32-bit floats a.x, a.y, b.x, b.y, c.x, c.y.
struct MeshTriangle {
    MeshPoint a, b, c;
    friend bool operator==(const MeshTriangle&, const MeshTriangle&) = default;
};

// Default placement for a canvas of width x height pixels (its scale size):
// sx = width / rows, sy = height / columns in double; y from -sy and, inside,
// x from -sx, each advanced by repeated addition while not above
// (height - 1) + sy and (width - 1) + sx; the point with indices
// x / sx + 1, y / sy + 1 (ties to even) gets (x, y) as floats. For canvases at
// least rows x columns pixels that is point (i, j) at ((i-1)·sx, (j-1)·sy);
// on narrower canvases the loop ends early and the remaining points stay at
// (0, 0). Rows or columns outside 1..40 give an empty grid.
MeshGrid DefaultMesh(int rows, int columns, int width, int height);

// The triangles of a mesh, 2 x rows x columns of them: bands top first, cells
// left first; each cell (corners TL = (i, j), TR = (i+1, j), BL = (i, j+1),
// BR = (i+1, j+1)) gives (TL, BL, BR) then (TL, TR, BR), split along the
// diagonal from top-left to bottom-right. The ring takes part in none.
std::vector<MeshTriangle> BuildTriangleList(const MeshGrid& mesh);

// The editor's mesh state: grid size, marker size, both meshes and both
// triangle lists. Index 0 is the start image, 1 the end image.
struct MeshModel {
    int Rows = 0;         // mirrors MorphSettings Rows ("行数") and VS_Gyo
    int Columns = 0;      // mirrors MorphSettings Columns ("列数") and VS_Retu
    int PointerSize = 0;  // marker size, VS_Point
    MeshGrid StartMesh, EndMesh;
    std::vector<MeshTriangle> StartTriangles, EndTriangles;
    // Set while the editor starts up: spinner changes then neither rebuild nor redraw.
    bool Initialising = false;

    MeshGrid& mesh(int index) { return index == 0 ? StartMesh : EndMesh; }
    const MeshGrid& mesh(int index) const { return index == 0 ? StartMesh : EndMesh; }
    std::vector<MeshTriangle>& triangles(int index) { return index == 0 ? StartTriangles : EndTriangles; }

    // Triangles(index): resets that image's mesh to the default placement for
    // a canvas of canvasWidth x canvasHeight (the scale size of P(index)) and
    // the current Rows and Columns, and sizes its triangle list to
    // 2 x Rows x Columns entries (zeroed until BuildTriangleLists). Edits of
    // that mesh are lost; the other mesh is untouched.
    void Triangles(int index, int canvasWidth, int canvasHeight);

    // Takes over the spinner values (VS_Gyo, VS_Retu, VS_Point). Does nothing
    // while Initialising. PointerSize := point; if gyo or retu differ from
    // Rows or Columns, both are taken over (clamped to 1..40) and both meshes
    // go back to the default placement for the given canvas sizes. Returns
    // true when the meshes were reset. Unless Initialising, the caller then
    // redraws both canvases (Refresh_Mesh(0), Refresh_Mesh(1)).
    bool ApplyMeshSettings(int gyo, int retu, int point, int width0, int height0, int width1, int height1);

    // Fills StartTriangles from StartMesh and EndTriangles from EndMesh; each
    // list follows its own mesh's dimensions. Called at the start of a run.
    void BuildTriangleLists();
};

}  // namespace tarnel
