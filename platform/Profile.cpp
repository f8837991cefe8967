#include "platform/Profile.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <vector>

namespace tarnel {

namespace {

// A settings file is small; anything far larger is not ours to load.
constexpr size_t kMaxProfileBytes = size_t(16) << 20;

// ------------------------------------------------------------- encodings

bool validUtf8(std::string_view s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned c = uint8_t(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07;
        else return false;
        if (n - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            unsigned t = uint8_t(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

// Bytes that cannot be decoded become U+FFFD, one per byte.
std::string cp932ToUtf8(std::string_view in) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == iconv_t(-1)) {
        for (char c : in) out += (uint8_t(c) < 0x80) ? std::string(1, c) : std::string("\xEF\xBF\xBD");
        return out;
    }
    std::vector<char> buffer(4096);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer.data(), size_t(dst - buffer.data()));
        if (r == size_t(-1) && errno != E2BIG) {
            out += "\xEF\xBF\xBD";
            ++src;
            --srcLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

// The first `count` code points of valid UTF-8 text.
std::string_view firstCharacters(std::string_view s, size_t count) {
    size_t i = 0;
    for (size_t seen = 0; i < s.size(); ++i) {
        if ((uint8_t(s[i]) & 0xC0) == 0x80) continue;
        if (seen == count) break;
        ++seen;
    }
    return s.substr(0, i);
}

// ------------------------------------------------------------- lines

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::optional<std::string_view> sectionName(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    size_t close = line.rfind(']');
    if (close == std::string_view::npos || close == 0) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view name, value;
    bool hasValue = false;  // a line without '=' names a key that has no value
};

std::optional<KeyLine> keyLine(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '[') return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return KeyLine{line, {}, false};
    return KeyLine{trim(line.substr(0, eq)), trim(line.substr(eq + 1)), true};
}

struct ProfileText {
    std::vector<std::string> lines;
    bool bom = false;
    bool crlf = false;
};

enum class LoadResult { Loaded, Missing, Failed };

LoadResult loadProfile(const std::string& path, ProfileText& text) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > kMaxProfileBytes) {
        ::close(fd);
        return LoadResult::Failed;
    }
    std::string bytes;
    char chunk[8192];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || bytes.size() + size_t(got) > kMaxProfileBytes) {
            ::close(fd);
            return LoadResult::Failed;
        }
        if (got == 0) break;
        bytes.append(chunk, size_t(got));
    }
    ::close(fd);

    std::string_view view(bytes);
    if (view.substr(0, 3) == "\xEF\xBB\xBF") {
        text.bom = true;
        view.remove_prefix(3);
    }
    std::string utf8 = validUtf8(view) ? std::string(view) : cp932ToUtf8(view);

    size_t start = 0;
    while (start < utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos) end = utf8.size();
        std::string line = utf8.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            text.crlf = true;
        }
        text.lines.push_back(std::move(line));
        start = end + 1;
    }
    return LoadResult::Loaded;
}

std::string serialise(const ProfileText& text) {
    std::string out = text.bom ? "\xEF\xBB\xBF" : "";
    const char* eol = text.crlf ? "\r\n" : "\n";
    for (const std::string& line : text.lines) {
        out += line;
        out += eol;
    }
    return out;
}

struct SectionRange {
    size_t header = 0, end = 0;  // lines header+1 .. end-1 belong to the section
};

std::optional<SectionRange> findSection(const ProfileText& text, std::string_view section) {
    for (size_t i = 0; i < text.lines.size(); ++i) {
        auto name = sectionName(text.lines[i]);
        if (!name || !sameName(*name, section)) continue;
        size_t end = i + 1;
        while (end < text.lines.size() && !sectionName(text.lines[end])) ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> findKey(const ProfileText& text, const SectionRange& range, std::string_view key) {
    for (size_t i = range.header + 1; i < range.end; ++i) {
        auto k = keyLine(text.lines[i]);
        if (k && sameName(k->name, key)) return i;
    }
    return std::nullopt;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& fileName, size_t bufferSize) {
    if (bufferSize == 0) return std::string();
    section = trim(section);
    key = trim(key);
    std::string_view result = defaultValue;
    ProfileText text;
    std::optional<KeyLine> found;
    if (loadProfile(fileName, text) == LoadResult::Loaded) {
        if (auto range = findSection(text, section)) {
            if (auto line = findKey(text, *range, key)) found = keyLine(text.lines[*line]);
        }
    }
    if (found && found->hasValue) {
        result = found->value;
        if (result.size() >= 2 && (result.front() == '"' || result.front() == '\'') && result.back() == result.front())
            result = result.substr(1, result.size() - 2);
    }
    if (!validUtf8(result)) return std::string(result.substr(0, bufferSize - 1));
    return std::string(firstCharacters(result, bufferSize - 1));
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, const std::string& fileName) {
    section = trim(section);
    key = trim(key);
    if (section.empty() || key.empty() || hasLineBreak(section) || hasLineBreak(key) ||
        key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[' ||
        section.find(']') != std::string_view::npos || (value && hasLineBreak(*value)))
        return false;

    ProfileText text;
    LoadResult loaded = loadProfile(fileName, text);
    if (loaded == LoadResult::Failed) return false;

    auto range = findSection(text, section);
    if (!range) {
        if (!value) return true;
        if (!text.lines.empty() && !trim(text.lines.back()).empty()) text.lines.emplace_back();
        std::string header(1, '[');
        header.append(section).push_back(']');
        text.lines.push_back(std::move(header));
        text.lines.push_back(std::string(key) + "=" + std::string(*value));
    } else if (auto line = findKey(text, *range, key)) {
        if (value) {
            std::string storedName(keyLine(text.lines[*line])->name);
            text.lines[*line] = storedName + "=" + std::string(*value);
        } else {
            text.lines.erase(text.lines.begin() + std::ptrdiff_t(*line));
        }
    } else {
        if (!value) return true;
        size_t at = range->end;
        while (at > range->header + 1 && trim(text.lines[at - 1]).empty()) --at;
        text.lines.insert(text.lines.begin() + std::ptrdiff_t(at), std::string(key) + "=" + std::string(*value));
    }
    return !WriteFileAtomically(fileName, serialise(text), true);
}

}  // namespace tarnel
