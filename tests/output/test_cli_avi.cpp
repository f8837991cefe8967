// tarnel-cli avi, run as a program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "imaging/PictureIO.h"
#include "support/Cli.h"
#include "support/FFprobe.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/RiffReader.h"
#include "support/TempDir.h"
#include "support/TempLocks.h"

using namespace tarnel;
using test::ShellQuote;
namespace fs = std::filesystem;

namespace {

class CliAvi : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = test::CliPath();
        if (cli_.empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
        fs::create_directory(dir_.path() / "program");
        fs::create_directory(dir_.path() / "frames");
    }
    // The program folder is ours, so the temporary BMP can be looked for.
    test::CliResult run(const std::string& args) {
        return test::RunCli(cli_, "avi " + args, dir_.path().string(),
                            "TARNEL_PROGRAM_FOLDER=" + ShellQuote(dir_.file("program")));
    }
    void addFrames(int count, int w, int h) {
        for (int n = 0; n < count; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "%03d.bmp", n);
            ASSERT_TRUE(SavePictureBMP(test::solidPicture(w, h, uint32_t(n * 0x101010)), frames(name)));
        }
    }
    std::string frames(const std::string& name = "") { return (dir_.path() / "frames" / name).string(); }
    std::string out() { return dir_.file("out.avi"); }

    test::TempDir dir_;
    std::string cli_;
};

}  // namespace

TEST_F(CliAvi, WritesTheFolderAtTheFirstImagesSize) {
    addFrames(5, 24, 16);
    test::CliResult r = run(ShellQuote(frames()) + " " + ShellQuote(out()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out() + ": 5 frames, 24x16, 20 fp/s, raw\n");
    test::AviContents avi;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(test::readFile(out()), avi, error)) << error;
    EXPECT_EQ(avi.main.totalFrames, 5u);
    EXPECT_EQ(avi.format.width, 24);
    EXPECT_EQ(avi.format.height, 16);
    EXPECT_EQ(avi.stream.rate, 20u);
    EXPECT_TRUE(fs::is_empty(dir_.path() / "program")) << "the temporary BMP is deleted";
}

TEST_F(CliAvi, SizeRateAndCodecOptions) {
    if (!test::HaveFFprobe()) GTEST_SKIP() << "ffprobe is not installed";
    addFrames(3, 24, 16);
    test::CliResult r =
        run(ShellQuote(frames()) + " " + ShellQuote(out()) + " --fps 60 --size 48x32 --codec mjpeg --quality 90");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out() + ": 3 frames, 48x32, 30 fp/s, mjpeg\n");
    test::ProbedVideo v = test::ProbeVideo(out());
    EXPECT_EQ(v.codec, "mjpeg");
    EXPECT_EQ(v.width, 48);
    EXPECT_EQ(v.height, 32);
    EXPECT_EQ(v.frames, 3);
    EXPECT_EQ(v.frameRate, "30/1");
}

TEST_F(CliAvi, FailuresExitOneWithoutAFile) {
    // Empty folder.
    test::CliResult r = run(ShellQuote(frames()) + " " + ShellQuote(out()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no images"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(out()));

    // An unreadable image in the middle.
    addFrames(3, 8, 8);
    test::writeText(frames("001.bmp"), "not a picture");
    r = run(ShellQuote(frames()) + " " + ShellQuote(out()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("001.bmp"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(out()));
    EXPECT_TRUE(fs::is_empty(dir_.path() / "program"));
}

TEST_F(CliAvi, BadArgumentsExitTwo) {
    addFrames(1, 8, 8);
    const std::string base = ShellQuote(frames()) + " " + ShellQuote(out());
    for (const std::string& args :
         {ShellQuote(frames()), base + " --fps x", base + " --size 0x5", base + " --size 10", base + " --codec divx",
          base + " --quality 0", base + " --quality 101", base + " --frobnicate 1", base + " --fps"}) {
        test::CliResult r = run(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
    }
    EXPECT_FALSE(fs::exists(out()));
}

// A run stopped by a signal takes its temporaries with it; one killed outright
// leaves them for the next run to remove. The run is held at its first
// progress bar (a stopped terminal), where both temporaries exist.
TEST_F(CliAvi, InterruptedRunsLeaveNoTemporaries) {
    addFrames(3, 8, 8);
    const std::string program = dir_.file("program");
    for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
        int terminal = -1;
        const pid_t child = test::startOnStoppedTerminal(cli_, {"avi", frames(), out()},
                                                       {"TARNEL_PROGRAM_FOLDER=" + program}, terminal);
        ASSERT_GT(child, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (test::markedFiles(dir_.path().string()).empty() || test::markedFiles(program).empty()) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(child, SIGKILL);
                test::waitFor(child);
                FAIL() << "the run never made its temporaries (signal " << signal << ")";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(child, signal);
        const int status = test::waitFor(child);
        ::close(terminal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
        EXPECT_FALSE(fs::exists(out())) << signal;
        if (signal == SIGKILL) {
            EXPECT_EQ(test::markedFiles(dir_.path().string()).size(), 1u);
            EXPECT_EQ(test::markedFiles(program).size(), 1u);
            test::CliResult r = run(ShellQuote(frames()) + " " + ShellQuote(out()));
            ASSERT_EQ(r.status, 0) << r.err;
        }
        EXPECT_EQ(test::markedFiles(dir_.path().string()), std::vector<std::string>{}) << signal;
        EXPECT_TRUE(fs::is_empty(program)) << signal;
    }
}

// The frames pass through a file in the program folder: when that cannot be
// made, the message names it and why, not the AVI file.
TEST_F(CliAvi, StagingFailureNamesTheStagingFile) {
    addFrames(2, 8, 8);
    test::writeText(dir_.file("plain"), "not a folder");
    test::CliResult r = test::RunCli(cli_, "avi " + ShellQuote(frames()) + " " + ShellQuote(out()), dir_.path().string(),
                                     "TARNEL_PROGRAM_FOLDER=" + ShellQuote(dir_.file("plain/program")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("staging file " + dir_.file("plain/program/AVI_Temp.")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::strerror(ENOTDIR)), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("out.avi"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out()));
}
