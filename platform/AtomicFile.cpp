#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "platform/FileRead.h"
#include "platform/StaleTempFiles.h"

namespace tarnel {

namespace {

namespace fs = std::filesystem;

std::error_code errnoCode(int error) { return std::error_code(error, std::generic_category()); }

fs::path folderOf(const fs::path& file) {
    fs::path folder = file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

}  // namespace

std::error_code ResolveWriteTarget(const std::string& path, std::string& target) {
    fs::path current(path);
    // The kernel's own limit on links followed in one lookup.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) return errnoCode(errno);
            target = current.string();  // a new file, or the target of a dangling link
            return {};
        }
        if (!S_ISLNK(st.st_mode)) {
            if (std::error_code ec = NotRegularFileError(st.st_mode)) return ec;
            target = current.string();
            return {};
        }
        std::error_code ec;
        fs::path next = fs::read_symlink(current, ec);
        if (ec) return ec;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return errnoCode(ELOOP);
}

std::error_code SyncFolder(const std::string& folder) {
    int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that cannot be opened (no read permission) cannot be synced either.
    if (dir < 0) return errno == EACCES ? std::error_code() : errnoCode(errno);
    int result = ::fsync(dir);
    int error = errno;
    ::close(dir);
    if (result == 0 || error == EINVAL || error == ENOTSUP) return {};
    return errnoCode(error);
}

std::error_code StagedFile::stage(const std::string& path, std::string_view data, bool sync) {
    discard();
    std::string resolved;
    if (std::error_code ec = ResolveWriteTarget(path, resolved)) return ec;
    fs::path target(resolved);
    fs::path folder = folderOf(target);
    std::string base = target.filename().string();
    if (base.empty() || base == "." || base == "..") return std::make_error_code(std::errc::is_a_directory);

    LockedTempFile temp;
    if (std::error_code ec = temp.create(folder.string(), "." + base, "", O_WRONLY)) return ec;
    // Written and closed through a second descriptor, so a failed close is
    // still seen while the first keeps the lock until the rename.
    int fd = ::fcntl(temp.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return errnoCode(errno);

    auto fail = [&](int error) {
        if (fd >= 0) ::close(fd);
        return errnoCode(error);  // `temp` goes with its lock
    };

    struct stat existing {};
    if (::stat(resolved.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(fd, existing.st_mode & 07777);

    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t put = ::write(fd, p, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return fail(put < 0 ? errno : EIO);
        p += put;
        left -= size_t(put);
    }
    if (sync && ::fsync(fd) != 0) return fail(errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(errno);
    path_ = path;
    temp_ = std::move(temp);
    folder_ = folder.string();
    sync_ = sync;
    return {};
}

std::error_code StagedFile::commit() {
    if (!temp_.held()) return std::make_error_code(std::errc::invalid_argument);
    std::string resolved;
    std::error_code ec = ResolveWriteTarget(path_, resolved);
    // The temporary file sits in the folder the target resolved to when it
    // was written; a rename cannot leave that folder.
    if (!ec && folderOf(resolved).string() != folder_)
        ec = std::make_error_code(std::errc::cross_device_link);
    if (!ec && ::rename(temp_.path().c_str(), resolved.c_str()) != 0) ec = errnoCode(errno);
    if (ec) {
        discard();
        return ec;
    }
    temp_.release();
    if (sync_) return SyncFolder(folder_);
    return {};
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        discard();
        path_ = std::move(other.path_);
        temp_ = std::move(other.temp_);
        folder_ = std::move(other.folder_);
        sync_ = other.sync_;
    }
    return *this;
}

void StagedFile::discard() {
    temp_.remove();
}

std::error_code WriteFileAtomically(const std::string& path, std::string_view data, bool sync) {
    StagedFile file;
    if (std::error_code ec = file.stage(path, data, sync)) return ec;
    return file.commit();
}

bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size, std::string* error, bool sync) {
    std::error_code ec =
        WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(data), size), sync);
    if (ec && error) *error = ec.message();
    return !ec;
}

}  // namespace tarnel
