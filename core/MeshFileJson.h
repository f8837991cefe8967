#pragma once
// The JSON side of the mesh file, shared with the files that extend it: the
// project file and the editor's session (whose library links the same JSON
// library privately). Messages carry no file kind; the readers put theirs in
// front.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/MeshFile.h"

namespace tarnel {

// Parses text into doc, refusing nesting deeper than any mesh or project file
// and more values than the largest one holds, while the parse goes. Errors
// name the place of malformed JSON by line and column, never the parser's
// own wording.
bool ParseBoundedJson(std::string_view text, nlohmann::json& doc, std::string& error);

// Reads "rows", "columns", "start" and "end" of a parsed document.
bool ReadMeshJson(const nlohmann::json& doc, MeshFileData& out, std::string& error);

// Appends the four mesh members (no braces, no trailing comma) in the file's
// layout. The meshes must be non-empty and of equal dimensions.
void AppendMeshMembers(std::string& text, const MeshGrid& start, const MeshGrid& end);

}  // namespace tarnel
