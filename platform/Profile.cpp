#include "platform/Profile.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/FileRead.h"

namespace tarnel {

namespace {

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

struct SectionRange {
    size_t header = 0, end = 0;  // lines header+1 .. end-1 belong to the section
};

template <typename LineList, typename TextOf>
std::optional<SectionRange> findSection(const LineList& lines, TextOf textOf, std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionName(textOf(lines[i]));
        if (!name || !sameName(*name, section)) continue;
        size_t end = i + 1;
        while (end < lines.size() && !sectionName(textOf(lines[end]))) ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

template <typename LineList, typename TextOf>
std::optional<size_t> findKey(const LineList& lines, TextOf textOf, const SectionRange& range, std::string_view key) {
    for (size_t i = range.header + 1; i < range.end; ++i) {
        auto k = keyLine(textOf(lines[i]));
        if (k && sameName(k->name, key)) return i;
    }
    return std::nullopt;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool validNames(std::string_view section, std::string_view key, std::optional<std::string_view> value) {
    return !section.empty() && !key.empty() && !hasLineBreak(section) && !hasLineBreak(key) &&
           key.find('=') == std::string_view::npos && key.front() != ';' && key.front() != '[' &&
           section.find(']') == std::string_view::npos && !(value && hasLineBreak(*value));
}

}  // namespace

std::error_code ProfileDocument::load(const std::string& fileName) {
    lines_.clear();
    bom_ = crlf_ = modified_ = false;
    std::string bytes;
    if (std::error_code ec = ReadRegularFile(fileName, kMaxProfileBytes, bytes))
        return ec == std::errc::no_such_file_or_directory ? std::error_code() : ec;

    std::string_view view(bytes);
    if (view.substr(0, 3) == "\xEF\xBB\xBF") {
        bom_ = true;
        view.remove_prefix(3);
    }
    std::string converted;
    if (!validUtf8(view)) {
        converted = cp932ToUtf8(view);
        view = converted;
    }
    size_t start = 0;
    while (start < view.size()) {
        size_t end = view.find('\n', start);
        if (end == std::string_view::npos) end = view.size();
        Line line{std::string(view.substr(start, end - start)), false};
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.cr = crlf_ = true;
        }
        lines_.push_back(std::move(line));
        start = end + 1;
    }
    return {};
}

std::string ProfileDocument::get(std::string_view section, std::string_view key, std::string_view defaultValue,
                                 size_t bufferSize) const {
    if (bufferSize == 0) return std::string();
    section = trim(section);
    key = trim(key);
    std::string_view result = defaultValue;
    auto textOf = [](const Line& line) -> std::string_view { return line.text; };
    std::optional<KeyLine> found;
    if (auto range = findSection(lines_, textOf, section)) {
        if (auto line = findKey(lines_, textOf, *range, key)) found = keyLine(lines_[*line].text);
    }
    if (found && found->hasValue) {
        result = found->value;
        if (result.size() >= 2 && (result.front() == '"' || result.front() == '\'') && result.back() == result.front())
            result = result.substr(1, result.size() - 2);
    }
    if (!validUtf8(result)) return std::string(result.substr(0, bufferSize - 1));
    return std::string(firstCharacters(result, bufferSize - 1));
}

bool ProfileDocument::set(std::string_view section, std::string_view key, std::optional<std::string_view> value) {
    section = trim(section);
    key = trim(key);
    if (!validNames(section, key, value)) return false;
    auto textOf = [](const Line& line) -> std::string_view { return line.text; };
    auto newLine = [this](std::string text) { return Line{std::move(text), crlf_}; };

    auto range = findSection(lines_, textOf, section);
    if (!range) {
        if (!value) return true;
        modified_ = true;
        if (!lines_.empty() && !trim(lines_.back().text).empty()) lines_.push_back(newLine(""));
        std::string header(1, '[');
        header.append(section).push_back(']');
        lines_.push_back(newLine(std::move(header)));
        lines_.push_back(newLine(std::string(key) + "=" + std::string(*value)));
    } else if (auto line = findKey(lines_, textOf, *range, key)) {
        modified_ = true;
        if (value) {
            std::string storedName(keyLine(lines_[*line].text)->name);
            lines_[*line].text = storedName + "=" + std::string(*value);
        } else {
            lines_.erase(lines_.begin() + std::ptrdiff_t(*line));
        }
    } else {
        if (!value) return true;
        modified_ = true;
        size_t at = range->end;
        while (at > range->header + 1 && trim(lines_[at - 1].text).empty()) --at;
        lines_.insert(lines_.begin() + std::ptrdiff_t(at), newLine(std::string(key) + "=" + std::string(*value)));
    }
    return true;
}

std::string ProfileDocument::text() const {
    std::string out = bom_ ? "\xEF\xBB\xBF" : "";
    for (const Line& line : lines_) {
        out += line.text;
        out += line.cr ? "\r\n" : "\n";
    }
    return out;
}

std::error_code ProfileDocument::save(const std::string& fileName, bool sync) const {
    const std::string bytes = text();
    if (bytes.size() > kMaxProfileBytes) return std::make_error_code(std::errc::file_too_large);
    return WriteFileAtomically(fileName, bytes, sync);
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& fileName, size_t bufferSize) {
    ProfileDocument document;
    document.load(fileName);  // an unreadable file reads as an empty one
    return document.get(section, key, defaultValue, bufferSize);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, const std::string& fileName) {
    if (!validNames(trim(section), trim(key), value)) return false;
    ProfileDocument document;
    if (document.load(fileName)) return false;
    if (!document.set(section, key, value)) return false;
    return !document.modified() || !document.save(fileName, true);
}

}  // namespace tarnel
