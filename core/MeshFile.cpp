#include "core/MeshFile.h"

#include "core/MeshFileJson.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/FileRead.h"

namespace tarnel {

namespace {

using nlohmann::json;

// Both meshes at their largest hold 2 x 42 x 42 points of three values each;
// anything far past that, or nested deeper than any mesh file, is refused
// while parsing.
constexpr int kMaxMeshFileDepth = 64;

struct MeshFileLimit : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool readDimension(const json& doc, const char* key, int& value, std::string& error) {
    auto it = doc.find(key);
    if (it == doc.end()) {
        error = std::string("missing key \"") + key + "\"";
        return false;
    }
    if (!it->is_number_integer()) {
        error = std::string("\"") + key + "\" is not an integer";
        return false;
    }
    const auto n = it->get<int64_t>();
    if (n < kMinMeshCells || n > kMaxMeshCells) {
        error = std::string("\"") + key + "\" is " + std::to_string(n) + ", outside 1..40";
        return false;
    }
    value = int(n);
    return true;
}

bool readCoordinate(const json& v, float& out) {
    if (!v.is_number()) return false;
    const double d = v.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > double(std::numeric_limits<float>::max())) return false;
    out = float(d);
    return std::isfinite(out);
}

bool readPoints(const json& doc, const char* key, MeshGrid& mesh, std::string& error) {
    auto it = doc.find(key);
    if (it == doc.end()) {
        error = std::string("missing key \"") + key + "\"";
        return false;
    }
    return ReadMeshPoints(*it, std::string("\"") + key + "\"", mesh, error);
}

}  // namespace

bool ReadMeshPoints(const json& value, const std::string& name, MeshGrid& mesh, std::string& error) {
    const json* it = &value;
    if (!it->is_array()) {
        error = name + " is not an array of points";
        return false;
    }
    auto& points = mesh.points();
    if (it->size() != points.size()) {
        error = name + " holds " + std::to_string(it->size()) + " points, expected " +
                std::to_string(points.size()) + " for rows " + std::to_string(mesh.rows()) + " and columns " +
                std::to_string(mesh.columns());
        return false;
    }
    for (size_t n = 0; n < points.size(); ++n) {
        const json& p = (*it)[n];
        const int i = int(n % size_t(mesh.countI())), j = int(n / size_t(mesh.countI()));
        const std::string where = name + " point " + std::to_string(n) + " (i " +
                                  std::to_string(i) + ", j " + std::to_string(j) + ")";
        if (!p.is_array() || p.size() != 2) {
            error = where + " is not an [x, y] pair";
            return false;
        }
        if (!readCoordinate(p[0], points[n].x) || !readCoordinate(p[1], points[n].y)) {
            error = where + " has a coordinate that is not a finite number";
            return false;
        }
    }
    return true;
}

namespace {

// Shortest decimal text that reads back as the same float; JSON has no
// literal for the non-finite values, which a mesh never holds.
std::string floatText(float f) {
    if (!std::isfinite(f)) f = 0.0f;
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, f);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

}  // namespace

void AppendMeshPoints(std::string& text, const MeshGrid& mesh) {
    text += '[';
    const auto& points = mesh.points();
    for (size_t n = 0; n < points.size(); ++n) {
        if (n) text += n % size_t(mesh.countI()) == 0 ? ",\n    " : ", ";
        text += '[';
        text += floatText(points[n].x);
        text += ", ";
        text += floatText(points[n].y);
        text += ']';
    }
    text += ']';
}

namespace {

// Line and column (both from 1) of the byte before `byte`, the parser's
// position just past what it could not take.
std::string placeOf(std::string_view text, size_t byte) {
    const size_t at = std::min(byte > 0 ? byte - 1 : 0, text.size());
    size_t line = 1, column = 1;
    for (size_t n = 0; n < at; ++n) {
        if (text[n] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

bool ParseBoundedJson(std::string_view text, json& doc, std::string& error, size_t maxValues) {
    try {
        // The tree is built as the parse goes: nesting and value counts are
        // checked on the way, so no input builds a tree beyond them.
        size_t values = 0;
        auto limit = [&values, maxValues](int depth, json::parse_event_t event, json&) {
            using Event = json::parse_event_t;
            const bool opens = event == Event::array_start || event == Event::object_start;
            if (opens && depth >= kMaxMeshFileDepth)  // depth counts the containers around this one
                throw MeshFileLimit("nested more than " + std::to_string(kMaxMeshFileDepth) + " deep");
            if ((opens || event == Event::value) && ++values > maxValues)
                throw MeshFileLimit("more than " + std::to_string(maxValues) + " values");
            return true;
        };
        doc = json::parse(text.begin(), text.end(), limit);
    } catch (const MeshFileLimit& e) {
        error = e.what();
        return false;
    } catch (const json::out_of_range&) {
        error = "a number is out of range";
        return false;
    } catch (const json::parse_error& e) {
        error = "malformed JSON at " + placeOf(text, e.byte);
        return false;
    } catch (const json::exception&) {
        error = "malformed JSON";
        return false;
    }
    return true;
}

bool ReadMeshDimensions(const json& doc, int& rows, int& columns, std::string& error) {
    if (!doc.is_object()) {
        error = "the top level is not a JSON object";
        return false;
    }
    return readDimension(doc, "rows", rows, error) && readDimension(doc, "columns", columns, error);
}

bool ReadMeshJson(const json& doc, MeshFileData& out, std::string& error) {
    MeshFileData data;
    if (!ReadMeshDimensions(doc, data.rows, data.columns, error)) return false;
    data.start = MeshGrid(data.rows, data.columns);
    data.end = MeshGrid(data.rows, data.columns);
    if (!readPoints(doc, "start", data.start, error) || !readPoints(doc, "end", data.end, error)) return false;
    out = std::move(data);
    return true;
}

void AppendMeshMembers(std::string& text, const MeshGrid& start, const MeshGrid& end) {
    text += "\"rows\": " + std::to_string(start.rows()) + ",\n  \"columns\": " + std::to_string(start.columns()) +
            ",\n  \"start\": ";
    AppendMeshPoints(text, start);
    text += ",\n  \"end\": ";
    AppendMeshPoints(text, end);
}

bool ParseMeshFile(std::string_view text, MeshFileData& out, std::string& error) {
    json doc;
    if (ParseBoundedJson(text, doc, error) && ReadMeshJson(doc, out, error)) return true;
    error = "mesh file: " + error;
    return false;
}

std::string MeshFileText(const MeshGrid& start, const MeshGrid& end) {
    if (start.empty() || end.empty() || start.rows() != end.rows() || start.columns() != end.columns()) return {};
    std::string text = "{\n  ";
    AppendMeshMembers(text, start, end);
    text += "\n}\n";
    return text;
}

bool LoadMeshFile(const std::filesystem::path& path, MeshFileData& out, std::string& error) {
    std::string text;
    if (std::error_code ec = ReadRegularFile(path.string(), kMaxMeshFileBytes, text)) {
        error = ec == std::errc::file_too_large
                    ? "mesh file: too large (more than " + std::to_string(kMaxMeshFileBytes) + " bytes)"
                    : "mesh file: cannot read (" + ec.message() + ")";
        return false;
    }
    return ParseMeshFile(text, out, error);
}

bool SaveMeshFile(const std::filesystem::path& path, const MeshGrid& start, const MeshGrid& end, std::string& error) {
    const std::string text = MeshFileText(start, end);
    if (text.empty()) {
        error = "mesh file: the two meshes are empty or differ in size";
        return false;
    }
    if (std::error_code ec = WriteFileAtomically(path.string(), text, true)) {
        error = "mesh file: cannot write (" + ec.message() + ")";
        return false;
    }
    return true;
}

}  // namespace tarnel
