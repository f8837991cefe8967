// The settings reader over an arbitrary Tarnel.ini (UTF-8 or CP932): the
// profile lookups of every section and key the file names, the numeric text
// rules on every value found, the settings load and a save that reads back
// to the same settings, and one profile write that reads back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "core/Settings.h"
#include "platform/NumText.h"
#include "platform/Profile.h"
#include "platform/ProgramFolder.h"

using namespace tarnel;
using tarnel::fuzz::check;

namespace {

// Lookups go to the file parsed once; one per execution goes through the
// file-reading call as well and must agree with it.
constexpr size_t kMaxNamesTried = 4;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

size_t characters(std::string_view s) {
    size_t n = 0;
    for (char c : s) n += (uint8_t(c) & 0xC0) != 0x80;
    return n;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned c = uint8_t(s[i]);
        size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (len == 0 || s.size() - i < len) return false;
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (uint8_t(s[i + k]) & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

bool isQuoted(std::string_view s) { return s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front(); }

// Sections and keys as the file spells them, in file order (raw bytes: the
// lookups must cope with names that are not valid in any encoding).
struct Names {
    std::vector<std::string> sections, keys;
};

Names namesIn(std::string_view file) {
    Names names;
    while (!file.empty()) {
        size_t end = file.find('\n');
        std::string_view line = trimmed(file.substr(0, end));
        file = end == std::string_view::npos ? std::string_view() : file.substr(end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            size_t close = line.rfind(']');
            if (close != std::string_view::npos && close > 0 && names.sections.size() < kMaxNamesTried)
                names.sections.emplace_back(trimmed(line.substr(1, close - 1)));
        } else if (names.keys.size() < kMaxNamesTried) {
            names.keys.emplace_back(trimmed(line.substr(0, line.find('='))));
        }
    }
    if (names.sections.empty()) names.sections.emplace_back(kSettingsSection);
    return names;
}

void checkNumericText(std::string_view text) {
    const bool numeric = IsNumeric(text);
    const auto value = NumericValue(text);
    check(numeric == value.has_value());
    const auto as32 = ToInt32(text);
    const auto as16 = ToInt16(text);
    if (as32 || as16) check(numeric);
    // Hexadecimal and octal texts are bit patterns of the target width; the
    // rest convert by rounding the value.
    if (numeric && text.find('&') == std::string_view::npos) {
        check(as32 == RoundToInt32(*value));
        check(as16 == RoundToInt16(*value));
    }
}

void checkNumberFormats(const uint8_t* data, size_t size) {
    if (size < 8) return;
    int32_t value = int32_t(uint32_t(data[0]) | (uint32_t(data[1]) << 8) | (uint32_t(data[2]) << 16) |
                            (uint32_t(data[3]) << 24));
    check(ToInt32(SignedNumberText(value)) == value);
    std::string pattern;
    for (int bit = 0; bit < (data[4] & 15); ++bit) pattern += (data[5] >> (bit & 7)) & 1 ? '0' : '#';
    const std::string formatted = FormatNumber(value, pattern);
    if (formatted.empty()) {
        check(value == 0 && pattern.find('0') == std::string::npos);
    } else {
        check(ToInt32(formatted) == value);
    }
}

// A folder read back after a save. A value cut at a NUL may end in blanks,
// and a value that is still quoted after reading loses its quotes again:
// both are how profile values read, not losses of the save.
bool sameFolder(const std::string& loaded, const std::string& reloaded) {
    const std::string_view trimmedLoaded = trimmed(loaded);
    return loaded == reloaded || (trimmedLoaded != loaded && trimmedLoaded == reloaded) || isQuoted(trimmedLoaded);
}

bool sameSettings(const MorphSettings& a, const MorphSettings& b) {
    return a.TotalFrames == b.TotalFrames && a.Rows == b.Rows && a.Columns == b.Columns &&
           a.LineColor == b.LineColor && a.PointerColor == b.PointerColor && a.TrimWidth == b.TrimWidth &&
           a.TrimHeight == b.TrimHeight && a.PointerSize == b.PointerSize && a.FrameInterval == b.FrameInterval &&
           a.SaveKind == b.SaveKind && a.Transparency == b.Transparency && a.AviRepeat == b.AviRepeat &&
           sameFolder(a.ImageFolder, b.ImageFolder) && sameFolder(a.SaveFolder, b.SaveFolder);
}

bool inRange(int32_t value, SettingRange range) { return value >= range.min && value <= range.max; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::ScratchFolder scratch("profile");
    static const bool overridden = (SetProgramFolderOverride(scratch.path()), true);
    (void)overridden;
    const std::string ini = SettingsFilePath();
    check(fuzz::writeWholeFile(ini, data, size));
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const size_t bufferSize = size % 300;

    const Names names = namesIn(file);
    ProfileDocument document;
    const bool parsed = !document.load(ini);
    size_t lookup = 0;
    const size_t throughFile = size % (names.sections.size() * std::max<size_t>(names.keys.size(), 1));
    for (const std::string& section : names.sections) {
        for (const std::string& key : names.keys) {
            const std::string value = document.get(section, key, "-", bufferSize);
            if (lookup++ == throughFile) check(!parsed || GetPrivateProfileString(section, key, "-", ini, bufferSize) == value);
            check(bufferSize == 0 ? value.empty() : characters(value) <= bufferSize - 1);
            checkNumericText(value);
        }
    }
    checkNumberFormats(data, size);

    MorphSettings loaded;
    LoadSettings(loaded);
    check(inRange(loaded.TotalFrames, kTotalFramesRange) && inRange(loaded.Rows, kMeshCellsRange) &&
          inRange(loaded.Columns, kMeshCellsRange) && inRange(loaded.PointerSize, kPointerSizeRange) &&
          inRange(loaded.FrameInterval, kFrameIntervalRange) && inRange(loaded.SaveKind, kSaveKindRange) &&
          inRange(loaded.Transparency, kTransparencyRange) && inRange(loaded.AviRepeat[1], kAviRepeatRange) &&
          inRange(loaded.AviRepeat[2], kAviRepeatRange));
    check(!loaded.ImageFolder.empty() && !loaded.SaveFolder.empty());
    for (size_t i = 0; i < kSettingsKeys.size(); ++i) {
        // ReadIniValue's rule (cut at a NUL) over the parsed file; one key a
        // run through the call itself.
        std::string value = document.get(kSettingsSection, kSettingsKeys[i], "", kProfileBufferSize);
        value.resize(std::min(value.size(), value.find('\0')));
        if (i == size % kSettingsKeys.size()) check(!parsed || ReadIniValue(kSettingsSection, kSettingsKeys[i], ini) == value);
        check(characters(value) <= kProfileBufferSize - 1 && value.find('\0') == std::string::npos);
    }

    // What was loaded saves and loads back unchanged. A value that cannot be
    // written keeps the old one in the file, which reads back the same.
    MorphSettings saved = loaded;
    SettingsControls controls;
    controls.VS_Frame = loaded.TotalFrames + 1;
    controls.VS_Gyo = loaded.Rows;
    controls.VS_Retu = loaded.Columns;
    controls.lbl_C0_ForeColor = loaded.LineColor;
    controls.lbl_C1_ForeColor = loaded.PointerColor;
    controls.txt_w = std::to_string(loaded.TrimWidth);
    controls.txt_h = std::to_string(loaded.TrimHeight);
    controls.VS_Point = loaded.PointerSize;
    SaveSettings(saved, controls);
    MorphSettings reloaded;
    LoadSettings(reloaded);
    check(sameSettings(loaded, reloaded));

    // One more write: the file's first section and key, the file's last line as
    // the value; when stored, it reads back as written.
    const std::string_view lastLine = file.substr(file.rfind('\n') == std::string_view::npos ? 0 : file.rfind('\n') + 1);
    const std::string section = names.sections.front();
    const std::string key = names.keys.empty() ? std::string(kSettingsKeys[size % kSettingsKeys.size()])
                                               : names.keys.front();
    if (WritePrivateProfileString(section, key, lastLine, ini) && lastLine == trimmed(lastLine) && !isQuoted(lastLine)) {
        const std::string back = GetPrivateProfileString(section, key, "", ini, lastLine.size() + 2);
        // A file that is not valid UTF-8 afterwards is read as CP932, which
        // changes the text; only a file that is all UTF-8 can be compared.
        std::ifstream written(ini, std::ios::binary);
        const std::string whole((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
        if (validUtf8(whole)) check(back == lastLine);
    }
    return 0;
}
