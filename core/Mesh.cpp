#include "core/Mesh.h"

#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

bool validCells(int n) { return n >= kMinMeshCells && n <= kMaxMeshCells; }

}  // namespace

MeshGrid::MeshGrid(int rows, int columns) {
    if (!validCells(rows) || !validCells(columns)) return;
    rows_ = rows;
    columns_ = columns;
    points_.assign(size_t(rows + 2) * size_t(columns + 2), MeshPoint{});
}

MeshGrid DefaultMesh(int rows, int columns, int width, int height) {
    MeshGrid mesh(rows, columns);
    if (mesh.empty()) return mesh;
    const double sx = double(width) / double(rows);
    const double sy = double(height) / double(columns);
    // A canvas of no width or height gives zero steps; the loops below then
    // do not run, since -0 is already above -1.
    const double yEnd = double(height - 1) + sy;
    const double xEnd = double(width - 1) + sx;
    for (double y = -sy; y <= yEnd; y += sy) {
        const double jf = std::nearbyint(y / sy + 1.0);
        for (double x = -sx; x <= xEnd; x += sx) {
            const double iff = std::nearbyint(x / sx + 1.0);
            // Rounding drift cannot reach past the last index, but an index
            // is never trusted blindly.
            if (!(iff >= 0.0 && iff < mesh.countI() && jf >= 0.0 && jf < mesh.countJ())) continue;
            mesh.at(int(iff), int(jf)) = MeshPoint{float(x), float(y)};
        }
    }
    return mesh;
}

std::vector<MeshTriangle> BuildTriangleList(const MeshGrid& mesh) {
    std::vector<MeshTriangle> list;
    if (mesh.empty()) return list;
    list.reserve(size_t(2) * size_t(mesh.rows()) * size_t(mesh.columns()));
    for (int j = 1; j <= mesh.columns(); ++j) {
        for (int i = 1; i <= mesh.rows(); ++i) {
            const MeshPoint& topLeft = mesh.at(i, j);
            const MeshPoint& topRight = mesh.at(i + 1, j);
            const MeshPoint& bottomLeft = mesh.at(i, j + 1);
            const MeshPoint& bottomRight = mesh.at(i + 1, j + 1);
            list.push_back(MeshTriangle{topLeft, bottomLeft, bottomRight});
            list.push_back(MeshTriangle{topLeft, topRight, bottomRight});
        }
    }
    return list;
}

void MeshModel::Triangles(int index, int canvasWidth, int canvasHeight) {
    mesh(index) = DefaultMesh(Rows, Columns, canvasWidth, canvasHeight);
    const int cells = validCells(Rows) && validCells(Columns) ? Rows * Columns : 0;
    triangles(index).assign(size_t(2) * size_t(cells), MeshTriangle{});
}

bool MeshModel::ApplyMeshSettings(int gyo, int retu, int point, int width0, int height0, int width1,
                                  int height1) {
    if (Initialising) return false;
    PointerSize = point;
    // The spinners keep their values in 1..40; a value from elsewhere is held
    // to that range rather than leaving both meshes empty.
    gyo = std::clamp(gyo, kMinMeshCells, kMaxMeshCells);
    retu = std::clamp(retu, kMinMeshCells, kMaxMeshCells);
    if (retu == Columns && gyo == Rows) return false;
    Rows = gyo;
    Columns = retu;
    Triangles(0, width0, height0);
    Triangles(1, width1, height1);
    return true;
}

void MeshModel::BuildTriangleLists() {
    StartTriangles = BuildTriangleList(StartMesh);
    EndTriangles = BuildTriangleList(EndMesh);
}

}  // namespace tarnel
