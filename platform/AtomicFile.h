#pragma once
// Whole-file replacement that never leaves a half-written file behind.
#include <string>
#include <string_view>
#include <system_error>

namespace tarnel {

// Writes `data` to a new temporary file beside `path` and renames it into
// place. An existing file keeps its permissions; a new one is created with
// 0666 less the umask. With `sync` the data reach the disk before the rename.
// On failure the temporary file is removed and `path` is left untouched.
std::error_code WriteFileAtomically(const std::string& path, std::string_view data, bool sync);

}  // namespace tarnel
