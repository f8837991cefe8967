#include <gtest/gtest.h>

#include <filesystem>

#include "core/ProjectFile.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

ProjectData meshOnly(int rows = 3, int columns = 2, int width = 300, int height = 200) {
    ProjectData d;
    d.mesh.rows = rows;
    d.mesh.columns = columns;
    d.mesh.start = DefaultMesh(rows, columns, width, height);
    d.mesh.end = DefaultMesh(rows, columns, width, height);
    d.mesh.end(2, 1) = MeshPoint{123.25f, 45.5f};
    return d;
}

ProjectData full(const std::string& startImage, const std::string& endImage) {
    ProjectData d = meshOnly();
    d.startImage = startImage;
    d.endImage = endImage;
    d.startWidth = d.endWidth = 300;
    d.startHeight = d.endHeight = 200;
    d.frames = 37;
    d.saveKind = kSaveGif;
    d.transparent = true;
    d.hasFrames = d.hasSaveKind = d.hasTransparent = true;
    return d;
}

void expectSame(const ProjectData& a, const ProjectData& b, const std::string& where) {
    EXPECT_EQ(a.mesh.rows, b.mesh.rows) << where;
    EXPECT_EQ(a.mesh.columns, b.mesh.columns) << where;
    EXPECT_EQ(a.mesh.start, b.mesh.start) << where;
    EXPECT_EQ(a.mesh.end, b.mesh.end) << where;
    EXPECT_EQ(a.startImage, b.startImage) << where;
    EXPECT_EQ(a.endImage, b.endImage) << where;
    EXPECT_EQ(a.startWidth, b.startWidth) << where;
    EXPECT_EQ(a.startHeight, b.startHeight) << where;
    EXPECT_EQ(a.endWidth, b.endWidth) << where;
    EXPECT_EQ(a.endHeight, b.endHeight) << where;
    EXPECT_EQ(a.frames, b.frames) << where;
    EXPECT_EQ(a.saveKind, b.saveKind) << where;
    EXPECT_EQ(a.transparent, b.transparent) << where;
    EXPECT_EQ(a.hasFrames, b.hasFrames) << where;
    EXPECT_EQ(a.hasSaveKind, b.hasSaveKind) << where;
    EXPECT_EQ(a.hasTransparent, b.hasTransparent) << where;
}

}  // namespace

// Saved, loaded: the same project; images in the project's folder are stored
// relative to it, others absolute, and all come back absolute.
TEST(ProjectFile, SaveAndLoadGiveTheSameProject) {
    test::TempDir dir;
    const std::string inside = dir.file("img/a.jpg"), deeper = dir.file("img/sub/b.jpg");
    const std::string outside = "/elsewhere/photos/c.jpg";
    const std::string unicode = dir.file("写真/ｽﾀｰﾄ 1.jpg");
    struct Case {
        const char* name;
        ProjectData data;
        const char* storedStart;  // as the file holds it; nullptr: absent
    };
    const Case cases[] = {
        {"mesh only", meshOnly(), nullptr},
        {"images inside", full(inside, deeper), "\"startImage\": \"img/a.jpg\""},
        {"image outside", full(outside, inside), "\"startImage\": \"/elsewhere/photos/c.jpg\""},
        {"unicode", full(unicode, outside), "\"startImage\": \"写真/ｽﾀｰﾄ 1.jpg\""},
        {"dot-dot out of the folder", full(dir.file("img/../../x.jpg"), inside), nullptr},
        {"largest mesh", [] {
             ProjectData d = full("/a.bmp", "/b.bmp");
             d.mesh = meshOnly(40, 40).mesh;
             return d;
         }(),
         nullptr},
    };
    for (const Case& c : cases) {
        const fs::path path = dir.path() / "p.tarnel.json";
        std::string error;
        ASSERT_TRUE(SaveProjectFile(path, c.data, error)) << c.name << ": " << error;
        const std::string text = test::readText(path);
        if (c.storedStart) {
            EXPECT_NE(text.find(c.storedStart), std::string::npos) << c.name << "\n" << text;
        }
        ProjectData loaded;
        ASSERT_TRUE(LoadProjectFile(path, loaded, error)) << c.name << ": " << error;
        ProjectData expected = c.data;
        for (std::string* p : {&expected.startImage, &expected.endImage})
            if (!p->empty()) *p = fs::path(*p).lexically_normal().string();
        expectSame(loaded, expected, c.name);
        EXPECT_EQ(loaded.isProject(), c.data.isProject()) << c.name;
    }
}

TEST(ProjectFile, MovedProjectFolderFindsItsImages) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "old");
    std::string error;
    ASSERT_TRUE(SaveProjectFile(dir.path() / "old/p.json", full(dir.file("old/a.jpg"), dir.file("old/b.jpg")), error))
        << error;
    fs::rename(dir.path() / "old", dir.path() / "new");
    ProjectData loaded;
    ASSERT_TRUE(LoadProjectFile(dir.path() / "new/p.json", loaded, error)) << error;
    EXPECT_EQ(loaded.startImage, dir.file("new/a.jpg"));
    EXPECT_EQ(loaded.endImage, dir.file("new/b.jpg"));
}

TEST(ProjectFile, PlainMeshFileIsAProjectWithoutExtras) {
    const MeshGrid mesh = DefaultMesh(2, 3, 64, 48);
    ProjectData data;
    data.frames = 55;  // replaced by the default
    std::string error;
    ASSERT_TRUE(ParseProjectFile(MeshFileText(mesh, mesh), data, error)) << error;
    EXPECT_EQ(data.mesh.start, mesh);
    EXPECT_FALSE(data.isProject());
    EXPECT_EQ(data.frames, kDefaultRunFrames);
}

TEST(ProjectFile, BadValuesAreRefusedWithTheirReason) {
    const std::string mesh = MeshFileText(DefaultMesh(1, 1, 10, 10), DefaultMesh(1, 1, 10, 10));
    auto with = [&](const std::string& member) { return "{" + member + "," + mesh.substr(1); };
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"{\"rows\": 1,\n  \"columns\": ]}", "malformed JSON at line 2, column 14"},
        {with(R"("project": 2)"), "later version"},
        {with(R"("project": "1")"), "not a version number"},
        {with(R"("startImage": 5)"), "\"startImage\" is not a file path"},
        {with(R"("endImage": "")"), "\"endImage\" is not a file path"},
        {with(R"("endImage": "a\u0000b")"), "NUL"},
        {with(R"("startSize": [640])"), "not a [width, height] pair"},
        {with(R"("startSize": [640, 0])"), "outside 1..65536"},
        {with(R"("endSize": [640.5, 480])"), "not an integer"},
        {with(R"("frames": 1)"), "\"frames\" is 1, outside 2..100"},
        {with(R"("frames": 101)"), "outside 2..100"},
        {with(R"("kind": "webp")"), "\"kind\" is not"},
        {with(R"("kind": 1)"), "\"kind\" is not"},
        {with(R"("transparent": 1)"), "\"transparent\" is not true or false"},
        {R"({"frames": 10, "rows": 1})", "project file: missing key \"columns\""},
        {R"({"rows": 1})", "mesh file: missing key \"columns\""},
    };
    for (const Case& c : cases) {
        ProjectData data;
        data.frames = 77;
        std::string error;
        EXPECT_FALSE(ParseProjectFile(c.text, data, error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << "\n  gave: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;
        EXPECT_EQ(data.frames, 77) << "output touched on failure";
    }
}

TEST(ProjectFile, UnwritableProjectsAreRefused) {
    struct Case {
        const char* name;
        ProjectData data;
        const char* expected;
    };
    ProjectData badFrames = full("/a", "/b"), badKind = full("/a", "/b"), badPath = full("/a", "/b"),
                badSize = full("/a", "/b"), noMesh;
    badFrames.frames = 101;
    badKind.saveKind = 4;
    badPath.endImage = "/photos/\xff.jpg";
    badSize.endWidth = 0;
    const Case cases[] = {
        {"frames", badFrames, "outside 2..100"}, {"kind", badKind, "save kind"},
        {"path", badPath, "end image path is not valid UTF-8"}, {"size", badSize, "out of range"},
        {"no mesh", noMesh, "meshes are empty"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(SaveProjectFile(dir.path() / "p.json", c.data, error)) << c.name;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << ": " << error;
        EXPECT_FALSE(fs::exists(dir.path() / "p.json")) << c.name;
    }
}

TEST(ProjectFile, SizeChecksNameWhatDoesNotFit) {
    using M = ProjectSizeMismatch;
    struct Case {
        const char* name;
        ProjectData data;
        int sw, sh, ew, eh;
        std::vector<M> expected;
    };
    ProjectData recorded = full("/a", "/b");  // 300 x 200, meshes placed for it
    ProjectData bigMeshes = full("/a", "/b");
    bigMeshes.mesh.start = DefaultMesh(3, 2, 4000, 3000);
    ProjectData handRing = meshOnly();
    handRing.mesh.start(0, 1).x = -7.0f;  // a ring no placement gives
    const Case cases[] = {
        {"all fit", recorded, 300, 200, 300, 200, {}},
        {"end image of another size", recorded, 300, 200, 301, 200,
         {{M::Image::End, M::Kind::ImageSize, 300, 200, 301, 200}}},
        {"both images, meshes made for the recorded size", recorded, 30, 20, 30, 20,
         {{M::Image::Start, M::Kind::ImageSize, 300, 200, 30, 20}, {M::Image::End, M::Kind::ImageSize, 300, 200, 30, 20}}},
        {"start mesh for another size", bigMeshes, 300, 200, 300, 200,
         {{M::Image::Start, M::Kind::MeshSize, 4000, 3000, 300, 200}}},
        {"plain mesh file, other images", meshOnly(3, 2, 1920, 1080), 4000, 3000, 1920, 1080,
         {{M::Image::Start, M::Kind::MeshSize, 1920, 1080, 4000, 3000}}},
        {"hand-placed ring is not judged", handRing, 4000, 3000, 300, 200, {}},
        {"no image loaded", recorded, 0, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        const auto found = CheckProjectImageSizes(c.data, c.sw, c.sh, c.ew, c.eh);
        ASSERT_EQ(found.size(), c.expected.size()) << c.name;
        for (size_t n = 0; n < found.size(); ++n) {
            const M &f = found[n], &e = c.expected[n];
            EXPECT_EQ(f.image, e.image) << c.name;
            EXPECT_EQ(f.kind, e.kind) << c.name;
            EXPECT_EQ(f.expectedWidth, e.expectedWidth) << c.name;
            EXPECT_EQ(f.expectedHeight, e.expectedHeight) << c.name;
            EXPECT_EQ(f.foundWidth, e.foundWidth) << c.name;
            EXPECT_EQ(f.foundHeight, e.foundHeight) << c.name;
        }
    }
}

TEST(ProjectFile, MeshRingTellsThePlacementSize) {
    for (auto [r, c, w, h] : {std::tuple{5, 5, 1920, 1080}, {40, 40, 4000, 3000}, {3, 7, 333, 101}, {1, 1, 1, 1}}) {
        int width = 0, height = 0;
        ASSERT_TRUE(MeshPlacedForSize(DefaultMesh(r, c, w, h), width, height)) << w << "x" << h;
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
    }
    int width = 0, height = 0;
    EXPECT_FALSE(MeshPlacedForSize(MeshGrid(2, 2), width, height));  // all points at (0, 0)
}
