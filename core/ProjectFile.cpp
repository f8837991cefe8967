#include "core/ProjectFile.h"

#include <cmath>
#include <system_error>

#include "core/MeshFileJson.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"

namespace tarnel {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kProjectKeys[] = {"project", "startImage", "endImage",    "startSize", "endSize",
                                        "frames",  "kind",       "transparent", "loop",      "keys"};

// A mesh file's reasons are told as such; once any project key is there,
// the file is a project.
std::string kindOf(const json& doc) {
    if (doc.is_object())
        for (const char* key : kProjectKeys)
            if (doc.contains(key)) return "project file: ";
    return "mesh file: ";
}

std::string quoted(const char* key) { return std::string("\"") + key + "\""; }

bool readIntIn(const json& v, const char* key, int lo, int hi, int& out, std::string& error) {
    if (!v.is_number_integer()) {
        error = quoted(key) + " is not an integer";
        return false;
    }
    const auto n = v.get<int64_t>();
    if (n < lo || n > hi) {
        error = quoted(key) + " is " + std::to_string(n) + ", outside " + std::to_string(lo) + ".." +
                std::to_string(hi);
        return false;
    }
    out = int(n);
    return true;
}

bool readImage(const json& doc, const char* key, std::string& out, std::string& error) {
    auto it = doc.find(key);
    if (it == doc.end()) return true;
    if (!it->is_string() || it->get_ref<const std::string&>().empty()) {
        error = quoted(key) + " is not a file path";
        return false;
    }
    const std::string& path = it->get_ref<const std::string&>();
    if (path.find('\0') != std::string::npos) {
        error = quoted(key) + " holds a NUL character";
        return false;
    }
    out = path;
    return true;
}

bool readSize(const json& doc, const char* key, int& width, int& height, std::string& error) {
    auto it = doc.find(key);
    if (it == doc.end()) return true;
    if (!it->is_array() || it->size() != 2) {
        error = quoted(key) + " is not a [width, height] pair";
        return false;
    }
    int w = 0, h = 0;
    if (!readIntIn((*it)[0], key, 1, kMaxProjectImageSide, w, error) ||
        !readIntIn((*it)[1], key, 1, kMaxProjectImageSide, h, error))
        return false;
    width = w;
    height = h;
    return true;
}

bool readExtras(const json& doc, ProjectData& data, std::string& error) {
    if (auto it = doc.find("project"); it != doc.end()) {
        if (!it->is_number_integer() || it->get<int64_t>() < 1) {
            error = "\"project\" is not a version number";
            return false;
        }
        // Each form has its own latest version: the keys form came with 2.
        const int latest = doc.contains("keys") ? kChainProjectFileVersion : kProjectFileVersion;
        if (it->get<int64_t>() > latest) {
            error = "written by a later version of the program (project " + std::to_string(it->get<int64_t>()) + ")";
            return false;
        }
    }
    if (!readImage(doc, "startImage", data.startImage, error) || !readImage(doc, "endImage", data.endImage, error) ||
        !readSize(doc, "startSize", data.startWidth, data.startHeight, error) ||
        !readSize(doc, "endSize", data.endWidth, data.endHeight, error))
        return false;
    if (auto it = doc.find("frames"); it != doc.end()) {
        if (!readIntIn(*it, "frames", kMinRunFrames, kMaxRunFrames, data.frames, error)) return false;
        data.hasFrames = true;
    }
    if (auto it = doc.find("kind"); it != doc.end()) {
        if (!it->is_string() || !ParseSaveKindName(it->get_ref<const std::string&>(), data.saveKind)) {
            error = "\"kind\" is not \"bmp\", \"jpg\", \"gif\" or \"png\"";
            return false;
        }
        data.hasSaveKind = true;
    }
    if (auto it = doc.find("transparent"); it != doc.end()) {
        if (!it->is_boolean()) {
            error = "\"transparent\" is not true or false";
            return false;
        }
        data.transparent = it->get<bool>();
        data.hasTransparent = true;
    }
    if (auto it = doc.find("loop"); it != doc.end()) {
        if (!it->is_boolean()) {
            error = "\"loop\" is not true or false";
            return false;
        }
        data.loop = it->get<bool>();
    }
    return true;
}

// The keys form: rows, columns and two or more keys each with a mesh and
// perhaps an image and its size. The start and end members do not go with it.
bool readKeys(const json& doc, ProjectData& data, std::string& error) {
    for (const char* key : {"start", "end", "startImage", "endImage", "startSize", "endSize"}) {
        if (doc.contains(key)) {
            error = std::string("\"keys\" and ") + quoted(key) + " exclude each other";
            return false;
        }
    }
    int rows = 0, columns = 0;
    if (!ReadMeshDimensions(doc, rows, columns, error)) return false;
    const json& keys = doc["keys"];
    if (!keys.is_array() || keys.size() < 2 || keys.size() > size_t(kMaxChainKeys)) {
        error = "\"keys\" is not an array of 2.." + std::to_string(kMaxChainKeys) + " keys";
        return false;
    }
    std::vector<ProjectKey> chain(keys.size());
    for (size_t n = 0; n < keys.size(); ++n) {
        const json& key = keys[n];
        const std::string name = "\"keys\" " + std::to_string(n + 1);
        if (!key.is_object()) {
            error = name + " is not an object";
            return false;
        }
        ProjectKey& k = chain[n];
        auto mesh = key.find("mesh");
        if (mesh == key.end()) {
            error = name + " has no \"mesh\"";
            return false;
        }
        k.mesh = MeshGrid(rows, columns);
        if (!ReadMeshPoints(*mesh, name + " \"mesh\"", k.mesh, error) || !readImage(key, "image", k.image, error) ||
            !readSize(key, "size", k.width, k.height, error)) {
            if (error.front() == '"' && error.rfind(name, 0) != 0) error = name + " " + error;
            return false;
        }
    }
    SetProjectKeys(data, std::move(chain));
    return true;
}

// The path as a JSON string; false for text that is not UTF-8.
bool appendString(std::string& text, const std::string& value) {
    try {
        text += json(value).dump(-1, ' ', false, json::error_handler_t::strict);
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

bool sizeValid(int w, int h) { return w >= 1 && h >= 1 && w <= kMaxProjectImageSide && h <= kMaxProjectImageSide; }

// The folder a project's relative paths start from: that of the file itself,
// links followed, so a link to a project still finds its images.
fs::path realFolderOf(const fs::path& file) {
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    if (ec) absolute = file;
    fs::path real = fs::weakly_canonical(absolute, ec);
    if (ec) real = absolute.lexically_normal();
    return real.parent_path();
}

fs::path withoutTrailingSeparator(fs::path p) {
    p = p.lexically_normal();
    return p.has_filename() || p == p.root_path() ? p : p.parent_path();
}

}  // namespace

bool ParseProjectFile(std::string_view text, ProjectData& out, std::string& error) {
    json doc;
    // Until the text is read its kind is unknown; the reason says it all.
    if (!ParseBoundedJson(text, doc, error, kMaxProjectFileValues)) return false;
    ProjectData data;
    const bool chain = doc.is_object() && doc.contains("keys");
    if (!(chain ? readKeys(doc, data, error) : ReadMeshJson(doc, data.mesh, error)) || !readExtras(doc, data, error)) {
        error = kindOf(doc) + error;
        return false;
    }
    out = std::move(data);
    return true;
}

std::vector<ProjectKey> ProjectKeys(const ProjectData& data) {
    std::vector<ProjectKey> keys;
    keys.reserve(size_t(data.keyCount()));
    keys.push_back({data.startImage, data.startWidth, data.startHeight, data.mesh.start});
    keys.push_back({data.endImage, data.endWidth, data.endHeight, data.mesh.end});
    keys.insert(keys.end(), data.laterKeys.begin(), data.laterKeys.end());
    return keys;
}

void SetProjectKeys(ProjectData& data, std::vector<ProjectKey> keys) {
    if (keys.size() < 2) return;
    data.mesh.rows = keys[0].mesh.rows();
    data.mesh.columns = keys[0].mesh.columns();
    data.startImage = std::move(keys[0].image);
    data.startWidth = keys[0].width;
    data.startHeight = keys[0].height;
    data.mesh.start = std::move(keys[0].mesh);
    data.endImage = std::move(keys[1].image);
    data.endWidth = keys[1].width;
    data.endHeight = keys[1].height;
    data.mesh.end = std::move(keys[1].mesh);
    data.laterKeys.assign(std::make_move_iterator(keys.begin() + 2), std::make_move_iterator(keys.end()));
}

std::string ProjectFileText(const ProjectData& data, std::string& error) {
    const MeshGrid &start = data.mesh.start, &end = data.mesh.end;
    const bool chain = !data.laterKeys.empty();
    bool meshesFit = !start.empty() && !end.empty() && start.rows() == end.rows() && start.columns() == end.columns();
    for (const ProjectKey& key : data.laterKeys)
        meshesFit = meshesFit && key.mesh.rows() == start.rows() && key.mesh.columns() == start.columns();
    if (!meshesFit) {
        error = chain ? "project file: the meshes of the keys are empty or differ in size"
                      : "project file: the two meshes are empty or differ in size";
        return {};
    }
    if (data.keyCount() > kMaxChainKeys) {
        error = "project file: " + std::to_string(data.keyCount()) + " keys, more than " +
                std::to_string(kMaxChainKeys);
        return {};
    }
    if (data.hasFrames && (data.frames < kMinRunFrames || data.frames > kMaxRunFrames)) {
        error = "project file: " + std::to_string(data.frames) + " frames, outside 2..100";
        return {};
    }
    if (data.hasSaveKind && SaveKindName(data.saveKind).empty()) {
        error = "project file: unknown save kind " + std::to_string(data.saveKind);
        return {};
    }
    const std::vector<ProjectKey> keys = ProjectKeys(data);
    for (const ProjectKey& key : keys) {
        if ((key.width != 0 || key.height != 0) && !sizeValid(key.width, key.height)) {
            error = "project file: image size " + std::to_string(key.width) + " x " + std::to_string(key.height) +
                    " out of range";
            return {};
        }
    }
    std::string text = "{\n  \"project\": " + std::to_string(chain ? kChainProjectFileVersion : kProjectFileVersion) +
                       ",\n";
    auto appendPath = [&text](const std::string& path) {
        return path.find('\0') == std::string::npos && appendString(text, path);
    };
    if (!chain) {
        for (auto [key, path] : {std::pair{"startImage", &data.startImage}, std::pair{"endImage", &data.endImage}}) {
            if (path->empty()) continue;
            text += std::string("  \"") + key + "\": ";
            if (!appendPath(*path)) {
                error = std::string("project file: the ") + (key[0] == 's' ? "start" : "end") +
                        " image path is not valid UTF-8 text";
                return {};
            }
            text += ",\n";
        }
        auto appendSize = [&text](const char* key, int w, int h) {
            if (w > 0)
                text += std::string("  \"") + key + "\": [" + std::to_string(w) + ", " + std::to_string(h) + "],\n";
        };
        appendSize("startSize", data.startWidth, data.startHeight);
        appendSize("endSize", data.endWidth, data.endHeight);
    }
    if (data.hasFrames) text += "  \"frames\": " + std::to_string(data.frames) + ",\n";
    if (data.hasSaveKind) text += "  \"kind\": \"" + SaveKindName(data.saveKind) + "\",\n";
    if (data.hasTransparent) text += std::string("  \"transparent\": ") + (data.transparent ? "true" : "false") + ",\n";
    if (data.loop) text += "  \"loop\": true,\n";
    text += "  ";
    if (!chain) {
        AppendMeshMembers(text, start, end);
        text += "\n}\n";
        return text;
    }
    text += "\"rows\": " + std::to_string(start.rows()) + ",\n  \"columns\": " + std::to_string(start.columns()) +
            ",\n  \"keys\": [";
    for (size_t n = 0; n < keys.size(); ++n) {
        const ProjectKey& key = keys[n];
        text += n ? ",\n   {" : "\n   {";
        if (!key.image.empty()) {
            text += "\"image\": ";
            if (!appendPath(key.image)) {
                error = "project file: the image path of key " + std::to_string(n + 1) + " is not valid UTF-8 text";
                return {};
            }
            text += ", ";
        }
        if (key.width > 0) text += "\"size\": [" + std::to_string(key.width) + ", " + std::to_string(key.height) + "], ";
        text += "\"mesh\": ";
        AppendMeshPoints(text, key.mesh);
        text += '}';
    }
    text += "]\n}\n";
    return text;
}

bool LoadProjectFile(const fs::path& path, ProjectData& out, std::string& error) {
    std::string text;
    if (std::error_code ec = ReadRegularFile(path.string(), kMaxMeshFileBytes, text)) {
        error = ec == std::errc::file_too_large ? "too large (more than " + std::to_string(kMaxMeshFileBytes) + " bytes)"
                                                : "cannot read (" + ec.message() + ")";
        return false;
    }
    ProjectData data;
    if (!ParseProjectFile(text, data, error)) return false;
    const fs::path folder = realFolderOf(path);
    std::vector<std::string*> images = {&data.startImage, &data.endImage};
    for (ProjectKey& key : data.laterKeys) images.push_back(&key.image);
    for (std::string* image : images) {
        if (image->empty()) continue;
        const fs::path p(*image);
        if (p.is_relative()) *image = (folder / p).lexically_normal().string();
    }
    out = std::move(data);
    return true;
}

std::string ProjectImagePath(const std::string& image, const fs::path& projectFolder) {
    if (image.empty()) return image;
    std::error_code ec;
    fs::path absolute = fs::absolute(image, ec);
    if (ec) return image;
    absolute = absolute.lexically_normal();
    fs::path base = fs::absolute(projectFolder, ec);
    if (ec) return absolute.string();
    const fs::path realBase = withoutTrailingSeparator(fs::weakly_canonical(base, ec));
    if (ec) return absolute.string();
    // The folder may be reached through links; so may the image's folder.
    fs::path realImage = fs::weakly_canonical(absolute.parent_path(), ec) / absolute.filename();
    if (ec) realImage = absolute;
    for (const fs::path& candidate : {absolute, realImage}) {
        for (const fs::path& folder : {withoutTrailingSeparator(base), realBase}) {
            const fs::path relative = candidate.lexically_relative(folder);
            if (!relative.empty() && *relative.begin() != ".." && *relative.begin() != ".")
                return relative.generic_string();
        }
    }
    return absolute.string();
}

bool SaveProjectFile(const fs::path& path, const ProjectData& data, std::string& error) {
    // Relative paths start from the file actually written, which for a link
    // is its target.
    std::string target;
    if (std::error_code ec = ResolveWriteTarget(path.string(), target)) {
        error = "project file: cannot write (" + ec.message() + ")";
        return false;
    }
    ProjectData stored = data;
    const fs::path folder = realFolderOf(target);
    stored.startImage = ProjectImagePath(data.startImage, folder);
    stored.endImage = ProjectImagePath(data.endImage, folder);
    for (ProjectKey& key : stored.laterKeys) key.image = ProjectImagePath(key.image, folder);
    const std::string text = ProjectFileText(stored, error);
    if (text.empty()) return false;
    if (std::error_code ec = WriteFileAtomically(path.string(), text, true)) {
        error = "project file: cannot write (" + ec.message() + ")";
        return false;
    }
    return true;
}

bool MeshPlacedForSize(const MeshGrid& mesh, int& width, int& height) {
    if (mesh.empty()) return false;
    const float x0 = mesh(0, 0).x, y0 = mesh(0, 0).y;
    if (!(x0 < 0.0f && y0 < 0.0f)) return false;
    for (int j = 0; j < mesh.countJ(); ++j)
        if (mesh(0, j).x != x0) return false;
    for (int i = 0; i < mesh.countI(); ++i)
        if (mesh(i, 0).y != y0) return false;
    // The placement stores float(-width / rows); only a width that gives back
    // exactly that value counts.
    auto side = [](float ring, int cells, int& out) {
        const double guess = std::nearbyint(-double(ring) * cells);
        if (!(guess >= 1.0 && guess <= double(kMaxProjectImageSide))) return false;
        if (float(-(guess / double(cells))) != ring) return false;
        out = int(guess);
        return true;
    };
    int w = 0, h = 0;
    if (!side(x0, mesh.rows(), w) || !side(y0, mesh.columns(), h)) return false;
    width = w;
    height = h;
    return true;
}

std::vector<ProjectSizeMismatch> CheckProjectImageSizes(const ProjectData& project, int startWidth, int startHeight,
                                                        int endWidth, int endHeight) {
    ProjectData pair = project;
    pair.laterKeys.clear();
    return CheckProjectKeySizes(pair, {{startWidth, startHeight}, {endWidth, endHeight}});
}

std::vector<ProjectSizeMismatch> CheckProjectKeySizes(const ProjectData& project,
                                                      const std::vector<std::pair<int, int>>& sizes) {
    using Image = ProjectSizeMismatch::Image;
    using Kind = ProjectSizeMismatch::Kind;
    std::vector<ProjectSizeMismatch> found;
    const std::vector<ProjectKey> keys = ProjectKeys(project);
    for (size_t n = 0; n < keys.size() && n < sizes.size(); ++n) {
        const ProjectKey& s = keys[n];
        const auto [w, h] = sizes[n];
        const Image image = n == 0 ? Image::Start : Image::End;
        const int key = int(n);
        if (w <= 0 || h <= 0) continue;  // no image loaded there
        const bool recorded = s.width > 0 && s.height > 0;
        if (recorded && (s.width != w || s.height != h))
            found.push_back({image, Kind::ImageSize, s.width, s.height, w, h, key});
        int meshW = 0, meshH = 0;
        if (!MeshPlacedForSize(s.mesh, meshW, meshH) || (meshW == w && meshH == h)) continue;
        // A mesh made for the recorded size is already told by the image.
        if (recorded && meshW == s.width && meshH == s.height) continue;
        found.push_back({image, Kind::MeshSize, meshW, meshH, w, h, key});
    }
    return found;
}

}  // namespace tarnel
