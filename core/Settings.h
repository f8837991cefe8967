#pragma once
// The settings file: the user's last choices, kept in "Tarnel.ini" in the
// program's folder, section "Section". Read once while the editor window
// loads, written once by the end command.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "platform/Colors.h"
#include "platform/gdi.h"

namespace tarnel {

inline constexpr const char* kSettingsFileName = "Tarnel.ini";
inline constexpr const char* kSettingsSection = "Section";

// The keys, in the order they are read and written.
inline constexpr std::array<const char*, 15> kSettingsKeys = {
    "総ﾌﾚｰﾑ数",      "行数",           "列数",           "ﾗｲﾝの色",     "ﾎﾟｲﾝﾀの色",
    "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅", "ﾄﾘﾐﾝｸﾞｻｲｽﾞ高さ", "ﾎﾟｲﾝﾀの大きさ", "画像ﾌｧｲﾙのﾊﾟｽ", "ﾌﾚｰﾑｲﾝﾀｰﾊﾞﾙ",
    "画像保存のﾊﾟｽ", "保存ﾌｧｲﾙの種類", "透過処理",       "AVIﾘﾋﾟｰﾄ1",   "AVIﾘﾋﾟｰﾄ2",
};

// Where a window that grows was left: its size and place when not maximised,
// and whether it was maximised. Kept in the section "Window" of the settings
// file ("left top width height maximised"); only for a window left elsewhere
// than where and as large as it first opens.
inline constexpr const char* kWindowSection = "Window";
struct WindowPlace {
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool maximised = false;
    bool operator==(const WindowPlace&) const = default;
};
std::string WindowPlaceText(const WindowPlace& place);
// Nothing for a text that is not five numbers with a size of at least one pixel.
std::optional<WindowPlace> ParseWindowPlace(const std::string& text);

// The animated GIF composer's choices, kept in the section "Composer" of the
// settings file once the composer has closed: its palette (画質), dither and
// optimisation combo positions and the width its imports are reduced to
// (0: the source's size).
inline constexpr const char* kComposerSection = "Composer";
struct ComposerChoices {
    int32_t Palette = 0;   // key "画質", 0..3
    int32_t Dither = 0;    // key "ﾃﾞｨｻﾞ", 0..2
    int32_t Optimize = 0;  // key "最適化", 0 standard, 1 max
    int32_t Width = 0;     // key "ｻｲｽﾞ", 0 or a width the composer offers
    bool operator==(const ComposerChoices&) const = default;
};

// The persisted settings, in the order they are read and written. All zero
// and empty until LoadSettings fills them.
struct MorphSettings {
    int32_t TotalFrames = 0;      // index of the last frame, 1..99 (the run writes TotalFrames + 1 frames)
    int32_t Rows = 0;             // mesh cells across the image, 1..40
    int32_t Columns = 0;          // mesh cells down the image, 1..40
    ColorRef LineColor = 0;       // mesh lines
    ColorRef PointerColor = 0;    // control-point markers
    int32_t TrimWidth = 0;        // 0 = not set
    int32_t TrimHeight = 0;       // 0 = not set
    int32_t PointerSize = 0;      // marker size, 1..15
    std::string ImageFolder;      // start folder of the open-image dialog
    int32_t FrameInterval = 0;    // viewer interval between frames, ms, 10..500
    std::string SaveFolder;       // the current frame folder, without a trailing separator
    int16_t SaveKind = 0;         // 0 BMP, 1 JPG, 2 GIF, 3 PNG
    int16_t Transparency = 0;     // 0 off, 1 on (GIF frames only)
    std::array<int16_t, 3> AviRepeat{};  // play counts 1..10; entry 0 is not persisted
    std::optional<WindowPlace> EditorPlace;    // section "Window", key "Editor"
    std::optional<WindowPlace> ComposerPlace;  // key "Composer"
    // Section "Composer"; nothing until the composer has been used.
    std::optional<ComposerChoices> Composer;
};

// The process-wide record, owned by the editor window's module and alive for
// the whole program.
MorphSettings& Settings();

// The ranges of the controls that mirror the numeric settings. A stored value
// outside its range is clamped into it on reading.
struct SettingRange {
    int32_t min, max;
};
inline constexpr SettingRange kTotalFramesRange{1, 99};  // VS_Frame 2..100 holds TotalFrames + 1
inline constexpr SettingRange kMeshCellsRange{1, 40};    // VS_Gyo, VS_Retu
inline constexpr SettingRange kPointerSizeRange{1, 15};  // VS_Point
inline constexpr SettingRange kFrameIntervalRange{10, 500};  // HS_Interval
inline constexpr SettingRange kSaveKindRange{0, 3};
inline constexpr SettingRange kTransparencyRange{0, 1};
inline constexpr SettingRange kAviRepeatRange{1, 10};  // VS_Repeat
// txt_w, txt_h: 0 is "not set"; no picture is wider or higher than a surface.
inline constexpr SettingRange kTrimSizeRange{0, kMaxSurfaceSide};
inline constexpr SettingRange kComposerPaletteRange{0, 3};
inline constexpr SettingRange kComposerDitherRange{0, 2};
inline constexpr SettingRange kComposerOptimizeRange{0, 1};
inline constexpr SettingRange kComposerWidthRange{0, kMaxSurfaceSide};

// Shown, with the path and the cause, when the settings file exists but
// cannot be read: the defaults are used and the file is left as it is.
inline constexpr const char* kSettingsReadFailedMessage = "設定ﾌｧｲﾙを読み込めません： ";

// The editor controls whose values SaveSettings stores (keys 1 to 8).
struct SettingsControls {
    int32_t VS_Frame = 10;                    // TotalFrames + 1
    int32_t VS_Gyo = 5;
    int32_t VS_Retu = 5;
    ColorRef lbl_C0_ForeColor = RGBColor(255, 0, 0);  // lbl_C(0): line colour
    ColorRef lbl_C1_ForeColor = RGBColor(0, 255, 0);  // lbl_C(1): marker colour
    std::string txt_w;                        // trimming width as typed
    std::string txt_h;                        // trimming height as typed
    int32_t VS_Point = 4;
};

// Program folder + "/Tarnel.ini", built afresh on every call.
std::string SettingsFilePath();

// One value of a profile file: at most 255 characters, cut at the first NUL;
// the empty string when the file, section or key is missing.
std::string ReadIniValue(const std::string& section, const std::string& key, const std::string& file);

// Writes one value; the file and the section are created when missing. Section
// and key names longer than 127 characters are cut. True when the file was
// written (callers of the settings ignore it).
bool WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file);

// Fills `settings` from the settings file, read once. A missing file, section
// or value gives the default (the folders: the program folder at that
// moment); a value that is not a number, or does not fit its field, leaves
// the field as it was; a value outside its control's range is clamped into it
// (a field left at an out-of-range value, such as 0 at start-up, is clamped
// as well). A file that exists but cannot be read (not a regular file, larger
// than kMaxProfileBytes, unreadable) gives all defaults and its error, for the
// caller to report. Never throws.
std::error_code LoadSettings(MorphSettings& settings);
inline std::error_code LoadSettings() { return LoadSettings(Settings()); }

// kSettingsReadFailedMessage, the file's path and the cause, for a message box.
std::string SettingsReadFailedText(const std::error_code& error);

// Writes the fifteen keys in order into the file as it is (other sections and
// keys kept), then the windows' places (a window without one loses its key), with one read and one atomic, synced write of the whole file:
// keys 1 to 8 from the controls (TrimWidth and TrimHeight are first set from
// the text boxes: their value when numeric, else 0; a numeric text too large
// for 32 bits leaves the field as it was), keys 9 to 15 from the fields.
// Numbers are written with a leading blank or minus sign. False, and the file
// untouched, when it cannot be read (as for LoadSettings) or written, or when
// the result would exceed kMaxProfileBytes; `error` then says why.
bool SaveSettings(MorphSettings& settings, const SettingsControls& controls, std::error_code* error = nullptr);
inline bool SaveSettings(const SettingsControls& controls) { return SaveSettings(Settings(), controls); }

}  // namespace tarnel
