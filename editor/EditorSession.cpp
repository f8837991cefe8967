#include "editor/EditorSession.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "core/MeshFile.h"
#include "core/MeshFileJson.h"
#include "core/ProjectFile.h"
#include "imaging/PictureIO.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"
#include "platform/ProgramFolder.h"

namespace tarnel {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::string kPrefix(kSessionFilePrefix);
constexpr size_t kPrefixSize = kSessionFilePrefix.size();
constexpr size_t kIdSize = 16;
constexpr uint64_t kMaxSessionFile = 16u << 20;

enum class FileKind { Json, Lock, Picture };

struct SessionFile {
    std::string id;
    FileKind kind;
};

bool isHexId(std::string_view s) {
    return s.size() == kIdSize &&
           std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// "Tarnel.session.[<id>.]{json,lock,<n>.bmp}" and nothing else: every other
// name in the program folder is left alone.
std::optional<SessionFile> parseName(std::string_view name) {
    if (name.substr(0, kPrefixSize) != kPrefix) return std::nullopt;
    std::string_view rest = name.substr(kPrefixSize);
    std::string id;
    if (rest.size() > kIdSize && rest[kIdSize] == '.' && isHexId(rest.substr(0, kIdSize))) {
        id = std::string(rest.substr(0, kIdSize));
        rest = rest.substr(kIdSize + 1);
    }
    if (rest == "json") return SessionFile{id, FileKind::Json};
    if (rest == "lock") return SessionFile{id, FileKind::Lock};
    if (rest.size() < 5 || rest.size() > 14 || rest.substr(rest.size() - 4) != ".bmp") return std::nullopt;
    for (char c : rest.substr(0, rest.size() - 4))
        if (c < '0' || c > '9') return std::nullopt;
    return SessionFile{id, FileKind::Picture};
}

bool isPictureOf(const std::string& id, const std::string& name) {
    const auto file = parseName(name);
    return file && file->kind == FileKind::Picture && file->id == id;
}

std::string fileName(const std::string& id, const std::string& tail) {
    return kPrefix + (id.empty() ? std::string() : id + ".") + tail;
}

std::string freshId() {
    std::random_device device;
    const uint64_t n = (uint64_t(device()) << 32) ^ device();
    static const char digits[] = "0123456789abcdef";
    std::string id(kIdSize, '0');
    for (size_t k = 0; k < kIdSize; ++k) id[k] = digits[(n >> (4 * k)) & 15];
    return id;
}

// Opens and locks the lock file at `path`, creating it (only a new one with
// `fresh`). -1 with `ec` set when another editor holds it or it is no plain
// file. The file must still be the one at the path once locked: the editor
// that held it removes it before letting the lock go.
int lockFile(const std::string& path, bool fresh, std::error_code& ec) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat named{};
        if (lstat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
            ec = NotRegularFileError(named.st_mode);
            return -1;
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (fresh ? O_EXCL : 0),
                              0644);
        if (fd < 0) {
            ec = std::error_code(errno, std::generic_category());
            return -1;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ec = std::error_code(errno, std::generic_category());
            ::close(fd);
            return -1;
        }
        struct stat held{};
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
        ec = std::make_error_code(std::errc::resource_unavailable_try_again);
        if (fresh) return -1;
    }
    return -1;
}

std::string quoted(const char* key) { return std::string("\"") + key + "\""; }

// The readers of one source: a missing key keeps the default, a value of
// another kind or out of range refuses the session.
bool readString(const json& s, const char* key, std::string& out, std::string& error) {
    auto it = s.find(key);
    if (it == s.end()) return true;
    if (!it->is_string() || it->get_ref<const std::string&>().find('\0') != std::string::npos) {
        error = quoted(key) + " is not a text";
        return false;
    }
    out = it->get<std::string>();
    return true;
}

bool readBool(const json& s, const char* key, bool& out, std::string& error) {
    auto it = s.find(key);
    if (it == s.end()) return true;
    if (!it->is_boolean()) {
        error = quoted(key) + " is not true or false";
        return false;
    }
    out = it->get<bool>();
    return true;
}

bool readSide(const json& s, const char* key, int32_t& out, std::string& error) {
    auto it = s.find(key);
    if (it == s.end()) return true;
    if (!it->is_number_integer()) {
        error = quoted(key) + " is not an integer";
        return false;
    }
    const auto n = it->get<int64_t>();
    if (n < 0 || n > kMaxProjectImageSide) {
        error = quoted(key) + " is outside 0.." + std::to_string(kMaxProjectImageSide);
        return false;
    }
    out = int32_t(n);
    return true;
}

}  // namespace

EditorSession::EditorSession(std::string folder) : folder_(std::move(folder)) {}

EditorSession::EditorSession(std::string folder, std::string id, int lockFd)
    : folder_(std::move(folder)), id_(std::move(id)), lockFd_(lockFd) {}

EditorSession::~EditorSession() { releaseLock(); }

std::string EditorSession::jsonPath() const { return folder_ + "/" + fileName(id_, "json"); }

bool EditorSession::Exists() const { return lockFd_ >= 0 && FileExists(jsonPath()); }

bool EditorSession::takeLock(std::string& error) {
    if (lockFd_ >= 0) return true;
    std::error_code ec;
    // A new id is drawn when the name was taken or its file went meanwhile.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::string id = freshId();
        lockFd_ = lockFile(folder_ + "/" + fileName(id, "lock"), true, ec);
        if (lockFd_ >= 0) {
            id_ = id;
            return true;
        }
    }
    error = "cannot lock the session (" + ec.message() + ")";
    return false;
}

void EditorSession::releaseLock() {
    if (lockFd_ < 0) return;
    // Pictures without the file that names them are of no use to anyone.
    if (!FileExists(jsonPath())) Remove();
    std::error_code ec;
    fs::remove(folder_ + "/" + fileName(id_, "lock"), ec);
    ::close(lockFd_);
    lockFd_ = -1;
}

std::vector<std::unique_ptr<EditorSession>> EditorSession::Abandoned(const std::string& folder) {
    std::map<std::string, std::vector<std::pair<fs::path, FileKind>>> files;  // by session id
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (auto file = parseName(name)) files[file->id].emplace_back(entry.path(), file->kind);
    }
    std::vector<std::pair<fs::file_time_type, std::unique_ptr<EditorSession>>> found;
    for (const auto& [id, list] : files) {
        const auto json =
            std::find_if(list.begin(), list.end(), [](const auto& f) { return f.second == FileKind::Json; });
        const bool onlyLock = std::all_of(list.begin(), list.end(), [](const auto& f) { return f.second == FileKind::Lock; });
        // Pictures of the single-session layout without their file may still
        // be an earlier editor's, which takes no lock.
        if (json == list.end() && id.empty() && !onlyLock) continue;
        const int fd = lockFile(folder + "/" + fileName(id, "lock"), false, ec);
        if (fd < 0) continue;  // a running editor's
        auto session = std::unique_ptr<EditorSession>(new EditorSession(folder, id, fd));
        if (json == list.end()) continue;  // left over from a first save that never finished: goes with the lock
        const auto time = fs::last_write_time(json->first, ec);
        found.emplace_back(ec ? fs::file_time_type::min() : time, std::move(session));
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::unique_ptr<EditorSession>> sessions;
    for (auto& [time, session] : found) sessions.push_back(std::move(session));
    return sessions;
}

void EditorSession::Adopt(EditorSession&& other) {
    if (&other == this) return;
    Remove();
    releaseLock();
    folder_ = std::move(other.folder_);
    id_ = std::move(other.id_);
    lockFd_ = other.lockFd_;
    other.lockFd_ = -1;
    next_ = 0;
    written_.clear();
}

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
        name = fileName(id_, std::to_string(next_++) + ".bmp");
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

bool EditorSession::Save(const EditorState& state, std::string& error, const SessionView* view) {
    error.clear();
    if (!takeLock(error)) return false;
    std::map<const Bitmap*, Written> written;  // what this state names
    json doc = json::object();
    doc["version"] = 1;
    const std::string meshes = MeshFileText(state.start, state.end);
    if (!meshes.empty()) {
        json m = json::parse(meshes);
        for (auto& [key, value] : m.items()) doc[key] = value;
    }
    auto sourceJson = [&](const SourceState& source, json& s) {
        const std::string picture = pictureName(source.picture, written, error);
        if (!error.empty()) return false;
        const std::string working = pictureName(source.workingCopy, written, error);
        if (!error.empty()) return false;
        s["path"] = source.path;
        s["picture"] = picture;
        s["workingCopy"] = working;
        s["width"] = source.width;
        s["height"] = source.height;
        s["sizeLabel"] = source.sizeLabel;
        s["sizeLabelS"] = source.sizeLabelS;
        s["preparable"] = source.preparable;
        s["prepared"] = source.prepared;
        return true;
    };
    json sources = json::array();
    for (const auto& source : state.sources) {
        json s = json::object();
        if (source && !sourceJson(*source, s)) return false;
        sources.push_back(std::move(s));
    }
    // The keys of a chain the views do not show, each with its mesh.
    if (!state.hidden.empty()) {
        json hidden = json::array();
        for (const HiddenKey& key : state.hidden) {
            json s = json::object();
            if (!key.source || !sourceJson(*key.source, s)) {
                if (error.empty()) error = "a key of the chain has no picture";
                return false;
            }
            json points = json::array();
            for (const MeshPoint& p : key.mesh.points()) points.push_back(json::array({p.x, p.y}));
            s["mesh"] = std::move(points);
            hidden.push_back(std::move(s));
        }
        doc["hiddenKeys"] = std::move(hidden);
        doc["pair"] = state.pair;
    }
    doc["sources"] = std::move(sources);
    if (view) {
        json views = json::array();
        for (size_t i = 0; i < 2; ++i)
            views.push_back(json{{"zoom", view->zoom[i]}, {"x", view->scrollX[i]}, {"y", view->scrollY[i]}});
        doc["views"] = std::move(views);
    }
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
    // The new session is in place: this session's pictures it does not name
    // can go. Other sessions' pictures are never touched.
    std::set<std::string> keep;
    for (const auto& [bitmap, w] : written) keep.insert(w.name);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (isPictureOf(id_, name) && !keep.count(name)) fs::remove(entry.path(), ec);
    }
    written_ = std::move(written);
    return true;
}

bool EditorSession::Load(EditorState& out, std::string& error, SessionView* view) const {
    std::string text;
    if (std::error_code ec = ReadRegularFile(jsonPath(), kMaxSessionFile, text)) {
        error = ec.message();
        return false;
    }
    json doc;
    std::string reason;
    // A chain's meshes may outnumber a mesh file's values, as in a project.
    if (!ParseBoundedJson(text, doc, reason, kMaxProjectFileValues) || !doc.is_object()) {
        error = "the session file is damaged (" + (reason.empty() ? "not a JSON object" : reason) + ")";
        return false;
    }
    EditorState state;
    // A session saved without meshes has none of their keys.
    if (doc.contains("rows") || doc.contains("columns") || doc.contains("start") || doc.contains("end")) {
        MeshFileData meshes;
        if (!ReadMeshJson(doc, meshes, reason)) {
            error = "the session's meshes are damaged (" + reason + ")";
            return false;
        }
        state.rows = meshes.rows;
        state.columns = meshes.columns;
        state.start = std::move(meshes.start);
        state.end = std::move(meshes.end);
    }
    auto sources = doc.find("sources");
    if (sources == doc.end() || !sources->is_array() || sources->size() != 2) {
        error = "the session names no images";
        return false;
    }
    // One image of the session into `source`; an empty object is an image not loaded.
    auto readSource = [&](const json& s, std::shared_ptr<SourceState>& source) {
        source = std::make_shared<SourceState>();
        if (!s.is_object()) {
            error = "the session file is damaged (an image is not a JSON object)";
            return false;
        }
        if (s.empty()) return true;
        source->preparable = source->prepared = true;
        std::string names[2];
        if (!readString(s, "path", source->path, reason) || !readSide(s, "width", source->width, reason) ||
            !readSide(s, "height", source->height, reason) || !readString(s, "sizeLabel", source->sizeLabel, reason) ||
            !readString(s, "sizeLabelS", source->sizeLabelS, reason) ||
            !readBool(s, "preparable", source->preparable, reason) ||
            !readBool(s, "prepared", source->prepared, reason) || !readString(s, "picture", names[0], reason) ||
            !readString(s, "workingCopy", names[1], reason)) {
            error = "the session file is damaged (" + reason + ")";
            return false;
        }
        std::map<std::string, StdPicture> loaded;
        StdPicture* into[2] = {&source->picture, &source->workingCopy};
        for (int k = 0; k < 2; ++k) {
            const std::string& name = names[k];
            if (name.empty()) continue;
            if (!isPictureOf(id_, name)) {
                error = "the session names a file outside it";
                return false;
            }
            if (auto it = loaded.find(name); it != loaded.end()) {
                *into[k] = it->second;
                continue;
            }
            if (PictureResult result = LoadPicture(folder_ + "/" + name, *into[k]); !result) {
                error = name + ": " + result.reason;
                return false;
            }
            loaded[name] = *into[k];
        }
        if (source->path.empty() || !source->picture.isBitmap()) *source = SourceState();
        return true;
    };
    for (size_t i = 0; i < 2; ++i) {
        std::shared_ptr<SourceState> source;
        if (!readSource((*sources)[i], source)) return false;
        state.sources[i] = std::move(source);
    }
    if (auto hidden = doc.find("hiddenKeys"); hidden != doc.end()) {
        if (!hidden->is_array() || hidden->size() + 2 > size_t(kMaxChainKeys) || state.start.empty()) {
            error = "the session's keys are damaged";
            return false;
        }
        for (const json& key : *hidden) {
            std::shared_ptr<SourceState> source;
            if (!readSource(key, source)) return false;
            MeshGrid mesh(state.rows, state.columns);
            auto points = key.is_object() ? key.find("mesh") : key.end();
            if (!source->picture.isBitmap() || points == key.end() ||
                !ReadMeshPoints(*points, "\"mesh\"", mesh, reason)) {
                error = "the session's keys are damaged" + (reason.empty() ? std::string() : " (" + reason + ")");
                return false;
            }
            state.hidden.push_back(HiddenKey{std::move(source), std::move(mesh)});
        }
        auto pair = doc.find("pair");
        if (pair == doc.end() || !pair->is_number_integer() || pair->get<int64_t>() < 0 ||
            pair->get<int64_t>() > int64_t(state.hidden.size())) {
            error = "the session's keys are damaged (\"pair\")";
            return false;
        }
        state.pair = int(pair->get<int64_t>());
    }
    if (view) {
        // The views are a convenience: whatever is missing or odd keeps its default.
        *view = SessionView{};
        auto views = doc.find("views");
        if (views != doc.end() && views->is_array() && views->size() == 2) {
            for (size_t i = 0; i < 2; ++i) {
                const json& v = (*views)[i];
                if (!v.is_object()) continue;
                auto number = [&v](const char* key, int& into) {
                    auto it = v.find(key);
                    if (it != v.end() && it->is_number_integer()) {
                        const int64_t n = it->get<int64_t>();
                        if (n >= 0 && n <= kMaxSurfaceSide * 8) into = int(n);
                    }
                };
                number("zoom", view->zoom[i]);
                number("x", view->scrollX[i]);
                number("y", view->scrollY[i]);
            }
        }
    }
    out = std::move(state);
    return true;
}

void EditorSession::Remove() {
    if (lockFd_ < 0) return;  // nothing written under this object's name
    std::error_code ec;
    fs::remove(jsonPath(), ec);
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (isPictureOf(id_, name)) fs::remove(entry.path(), ec);
    }
    written_.clear();
}

}  // namespace tarnel
