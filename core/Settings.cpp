#include "core/Settings.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "platform/NumText.h"
#include "platform/Profile.h"
#include "platform/ProgramFolder.h"

namespace tarnel {

namespace {

// Fixed name buffers of 128 characters hold at most 127.
constexpr size_t kIniNameMax = 127;

std::string cutName(const std::string& name) {
    if (name.size() <= kIniNameMax) return name;
    size_t end = kIniNameMax;
    while (end > 0 && (uint8_t(name[end]) & 0xC0) == 0x80) --end;  // keep whole characters
    return name.substr(0, end);
}

// A value as ReadIniValue gives it: cut at the first NUL.
std::string readKey(const ProfileDocument& document, size_t index) {
    std::string value = document.get(kSettingsSection, cutName(kSettingsKeys[index]), "", kProfileBufferSize);
    size_t nul = value.find('\0');
    if (nul != std::string::npos) value.resize(nul);
    return value;
}

template <typename Int>
Int clampTo(Int value, std::optional<SettingRange> range) {
    if (!range) return value;
    return Int(std::clamp<int32_t>(value, range->min, range->max));
}

template <typename Int>
void loadNumber(const ProfileDocument& document, size_t index, Int& field, Int defaultValue,
                std::optional<SettingRange> range = std::nullopt) {
    std::string text = readKey(document, index);
    if (text.empty()) {
        field = defaultValue;
    } else {
        std::optional<Int> value;
        if constexpr (sizeof(Int) == 2) value = ToInt16(text);
        else value = ToInt32(text);
        if (value) field = *value;
    }
    field = clampTo(field, range);
}

void loadColor(const ProfileDocument& document, size_t index, ColorRef& field, ColorRef defaultValue) {
    int32_t value = int32_t(field);
    loadNumber(document, index, value, int32_t(defaultValue));
    field = ColorRef(value);
}

void loadFolder(const ProfileDocument& document, size_t index, std::string& field) {
    std::string text = readKey(document, index);
    field = text.empty() ? ProgramFolder() : text;
}

// The trimming boxes: the typed number when numeric, else 0; a number beyond
// 32 bits fails to convert and leaves the field as it was.
void takeTrimSize(const std::string& typed, int32_t& field) {
    if (!IsNumeric(typed)) {
        field = 0;
        return;
    }
    if (auto value = ToInt32(typed)) field = *value;
}

}  // namespace

std::string WindowPlaceText(const WindowPlace& p) {
    return std::to_string(p.left) + " " + std::to_string(p.top) + " " + std::to_string(p.width) + " " +
           std::to_string(p.height) + " " + (p.maximised ? "1" : "0");
}

std::optional<WindowPlace> ParseWindowPlace(const std::string& text) {
    std::array<int32_t, 5> n{};
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (size_t k = 0; k < n.size(); ++k) {
        while (at < end && *at == ' ') ++at;
        auto [next, ec] = std::from_chars(at, end, n[k]);
        if (ec != std::errc() || next == at) return std::nullopt;
        at = next;
    }
    while (at < end && *at == ' ') ++at;
    if (at != end) return std::nullopt;
    if (n[2] <= 0 || n[3] <= 0 || n[2] > kMaxSurfaceSide || n[3] > kMaxSurfaceSide || (n[4] != 0 && n[4] != 1))
        return std::nullopt;
    return WindowPlace{n[0], n[1], n[2], n[3], n[4] == 1};
}

MorphSettings& Settings() {
    static MorphSettings settings;
    return settings;
}

std::string SettingsFilePath() { return ProgramFile(kSettingsFileName); }

std::string ReadIniValue(const std::string& section, const std::string& key, const std::string& file) {
    std::string value = GetPrivateProfileString(cutName(section), cutName(key), "", file, kProfileBufferSize);
    size_t nul = value.find('\0');
    if (nul != std::string::npos) value.resize(nul);
    return value;
}

bool WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) {
    return WritePrivateProfileString(cutName(section), cutName(key), std::string_view(value), file);
}

namespace {

constexpr const char* kComposerKeys[4] = {"画質", "ﾃﾞｨｻﾞ", "最適化", "ｻｲｽﾞ"};

// The composer's choices when the section holds any of them; a missing or
// unreadable value is the default, one out of range is clamped.
void loadComposerChoices(ProfileDocument& d, std::optional<ComposerChoices>& out) {
    out.reset();
    ComposerChoices k;
    int32_t* fields[4] = {&k.Palette, &k.Dither, &k.Optimize, &k.Width};
    const SettingRange ranges[4] = {kComposerPaletteRange, kComposerDitherRange, kComposerOptimizeRange,
                                    kComposerWidthRange};
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        const std::string text = d.get(kComposerSection, kComposerKeys[i], "", kProfileBufferSize);
        if (text.empty()) continue;
        any = true;
        int64_t v = 0;
        const char* at = text.data();
        while (at < text.data() + text.size() && *at == ' ') ++at;
        auto [next, ec] = std::from_chars(at, text.data() + text.size(), v);
        if (ec != std::errc{} || next == at) continue;
        *fields[i] = int32_t(std::clamp<int64_t>(v, ranges[i].min, ranges[i].max));
    }
    if (any) out = k;
}

}  // namespace

std::error_code LoadSettings(MorphSettings& s) {
    ProfileDocument d;
    std::error_code error = d.load(SettingsFilePath());  // on error d is empty: every field gets its default
    loadNumber(d, 0, s.TotalFrames, 9, kTotalFramesRange);
    loadNumber(d, 1, s.Rows, 5, kMeshCellsRange);
    loadNumber(d, 2, s.Columns, 5, kMeshCellsRange);
    loadColor(d, 3, s.LineColor, RGBColor(255, 0, 0));
    loadColor(d, 4, s.PointerColor, RGBColor(0, 255, 0));
    loadNumber(d, 5, s.TrimWidth, 0, kTrimSizeRange);
    loadNumber(d, 6, s.TrimHeight, 0, kTrimSizeRange);
    loadNumber(d, 7, s.PointerSize, 4, kPointerSizeRange);
    loadFolder(d, 8, s.ImageFolder);
    loadNumber(d, 9, s.FrameInterval, 100, kFrameIntervalRange);
    loadFolder(d, 10, s.SaveFolder);
    loadNumber<int16_t>(d, 11, s.SaveKind, 0, kSaveKindRange);
    loadNumber<int16_t>(d, 12, s.Transparency, 0, kTransparencyRange);
    loadNumber<int16_t>(d, 13, s.AviRepeat[1], 5, kAviRepeatRange);
    loadNumber<int16_t>(d, 14, s.AviRepeat[2], 5, kAviRepeatRange);
    s.EditorPlace = ParseWindowPlace(d.get(kWindowSection, "Editor", "", kProfileBufferSize));
    s.ComposerPlace = ParseWindowPlace(d.get(kWindowSection, "Composer", "", kProfileBufferSize));
    loadComposerChoices(d, s.Composer);
    return error;
}

std::string SettingsReadFailedText(const std::error_code& error) {
    const std::string cause = error == std::errc::file_too_large
                                  ? "larger than " + std::to_string(kMaxProfileBytes >> 20) + " MiB"
                                  : error.message();
    return kSettingsReadFailedMessage + SettingsFilePath() + "\n(" + cause + ")";
}

bool SaveSettings(MorphSettings& s, const SettingsControls& c, std::error_code* error) {
    takeTrimSize(c.txt_w, s.TrimWidth);
    takeTrimSize(c.txt_h, s.TrimHeight);
    auto number = [](int64_t v) { return SignedNumberText(v); };
    const std::string values[15] = {
        number(int64_t(c.VS_Frame) - 1),
        number(c.VS_Gyo),
        number(c.VS_Retu),
        number(int32_t(c.lbl_C0_ForeColor)),
        number(int32_t(c.lbl_C1_ForeColor)),
        number(s.TrimWidth),
        number(s.TrimHeight),
        number(c.VS_Point),
        s.ImageFolder,
        number(s.FrameInterval),
        s.SaveFolder,
        number(s.SaveKind),
        number(s.Transparency),
        number(s.AviRepeat[1]),
        number(s.AviRepeat[2]),
    };
    // One read, one write: a failure or a kill never leaves some keys old
    // and some new, and a file we cannot read is never overwritten.
    const std::string path = SettingsFilePath();
    ProfileDocument document;
    std::error_code ec = document.load(path);
    if (!ec) {
        bool all = true;
        for (size_t i = 0; i < kSettingsKeys.size(); ++i)
            all = document.set(kSettingsSection, cutName(kSettingsKeys[i]), values[i]) && all;
        const std::pair<const char*, const std::optional<WindowPlace>*> places[] = {{"Editor", &s.EditorPlace},
                                                                                    {"Composer", &s.ComposerPlace}};
        for (const auto& [key, place] : places) {
            if (*place)
                all = document.set(kWindowSection, key, WindowPlaceText(**place)) && all;
            else if (!document.get(kWindowSection, key, "", kProfileBufferSize).empty())
                document.set(kWindowSection, key, std::nullopt);
        }
        if (s.Composer) {
            const ComposerChoices& k = *s.Composer;
            const std::pair<const char*, int32_t> choices[] = {
                {kComposerKeys[0], k.Palette}, {kComposerKeys[1], k.Dither},
                {kComposerKeys[2], k.Optimize}, {kComposerKeys[3], k.Width}};
            for (const auto& [key, value] : choices)
                all = document.set(kComposerSection, key, number(value)) && all;
        }
        ec = document.save(path, true);
        if (!ec && !all) ec = std::make_error_code(std::errc::invalid_argument);
    }
    if (error) *error = ec;
    return !ec;
}

}  // namespace tarnel
