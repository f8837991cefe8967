#include "core/Settings.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/Profile.h"
#include "platform/ProgramFolder.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

using test::readText;
using test::writeText;

// Each test gets its own program folder.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolderOverride(dir.path().string()); }
    void TearDown() override { SetProgramFolderOverride(""); }

    std::string iniPath() const { return dir.file("Tarnel.ini"); }
    void writeIni(const std::string& body) { writeText(iniPath(), "[Section]\n" + body); }
    MorphSettings loaded() {
        MorphSettings s;
        LoadSettings(s);
        return s;
    }

    test::TempDir dir;
};

TEST_F(SettingsTest, FileIsTarnelIniInTheProgramFolder) {
    EXPECT_EQ(SettingsFilePath(), dir.path().string() + "/Tarnel.ini");
}

TEST_F(SettingsTest, FirstStartGivesTheDefaults) {
    MorphSettings s = loaded();
    EXPECT_EQ(s.TotalFrames, 9);
    EXPECT_EQ(s.Rows, 5);
    EXPECT_EQ(s.Columns, 5);
    EXPECT_EQ(s.LineColor, RGBColor(255, 0, 0));
    EXPECT_EQ(s.PointerColor, RGBColor(0, 255, 0));
    EXPECT_EQ(s.TrimWidth, 0);
    EXPECT_EQ(s.TrimHeight, 0);
    EXPECT_EQ(s.PointerSize, 4);
    EXPECT_EQ(s.ImageFolder, dir.path().string());
    EXPECT_EQ(s.FrameInterval, 100);
    EXPECT_EQ(s.SaveFolder, dir.path().string());
    EXPECT_EQ(s.SaveKind, 0);
    EXPECT_EQ(s.Transparency, 0);
    EXPECT_EQ(s.AviRepeat[0], 0);
    EXPECT_EQ(s.AviRepeat[1], 5);
    EXPECT_EQ(s.AviRepeat[2], 5);
    EXPECT_FALSE(fs::exists(iniPath()));  // reading never creates the file
}

TEST_F(SettingsTest, EmptyValuesGiveTheDefaults) {
    writeIni("総ﾌﾚｰﾑ数=\n行数=   \n画像ﾌｧｲﾙのﾊﾟｽ=\n");
    MorphSettings s;
    s.TotalFrames = 50;
    s.Rows = 7;
    s.ImageFolder = "/elsewhere";
    LoadSettings(s);
    EXPECT_EQ(s.TotalFrames, 9);
    EXPECT_EQ(s.Rows, 5);
    EXPECT_EQ(s.ImageFolder, dir.path().string());
}

TEST_F(SettingsTest, SavedFileHoldsTheFifteenKeysInOrder) {
    MorphSettings s = loaded();
    SettingsControls c;  // the controls as a first start shows them
    ASSERT_TRUE(SaveSettings(s, c));
    const std::string folder = dir.path().string();
    EXPECT_EQ(readText(iniPath()),
              "[Section]\n"
              "総ﾌﾚｰﾑ数= 9\n"
              "行数= 5\n"
              "列数= 5\n"
              "ﾗｲﾝの色= 255\n"
              "ﾎﾟｲﾝﾀの色= 65280\n"
              "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 0\n"
              "ﾄﾘﾐﾝｸﾞｻｲｽﾞ高さ= 0\n"
              "ﾎﾟｲﾝﾀの大きさ= 4\n"
              "画像ﾌｧｲﾙのﾊﾟｽ=" + folder + "\n"
              "ﾌﾚｰﾑｲﾝﾀｰﾊﾞﾙ= 100\n"
              "画像保存のﾊﾟｽ=" + folder + "\n"
              "保存ﾌｧｲﾙの種類= 0\n"
              "透過処理= 0\n"
              "AVIﾘﾋﾟｰﾄ1= 5\n"
              "AVIﾘﾋﾟｰﾄ2= 5\n");
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(SettingsTest, RoundTripOfChangedValues) {
    MorphSettings s = loaded();
    s.ImageFolder = "/pictures/写真 2024";
    s.SaveFolder = "/frames/20261206-09-05-07";
    s.FrameInterval = 250;
    s.SaveKind = 2;
    s.Transparency = 1;
    s.AviRepeat = {3, 7, 10};
    SettingsControls c;
    c.VS_Frame = 13;
    c.VS_Gyo = 8;
    c.VS_Retu = 3;
    c.lbl_C0_ForeColor = RGBColor(1, 2, 3);
    c.lbl_C1_ForeColor = 0x80000005u;  // a system colour is written as a negative Long
    c.txt_w = "320";
    c.txt_h = " 240 ";
    c.VS_Point = 15;
    ASSERT_TRUE(SaveSettings(s, c));
    EXPECT_NE(readText(iniPath()).find("ﾎﾟｲﾝﾀの色=-2147483643\n"), std::string::npos);

    MorphSettings r = loaded();
    EXPECT_EQ(r.TotalFrames, 12);
    EXPECT_EQ(r.Rows, 8);
    EXPECT_EQ(r.Columns, 3);
    EXPECT_EQ(r.LineColor, RGBColor(1, 2, 3));
    EXPECT_EQ(r.PointerColor, 0x80000005u);
    EXPECT_EQ(r.TrimWidth, 320);
    EXPECT_EQ(r.TrimHeight, 240);
    EXPECT_EQ(r.PointerSize, 15);
    EXPECT_EQ(r.ImageFolder, s.ImageFolder);
    EXPECT_EQ(r.FrameInterval, 250);
    EXPECT_EQ(r.SaveFolder, s.SaveFolder);
    EXPECT_EQ(r.SaveKind, 2);
    EXPECT_EQ(r.Transparency, 1);
    EXPECT_EQ(r.AviRepeat[0], 0);  // entry 0 is not persisted
    EXPECT_EQ(r.AviRepeat[1], 7);
    EXPECT_EQ(r.AviRepeat[2], 10);
}

TEST_F(SettingsTest, TwelveFramesInTheFileGiveTwelve) {
    writeIni("総ﾌﾚｰﾑ数= 12\n");
    EXPECT_EQ(loaded().TotalFrames, 12);  // the frame spinner shows 13
}

TEST_F(SettingsTest, NonNumericOrOverflowingValuesKeepTheOldValue) {
    writeIni("行数=abc\nﾄﾘﾐﾝｸﾞｻｲｽﾞ幅=12px\nﾗｲﾝの色=4294967295\n保存ﾌｧｲﾙの種類=40000\nﾌﾚｰﾑｲﾝﾀｰﾊﾞﾙ=1e400\n");
    MorphSettings s;
    s.Rows = 7;
    s.TrimWidth = 33;
    s.LineColor = RGBColor(9, 9, 9);
    s.SaveKind = 1;
    s.FrameInterval = 300;
    LoadSettings(s);
    EXPECT_EQ(s.Rows, 7);
    EXPECT_EQ(s.TrimWidth, 33);
    EXPECT_EQ(s.LineColor, RGBColor(9, 9, 9));
    EXPECT_EQ(s.SaveKind, 1);
    EXPECT_EQ(s.FrameInterval, 300);
    // The other keys are still read.
    EXPECT_EQ(s.Columns, 5);
    EXPECT_EQ(s.AviRepeat[2], 5);
}

TEST_F(SettingsTest, FailedConversionAtStartUpIsClampedIntoRange) {
    // The field would stay 0 at start-up, which no mesh or spinner accepts.
    writeIni("行数=abc\n列数=x\nﾎﾟｲﾝﾀの大きさ=?\nﾄﾘﾐﾝｸﾞｻｲｽﾞ幅=wide\n");
    MorphSettings s = loaded();
    EXPECT_EQ(s.Rows, 1);
    EXPECT_EQ(s.Columns, 1);
    EXPECT_EQ(s.PointerSize, 1);
    EXPECT_EQ(s.TrimWidth, 0);
}

struct ClampCase {
    const char* line;
    int32_t MorphSettings::*field;
    int32_t expected;
};

TEST_F(SettingsTest, OutOfRangeValuesAreClamped) {
    const ClampCase cases[] = {
        {"総ﾌﾚｰﾑ数=150", &MorphSettings::TotalFrames, 99},
        {"総ﾌﾚｰﾑ数=0", &MorphSettings::TotalFrames, 1},
        {"行数=-3", &MorphSettings::Rows, 1},
        {"行数=41", &MorphSettings::Rows, 40},
        {"列数=1000", &MorphSettings::Columns, 40},
        {"ﾎﾟｲﾝﾀの大きさ=16", &MorphSettings::PointerSize, 15},
        {"ﾌﾚｰﾑｲﾝﾀｰﾊﾞﾙ=5", &MorphSettings::FrameInterval, 10},
        {"ﾌﾚｰﾑｲﾝﾀｰﾊﾞﾙ=501", &MorphSettings::FrameInterval, 500},
        // The trimming boxes: 0 is "not set", no picture is larger than 32767.
        {"ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅=-20", &MorphSettings::TrimWidth, 0},
        {"ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅=32767", &MorphSettings::TrimWidth, 32767},
        {"ﾄﾘﾐﾝｸﾞｻｲｽﾞ高さ=99999", &MorphSettings::TrimHeight, 32767},
        {"ﾄﾘﾐﾝｸﾞｻｲｽﾞ高さ=-2147483648", &MorphSettings::TrimHeight, 0},
    };
    for (const auto& c : cases) {
        writeIni(std::string(c.line) + "\n");
        EXPECT_EQ(loaded().*c.field, c.expected) << c.line;
    }
    writeIni("保存ﾌｧｲﾙの種類=7\n透過処理=-1\nAVIﾘﾋﾟｰﾄ1=0\nAVIﾘﾋﾟｰﾄ2=11\n");
    MorphSettings s = loaded();
    EXPECT_EQ(s.SaveKind, 3);  // the last kind, PNG
    EXPECT_EQ(s.Transparency, 0);
    EXPECT_EQ(s.AviRepeat[1], 1);
    EXPECT_EQ(s.AviRepeat[2], 10);
}

TEST_F(SettingsTest, FractionsRoundHalfToEven) {
    writeIni("行数=2.5\n列数=3.5\nﾎﾟｲﾝﾀの大きさ= 6.5 \n透過処理=0.5\n");
    MorphSettings s = loaded();
    EXPECT_EQ(s.Rows, 2);
    EXPECT_EQ(s.Columns, 4);
    EXPECT_EQ(s.PointerSize, 6);
    EXPECT_EQ(s.Transparency, 0);
}

TEST_F(SettingsTest, TrimmingBoxesAreTakenOverOnSaving) {
    struct Case {
        const char* typed;
        int32_t before, after;
        const char* written;
    };
    const Case cases[] = {
        {"abc", 50, 0, "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 0\n"},
        {"", 50, 0, "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 0\n"},
        {"120.5", 0, 120, "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 120\n"},
        {" 77 ", 0, 77, "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 77\n"},
        {"-4", 0, -4, "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅=-4\n"},
        {"1e20", 50, 50, "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 50\n"},  // numeric, but beyond 32 bits
    };
    for (const auto& c : cases) {
        MorphSettings s = loaded();
        s.TrimWidth = c.before;
        SettingsControls controls;
        controls.txt_w = c.typed;
        ASSERT_TRUE(SaveSettings(s, controls));
        EXPECT_EQ(s.TrimWidth, c.after) << c.typed;
        EXPECT_NE(readText(iniPath()).find(c.written), std::string::npos) << c.typed;
    }
}

TEST_F(SettingsTest, OtherSectionsAndKeysSurviveSaving) {
    writeText(iniPath(), "[Window]\nx=10\n\n[Section]\n行数= 9\nExtra=keep me\n");
    MorphSettings s = loaded();
    EXPECT_EQ(s.Rows, 9);
    ASSERT_TRUE(SaveSettings(s, SettingsControls{}));
    std::string text = readText(iniPath());
    EXPECT_EQ(text.rfind("[Window]\nx=10\n\n[Section]\n行数= 5\nExtra=keep me\n総ﾌﾚｰﾑ数= 9\n", 0), 0u) << text;
    EXPECT_NE(text.find("AVIﾘﾋﾟｰﾄ2= 5\n"), std::string::npos);
}

TEST_F(SettingsTest, ReadsASettingsFileFromWindows) {
    // "総ﾌﾚｰﾑ数= 20", "ﾎﾟｲﾝﾀの大きさ= 7" and a folder, in CP932 with CRLF line ends.
    writeText(iniPath(),
             "[Section]\r\n"
             "\x91\x8D\xCC\xDA\xB0\xD1\x90\x94= 20\r\n"
             "\xCE\xDF\xB2\xDD\xC0\x82\xCC\x91\xE5\x82\xAB\x82\xB3= 7\r\n"
             "\x89\xE6\x91\x9C\xCC\xA7\xB2\xD9\x82\xCC\xCA\xDF\xBD=C:\\\x95\x5C\x8E\xA6\r\n");
    MorphSettings s = loaded();
    EXPECT_EQ(s.TotalFrames, 20);
    EXPECT_EQ(s.PointerSize, 7);
    EXPECT_EQ(s.ImageFolder, "C:\\表示");
}

TEST_F(SettingsTest, LongFolderValuesComeBackCut) {
    MorphSettings s = loaded();
    s.SaveFolder = "/" + std::string(299, 'f');
    ASSERT_TRUE(SaveSettings(s, SettingsControls{}));
    EXPECT_EQ(loaded().SaveFolder, s.SaveFolder.substr(0, 255));
}

TEST_F(SettingsTest, IniValueHelpers) {
    writeText(iniPath(), std::string("[Section]\nnul=ab\0cd\n", 20));
    EXPECT_EQ(ReadIniValue("Section", "nul", iniPath()), "ab");
    EXPECT_EQ(ReadIniValue("Section", "missing", iniPath()), "");
    // Names are passed through 128-character buffers.
    std::string longKey(200, 'k');
    ASSERT_TRUE(WriteIniValue("Section", longKey, "v", iniPath()));
    EXPECT_NE(readText(iniPath()).find("\n" + std::string(127, 'k') + "=v\n"), std::string::npos);
    EXPECT_EQ(ReadIniValue("Section", std::string(127, 'k'), iniPath()), "v");
    EXPECT_EQ(ReadIniValue("Section", longKey, iniPath()), "v");
}

TEST_F(SettingsTest, WriteFailuresAreReportedButNeverThrow) {
    // The program folder is a file, so nothing can be written beneath it.
    std::string blocker = dir.file("blocker");
    writeText(blocker, "x");
    SetProgramFolderOverride(blocker);
    MorphSettings s;
    EXPECT_NO_THROW(LoadSettings(s));
    EXPECT_EQ(s.Rows, 5);
    EXPECT_FALSE(SaveSettings(s, SettingsControls{}));
}

TEST_F(SettingsTest, FailedSaveLeavesTheOldFile) {
    writeIni("行数= 9\n");
    const std::string before = readText(iniPath());
    MorphSettings s = loaded();
    bool saved;
    {
        // Writes beyond 16 bytes fail, as on a full disk: every rewrite of the
        // file is longer than that.
        test::FileSizeLimit limit(16);
        saved = SaveSettings(s, SettingsControls{});
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(readText(iniPath()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(SettingsTest, ProcessWideRecord) {
    Settings() = MorphSettings{};
    LoadSettings();
    EXPECT_EQ(Settings().TotalFrames, 9);
    Settings().SaveKind = 2;
    SettingsControls c;
    c.VS_Gyo = 12;
    ASSERT_TRUE(SaveSettings(c));
    Settings() = MorphSettings{};
    LoadSettings();
    EXPECT_EQ(Settings().SaveKind, 2);
    EXPECT_EQ(Settings().Rows, 12);
}

// How often a file in `folder` named `name` is opened while `action` runs.
size_t opensDuring(const fs::path& folder, const std::string& name, const std::function<void()>& action) {
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return size_t(-1);
    inotify_add_watch(fd, folder.c_str(), IN_OPEN);
    action();
    size_t opens = 0;
    alignas(inotify_event) char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        for (char* p = buffer; p < buffer + got;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            if (event->len > 0 && name == event->name) ++opens;
            p += sizeof(inotify_event) + event->len;
        }
    }
    ::close(fd);
    return opens;
}

TEST_F(SettingsTest, LoadAndSaveReadTheFileOnceEach) {
    writeIni("行数= 9\n");
    MorphSettings s;
    EXPECT_EQ(opensDuring(dir.path(), "Tarnel.ini", [&] { LoadSettings(s); }), 1u);
    EXPECT_EQ(s.Rows, 9);
    EXPECT_EQ(opensDuring(dir.path(), "Tarnel.ini", [&] { SaveSettings(s, SettingsControls{}); }), 1u);
}

// A save that fails part-way leaves the whole old file, never some keys new.
TEST_F(SettingsTest, SaveIsOneWriteOfTheWholeFile) {
    writeIni("行数= 9\n");
    const std::string before = readText(iniPath());
    MorphSettings s = loaded();
    bool saved;
    {
        // Room for a few more keys, not for all fifteen.
        test::FileSizeLimit limit(120);
        saved = SaveSettings(s, SettingsControls{});
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(readText(iniPath()), before);
}

TEST_F(SettingsTest, OversizedFileIsReportedAndLeftAlone) {
    writeIni("行数= 9\n");
    fs::resize_file(iniPath(), kMaxProfileBytes + 1);
    MorphSettings s;
    std::error_code error = LoadSettings(s);
    EXPECT_EQ(error, std::errc::file_too_large);
    EXPECT_EQ(s.Rows, 5);  // the defaults
    const std::string text = SettingsReadFailedText(error);
    EXPECT_EQ(text.rfind(kSettingsReadFailedMessage, 0), 0u) << text;
    EXPECT_NE(text.find(iniPath()), std::string::npos) << text;
    std::error_code saveError;
    EXPECT_FALSE(SaveSettings(s, SettingsControls{}, &saveError));
    EXPECT_EQ(saveError, std::errc::file_too_large);
    EXPECT_EQ(fs::file_size(iniPath()), kMaxProfileBytes + 1);
}

TEST_F(SettingsTest, MissingFileIsNoError) {
    MorphSettings s;
    EXPECT_FALSE(LoadSettings(s));
    std::error_code error = std::make_error_code(std::errc::io_error);
    EXPECT_TRUE(SaveSettings(s, SettingsControls{}, &error));
    EXPECT_FALSE(error);
}

// A save never makes a file that the next start could not read.
TEST_F(SettingsTest, SaveThatWouldOutgrowTheReaderIsRefused) {
    // Half-width katakana in CP932 take one byte each and three in UTF-8.
    const size_t katakana = kMaxProfileBytes / 2;
    writeText(iniPath(), "[Section]\n;" + std::string(katakana, '\xB1') + "\n");
    const std::string before = readText(iniPath());
    MorphSettings s;
    ASSERT_FALSE(LoadSettings(s));
    std::error_code error;
    EXPECT_FALSE(SaveSettings(s, SettingsControls{}, &error));
    EXPECT_EQ(error, std::errc::file_too_large);
    EXPECT_TRUE(readText(iniPath()) == before);
    EXPECT_FALSE(LoadSettings(s));
}

TEST_F(SettingsTest, LineEndsOfOtherLinesAreKept) {
    writeText(iniPath(), "[Section]\r\n行数= 9\r\n[Other]\nx=1\n");
    MorphSettings s = loaded();
    ASSERT_TRUE(SaveSettings(s, SettingsControls{}));
    const std::string text = readText(iniPath());
    EXPECT_EQ(text.rfind("[Section]\r\n行数= 5\r\n総ﾌﾚｰﾑ数= 9\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\r\n[Other]\nx=1\n"), std::string::npos) << text;
}

// The windows' places: five numbers, a size of at least a pixel; anything
// else is no place. Written only for a window that has one, and a key whose
// window no longer has one goes.
TEST_F(SettingsTest, WindowPlacesAreReadWrittenAndDropped) {
    const struct {
        const char* text;
        std::optional<WindowPlace> place;
    } cases[] = {
        {"10 20 800 600 0", WindowPlace{10, 20, 800, 600, false}},
        {" -5 -7 1000 700 1 ", WindowPlace{-5, -7, 1000, 700, true}},
        {"10 20 800 600", std::nullopt},     {"10 20 0 600 0", std::nullopt},
        {"10 20 800 600 2", std::nullopt},   {"10 20 800x 600 0", std::nullopt},
        {"10 20 99999 600 0", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseWindowPlace(c.text), c.place) << c.text;

    MorphSettings s = loaded();
    EXPECT_FALSE(s.EditorPlace);
    ASSERT_TRUE(SaveSettings(s, SettingsControls{}));
    EXPECT_EQ(readText(iniPath()).find("[Window]"), std::string::npos);  // nothing to remember, nothing written
    s.EditorPlace = WindowPlace{-5, 40, 1200, 800, true};
    s.ComposerPlace = WindowPlace{30, 40, 700, 500, false};
    ASSERT_TRUE(SaveSettings(s, SettingsControls{}));
    EXPECT_EQ(ReadIniValue(kWindowSection, "Editor", iniPath()), "-5 40 1200 800 1");
    MorphSettings back = loaded();
    EXPECT_EQ(back.EditorPlace, s.EditorPlace);
    EXPECT_EQ(back.ComposerPlace, s.ComposerPlace);
    s.EditorPlace.reset();
    ASSERT_TRUE(SaveSettings(s, SettingsControls{}));
    EXPECT_FALSE(loaded().EditorPlace);
    EXPECT_EQ(loaded().ComposerPlace, s.ComposerPlace);
}

}  // namespace
}  // namespace tarnel
