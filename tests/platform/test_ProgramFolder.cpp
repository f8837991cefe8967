#include "platform/ProgramFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Sets or removes an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ProgramFolderTest : public ::testing::Test {
protected:
    void TearDown() override { SetProgramFolderOverride(""); }
};

TEST_F(ProgramFolderTest, WithoutOverrideItIsTheExecutablesFolder) {
    ScopedEnv env("TARNEL_PROGRAM_FOLDER", nullptr);
    std::string exe = fs::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(ExecutableFolder(), exe);
    ASSERT_EQ(::access(exe.c_str(), W_OK), 0) << "the build folder is writable";
    EXPECT_EQ(ProgramFolder(), exe);
    EXPECT_EQ(ProgramFile("Tarnel.ini"), ProgramFolder() + "/Tarnel.ini");
}

TEST_F(ProgramFolderTest, OverrideBeatsEnvironmentAndIsCreated) {
    TempDir dir;
    std::string fromEnv = dir.file("env");
    std::string fromSetter = dir.file("set/deeper");
    ScopedEnv env("TARNEL_PROGRAM_FOLDER", fromEnv.c_str());
    EXPECT_EQ(ProgramFolder(), fromEnv);
    EXPECT_TRUE(fs::is_directory(fromEnv));
    SetProgramFolderOverride(fromSetter + "//");
    EXPECT_EQ(ProgramFolder(), fromSetter);  // no trailing separator
    EXPECT_TRUE(fs::is_directory(fromSetter));
    EXPECT_EQ(ProgramFile("Dumy.bmp"), fromSetter + "/Dumy.bmp");
    SetProgramFolderOverride("");
    EXPECT_EQ(ProgramFolder(), fromEnv);
}

TEST_F(ProgramFolderTest, RootFolderKeepsItsSeparator) {
    SetProgramFolderOverride("/");
    EXPECT_EQ(ProgramFolder(), "/");
    EXPECT_EQ(ProgramFile("Tarnel.ini"), "/Tarnel.ini");
}

TEST_F(ProgramFolderTest, UserDataFolderFollowsXdgRules) {
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/data/home/");
        EXPECT_EQ(UserDataFolder(), "/data/home/tarnel");
    }
    ScopedEnv home("HOME", "/home/someone");
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/path"}) {
        ScopedEnv xdg("XDG_DATA_HOME", value);
        EXPECT_EQ(UserDataFolder(), "/home/someone/.local/share/tarnel") << (value ? value : "(unset)");
    }
}

TEST_F(ProgramFolderTest, UnwritableExecutableFolderFallsBackToUserData) {
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", dir.path().c_str());
    std::string expected = dir.file("tarnel");
    EXPECT_EQ(ResolveProgramFolder(dir.file("does/not/exist")), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(ResolveProgramFolder(""), expected);
    EXPECT_EQ(ResolveProgramFolder(dir.path().string()), dir.path().string());
}

// An executable in PREFIX/bin with PREFIX/share/tarnel beside it is an
// installed one and keeps out of its own folder; any other writable folder
// (a build tree) stays the program folder.
TEST_F(ProgramFolderTest, InstalledExecutableUsesUserDataEvenWhenWritable) {
    struct Case {
        const char* name;
        const char* bin;
        const char* data;  // made beside it, or nullptr
        bool installed;
    } const cases[] = {
        {"build tree", "checkout/build", nullptr, false},
        {"prefix without data", "bare/bin", nullptr, false},
        {"installed prefix", "usr/bin", "usr/share/tarnel", true},
        {"data is a file", "odd/bin", "odd/share/tarnel", false},
    };
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", dir.file("xdg").c_str());
    for (const Case& c : cases) {
        const std::string bin = dir.file(c.bin);
        fs::create_directories(bin);
        if (c.data) {
            fs::create_directories(fs::path(dir.file(c.data)).parent_path());
            if (c.installed) fs::create_directory(dir.file(c.data));
            else std::ofstream(dir.file(c.data)) << "not a folder";
        }
        ASSERT_EQ(::access(bin.c_str(), W_OK), 0) << c.name;
        EXPECT_EQ(InstalledDataFolder(bin), c.installed ? dir.file(c.data) : "") << c.name;
        EXPECT_EQ(ResolveProgramFolder(bin), c.installed ? dir.file("xdg/tarnel") : bin) << c.name;
    }
}

}  // namespace
}  // namespace tarnel

TEST(ProgramFolder, ProcessTempPathIsThisProcesssOwn) {
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(tarnel::ProcessTempPath("/a/b", "AVI_Temp.bmp"), "/a/b/AVI_Temp." + pid + ".bmp");
    EXPECT_EQ(tarnel::ProcessTempPath("/a/b/", "Dumy.bmp"), "/a/b/Dumy." + pid + ".bmp");
    EXPECT_EQ(tarnel::ProcessTempPath("/", "temp"), "/temp." + pid);
}
