#include "output/FolderChooser.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/MeshEdit.h"
#include "output/FrameSequence.h"
#include "platform/ProgramFolder.h"

namespace tarnel {

namespace fs = std::filesystem;

namespace {

// The mounts table writes blanks, tabs, line breaks and backslashes as octal escapes.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += char((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// `path` is `top` or lies inside it.
bool underFolder(const std::string& path, const std::string& top) {
    if (top == "/") return startsWith(path, "/");
    return path == top || (startsWith(path, top) && path.size() > top.size() && path[top.size()] == '/');
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// The list boxes' order: letters without regard to case, ties by the bytes.
void sortAlphabetically(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        std::string la = lower(a), lb = lower(b);
        return la != lb ? la < lb : a < b;
    });
}

// Without a trailing separator, except for the root; "." and ".." resolved.
std::string normalFolder(const std::string& path) {
    std::string p = fs::path(path).lexically_normal().string();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

bool notReadyErrno(int e) {
    switch (e) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOMEDIUM:
        case EIO:
        case ESTALE:
        case ENOTCONN:
        case EHOSTDOWN:
        case ETIMEDOUT: return true;
        default: return false;
    }
}

}  // namespace

std::vector<DriveEntry> ListDrives(const std::string& mountsTable, const std::string& homeFolder) {
    std::vector<DriveEntry> drives{{"/", "/"}};
    if (!homeFolder.empty() && homeFolder[0] == '/') {
        std::string home = normalFolder(homeFolder);
        if (home != "/") drives.push_back({home, home});
    }
    std::vector<std::string> media;
    std::istringstream lines(mountsTable);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint)) continue;
        mountPoint = normalFolder(unescapeMountField(mountPoint));
        if (startsWith(mountPoint, "/media/") || startsWith(mountPoint, "/run/media/") ||
            startsWith(mountPoint, "/mnt/"))
            media.push_back(mountPoint);
    }
    sortAlphabetically(media);
    for (const std::string& m : media) {
        bool known = std::any_of(drives.begin(), drives.end(), [&](const DriveEntry& d) { return d.path == m; });
        if (!known) drives.push_back({m, m});
    }
    return drives;
}

std::vector<DriveEntry> ListDrives() {
    std::string table;
    std::ifstream in("/proc/self/mounts");
    if (in) {
        std::ostringstream all;
        all << in.rdbuf();
        table = all.str();
    }
    const char* home = std::getenv("HOME");
    return ListDrives(table, home ? home : "");
}

int DriveIndexOf(const std::vector<DriveEntry>& drives, const std::string& path) {
    int best = -1;
    size_t bestLength = 0;
    for (size_t i = 0; i < drives.size(); ++i) {
        const std::string& top = drives[i].path;
        if (underFolder(path, top) && (best < 0 || top.size() > bestLength)) {
            best = int(i);
            bestLength = top.size();
        }
    }
    return best;
}

bool CheckFolder(const std::string& path, FolderError* error) {
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (!ec) return true;
    if (error) {
        error->number = ec.value();
        error->notReady = notReadyErrno(ec.value());
        error->description = ec.message();
    }
    return false;
}

std::string DriveErrorMessage(const std::string& driveText, const FolderError& error) {
    if (error.notReady) return "ﾄﾞﾗｲﾌﾞ" + driveText + " は、準備されていません。";
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", unsigned(error.number));
    return std::string("Tarnel") + ": &H" + hex + "\n" + error.description;
}

std::vector<std::string> ListSubfolders(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) names.push_back(name);
    }
    sortAlphabetically(names);
    return names;
}

bool MatchesFilePattern(const std::string& name, const std::string& pattern) {
    const std::string lowerName = lower(name);
    size_t start = 0;
    while (start <= pattern.size()) {
        size_t end = pattern.find(';', start);
        if (end == std::string::npos) end = pattern.size();
        std::string one = lower(pattern.substr(start, end - start));
        if (startsWith(one, "*")) {
            std::string tail = one.substr(1);
            if (tail == ".*" || (lowerName.size() > tail.size() &&
                                 lowerName.compare(lowerName.size() - tail.size(), tail.size(), tail) == 0))
                return true;
        } else if (!one.empty() && one == lowerName) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::vector<std::string> ListPatternFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code typeError;
        // The program's own files (a session's pictures, working copies) are never frames.
        if (MatchesFilePattern(name, pattern) && !IsHousekeepingFileName(name) && it->is_regular_file(typeError))
            names.push_back(name);
    }
    sortAlphabetically(names);
    return names;
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::vector<std::string> FolderChain(const std::string& top, const std::string& path) {
    if (!underFolder(path, top)) return {path};
    std::vector<std::string> chain{top};
    std::string rest = path.substr(top.size());
    std::string current = top;
    size_t start = 0;
    while (start < rest.size()) {
        if (rest[start] == '/') {
            ++start;
            continue;
        }
        size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        current = JoinFolder(current, rest.substr(start, end - start));
        chain.push_back(current);
        start = end;
    }
    return chain;
}

PreviewSize PreviewSizeFor(int width, int height) {
    PreviewSize s;
    if (width <= 0 || height <= 0) return s;
    if (width > height) {
        s.width = kPreviewSide;
        s.height = int(std::nearbyint(double(height) * kPreviewSide / width));
    } else {
        s.width = int(std::nearbyint(double(width) * kPreviewSide / height));
        s.height = kPreviewSide;
    }
    // A very long strip would round to nothing; keep one line of it.
    s.width = std::max(s.width, 1);
    s.height = std::max(s.height, 1);
    return s;
}

bool DrawPreview(const StdPicture& picture, PictureBox& preview) {
    if (!picture.isBitmap()) return false;
    const PreviewSize size = PreviewSizeFor(picture.width(), picture.height());
    preview.resize(size.width, size.height);
    DC source;
    source.select(picture.bitmap.get());
    SetStretchBltMode(preview.hDC(), COLORONCOLOR);
    StretchBlt(preview.hDC(), 0, 0, size.width, size.height, &source, 0, 0, picture.width(), picture.height(),
               SRCCOPY);
    DrawEdgeFrame(preview);
    return true;
}

FolderChooser::FolderChooser(std::vector<DriveEntry> drives) : drives_(std::move(drives)) {}

std::string FolderChooser::filePath(int index) const {
    if (index < 0 || index >= fileCount()) return {};
    return JoinFolder(folder_, files_[size_t(index)]);
}

bool FolderChooser::setFolder(const std::string& path, FolderError* error) {
    if (path.empty()) return false;
    std::string folder = normalFolder(path);
    if (!CheckFolder(folder, error)) return false;
    folder_ = folder;
    int drive = DriveIndexOf(drives_, folder_);
    if (drive >= 0) drive_ = drive;
    refresh();
    return true;
}

bool FolderChooser::setDrive(int index, FolderError* error) {
    if (index < 0 || index >= int(drives_.size())) return false;
    const std::string top = drives_[size_t(index)].path;
    if (!CheckFolder(top, error)) return false;
    folder_ = top;
    drive_ = index;
    refresh();
    return true;
}

void FolderChooser::refresh() {
    subfolders_ = ListSubfolders(folder_);
    files_ = ListPatternFiles(folder_);
}

bool FolderChooser::folderHoldsFrames() const { return !folder_.empty() && FindFrameKind(folder_) != kFrameKindNone; }

}  // namespace tarnel
