// tarnel-cli morph, run as a program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/MeshFile.h"
#include "core/MorphRun.h"
#include "core/ProjectFile.h"
#include "imaging/PictureIO.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/PhotoImages.h"
#include "support/SyntheticWarp.h"
#include "support/PillowImages.h"
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

    // A project of the two images with a moved mesh point, stored beside them.
    ProjectData project(int frames, int kind) const {
        ProjectData p;
        p.mesh.rows = 3;
        p.mesh.columns = 2;
        p.mesh.start = DefaultMesh(3, 2, 24, 16);
        p.mesh.end = DefaultMesh(3, 2, 24, 16);
        p.mesh.end(2, 1) = MeshPoint{13.5f, 6.25f};
        p.startImage = start;
        p.endImage = end;
        p.startWidth = p.endWidth = 24;
        p.startHeight = p.endHeight = 16;
        p.frames = frames;
        p.saveKind = kind;
        p.hasFrames = p.hasSaveKind = p.hasTransparent = true;
        return p;
    }
    std::string saveProject(const ProjectData& p, const std::string& name = "p.json") const {
        std::string error;
        EXPECT_TRUE(SaveProjectFile(dir.file(name), p, error)) << error;
        return dir.file(name);
    }
    // The files of the one frame folder under out, by name.
    static std::vector<std::pair<std::string, std::string>> frames(const std::string& out) {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto& folder : fs::directory_iterator(out))
            for (const auto& f : fs::directory_iterator(folder.path()))
                files.emplace_back(f.path().filename().string(), test::readText(f.path()));
        std::sort(files.begin(), files.end());
        return files;
    }

    test::TempDir dir;
    const std::string start = dir.file("start.bmp"), end = dir.file("end.bmp");
};

class EditorLikeRun : public MorphRunObserver {
    void folderCreated(const std::string&) override {}
    bool frameDone(int, int) override { return true; }
};

// The project alone gives the images, meshes and settings: the frames are
// those of the engine run the editor makes from the same project.
TEST_F(CliMorph, ProjectRunMakesTheEditorsFrames) {
    const std::string file = saveProject(project(4, kSaveBmp));
    test::CliResult r = morph("--mesh " + shellQuoted(file) + " --out " + shellQuoted(dir.file("cli")));
    ASSERT_EQ(r.status, 0) << r.err;

    ProjectData p;
    std::string error;
    ASSERT_TRUE(LoadProjectFile(file, p, error)) << error;
    StdPicture pa, pb;
    ASSERT_TRUE(LoadPicture(p.startImage, pa) && LoadPicture(p.endImage, pb));
    fs::create_directories(dir.file("editor"));
    MorphRunRequest request;
    request.start = pa.bitmap.get();
    request.end = pb.bitmap.get();
    request.startMesh = &p.mesh.start;
    request.endMesh = &p.mesh.end;
    request.totalFrames = p.frames - 1;
    request.saveKind = p.saveKind;
    request.transparency = p.transparent;
    request.programFolder = dir.file("editor");
    EditorLikeRun observer;
    ASSERT_TRUE(RunMorph(request, observer).ok());

    const auto cli = frames(dir.file("cli")), editor = frames(dir.file("editor"));
    ASSERT_EQ(cli.size(), 4u);
    EXPECT_TRUE(cli == editor);
    EXPECT_NE(cli[1].second, cli[2].second);  // the frames do change
}

// PNG frames hold the BMP frames' pixels exactly, as a second decoder reads
// them, and plain 8-bit RGB.
TEST_F(CliMorph, PngFramesHoldTheBmpFramesPixels) {
    if (!test::PillowAvailable()) GTEST_SKIP() << "Pillow is not installed";
    const std::string file = saveProject(project(5, kSaveBmp));
    for (const char* kind : {"bmp", "png"}) {
        test::CliResult r = morph("--mesh " + shellQuoted(file) + " --kind " + kind + " --out " + shellQuoted(dir.file(kind)));
        ASSERT_EQ(r.status, 0) << kind << ": " << r.err;
    }
    auto folderOf = [&](const char* kind) { return fs::directory_iterator(dir.file(kind))->path().string(); };
    const std::string bmp = folderOf("bmp"), png = folderOf("png");
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int k = 0; k < 5; ++k) {
        const std::string number = "00" + std::to_string(k);
        pairs.emplace_back(bmp + "/" + number + ".bmp", png + "/" + number + ".png");
        const std::vector<uint8_t> bytes = test::readFile(pairs.back().second);
        ASSERT_GT(bytes.size(), 26u);
        EXPECT_EQ(bytes[24], 8) << number;  // bit depth
        EXPECT_EQ(bytes[25], 2) << number;  // RGB
    }
    EXPECT_EQ(frames(dir.file("png")).size(), 5u);
    EXPECT_TRUE(test::PillowSeesSamePixels(pairs));
}

TEST_F(CliMorph, ProjectSettingsApplyUnlessGivenOnTheCommandLine) {
    const std::string file = saveProject(project(3, kSaveJpg));
    struct Case {
        std::string args;
        size_t count;
        std::string firstName;
    };
    const Case cases[] = {
        {"", 3, "000.jpg"},
        {"--frames 5", 5, "000.jpg"},
        {"--kind gif", 3, "000.gif"},
        {"--kind png", 3, "000.png"},
        {shellQuoted(start) + " " + shellQuoted(end) + " --kind bmp --frames 2", 2, "000.bmp"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string out = dir.file("out" + std::to_string(n++));
        test::CliResult r = morph("--mesh " + shellQuoted(file) + " " + c.args + " --out " + shellQuoted(out));
        ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
        const auto files = frames(out);
        ASSERT_EQ(files.size(), c.count) << c.args;
        EXPECT_EQ(files[0].first, c.firstName) << c.args;
    }
}

TEST_F(CliMorph, ProjectThatDoesNotFitIsOneLineNamingWhat) {
    ProjectData other = project(3, kSaveBmp);
    other.endWidth = 30;
    other.endHeight = 20;
    ProjectData bigMesh = project(3, kSaveBmp);
    bigMesh.mesh.start = DefaultMesh(3, 2, 240, 160);
    ProjectData noImages = project(3, kSaveBmp);
    noImages.startImage.clear();
    noImages.endImage.clear();
    struct Case {
        ProjectData p;
        int status;
        std::string expected;
    };
    const Case cases[] = {
        {other, 1, "the end image is 24x16, the project was made for 30x20"},
        {bigMesh, 1, "the start mesh was placed for a 240x160 image, the start image is 24x16"},
        {noImages, 2, "names no start and end image"},
    };
    for (const Case& c : cases) {
        const std::string file = saveProject(c.p);
        test::CliResult r = morph("--mesh " + shellQuoted(file) + " --out " + shellQuoted(dir.file("out")));
        EXPECT_EQ(r.status, c.status) << c.expected;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.file("out"))) << c.expected;
    }
}

TEST_F(CliMorph, MeshCommandStillWritesAPlainMeshFile) {
    test::CliResult r = test::RunCli(test::CliPath(),
                                     "mesh " + shellQuoted(start) + " " + shellQuoted(end) +
                                         " --rows 2 --columns 3 --out " + shellQuoted(dir.file("m.json")),
                                     dir.path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const MeshGrid mesh = DefaultMesh(2, 3, 24, 16);
    EXPECT_EQ(test::readText(dir.file("m.json")), MeshFileText(mesh, mesh));
}

// --auto places the end mesh on the end image (mesh writes it, morph runs
// with it) and refuses pictures with too little in common in one line.
TEST_F(CliMorph, AutoPlacesTheEndMeshOrRefusesInOneLine) {
    const int w = 400, h = 300;
    const GcDIB photo = test::makePhoto(test::Photo::Landscape, w, h, 2);
    const test::SyntheticWarp warp{.degrees = 5, .scale = 1.05};
    ASSERT_TRUE(SavePictureBMP(*photo.bitmap(), dir.file("a.bmp")));
    ASSERT_TRUE(SavePictureBMP(test::WarpPicture(*photo.bitmap(), warp), dir.file("b.bmp")));
    ASSERT_TRUE(SavePictureBMP(*test::makePhoto(test::Photo::Stripes, w, h, 7).bitmap(), dir.file("c.bmp")));
    auto mesh = [&](const std::string& a, const std::string& b) {
        return test::RunCli(test::CliPath(),
                            "mesh " + shellQuoted(dir.file(a)) + " " + shellQuoted(dir.file(b)) +
                                " --rows 4 --columns 3 --auto --out " + shellQuoted(dir.file("m.json")),
                            dir.path().string());
    };
    test::CliResult r = mesh("a.bmp", "b.bmp");
    ASSERT_EQ(r.status, 0) << r.err;
    MeshFileData file;
    std::string error;
    ASSERT_TRUE(LoadMeshFile(dir.file("m.json"), file, error)) << error;
    const MeshGrid &startMesh = file.start, &endMesh = file.end;
    EXPECT_EQ(startMesh, DefaultMesh(4, 3, w, h));
    for (int j = 2; j <= 3; ++j)
        for (int i = 2; i <= 4; ++i) {
            MeshPoint truth;
            ASSERT_TRUE(test::WarpTarget(warp, w, h, startMesh(i, j), truth));
            EXPECT_NEAR(endMesh(i, j).x, truth.x, 1.5) << i << "," << j;
            EXPECT_NEAR(endMesh(i, j).y, truth.y, 1.5) << i << "," << j;
        }

    ASSERT_TRUE(fs::remove(dir.file("m.json")));
    r = mesh("a.bmp", "c.bmp");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(occurrences(r.err, "\n"), 1u) << r.err;
    EXPECT_NE(r.err.find("consistent feature matches, at least"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("m.json")));

    r = morph(shellQuoted(dir.file("a.bmp")) + " " + shellQuoted(dir.file("b.bmp")) +
              " --auto --rows 4 --columns 3 --frames 2 --out " + shellQuoted(dir.file("out")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(frames(dir.file("out")).size(), 2u);
    r = morph(shellQuoted(dir.file("a.bmp")) + " " + shellQuoted(dir.file("c.bmp")) + " --auto --out " +
              shellQuoted(dir.file("out2")));
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir.file("out2")) && !fs::is_empty(dir.file("out2")));
}

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

namespace tarnel {
namespace {

// Thread counts and the warp options: the files follow the options, never the
// thread count; --ease is both eases, each overridden by its own option.
TEST_F(CliMorph, ThreadsAndWarpOptionsChooseTheFrames) {
    const std::string file = saveProject(project(5, kSaveGif));
    int n = 0;
    auto run = [&](const std::string& args) {
        const std::string out = dir.file("out" + std::to_string(n++));
        test::CliResult r = morph("--mesh " + shellQuoted(file) + " " + args + " --out " + shellQuoted(out));
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
        return frames(out);
    };
    const auto plain = run("");
    const auto smooth = run("--warp-ease smooth --blend-ease smooth");
    ASSERT_EQ(plain.size(), 5u);
    EXPECT_NE(plain, smooth);
    const struct {
        std::string args;
        const std::vector<std::pair<std::string, std::string>>* expected;
    } same[] = {
        {"--threads 1", &plain},
        {"--threads 3", &plain},
        {"--sampling nearest --ease linear --threads 2", &plain},
        {"--ease smooth", &smooth},
        {"--ease smooth --threads 1", &smooth},
        {"--blend-ease smooth --ease linear --warp-ease smooth", &smooth},
    };
    for (const auto& c : same) EXPECT_TRUE(run(c.args) == *c.expected) << c.args;
    EXPECT_FALSE(run("--ease smooth --blend-ease linear") == smooth);
    EXPECT_TRUE(run("--ease smooth --blend-ease linear") == run("--warp-ease smooth"));
}

TEST_F(CliMorph, BadThreadCountsAndOptionWordsAreRefused) {
    const struct {
        std::string args, expected;
    } cases[] = {
        {"--threads 0", "--threads needs a number from 1 to 256"},
        {"--threads 257", "--threads needs a number from 1 to 256"},
        {"--threads two", "--threads needs a number"},
        {"--sampling cubic", "--sampling takes nearest or bilinear"},
        {"--ease fast", "--ease takes linear or smooth"},
        {"--warp-ease Smooth", "--warp-ease takes linear or smooth"},
        {"--blend-ease ''", "--blend-ease takes linear or smooth"},
    };
    for (const auto& c : cases) {
        test::CliResult r = morph(shellQuoted(start) + " " + shellQuoted(end) + " " + c.args + " --out " +
                                  shellQuoted(dir.file("out")));
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.args << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir.file("out"))) << c.args;
    }
}

}  // namespace
}  // namespace tarnel
