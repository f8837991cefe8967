#include "platform/StaleTempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace tarnel {

namespace {

constexpr size_t kDigits = 16;

std::error_code errnoCode(int error) { return std::error_code(error, std::generic_category()); }

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::string randomDigits() {
    uint64_t value = 0;
    size_t got = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    while (got < sizeof value) {
        const ssize_t n = ::getrandom(bytes + got, sizeof value - got, 0);
        if (n > 0) got += size_t(n);
        else if (errno != EINTR) break;
    }
    // Without the random source the names only have to differ within this
    // process: the O_EXCL create and the lock keep other processes apart.
    if (got < sizeof value) {
        static std::atomic<uint64_t> fallback{0};
        value ^= (uint64_t(::getpid()) << 32) ^ ++fallback ^ uint64_t(::time(nullptr)) * 0x9e3779b97f4a7c15ull;
    }
    static const char hex[] = "0123456789abcdef";
    std::string digits(kDigits, '0');
    for (size_t i = 0; i < kDigits; ++i) digits[i] = hex[(value >> (4 * i)) & 15];
    return digits;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The temporaries this process holds, for the interrupt guard. Its mutex is
// held across create-and-register, so a signal never falls in between.
struct HeldTemporaries {
    std::mutex mutex;
    std::set<std::string> paths;
};

HeldTemporaries& heldTemporaries() {
    static HeldTemporaries* registry = new HeldTemporaries;  // outlives every static destructor
    return *registry;
}

}  // namespace

bool IsTempFileName(std::string_view name) {
    for (size_t at = name.find(kTempMark); at != std::string_view::npos; at = name.find(kTempMark, at + 1)) {
        const size_t digits = at + kTempMark.size();
        if (digits + kDigits > name.size()) return false;
        size_t i = 0;
        while (i < kDigits && isHexDigit(name[digits + i])) ++i;
        if (i < kDigits) continue;
        const size_t after = digits + kDigits;
        if (after == name.size() || name[after] == '.') return true;
    }
    return false;
}

std::string NewTempFileName(std::string_view stem, std::string_view extension) {
    std::string name(stem);
    name += kTempMark;
    name += randomDigits();
    name += extension;
    return name;
}

std::string ProcessTempFilePath(const std::string& folder, std::string_view name) {
    static const std::string digits = randomDigits();
    const size_t dot = name.rfind('.');
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    path += name.substr(0, dot);
    path += kTempMark;
    path += digits;
    if (dot != std::string_view::npos) path += name.substr(dot);
    return path;
}

LockedTempFile& LockedTempFile::operator=(LockedTempFile&& other) noexcept {
    if (this != &other) {
        remove();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::exchange(other.path_, std::string());
    }
    return *this;
}

// Locks a file just opened at `path` (the registry's mutex held). A cleaner
// may have locked and removed it between the open and the lock; the name is
// then no longer this file, and the caller tries again.
std::error_code LockedTempFile::lockOpened(int fd, const std::string& path) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            return errnoCode(error);
        }
    }
    struct stat opened {}, named {};
    if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &named) != 0 || !sameFile(opened, named)) {
        ::close(fd);
        return errnoCode(ESTALE);
    }
    heldTemporaries().paths.insert(path);
    fd_ = fd;
    path_ = path;
    return {};
}

std::error_code LockedTempFile::create(const std::string& folder, std::string_view stem, std::string_view extension,
                                       int flags) {
    remove();
    RemoveStaleTempFilesOnce(folder);
    std::string prefix = folder.empty() ? std::string(".") : folder;
    if (prefix.back() != '/') prefix += '/';
    // A long target name is shortened in its temporary's, which must still fit.
    constexpr size_t kNameMax = 255;
    const size_t room = kNameMax - kTempMark.size() - kDigits;
    if (extension.size() > room) extension = {};
    if (stem.size() + extension.size() > room) stem = stem.substr(0, room - extension.size());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = prefix + NewTempFileName(stem, extension);
        std::lock_guard lock(heldTemporaries().mutex);
        const int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return errnoCode(errno);
        }
        std::error_code ec = lockOpened(fd, path);
        if (ec.value() != ESTALE) return ec;
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code LockedTempFile::open(const std::string& path) {
    remove();
    const size_t slash = path.rfind('/');
    RemoveStaleTempFilesOnce(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::lock_guard lock(heldTemporaries().mutex);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return errnoCode(errno);
        std::error_code ec = lockOpened(fd, path);
        if (ec.value() != ESTALE) return ec;
    }
    return errnoCode(ESTALE);
}

void LockedTempFile::remove() {
    if (fd_ < 0) return;
    {
        std::lock_guard lock(heldTemporaries().mutex);
        heldTemporaries().paths.erase(path_);
    }
    // Removed while still locked, so no cleaner sees it unlocked.
    ::unlink(path_.c_str());
    release();
}

void LockedTempFile::release() {
    if (fd_ < 0) return;
    {
        std::lock_guard lock(heldTemporaries().mutex);
        heldTemporaries().paths.erase(path_);
    }
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

size_t RemoveStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return 0;
    const int dirFd = ::dirfd(dir);
    size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempFileName(entry->d_name)) continue;
        struct stat named {};
        if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) continue;
        // A lock needs an open descriptor, whichever way the mode allows.
        int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) fd = ::openat(dirFd, entry->d_name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // Only a file nobody holds, and still the one under that name.
        struct stat opened {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named) &&
            ::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
        ::close(fd);
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

void InstallInterruptCleanup() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    // Every thread started later inherits the mask, so only the guard sees them.
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    std::thread([signals] {
        int signal = 0;
        while (::sigwait(&signals, &signal) != 0) {
        }
        // Never unlocked: no temporary is created from here on.
        heldTemporaries().mutex.lock();
        for (const std::string& path : heldTemporaries().paths) ::unlink(path.c_str());
        ::signal(signal, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }).detach();
}

}  // namespace tarnel
