#pragma once
// The mesh file: both meshes of a morph as JSON,
//   {"rows": R, "columns": C, "start": [[x, y], ...], "end": [[x, y], ...]}
// with the points of each mesh listed j (down) outer, i (across) inner, the
// index-0 ring included: point (i, j) at position j * (R + 2) + i.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/Mesh.h"

namespace tarnel {

struct MeshFileData {
    int rows = 0, columns = 0;
    MeshGrid start, end;
};

// Larger files are refused before they are read.
inline constexpr std::uintmax_t kMaxMeshFileBytes = 16u << 20;
// JSON values a mesh file may hold; the largest meshes hold about 10600.
inline constexpr size_t kMaxMeshFileValues = size_t(1) << 16;

// Parses mesh-file text. On failure returns false, leaves out unchanged and
// sets error to a one-line description (malformed JSON, a missing key, rows or
// columns outside 1..40, a point count that does not match, a coordinate that
// is not a finite number that fits a 32-bit float).
bool ParseMeshFile(std::string_view text, MeshFileData& out, std::string& error);

// The JSON text of two meshes of equal dimensions; coordinates in their
// shortest form that reads back as the same 32-bit float. Empty when the
// meshes are empty or differ in dimensions.
std::string MeshFileText(const MeshGrid& start, const MeshGrid& end);

// Reads a regular file only (a FIFO or device is refused, never waited on).
// Errors, like those of SaveMeshFile, give the cause; the caller names the file.
bool LoadMeshFile(const std::filesystem::path& path, MeshFileData& out, std::string& error);

// Writes a temporary file beside the target, syncs it and renames it into
// place, so a failed save or a crash never leaves a half-written mesh file.
// False with error set when the meshes are unusable or the file cannot be
// written.
bool SaveMeshFile(const std::filesystem::path& path, const MeshGrid& start, const MeshGrid& end, std::string& error);

}  // namespace tarnel
