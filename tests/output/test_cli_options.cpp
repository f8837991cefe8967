// What every tarnel-cli command shares: --help, --version, and bad arguments
// told in one line of our own.
#include <gtest/gtest.h>

#include <algorithm>

#include "imaging/PictureIO.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

class CliOptions : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::CliPath().empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
    }
    test::CliResult run(const std::string& args) { return test::RunCli(test::CliPath(), args, dir.path().string()); }
    static long lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

    test::TempDir dir;
};

TEST_F(CliOptions, EveryCommandHasHelp) {
    struct Case {
        std::string args, mentions;
    };
    const Case cases[] = {
        {"morph --help", "tarnel-cli morph"},   {"morph a b -h", "tarnel-cli morph"},
        {"mesh --help", "tarnel-cli mesh"},     {"avi --help", "tarnel-cli avi"},
        {"anigif -h", "tarnel-cli anigif"},     {"gif --help", "tarnel-cli gif optimize"},
        {"gif info --help", "tarnel-cli gif info"}, {"gif encode -h", "tarnel-cli gif encode"},
        {"gif optimize --help", "tarnel-cli gif optimize"},
    };
    for (const Case& c : cases) {
        test::CliResult r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.args << "\n" << r.err;
        EXPECT_NE(r.out.find(c.mentions), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_TRUE(r.err.empty()) << c.args << "\n" << r.err;
    }
    // One subcommand's help leaves the others out.
    EXPECT_EQ(run("gif encode --help").out.find("gif optimize"), std::string::npos);
}

TEST_F(CliOptions, TopLevelHelpListsTheCommandsAndVersionIsOneLine) {
    test::CliResult r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* command : {"morph", "mesh", "avi", "anigif", "gif info", "gif encode", "gif optimize"})
        EXPECT_NE(r.out.find(std::string("tarnel-cli ") + command + " "), std::string::npos) << command;
    r = run("--version");
    EXPECT_EQ(r.status, 0);
    // "tarnel-cli MAJOR.MINOR[.PATCH...]" and a newline.
    const std::string prefix = "tarnel-cli ";
    ASSERT_TRUE(r.out.rfind(prefix, 0) == 0 && r.out.size() > prefix.size() + 1 && r.out.back() == '\n') << r.out;
    const std::string version = r.out.substr(prefix.size(), r.out.size() - prefix.size() - 1);
    int parts = 0;
    for (size_t at = 0; at <= version.size(); ++parts) {
        const size_t dot = std::min(version.find('.', at), version.size());
        EXPECT_TRUE(dot > at && version.find_first_not_of("0123456789", at) >= dot) << r.out;
        at = dot + 1;
    }
    EXPECT_GE(parts, 2) << r.out;
}

TEST_F(CliOptions, BadArgumentsExitTwoWithOneLine) {
    struct Case {
        std::string args, message;  // the whole line
    };
    const Case cases[] = {
        {"morph a b --frames 3 --frames 4", "tarnel-cli morph: option --frames given twice"},
        {"morph a b --transparent --transparent", "tarnel-cli morph: option --transparent given twice"},
        {"morph a b --bogus", "tarnel-cli morph: unknown option --bogus"},
        {"morph a b --frames", "tarnel-cli morph: option --frames needs a value"},
        {"morph a b --out --frames 3", "tarnel-cli morph: option --out needs a value"},
        {"morph a b --transparent=yes", "tarnel-cli morph: option --transparent takes no value"},
        {"morph a b --frames=1", "tarnel-cli morph: --frames needs a number from 2 to 100"},
        {"morph a", "tarnel-cli morph: expected a start and an end image, or --mesh with a project that names them"},
        {"mesh a b --rows 2 --columns 2 --out o.json --mesh m.json", "tarnel-cli mesh: unknown option --mesh"},
        {"avi f o.avi --fps 1 --fps 2", "tarnel-cli avi: option --fps given twice"},
        {"avi f o.avi --size", "tarnel-cli avi: option --size needs a value"},
        {"anigif a b --optimize --optimize", "tarnel-cli anigif: option --optimize given twice"},
        {"gif info a --palette x", "tarnel-cli gif info: unknown option --palette"},
        {"gif encode a b --dither", "tarnel-cli gif encode: option --dither needs a value"},
        {"gif optimize a b --transparent-index 1 --transparent-index 2",
         "tarnel-cli gif optimize: option --transparent-index given twice"},
        {"gif frobnicate", "tarnel-cli gif: unknown subcommand frobnicate"},
        {"frobnicate", "tarnel-cli: unknown command frobnicate (tarnel-cli --help lists them)"},
        {"", "tarnel-cli: no command given (tarnel-cli --help lists them)"},
    };
    for (const Case& c : cases) {
        test::CliResult r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, c.message + "\n") << c.args;
        EXPECT_TRUE(r.out.empty()) << c.args;
    }
}

TEST_F(CliOptions, BadMeshFileIsOneLineInOurWords) {
    const std::string bad = dir.file("bad.json");
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"{\"rows\": 1,\n", "bad.json: malformed JSON at line 2"},
        {"{\"rows\": 1e999}", "bad.json: a number is out of range"},
        {"{\"rows\": 3, \"columns\": 3, \"start\": [], \"end\": []}", "expected 25"},
    };
    for (const Case& c : cases) {
        test::writeText(bad, c.text);
        test::CliResult r = run("morph a.bmp b.bmp --mesh " + test::ShellQuote(bad));
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("json.exception"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(bad), r.err.rfind(bad)) << "path named twice: " << r.err;
    }
}

// A cause that names the file already does not get it named twice.
TEST_F(CliOptions, FailuresNameTheFileOnce) {
    std::filesystem::create_directories(dir.path() / "frames");
    ASSERT_TRUE(SavePictureBMP(test::solidPicture(8, 8, 0x336699), dir.file("frames/000.bmp")));
    const std::string missing = dir.file("missing"), frames = dir.file("frames");
    struct Case {
        std::string args, path;
    };
    const Case cases[] = {
        {"avi " + test::ShellQuote(frames) + " " + test::ShellQuote(missing + "/o.avi"), missing + "/o.avi"},
        {"avi " + test::ShellQuote(missing) + " o.avi", missing},
        {"anigif " + test::ShellQuote(missing + ".avi") + " o.gif", missing + ".avi"},
        {"gif info " + test::ShellQuote(missing + ".gif"), missing + ".gif"},
        {"gif encode " + test::ShellQuote(missing + ".bmp") + " o.gif", missing + ".bmp"},
        {"morph " + test::ShellQuote(missing + ".bmp") + " b.bmp", missing + ".bmp"},
    };
    for (const Case& c : cases) {
        test::CliResult r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(lines(r.err), 1) << r.err;
        const size_t first = r.err.find(c.path);
        EXPECT_NE(first, std::string::npos) << r.err;
        EXPECT_EQ(first, r.err.rfind(c.path)) << "named twice: " << r.err;
    }
}

}  // namespace
}  // namespace tarnel
