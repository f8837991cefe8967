// tarnel-cli morph, run as a program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "imaging/PictureIO.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/FileKinds.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
const auto shellQuoted = test::ShellQuote;

class CliMorph : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::CliPath().empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
        StdPicture a = test::makePicture(24, 16, [](int x, int y) { return uint32_t(x * 10) << 8 | uint32_t(y * 10); });
        StdPicture b = test::makePicture(24, 16, [](int x, int y) { return uint32_t(y * 10) << 16 | uint32_t(x * 10); });
        ASSERT_TRUE(SavePictureBMP(a, start));
        ASSERT_TRUE(SavePictureBMP(b, end));
    }
    test::CliResult morph(const std::string& args) {
        return test::RunCli(test::CliPath(), "morph " + args, dir.path().string());
    }
    static size_t occurrences(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }

    test::TempDir dir;
    const std::string start = dir.file("start.bmp"), end = dir.file("end.bmp");
};

// Each message names its file once, with the real cause.
TEST_F(CliMorph, FailuresNameTheFileOnceWithTheCause) {
    ASSERT_TRUE(test::makeFifo(dir.file("fifo.bmp")));
    struct Case {
        std::string args, file, cause;
    };
    const Case cases[] = {
        {shellQuoted(dir.file("missing.bmp")) + " " + shellQuoted(end), dir.file("missing.bmp"),
         "No such file or directory"},
        {shellQuoted(dir.file("fifo.bmp")) + " " + shellQuoted(end), dir.file("fifo.bmp"), "a FIFO"},
        {shellQuoted(start) + " " + shellQuoted(end) + " --mesh " + shellQuoted(dir.file("none.json")) + " --out " +
             shellQuoted(dir.file("out")),
         dir.file("none.json"), "No such file or directory"},
    };
    for (const Case& c : cases) {
        test::CliResult r;
        ASSERT_TRUE(test::returnsWithoutWaitingOnFifo(dir.file("fifo.bmp"), [&] { r = morph(c.args); })) << c.args;
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(occurrences(r.err, c.file), 1u) << r.err;
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
    }
}

TEST_F(CliMorph, OutFolderThatCannotBeMadeGivesTheRealCause) {
    // sysfs refuses new folders to everyone, root included.
    if (!fs::is_directory("/sys/kernel")) GTEST_SKIP() << "no sysfs";
    test::CliResult r = morph(shellQuoted(start) + " " + shellQuoted(end) + " --out /sys/kernel/tarnel-out/x");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/sys/kernel/tarnel-out/x"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("No such file"), std::string::npos) << r.err;
}

// Two JPG runs at once into one folder: each has its own temporary BMP.
TEST_F(CliMorph, ConcurrentJpgRunsInOneFolderBothSucceed) {
    const std::string out = dir.file("runs");
    std::ostringstream command;
    for (int i = 0; i < 4; ++i) {
        command << "(" << shellQuoted(test::CliPath()) << " morph " << shellQuoted(start) << " " << shellQuoted(end)
                << " --kind jpg --frames 20 --out " << shellQuoted(out) << " >/dev/null 2>"
                << shellQuoted(dir.file("err" + std::to_string(i))) << "; echo $? >"
                << shellQuoted(dir.file("status" + std::to_string(i))) << ") & ";
    }
    command << "wait";
    ASSERT_EQ(std::system(command.str().c_str()), 0);
    size_t folders = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
        ASSERT_TRUE(entry.is_directory()) << entry.path();  // no temporary file left
        EXPECT_EQ(std::distance(fs::directory_iterator(entry.path()), fs::directory_iterator()), 20) << entry.path();
        ++folders;
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(test::readText(dir.file("status" + std::to_string(i))), "0\n")
            << test::readText(dir.file("err" + std::to_string(i)));
    }
    EXPECT_EQ(folders, 4u);
}

}  // namespace
}  // namespace tarnel
