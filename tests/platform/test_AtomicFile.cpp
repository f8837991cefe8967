#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/FileRead.h"
#include "platform/StaleTempFiles.h"
#include "support/TempLocks.h"
#include "support/Files.h"
#include "support/FileKinds.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::readText;
using test::TempDir;
using test::writeText;

size_t entriesIn(const fs::path& folder) {
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

fs::file_type typeOf(const std::string& path) { return fs::symlink_status(path).type(); }

// What is not a regular file stays what it was, and nothing is left beside it.
TEST(WriteFileAtomically, RefusesTargetsThatAreNotRegularFiles) {
    struct Case {
        const char* name;
        std::function<bool(const std::string&)> make;
        fs::file_type type;
    };
    const Case cases[] = {
        {"fifo", test::makeFifo, fs::file_type::fifo},
        {"folder", [](const std::string& p) { return fs::create_directory(p); }, fs::file_type::directory},
        {"socket", test::makeSocketFile, fs::file_type::socket},
        {"device", [](const std::string& p) { return test::makeCharDevice(p); }, fs::file_type::character},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string target = dir.file(c.name);
        if (!c.make(target)) {
            ASSERT_STREQ(c.name, "device") << "cannot make the " << c.name;
            continue;  // device nodes need privileges
        }
        std::error_code ec = WriteFileAtomically(target, "data", true);
        EXPECT_TRUE(ec) << c.name;
        EXPECT_EQ(typeOf(target), c.type) << c.name;
        EXPECT_EQ(entriesIn(dir.path()), 1u) << c.name;
        // A link to it is refused alike.
        fs::create_symlink(c.name, dir.file("link"));
        EXPECT_TRUE(WriteFileAtomically(dir.file("link"), "data", false)) << c.name;
        EXPECT_EQ(typeOf(target), c.type) << c.name;
        EXPECT_EQ(typeOf(dir.file("link")), fs::file_type::symlink) << c.name;
    }
}

TEST(WriteFileAtomically, NamesWhyATargetIsRefused) {
    TempDir dir;
    ASSERT_TRUE(test::makeFifo(dir.file("f")));
    std::error_code ec = WriteFileAtomically(dir.file("f"), "x", false);
    EXPECT_EQ(ec, make_error_code(FileTypeError::Fifo));
    EXPECT_EQ(ec.message(), "not a regular file (a FIFO)");
    EXPECT_EQ(WriteFileAtomically(dir.path().string(), "x", false), std::errc::is_a_directory);
}

TEST(WriteFileReplacing, WritesTheBytesOrGivesTheCause) {
    TempDir dir;
    const uint8_t bytes[] = {'a', 0, 'b'};
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(dir.file("out"), bytes, sizeof bytes, &error)) << error;
    EXPECT_EQ(readText(dir.file("out")), std::string("a\0b", 3));
    ASSERT_TRUE(test::makeFifo(dir.file("f")));
    EXPECT_FALSE(WriteFileReplacing(dir.file("f"), bytes, sizeof bytes, &error, true));
    EXPECT_EQ(error, "not a regular file (a FIFO)");
    EXPECT_FALSE(WriteFileReplacing(dir.file("no/out"), bytes, sizeof bytes, &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(entriesIn(dir.path()), 2u);
}

// A node like /dev/null, made here: the host's own devices are never written at.
TEST(WriteFileAtomically, ADeviceNodeStaysADevice) {
    TempDir dir;
    const std::string node = dir.file("null");
    const fs::file_type type = test::makeSpecialFile(node);
    ASSERT_NE(type, fs::file_type::none) << "cannot make a device node or a socket";
    struct stat before {};
    ASSERT_EQ(::lstat(node.c_str(), &before), 0);
    EXPECT_TRUE(WriteFileAtomically(node, "data", false));
    struct stat after {};
    ASSERT_EQ(::lstat(node.c_str(), &after), 0);
    EXPECT_EQ(typeOf(node), type);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the node was replaced";
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

// Links are written through: the link stays, its final target is replaced or created.
TEST(WriteFileAtomically, WritesThroughSymbolicLinks) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link -> target
        bool targetExists;
        std::string target;  // relative to the folder
    };
    const Case cases[] = {
        {"link to a file", {{"link.gif", "real.gif"}}, true, "real.gif"},
        {"dangling link", {{"link.gif", "new.gif"}}, false, "new.gif"},
        {"chain of links", {{"link.gif", "mid.gif"}, {"mid.gif", "sub/real.gif"}}, true, "sub/real.gif"},
        {"link into a folder", {{"link.gif", "sub/../sub/x.gif"}}, false, "sub/x.gif"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        fs::create_directory(dir.path() / "sub");
        if (c.targetExists) writeText(dir.path() / c.target, "stale");
        for (const auto& [link, to] : c.links) fs::create_symlink(to, dir.path() / link);
        ASSERT_FALSE(WriteFileAtomically(dir.file("link.gif"), "fresh", true)) << c.name;
        EXPECT_EQ(typeOf(dir.file("link.gif")), fs::file_type::symlink) << c.name;
        EXPECT_EQ(readText(dir.path() / c.target), "fresh") << c.name;
        EXPECT_EQ(typeOf((dir.path() / c.target).string()), fs::file_type::regular) << c.name;
    }
}

// A staged file shows only when committed; whatever is not committed goes.
TEST(StagedFile, AppearsOnlyWhenCommitted) {
    TempDir dir;
    const std::string target = dir.file("003.bmp");
    writeText(target, "old");
    {
        StagedFile file;
        ASSERT_FALSE(file.stage(target, "new", false));
        EXPECT_EQ(readText(target), "old");
        EXPECT_EQ(entriesIn(dir.path()), 2u);  // the target and the temporary file
        EXPECT_EQ(RemoveStaleTempFiles(dir.path().string()), 0u);  // still held
        StagedFile moved = std::move(file);
        EXPECT_FALSE(file.staged());
        ASSERT_FALSE(moved.commit());
        EXPECT_FALSE(moved.staged());
        EXPECT_TRUE(moved.commit());  // nothing left to commit
    }
    EXPECT_EQ(readText(target), "new");
    for (bool explicitly : {true, false}) {
        StagedFile file;
        ASSERT_FALSE(file.stage(target, "dropped", false));
        if (explicitly) file.discard();
        else file = StagedFile();
        EXPECT_EQ(entriesIn(dir.path()), 1u) << explicitly;
    }
    // A link made between the two steps is written through.
    StagedFile file;
    fs::remove(target);
    ASSERT_FALSE(file.stage(target, "through", false));
    writeText(dir.path() / "real.bmp", "x");
    fs::create_symlink("real.bmp", target);
    ASSERT_FALSE(file.commit());
    EXPECT_EQ(typeOf(target), fs::file_type::symlink);
    EXPECT_EQ(readText(dir.path() / "real.bmp"), "through");
}

TEST(WriteFileAtomically, LinkLoopIsRefused) {
    TempDir dir;
    fs::create_symlink("b", dir.path() / "a");
    fs::create_symlink("a", dir.path() / "b");
    EXPECT_EQ(WriteFileAtomically(dir.file("a"), "x", false), std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(entriesIn(dir.path()), 2u);
}

TEST(SyncFolder, ReportsAFolderThatIsNotThere) {
    TempDir dir;
    EXPECT_FALSE(SyncFolder(dir.path().string()));
    EXPECT_TRUE(SyncFolder(dir.file("missing")));
}

// Litter of a killed writer goes with the next write into the folder; what
// a live writer holds, here or in another process, and every name without
// the mark stay, whatever process ids they seem to carry.
TEST(WriteFileAtomically, RemovesOnlyMarkedFilesNobodyHolds) {
    TempDir dir;
    const std::string dead = std::to_string(test::deadProcessId());
    const std::string ownHeld = NewTempFileName(".mine.bmp", ""), otherHeld = NewTempFileName(".theirs.bmp", "");
    struct Case {
        std::string name;
        bool removed;
    };
    const Case cases[] = {
        {NewTempFileName(".000.bmp", ""), true},
        {NewTempFileName(".Tarnel.ini", ""), true},
        {NewTempFileName("AVI_Temp", ".bmp"), true},
        {ownHeld, false},
        {otherHeld, false},
        {".notes.txt.tmp-99999-1", false},  // the old names, now a user's
        {"Dumy.99998.bmp", false},
        {".important.tmp-4194000-7", false},
        {".000.bmp.tmp-" + dead + "-0", false},
        {"AVI_Temp." + dead + ".bmp", false},
        {".x.tarnel-tmp-0123456789abcde", false},   // one digit short
        {".x.tarnel-tmp-0123456789ABCDEF", false},  // not our digits
        {".x.tarnel-tmp-0123456789abcdef0", false},
        {"x.tarnel-tmp-0123456789abcdef.bmp", true},
    };
    for (const Case& c : cases) writeText(dir.path() / c.name, "litter");
    // Held in this process the way a writer holds it.
    const int mine = ::open(dir.file(ownHeld).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(mine, 0);
    ASSERT_EQ(::flock(mine, LOCK_EX), 0);
    test::ForeignLock theirs(dir.file(otherHeld));
    ASSERT_TRUE(theirs.held());
    const std::string folderName = NewTempFileName(".dir", ""), linkName = NewTempFileName(".link", "");
    fs::create_directory(dir.path() / folderName);  // only files are removed
    fs::create_symlink(cases[0].name, dir.path() / linkName);
    ASSERT_FALSE(WriteFileAtomically(dir.file("out.bmp"), "x", false));
    for (const Case& c : cases) EXPECT_EQ(fs::exists(dir.path() / c.name), !c.removed) << c.name;
    EXPECT_TRUE(fs::is_directory(dir.path() / folderName));
    EXPECT_TRUE(fs::is_symlink(dir.path() / linkName));
    ::close(mine);
}

}  // namespace
}  // namespace tarnel
