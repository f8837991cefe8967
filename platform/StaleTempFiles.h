#pragma once
// Temporary files are ours beyond doubt: their names carry the mark
// ".tarnel-tmp-" and 16 hexadecimal digits (then the end of the name or an
// extension), which no user file has, and their writer holds an exclusive
// flock on them from creation until they are renamed into place or removed.
// A marked file nobody holds a lock on belongs to a writer that has ended
// (killed, crashed, or in another PID namespace: the lock does not care),
// and the next writer into that folder removes it. Nothing else is touched.
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

namespace tarnel {

inline constexpr std::string_view kTempMark = ".tarnel-tmp-";

// True for a file name (without folder) that carries the mark.
bool IsTempFileName(std::string_view name);

// `stem` + the mark with fresh random digits + `extension` (".bmp", or empty).
std::string NewTempFileName(std::string_view stem, std::string_view extension);

// The marked name this process uses for a fixed temporary `name` in `folder`
// ("AVI_Temp.bmp" -> "AVI_Temp.tarnel-tmp-<digits of this process>.bmp"):
// the same on every call within a process, distinct between processes.
std::string ProcessTempFilePath(const std::string& folder, std::string_view name);

// A temporary file held locked for its whole life: removed (then unlocked)
// by remove() or the destructor, or only unlocked by release() once it has
// been renamed into place. While the command line's interrupt guard runs
// (InstallInterruptCleanup), a SIGINT, SIGTERM or SIGHUP removes it too.
class LockedTempFile {
public:
    LockedTempFile() = default;
    ~LockedTempFile() { remove(); }
    LockedTempFile(const LockedTempFile&) = delete;
    LockedTempFile& operator=(const LockedTempFile&) = delete;
    LockedTempFile(LockedTempFile&& other) noexcept { *this = std::move(other); }
    LockedTempFile& operator=(LockedTempFile&& other) noexcept;

    // A new file `stem`+mark+`extension` in `folder` (O_CREAT|O_EXCL with
    // `flags` added, e.g. O_WRONLY), after removing the folder's stale
    // temporaries once for this process.
    std::error_code create(const std::string& folder, std::string_view stem, std::string_view extension, int flags);
    // `path` itself, created when missing and kept when there (a name
    // reused within a process, never held twice at once); read and write.
    // Stale temporaries of its folder are removed once for this process.
    std::error_code open(const std::string& path);

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool held() const { return fd_ >= 0; }
    void remove();
    void release();

private:
    std::error_code lockOpened(int fd, const std::string& path);
    int fd_ = -1;
    std::string path_;
};

// Removes the regular files in `folder` that carry the mark and that no
// writer holds; returns how many. Errors are skipped.
size_t RemoveStaleTempFiles(const std::string& folder);

// The same, at most once per folder for the life of this process, so that
// writers can call it on every write.
void RemoveStaleTempFilesOnce(const std::string& folder);

// For a command-line program, called first thing in main before any other
// thread starts: SIGINT, SIGTERM and SIGHUP are then taken by a thread of
// their own that removes every LockedTempFile still held and ends the
// process by the same signal.
void InstallInterruptCleanup();

}  // namespace tarnel
