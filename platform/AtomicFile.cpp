#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

namespace tarnel {

std::error_code WriteFileAtomically(const std::string& path, std::string_view data, bool sync) {
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string base = target.filename().string();
    if (base.empty()) return std::make_error_code(std::errc::is_a_directory);

    int fd = -1;
    std::string temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = (folder / ("." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                   .string();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return std::error_code(errno, std::generic_category());
    }
    if (fd < 0) return std::make_error_code(std::errc::file_exists);

    auto fail = [&](int error) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        return std::error_code(error, std::generic_category());
    };

    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(fd, existing.st_mode & 07777);

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
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(errno);
    if (sync) {
        int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return {};
}

}  // namespace tarnel
