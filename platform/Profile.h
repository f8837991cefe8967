#pragma once
// Profile (INI) files, read and written with the semantics of the classic
// private-profile calls:
//  - "[section]" lines open sections, "key=value" lines hold values; names and
//    values are trimmed of blanks, and a value enclosed in a pair of matching
//    quotes loses them on reading;
//  - section and key names match without regard to ASCII letter case; the
//    first matching section and, in it, the first matching key count;
//  - a value read is cut at a buffer's size less one, in characters;
//  - writing creates the file and the section when they are missing, replaces
//    the first matching key or appends it to its section, and keeps every
//    other section, key, comment and blank line.
// Files are written in UTF-8. A file that is not valid UTF-8 is read as CP932
// (Shift-JIS as written on a Japanese Windows system); writing to it converts
// the whole file to UTF-8. Every write replaces the file atomically (a
// temporary file in the same folder, renamed into place), so a failure or a
// crash never leaves a half-written file.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/AtomicFile.h"

namespace tarnel {

inline constexpr size_t kProfileBufferSize = 256;  // 255 characters and the terminator

// The value of `key` in `section`, or `defaultValue` when the file, the section
// or the key is missing. At most bufferSize - 1 characters (code points) come
// back; longer values are cut. Never throws.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& fileName, size_t bufferSize = kProfileBufferSize);

// Sets `key` in `section` to `value`; with no value the key is removed. False
// when the file could not be written (the file is then unchanged) or when a
// name or the value cannot be stored in a profile line: an empty name, a line
// break anywhere, '=' in a key or ']' in a section name. Never throws.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, const std::string& fileName);


}  // namespace tarnel
