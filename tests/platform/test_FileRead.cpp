#include "platform/FileRead.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/Files.h"
#include "support/FileKinds.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(FileRead, ReadsRegularFilesAndFollowsLinks) {
    TempDir dir;
    test::writeText(dir.path() / "a.txt", "content");
    fs::create_symlink("a.txt", dir.path() / "link");
    std::string text;
    EXPECT_FALSE(ReadRegularFile(dir.file("a.txt"), 100, text));
    EXPECT_EQ(text, "content");
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(ReadRegularFile(dir.file("link"), 7, bytes));
    EXPECT_EQ(bytes, std::vector<uint8_t>({'c', 'o', 'n', 't', 'e', 'n', 't'}));
    EXPECT_FALSE(ReadRegularFile(dir.file("a.txt"), 100, text));
    test::writeText(dir.path() / "empty", "");
    EXPECT_FALSE(ReadRegularFile(dir.file("empty"), 0, text));
    EXPECT_EQ(text, "");
}

// Each refusal comes back at once with its reason; none of them blocks.
TEST(FileRead, RefusesWhatIsNotARegularFile) {
    TempDir dir;
    ASSERT_TRUE(test::makeFifo(dir.file("fifo")));
    ASSERT_TRUE(test::makeSocketFile(dir.file("socket")));
    test::writeText(dir.path() / "big", std::string(101, 'x'));
    struct Case {
        std::string path;
        std::error_code expected;
    };
    const Case cases[] = {
        {dir.file("fifo"), FileTypeError::Fifo},
        {dir.file("socket"), FileTypeError::Socket},
        {"/dev/zero", FileTypeError::Device},  // endless data
        {dir.path().string(), std::make_error_code(std::errc::is_a_directory)},
        {dir.file("missing"), std::make_error_code(std::errc::no_such_file_or_directory)},
        {dir.file("big"), std::make_error_code(std::errc::file_too_large)},
    };
    for (const Case& c : cases) {
        std::string text = "old";
        std::error_code ec;
        ASSERT_TRUE(test::returnsWithoutWaitingOnFifo(dir.file("fifo"), [&] { ec = ReadRegularFile(c.path, 100, text); }))
            << c.path;
        EXPECT_EQ(ec, c.expected) << c.path << ": " << ec.message();
        EXPECT_EQ(text, "") << c.path;
        int fd = OpenRegularFile(c.path, ec);
        EXPECT_EQ(fd < 0, c.path != dir.file("big")) << c.path;
        if (fd >= 0) ::close(fd);
    }
}

// The text form gives the cause only, under the caller's own cap.
TEST(FileRead, ReadFileBytesGivesTheCauseAsText) {
    TempDir dir;
    ASSERT_TRUE(test::makeFifo(dir.file("fifo")));
    test::writeText(dir.path() / "ten", std::string(10, 'x'));
    struct Case { std::string path; uint64_t cap; const char* error; };
    const Case cases[] = {
        {dir.file("ten"), 10, ""},
        {dir.file("ten"), 9, "file too large"},
        {dir.file("fifo"), 100, "not a regular file (a FIFO)"},
        {dir.file("missing"), 100, "No such file or directory"},
        {dir.path().string(), 100, "Is a directory"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes{1, 2};
        std::string error = "untouched";
        bool read = false;
        ASSERT_TRUE(test::returnsWithoutWaitingOnFifo(dir.file("fifo"),
                                                      [&] { read = ReadFileBytes(c.path, c.cap, bytes, &error); }))
            << c.path;
        EXPECT_EQ(read, *c.error == 0) << c.path << " " << c.cap;
        EXPECT_EQ(read ? std::string() : error, c.error) << c.path << " " << c.cap;
        EXPECT_EQ(bytes.size(), read ? 10u : 0u) << c.path << " " << c.cap;
    }
}

TEST(FileRead, ReasonsReadWell) {
    EXPECT_EQ(std::error_code(FileTypeError::Fifo).message(), "not a regular file (a FIFO)");
    EXPECT_EQ(std::error_code(FileTypeError::Device).message(), "not a regular file (a device)");
    EXPECT_EQ(std::error_code(FileTypeError::Socket).message(), "not a regular file (a socket)");
}

}  // namespace
}  // namespace tarnel
