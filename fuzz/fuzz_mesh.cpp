// The mesh file reader over arbitrary text. A refused file leaves the target
// alone and says why; an accepted one holds two meshes of the stated size
// with finite points, and writes out to text that reads back to the same
// meshes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "core/MeshFile.h"

using namespace tarnel;
using tarnel::fuzz::check;

namespace {

bool finitePoints(const MeshGrid& mesh) {
    for (const MeshPoint& p : mesh.points())
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    MeshFileData parsed;
    parsed.rows = -7;
    std::string error;
    if (!ParseMeshFile(text, parsed, error)) {
        check(parsed.rows == -7 && parsed.start.empty() && parsed.end.empty());
        check(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    check(parsed.rows >= kMinMeshCells && parsed.rows <= kMaxMeshCells);
    check(parsed.columns >= kMinMeshCells && parsed.columns <= kMaxMeshCells);
    for (const MeshGrid* mesh : {&parsed.start, &parsed.end}) {
        check(mesh->rows() == parsed.rows && mesh->columns() == parsed.columns);
        check(mesh->points().size() == size_t(parsed.rows + 2) * size_t(parsed.columns + 2));
        check(finitePoints(*mesh));
    }

    const std::string written = MeshFileText(parsed.start, parsed.end);
    check(!written.empty());
    MeshFileData back;
    check(ParseMeshFile(written, back, error));
    check(back.rows == parsed.rows && back.columns == parsed.columns);
    check(back.start == parsed.start && back.end == parsed.end);
    return 0;
}
