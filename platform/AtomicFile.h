#pragma once
// Whole-file replacement that never leaves a half-written file behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/StaleTempFiles.h"

namespace tarnel {

// Writes `data` to a new temporary file beside the target and renames it into
// place. A symbolic link is written through: its final target is replaced and
// the link kept (a dangling link creates its target). A target that exists
// and is not a regular file (a directory, device, FIFO or socket) is refused
// (EISDIR, or a FileTypeError of platform/FileRead.h) and left alone.
// An existing file keeps its permissions; a new one is created with 0666 less
// the umask. With `sync` the data reach the disk before the rename, and the
// folder after it; a failed folder sync is reported although the new file is
// then in place. On any other failure the temporary file is removed and the
// target is left untouched. The temporary file is marked and locked as
// StaleTempFiles.h describes; stale ones in the target's folder are removed
// on the first write there.
std::error_code WriteFileAtomically(const std::string& path, std::string_view data, bool sync);
// The same with the cause as text (the system's message), for callers that
// only pass the reason on; the caller names the file.
bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size, std::string* error = nullptr,
                        bool sync = false);

// WriteFileAtomically in two steps, so the writing can happen on one thread
// and the renaming, in a chosen order, on another: stage() writes the
// temporary file, commit() renames it into place. A staged file that is never
// committed is removed by discard() or the destructor. Not shared between
// threads at once.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile() { discard(); }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    StagedFile(StagedFile&& other) noexcept { *this = std::move(other); }
    StagedFile& operator=(StagedFile&& other) noexcept;

    // Any earlier staged file is discarded first.
    std::error_code stage(const std::string& path, std::string_view data, bool sync);
    // Renames the staged file into place (the target is resolved again, so a
    // link made in between is still written through); an error when nothing is staged.
    std::error_code commit();
    void discard();
    bool staged() const { return temp_.held(); }

private:
    std::string path_, folder_;
    LockedTempFile temp_;
    bool sync_ = false;
};

// The file a write to `path` replaces: `path` itself, or the final target of
// the symbolic links it names (relative links resolved against their folder).
// An error for a target that exists and is not a regular file, or for a loop.
std::error_code ResolveWriteTarget(const std::string& path, std::string& target);

// Makes the entries of `folder` (files created, renamed or removed in it)
// durable. A file system that cannot sync folders is not an error.
std::error_code SyncFolder(const std::string& folder);

}  // namespace tarnel
