#include "editor/EditorSession.h"

#include <filesystem>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "core/MeshFile.h"
#include "imaging/PictureIO.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"

namespace tarnel {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kJsonName = "Tarnel.session.json";
constexpr const char* kPicturePrefix = "Tarnel.session.";
constexpr uint64_t kMaxSessionFile = 16u << 20;

bool isPictureName(const std::string& name) {
    if (name.rfind(kPicturePrefix, 0) != 0 || name.size() < 20) return false;
    if (name.compare(name.size() - 4, 4, ".bmp") != 0) return false;
    for (size_t k = std::string(kPicturePrefix).size(); k + 4 < name.size(); ++k)
        if (name[k] < '0' || name[k] > '9') return false;
    return true;
}

}  // namespace

EditorSession::EditorSession(std::string folder) : folder_(std::move(folder)) {}

std::string EditorSession::jsonPath() const { return folder_ + "/" + kJsonName; }

bool EditorSession::Exists() const { return FileExists(jsonPath()); }

std::string EditorSession::pictureName(const StdPicture& picture, std::map<const Bitmap*, Written>& written,
                                       std::string& error) {
    if (!picture.isBitmap()) return std::string();
    for (auto* known : {&written, &written_}) {
        auto it = known->find(picture.bitmap.get());
        if (it != known->end()) {
            written[it->first] = it->second;
            return it->second.name;
        }
    }
    std::string name;
    do {
        name = kPicturePrefix + std::to_string(next_++) + ".bmp";
    } while (FileExists(folder_ + "/" + name));
    std::vector<uint8_t> bytes;
    if (!EncodeBmp24(*picture.bitmap, bytes) ||
        !WriteFileReplacing(folder_ + "/" + name, bytes.data(), bytes.size(), &error, true)) {
        if (error.empty()) error = "out of memory";
        return std::string();
    }
    written[picture.bitmap.get()] = Written{picture, name};
    return name;
}

bool EditorSession::Save(const EditorState& state, std::string& error) {
    error.clear();
    std::map<const Bitmap*, Written> written;  // what this state names
    json doc = json::object();
    doc["version"] = 1;
    const std::string meshes = MeshFileText(state.start, state.end);
    if (!meshes.empty()) {
        json m = json::parse(meshes);
        for (auto& [key, value] : m.items()) doc[key] = value;
    }
    json sources = json::array();
    for (const auto& source : state.sources) {
        json s = json::object();
        if (source) {
            const std::string picture = pictureName(source->picture, written, error);
            if (!error.empty()) return false;
            const std::string working = pictureName(source->workingCopy, written, error);
            if (!error.empty()) return false;
            s["path"] = source->path;
            s["picture"] = picture;
            s["workingCopy"] = working;
            s["width"] = source->width;
            s["height"] = source->height;
            s["sizeLabel"] = source->sizeLabel;
            s["sizeLabelS"] = source->sizeLabelS;
            s["preparable"] = source->preparable;
            s["prepared"] = source->prepared;
        }
        sources.push_back(std::move(s));
    }
    doc["sources"] = std::move(sources);
    std::string text;
    try {
        text = doc.dump(1) + "\n";
    } catch (const json::exception&) {
        error = "a path is not valid UTF-8";
        return false;
    }
    if (std::error_code ec = WriteFileAtomically(jsonPath(), text, true)) {
        error = ec.message();
        return false;
    }
    // The new session is in place: pictures it does not name can go, also
    // those of an earlier session.
    std::set<std::string> keep;
    for (const auto& [bitmap, w] : written) keep.insert(w.name);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (isPictureName(name) && !keep.count(name)) fs::remove(entry.path(), ec);
    }
    written_ = std::move(written);
    return true;
}

bool EditorSession::Load(EditorState& out, std::string& error) const {
    std::string text;
    if (std::error_code ec = ReadRegularFile(jsonPath(), kMaxSessionFile, text)) {
        error = ec.message();
        return false;
    }
    EditorState state;
    MeshFileData meshes;
    std::string meshError;
    if (ParseMeshFile(text, meshes, meshError)) {
        state.rows = meshes.rows;
        state.columns = meshes.columns;
        state.start = std::move(meshes.start);
        state.end = std::move(meshes.end);
    }
    json doc;
    try {
        doc = json::parse(text);
        const json& sources = doc.at("sources");
        if (!sources.is_array() || sources.size() != 2) {
            error = "the session names no images";
            return false;
        }
        for (size_t i = 0; i < 2; ++i) {
            const json& s = sources[i];
            auto source = std::make_shared<SourceState>();
            if (!s.is_object() || s.empty()) {
                state.sources[i] = source;
                continue;
            }
            source->path = s.value("path", std::string());
            source->width = s.value("width", 0);
            source->height = s.value("height", 0);
            source->sizeLabel = s.value("sizeLabel", std::string());
            source->sizeLabelS = s.value("sizeLabelS", std::string());
            source->preparable = s.value("preparable", true);
            source->prepared = s.value("prepared", true);
            std::map<std::string, StdPicture> loaded;
            for (auto [key, into] : {std::pair{"picture", &source->picture}, {"workingCopy", &source->workingCopy}}) {
                const std::string name = s.value(key, std::string());
                if (name.empty()) continue;
                if (!isPictureName(name)) {
                    error = "the session names a file outside it";
                    return false;
                }
                if (auto it = loaded.find(name); it != loaded.end()) {
                    *into = it->second;
                    continue;
                }
                if (PictureResult loaded = LoadPicture(folder_ + "/" + name, *into); !loaded) {
                    error = name + ": " + loaded.reason;
                    return false;
                }
                loaded[name] = *into;
            }
            if (source->path.empty() || !source->picture.isBitmap()) *source = SourceState();
            state.sources[i] = source;
        }
    } catch (const json::exception&) {
        error = "the session file is damaged";
        return false;
    }
    out = std::move(state);
    return true;
}

void EditorSession::Remove() {
    std::error_code ec;
    fs::remove(jsonPath(), ec);
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (isPictureName(name)) fs::remove(entry.path(), ec);
    }
    written_.clear();
}

}  // namespace tarnel
