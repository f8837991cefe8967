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
// crash never leaves a half-written file. Only regular files are read or
// replaced: a FIFO is never waited on.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/AtomicFile.h"

namespace tarnel {

inline constexpr size_t kProfileBufferSize = 256;  // 255 characters and the terminator

// A settings file is small; anything far larger is not ours to load, and a
// write that would make a file larger is refused, so that we never write a
// file we would not read back.
inline constexpr size_t kMaxProfileBytes = size_t(16) << 20;

// A profile file parsed once, for reading and changing many keys with one
// read and one write. Lines keep their own line ends; new lines take the
// file's (CRLF when any line has one).
class ProfileDocument {
public:
    // Reads `fileName`. A missing file gives an empty document and no error;
    // a file that is not a regular file, larger than kMaxProfileBytes or
    // unreadable gives the error and an empty document.
    std::error_code load(const std::string& fileName);

    // The value as GetPrivateProfileString returns it.
    std::string get(std::string_view section, std::string_view key, std::string_view defaultValue,
                    size_t bufferSize = kProfileBufferSize) const;

    // The change WritePrivateProfileString makes, in memory; false (nothing
    // changed) for names or a value that a profile line cannot hold.
    bool set(std::string_view section, std::string_view key, std::optional<std::string_view> value);

    // True once set has changed a line since the last load.
    bool modified() const { return modified_; }

    std::string text() const;

    // Replaces the file atomically (AtomicFile.h); EFBIG, without writing,
    // when the text would exceed kMaxProfileBytes.
    std::error_code save(const std::string& fileName, bool sync) const;

private:
    struct Line {
        std::string text;
        bool cr = false;  // ended by CRLF
    };
    std::vector<Line> lines_;
    bool bom_ = false;
    bool crlf_ = false;
    bool modified_ = false;
};

// The value of `key` in `section`, or `defaultValue` when the file, the section
// or the key is missing. At most bufferSize - 1 characters (code points) come
// back; longer values are cut. Never throws.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& fileName, size_t bufferSize = kProfileBufferSize);

// Sets `key` in `section` to `value`; with no value the key is removed. False
// when the file could not be read or written (the file is then unchanged) or
// when a name or the value cannot be stored in a profile line: an empty name,
// a line break anywhere, '=' in a key or ']' in a section name. Never throws.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, const std::string& fileName);

}  // namespace tarnel
