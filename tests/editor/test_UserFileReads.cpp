// Every reader of a path that a user or the program folder names: a FIFO, a
// device or a folder in place of the file is refused at once, never waited
// on, and never taken for an empty file.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/MeshFile.h"
#include "core/ProjectFile.h"
#include "core/Settings.h"
#include "editor/SourceImages.h"
#include "imaging/PictureIO.h"
#include "imaging/bmp/cDIB.h"
#include "imaging/gif/cGif.h"
#include "platform/FileRead.h"
#include "platform/Profile.h"
#include "platform/ProgramFolder.h"
#include "support/ScriptedDialogs.h"
#include "support/FileKinds.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

struct Reader {
    const char* name;
    std::function<bool(const std::string& path)> read;  // true when the read succeeded
};

const Reader kReaders[] = {
    {"ReadFileBytes", [](const std::string& p) { std::vector<uint8_t> b; return ReadFileBytes(p, kMaxPictureFile, b); }},
    {"LoadPicture", [](const std::string& p) { StdPicture pic; return bool(LoadPicture(p, pic)); }},
    {"cDIB::CreateFromFile", [](const std::string& p) { return cDIB().CreateFromFile(p); }},
    {"cGif::LoadFromFile", [](const std::string& p) { return cGif().LoadFromFile(p); }},
    {"LoadMeshFile", [](const std::string& p) { MeshFileData d; std::string e; return LoadMeshFile(p, d, e); }},
    {"LoadProjectFile", [](const std::string& p) { ProjectData d; std::string e; return LoadProjectFile(p, d, e); }},
    {"FileExists", [](const std::string& p) { return FileExists(p); }},
    {"GetPrivateProfileString", [](const std::string& p) { return GetPrivateProfileString("S", "k", "", p) != ""; }},
    {"WritePrivateProfileString", [](const std::string& p) { return WritePrivateProfileString("S", "k", "v", p); }},
};

TEST(UserFileReads, NothingButARegularFileIsRead) {
    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    const std::string fifo = dir.file("fifo.bmp");
    ASSERT_TRUE(test::makeFifo(fifo));
    // Devices that read as endless zeros and as an empty file, made here.
    const std::string zero = dir.file("zero.bmp"), null = dir.file("null.ini");
    const fs::file_type zeroType = test::makeSpecialFile(zero, 1, 5), nullType = test::makeSpecialFile(null, 1, 3);
    ASSERT_NE(zeroType, fs::file_type::none);
    ASSERT_NE(nullType, fs::file_type::none);
    const std::string paths[] = {fifo, zero, null, dir.path().string()};
    for (const Reader& reader : kReaders) {
        for (const std::string& path : paths) {
            bool read = true;
            EXPECT_TRUE(test::returnsWithoutWaitingOnFifo(fifo, [&] { read = reader.read(path); }))
                << reader.name << " waited on " << path;
            EXPECT_FALSE(read) << reader.name << " read " << path;
        }
    }
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
    EXPECT_EQ(fs::symlink_status(zero).type(), zeroType);
    EXPECT_EQ(fs::symlink_status(null).type(), nullType);
}

TEST(UserFileReads, SettingsFileThatIsAFifo) {
    test::TempDir dir;
    SetProgramFolderOverride(dir.path().string());
    const std::string ini = dir.file("Tarnel.ini");
    ASSERT_TRUE(test::makeFifo(ini));
    MorphSettings s;
    std::error_code loadError;
    bool saved = true;
    EXPECT_TRUE(test::returnsWithoutWaitingOnFifo(ini, [&] {
        loadError = LoadSettings(s);
        saved = SaveSettings(s, SettingsControls{});
    }));
    SetProgramFolderOverride("");
    EXPECT_TRUE(loadError);
    EXPECT_EQ(s.Rows, 5);  // the defaults
    EXPECT_FALSE(saved);
    EXPECT_EQ(fs::status(ini).type(), fs::file_type::fifo);
}

}  // namespace
}  // namespace tarnel
