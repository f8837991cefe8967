#include "support/AsNobody.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tarnel::test {

namespace {

bool dropToNobody() {
    if (::geteuid() != 0) return true;  // nothing to give up
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyId) != 0 || ::setuid(kNobodyId) != 0) return false;
    // A real drop cannot be undone.
    return ::geteuid() == kNobodyId && ::setuid(0) != 0;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

std::optional<std::string> RunAsNobody(const std::function<std::string()>& work) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    if (child == 0) {
        ::close(fds[0]);
        if (!dropToNobody()) ::_exit(3);
        ::_exit(writeAll(fds[1], work()) ? 0 : 4);
    }
    ::close(fds[1]);
    std::string report;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        report.append(buffer, size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return report;
}

void ShareWithNobody(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    auto share = [](const fs::path& p) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(p, ec);
        if (ec || fs::is_symlink(status)) return;
        fs::perms add = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
        if (fs::is_directory(status))
            add |= fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
        fs::permissions(p, add, fs::perm_options::add, ec);
    };
    share(path);
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec)))
        for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            share(it->path());
}

}  // namespace tarnel::test
