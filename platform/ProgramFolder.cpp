#include "platform/ProgramFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/StaleTempFiles.h"

// Where the installation puts the data folder, seen from its bin folder
// (GNUInstallDirs: "../share/tarnel").
#ifndef TARNEL_DATA_FROM_BIN
#error "TARNEL_DATA_FROM_BIN comes from the build"
#endif

namespace tarnel {

namespace fs = std::filesystem;

namespace {

std::mutex& overrideMutex() {
    static std::mutex m;
    return m;
}

std::string& overrideFolder() {
    static std::string folder;
    return folder;
}

std::string withoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

void ensureFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);  // a failure shows later, when a file is written
}

bool writableFolder(const std::string& folder) {
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

}  // namespace

std::string ExecutableFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return std::string();
    return withoutTrailingSeparator(exe.parent_path().string());
}

std::string UserDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && *xdg == '/') base = xdg;
    else base = homeFolder() + "/.local/share";
    return withoutTrailingSeparator(base) + "/tarnel";
}

void SetProgramFolderOverride(const std::string& folder) {
    std::lock_guard lock(overrideMutex());
    overrideFolder() = folder.empty() ? std::string() : withoutTrailingSeparator(folder);
}

std::string ProgramFolder() {
    std::string folder;
    {
        std::lock_guard lock(overrideMutex());
        folder = overrideFolder();
    }
    if (folder.empty()) {
        const char* env = std::getenv("TARNEL_PROGRAM_FOLDER");
        if (env && *env) folder = withoutTrailingSeparator(env);
    }
    if (!folder.empty()) {
        ensureFolder(folder);
        return folder;
    }
    return ResolveProgramFolder(ExecutableFolder());
}

std::string InstalledDataFolder(const std::string& executableFolder) {
    if (executableFolder.empty()) return std::string();
    std::error_code ec;
    const fs::path data = (fs::path(executableFolder) / TARNEL_DATA_FROM_BIN).lexically_normal();
    return fs::is_directory(data, ec) ? withoutTrailingSeparator(data.string()) : std::string();
}

std::string ResolveProgramFolder(const std::string& executableFolder) {
    if (writableFolder(executableFolder) && InstalledDataFolder(executableFolder).empty()) return executableFolder;
    std::string folder = UserDataFolder();
    ensureFolder(folder);
    return folder;
}

std::string ProgramFile(std::string_view name) {
    std::string folder = ProgramFolder();
    if (folder != "/") folder += '/';
    folder += name;
    return folder;
}

std::string ProcessTempPath(const std::string& folder, std::string_view name) {
    const size_t dot = name.rfind('.');
    std::string file(name.substr(0, dot));
    file += '.' + std::to_string(::getpid());
    if (dot != std::string_view::npos) file += name.substr(dot);
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + file;
}

bool IsHousekeepingFileName(std::string_view name) {
    return name.substr(0, kSessionFilePrefix.size()) == kSessionFilePrefix || IsTempFileName(name);
}

}  // namespace tarnel
