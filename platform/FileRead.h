#pragma once
// Reading whole files that a user or the program folder names. Only regular
// files are read: a FIFO would block the open for ever, a device can yield
// endless data, and a directory or socket is no file at all. Errors carry the
// cause only; the caller names the file.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace tarnel {

// Why a path is not a regular file. EISDIR stands for a directory and EFBIG
// for a file above a reader's cap (both from the generic category).
enum class FileTypeError {
    Fifo = 1,
    Device,
    Socket,
    Other,
};

const std::error_category& FileTypeErrorCategory();
std::error_code make_error_code(FileTypeError e);

// Empty for a regular file, else the reason (the file type of `mode`).
std::error_code NotRegularFileError(mode_t mode);

// Opens `path` for reading when it names a regular file, following symbolic
// links. Never blocks: FIFOs and devices are refused before they are opened,
// and the open itself does not wait either. Returns the descriptor (close on
// exec), or -1 with `ec` set.
int OpenRegularFile(const std::string& path, std::error_code& ec);

// The whole content of a regular file of at most `maxBytes` bytes. A larger
// file, or one that grows past the cap while it is read, gives EFBIG. On any
// failure `out` is empty.
std::error_code ReadRegularFile(const std::string& path, uint64_t maxBytes, std::string& out);
std::error_code ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out);

// ReadRegularFile with the cause as text ("file too large" for EFBIG, else
// the system's message), for callers that only pass the reason on.
bool ReadFileBytes(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out,
                   std::string* error = nullptr);
std::string ReadErrorText(const std::error_code& ec);

// True when the file is a regular file that can be opened for reading (one
// trailing separator is ignored); false for a missing file, a folder, a FIFO
// or device, or an unreadable file.
bool FileExists(std::string path);
// The path up to its last separator, without that separator ("/a/b.bmp"
// gives "/a"); a file in the root folder gives "/".
std::string FolderOf(const std::string& path);

}  // namespace tarnel

template <>
struct std::is_error_code_enum<tarnel::FileTypeError> : std::true_type {};
