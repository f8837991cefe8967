#include "platform/StaleTempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>

namespace tarnel {

namespace {

// A decimal process id: digits only, no leading zero, within pid_t.
std::optional<pid_t> parsePid(std::string_view digits) {
    if (digits.empty() || digits.size() > 9 || digits.front() == '0') return std::nullopt;
    pid_t pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// ".NAME.tmp-PID-N"
std::optional<pid_t> atomicWriterOwner(std::string_view name) {
    if (name.size() < 2 || name.front() != '.') return std::nullopt;
    const size_t tag = name.rfind(".tmp-");
    if (tag == std::string_view::npos || tag < 2) return std::nullopt;
    std::string_view rest = name.substr(tag + 5);
    const size_t dash = rest.find('-');
    if (dash == std::string_view::npos || !allDigits(rest.substr(dash + 1))) return std::nullopt;
    return parsePid(rest.substr(0, dash));
}

// "STEM.PID.EXT" for one of the fixed names "STEM.EXT"
std::optional<pid_t> processTempOwner(std::string_view name) {
    for (std::string_view fixed : kProcessTempNames) {
        const size_t dot = fixed.rfind('.');
        const std::string_view stem = fixed.substr(0, dot), ext = fixed.substr(dot);
        if (name.size() <= stem.size() + ext.size() + 1) continue;
        if (name.substr(0, stem.size()) != stem || name[stem.size()] != '.') continue;
        if (name.substr(name.size() - ext.size()) != ext) continue;
        if (auto pid = parsePid(name.substr(stem.size() + 1, name.size() - stem.size() - 1 - ext.size()))) return pid;
    }
    return std::nullopt;
}

}  // namespace

std::optional<pid_t> TempFileOwner(std::string_view name) {
    if (auto pid = atomicWriterOwner(name)) return pid;
    return processTempOwner(name);
}

bool ProcessAlive(pid_t pid) {
    if (pid <= 0) return true;
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

size_t RemoveStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return 0;
    const int dirFd = ::dirfd(dir);
    size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        auto owner = TempFileOwner(name);
        if (!owner || ProcessAlive(*owner)) continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

void RemoveStaleTempFilesOnce(const std::string& folder) {
    static std::mutex mutex;
    static std::set<std::string> cleaned;
    {
        std::lock_guard lock(mutex);
        if (!cleaned.insert(folder).second) return;
    }
    RemoveStaleTempFiles(folder);
}

}  // namespace tarnel
