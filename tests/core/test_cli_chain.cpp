// tarnel-cli morph and mesh over a chain of key images, run as a program.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/MeshFile.h"
#include "core/ProjectFile.h"
#include "core/align/MeshAlign.h"
#include "imaging/PictureIO.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/PhotoImages.h"
#include "support/SyntheticWarp.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
const auto quoted = test::ShellQuote;

class CliChain : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::CliPath().empty()) GTEST_SKIP() << "tarnel-cli is not built beside the tests";
    }
    test::CliResult cli(const std::string& args) { return test::RunCli(test::CliPath(), args, dir.path().string()); }
    // Three pictures of one photo, each warped a little further.
    std::vector<std::string> keys(int w, int h) {
        const GcDIB photo = test::makePhoto(test::Photo::Landscape, w, h, 3);
        std::vector<std::string> names;
        for (int n = 0; n < 3; ++n) {
            const std::string name = dir.file(std::to_string(n) + "-key.bmp");
            const test::SyntheticWarp warp{.degrees = 2.0 * n, .scale = 1 + 0.03 * n};
            EXPECT_TRUE(SavePictureBMP(n ? test::WarpPicture(*photo.bitmap(), warp) : *photo.bitmap(), name));
            names.push_back(name);
        }
        return names;
    }
    static std::string joined(const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& n : names) text += quoted(n) + " ";
        return text;
    }
    // The one frame folder under `out`, its files in order.
    static std::vector<fs::path> frames(const std::string& out) {
        std::vector<fs::path> files;
        if (!fs::exists(out)) return files;
        for (const auto& folder : fs::directory_iterator(out))
            for (const auto& f : fs::directory_iterator(folder.path())) files.push_back(f.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    test::TempDir dir;
};

// The chain's frames are the runs of each pair with the same meshes, the
// joins once; --loop closes it back to the first key.
TEST_F(CliChain, ChainIsThePairRunsJoined) {
    const std::vector<std::string> images = keys(64, 48);
    test::CliResult r = cli("mesh " + joined(images) + "--rows 3 --columns 2 --out " + quoted(dir.file("chain.json")));
    ASSERT_EQ(r.status, 0) << r.err;
    ProjectData chain;
    std::string error;
    ASSERT_TRUE(LoadProjectFile(dir.file("chain.json"), chain, error)) << error;
    // Bent meshes, the middle key's pulled in so frames leave pixels uncovered.
    std::vector<ProjectKey> meshes = ProjectKeys(chain);
    ASSERT_EQ(meshes.size(), 3u);
    for (int j = 0; j < meshes[1].mesh.countJ(); ++j) meshes[1].mesh(meshes[1].mesh.countI() - 1, j).x = 44.0f;
    meshes[2].mesh(1, 1).y += 6.0f;
    SetProjectKeys(chain, meshes);
    ASSERT_TRUE(SaveProjectFile(dir.file("chain.json"), chain, error)) << error;

    struct Case {
        const char* kind;
        bool loop;
        size_t files;  // 3 keys of 4 frames
    };
    for (const Case& c : {Case{"bmp", false, 7}, Case{"gif", true, 9}, Case{"gif", false, 7}}) {
        SCOPED_TRACE(testing::Message() << c.kind << (c.loop ? " loop" : ""));
        const std::string out = dir.file(std::string("chain-") + c.kind + (c.loop ? "-loop" : ""));
        r = cli("morph " + joined(images) + "--mesh " + quoted(dir.file("chain.json")) + " --frames 4 --threads 3 --kind " +
                c.kind + (c.loop ? " --loop" : "") + " --out " + quoted(out));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<fs::path> files = frames(out);
        ASSERT_EQ(files.size(), c.files);
        EXPECT_EQ(files.back().filename().string(), "00" + std::to_string(c.files - 1) + "." + c.kind);
        const int segments = c.loop ? 3 : 2;
        for (int s = 0; s < segments; ++s) {
            const int next = (s + 1) % 3;
            const std::string pairMesh = dir.file("pair.json"), pairOut = out + "-pair" + std::to_string(s);
            ASSERT_TRUE(SaveMeshFile(pairMesh, meshes[size_t(s)].mesh, meshes[size_t(next)].mesh, error)) << error;
            r = cli("morph " + quoted(images[size_t(s)]) + " " + quoted(images[size_t(next)]) + " --mesh " +
                    quoted(pairMesh) + " --frames 4 --threads 1 --kind " + c.kind + " --out " + quoted(pairOut));
            ASSERT_EQ(r.status, 0) << r.err;
            const std::vector<fs::path> pair = frames(pairOut);
            ASSERT_EQ(pair.size(), 4u);
            const int lastStep = c.loop && s == segments - 1 ? 2 : 3;
            for (int step = s == 0 ? 0 : 1; step <= lastStep; ++step)
                EXPECT_EQ(test::readFile(files[size_t(s * 3 + step)]), test::readFile(pair[size_t(step)]))
                    << "segment " << s << " step " << step;
        }
    }
}

// --auto: key 1 keeps the default mesh, each later key is placed on the key
// before, its mesh starting from that key's placed mesh.
TEST_F(CliChain, AutoAlignsEachKeyToTheOneBefore) {
    const int w = 400, h = 300;
    const std::vector<std::string> images = keys(w, h);
    test::CliResult r =
        cli("mesh " + joined(images) + "--rows 4 --columns 3 --auto --out " + quoted(dir.file("chain.json")));
    ASSERT_EQ(r.status, 0) << r.err;
    ProjectData chain;
    std::string error;
    ASSERT_TRUE(LoadProjectFile(dir.file("chain.json"), chain, error)) << error;
    const std::vector<ProjectKey> placed = ProjectKeys(chain);
    ASSERT_EQ(placed.size(), 3u);
    EXPECT_EQ(placed[0].mesh, DefaultMesh(4, 3, w, h));

    r = cli("mesh " + quoted(images[0]) + " " + quoted(images[1]) + " --rows 4 --columns 3 --auto --out " +
            quoted(dir.file("pair.json")));
    ASSERT_EQ(r.status, 0) << r.err;
    MeshFileData pair;
    ASSERT_TRUE(LoadMeshFile(dir.file("pair.json"), pair, error)) << error;
    EXPECT_EQ(placed[1].mesh, pair.end);

    StdPicture second, third;
    ASSERT_TRUE(LoadPicture(images[1], second));
    ASSERT_TRUE(LoadPicture(images[2], third));
    const MeshGrid fresh = DefaultMesh(4, 3, w, h);
    AlignRequest request;
    request.start = second.bitmap.get();
    request.end = third.bitmap.get();
    request.startMesh = &placed[1].mesh;
    request.endMesh = &fresh;
    const AlignResult aligned = AlignMesh(request);
    ASSERT_TRUE(aligned.ok()) << aligned.error;
    EXPECT_EQ(placed[2].mesh, aligned.end);

    r = cli("morph " + joined(images) + "--auto --rows 4 --columns 3 --frames 2 --out " + quoted(dir.file("out")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(frames(dir.file("out")).size(), 3u);
}

TEST_F(CliChain, RefusedWithTheCauseBeforeAnyFrame) {
    std::vector<std::string> small;
    for (int n = 0; n < 12; ++n) {
        const int w = n == 2 ? 25 : 24;
        small.push_back(dir.file(std::to_string(n) + "-small.bmp"));
        ASSERT_TRUE(SavePictureBMP(test::makePicture(w, 16, [n](int x, int y) { return uint32_t(x * n + y); }),
                                   small.back()));
    }
    const std::vector<std::string> three(small.begin(), small.begin() + 3);
    std::vector<std::string> twelve = small;
    twelve[2] = small[3];
    ASSERT_EQ(cli("mesh " + joined({small[0], small[1], small[3]}) + "--rows 2 --columns 2 --out " +
                  quoted(dir.file("three.json")))
                  .status,
              0);
    struct Case {
        const char* name;
        std::string args;
        int status;
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"a key of another size", joined(three), 1, {"24x16", "25x16", small[2]}},
        {"1090 frames", joined(twelve) + "--frames 100", 2, {"1090", "1000"}},
        {"three meshes for two images", joined({small[0], small[1]}) + "--mesh " + quoted(dir.file("three.json")), 1,
         {"3 keys", "not of 2"}},
        {"a chain mesh file names no images", "--mesh " + quoted(dir.file("three.json")), 2, {"names no image"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file("out");
        const test::CliResult r = cli("morph " + c.args + " --out " + quoted(out));
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string& part : c.told) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
        EXPECT_TRUE(frames(out).empty());
    }
}

}  // namespace
}  // namespace tarnel
