#include "platform/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <new>

namespace tarnel {

namespace {

class FileTypeCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "file type"; }
    std::string message(int value) const override {
        switch (FileTypeError(value)) {
            case FileTypeError::Fifo: return "not a regular file (a FIFO)";
            case FileTypeError::Device: return "not a regular file (a device)";
            case FileTypeError::Socket: return "not a regular file (a socket)";
            case FileTypeError::Other: return "not a regular file";
        }
        return "not a regular file";
    }
};

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

template <typename Buffer>
std::error_code readInto(const std::string& path, uint64_t maxBytes, Buffer& out) {
    out.clear();
    std::error_code ec;
    Descriptor fd(OpenRegularFile(path, ec));
    if (ec) return ec;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return lastError();
    if (uint64_t(st.st_size) > maxBytes) return std::make_error_code(std::errc::file_too_large);
    try {
        // One byte more than the size tells a file that grew while it was read.
        out.resize(size_t(st.st_size) + 1);
        size_t done = 0;
        for (;;) {
            if (done == out.size()) {
                if (out.size() > maxBytes) break;
                out.resize(std::min<uint64_t>(maxBytes + 1, uint64_t(out.size()) * 2 + 4096));
            }
            ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ec = lastError();
                out.clear();
                return ec;
            }
            if (n == 0) break;
            done += size_t(n);
        }
        if (done > maxBytes) {
            out.clear();
            return std::make_error_code(std::errc::file_too_large);
        }
        out.resize(done);
    } catch (const std::bad_alloc&) {
        out.clear();
        return std::make_error_code(std::errc::not_enough_memory);
    }
    return {};
}

}  // namespace

const std::error_category& FileTypeErrorCategory() {
    static const FileTypeCategory category;
    return category;
}

std::error_code make_error_code(FileTypeError e) { return std::error_code(int(e), FileTypeErrorCategory()); }

std::error_code NotRegularFileError(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return std::make_error_code(std::errc::is_a_directory);
    if (S_ISFIFO(mode)) return FileTypeError::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileTypeError::Device;
    if (S_ISSOCK(mode)) return FileTypeError::Socket;
    return FileTypeError::Other;
}

int OpenRegularFile(const std::string& path, std::error_code& ec) {
    ec.clear();
    // Looking first keeps devices from being opened at all (opening some has
    // effects); the check on the open descriptor closes the gap in between.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        ec = lastError();
        return -1;
    }
    if ((ec = NotRegularFileError(st.st_mode))) return -1;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        ec = lastError();
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        ec = lastError();
    } else if (!(ec = NotRegularFileError(st.st_mode))) {
        int flags = ::fcntl(fd, F_GETFL);
        if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) ec = lastError();
    }
    if (ec) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::error_code ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& out) {
    return readInto(path, maxBytes, out);
}

std::error_code ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out) {
    return readInto(path, maxBytes, out);
}

std::string ReadErrorText(const std::error_code& ec) {
    return ec == std::errc::file_too_large ? std::string("file too large") : ec.message();
}

bool ReadFileBytes(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out, std::string* error) {
    std::error_code ec = ReadRegularFile(path, maxBytes, out);
    if (ec && error) *error = ReadErrorText(ec);
    return !ec;
}

bool FileExists(std::string path) {
    if (!path.empty() && path.back() == '/' && path.size() > 1) path.pop_back();
    if (path.empty()) return false;
    std::error_code ec;
    const int fd = OpenRegularFile(path, ec);  // never waits on a FIFO
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return std::string();
    if (cut == 0) return "/";
    return path.substr(0, cut);
}

}  // namespace tarnel
