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
// A mesh file holds at most kMaxMeshFileValues; a project of many keys more.
bool ParseBoundedJson(std::string_view text, nlohmann::json& doc, std::string& error,
                      size_t maxValues = kMaxMeshFileValues);

// Reads "rows" and "columns" of a document that must be an object.
bool ReadMeshDimensions(const nlohmann::json& doc, int& rows, int& columns, std::string& error);

// Reads an array of [x, y] points into a mesh of its dimensions; `name`
// tells the array in messages ("\"start\"").
bool ReadMeshPoints(const nlohmann::json& value, const std::string& name, MeshGrid& mesh, std::string& error);

// Appends a mesh's points as an array, rows on lines of their own.
void AppendMeshPoints(std::string& text, const MeshGrid& mesh);

// Reads "rows", "columns", "start" and "end" of a parsed document.
bool ReadMeshJson(const nlohmann::json& doc, MeshFileData& out, std::string& error);

// Appends the four mesh members (no braces, no trailing comma) in the file's
// layout. The meshes must be non-empty and of equal dimensions.
void AppendMeshMembers(std::string& text, const MeshGrid& start, const MeshGrid& end);

}  // namespace tarnel
