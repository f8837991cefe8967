// Projects and mesh files of a chain of three or more key pictures.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/ProjectFile.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

ProjectKey key(const std::string& image, int n, int width = 300, int height = 200) {
    ProjectKey k{image, image.empty() ? 0 : width, image.empty() ? 0 : height, DefaultMesh(3, 2, width, height)};
    k.mesh(1, 1) = MeshPoint{10.5f * float(n), 20.25f + float(n)};
    return k;
}

ProjectData chainOf(std::vector<ProjectKey> keys) {
    ProjectData d;
    SetProjectKeys(d, std::move(keys));
    return d;
}

void expectSameKeys(const ProjectData& a, const ProjectData& b) {
    const std::vector<ProjectKey> ka = ProjectKeys(a), kb = ProjectKeys(b);
    ASSERT_EQ(ka.size(), kb.size());
    for (size_t n = 0; n < ka.size(); ++n) {
        EXPECT_EQ(ka[n].image, kb[n].image) << "key " << n;
        EXPECT_EQ(ka[n].width, kb[n].width) << "key " << n;
        EXPECT_EQ(ka[n].height, kb[n].height) << "key " << n;
        EXPECT_EQ(ka[n].mesh, kb[n].mesh) << "key " << n;
    }
    EXPECT_EQ(a.mesh.rows, b.mesh.rows);
    EXPECT_EQ(a.mesh.columns, b.mesh.columns);
    EXPECT_EQ(a.loop, b.loop);
    EXPECT_EQ(a.frames, b.frames);
    EXPECT_EQ(a.hasFrames, b.hasFrames);
    EXPECT_EQ(a.saveKind, b.saveKind);
}

}  // namespace

// Saved and loaded, a chain keeps its keys in order; two keys are written in
// the start/end form a reader of that form alone takes.
TEST(ProjectFileChain, KeysComeBackInOrderAndTwoKeysKeepTheStartEndForm) {
    test::TempDir dir;
    const std::string inside = dir.file("a.jpg"), elsewhere = "/nowhere/c.jpg";
    struct Case {
        const char* name;
        std::vector<ProjectKey> keys;
        bool loop, settings;
        const char* form;  // what the text holds
    };
    const Case cases[] = {
        {"three keys, looped, with settings", {key(inside, 0), key(elsewhere, 1), key(dir.file("d/e.bmp"), 2)},
         true, true, "\"keys\""},
        {"four keys without images (the chain's mesh file)", {key("", 0), key("", 1), key("", 2), key("", 3)},
         false, false, "\"keys\""},
        {"two keys", {key(inside, 0), key(elsewhere, 1)}, false, true, "\"start\""},
        {"two keys, looped", {key(inside, 0), key(elsewhere, 1)}, true, false, "\"start\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProjectData data = chainOf(c.keys);
        data.loop = c.loop;
        if (c.settings) {
            data.frames = 23;
            data.hasFrames = true;
            data.saveKind = kSaveGif;
            data.hasSaveKind = true;
        }
        const std::string path = dir.file("p.json");
        std::string error;
        ASSERT_TRUE(SaveProjectFile(path, data, error)) << error;
        const std::string text = test::readText(path);
        EXPECT_NE(text.find(c.form), std::string::npos) << text;
        const bool chain = c.keys.size() > 2;
        EXPECT_EQ(text.rfind(chain ? "{\n  \"project\": 2," : "{\n  \"project\": 1,", 0), 0u) << text;
        if (!chain) {
            // The very text of the project made the old way.
            ProjectData classic = data;
            classic.loop = false;
            EXPECT_EQ(ProjectFileText(classic, error).find("\"keys\""), std::string::npos);
            EXPECT_EQ(text.find("\"loop\""), c.loop ? text.find("\"loop\": true") : std::string::npos);
        }
        ProjectData back;
        ASSERT_TRUE(LoadProjectFile(path, back, error)) << error;
        expectSameKeys(back, data);
        if (chain && !c.keys[0].image.empty()) {
            EXPECT_NE(text.find("\"image\": \"a.jpg\""), std::string::npos) << "stored relative to the project";
        }
    }
}

TEST(ProjectFileChain, BadKeysAreRefusedWithTheirReason) {
    const std::string mesh = "[[0,0],[1,0],[2,0],[0,1],[1,1],[2,1],[0,2],[1,2],[2,2]]";
    auto keys = [&](int count) {
        std::string t;
        for (int n = 0; n < count; ++n) t += std::string(n ? ", " : "") + "{\"mesh\": " + mesh + "}";
        return t;
    };
    auto doc = [](const std::string& members) { return "{\"rows\": 1, \"columns\": 1, " + members + "}"; };
    struct Case {
        const char* name;
        std::string text;
        const char* expected;
    };
    const Case cases[] = {
        {"keys beside start", doc("\"start\": " + mesh + ", \"keys\": [" + keys(3) + "]"), "exclude each other"},
        {"one key", doc("\"keys\": [" + keys(1) + "]"), "2..64 keys"},
        {"65 keys", doc("\"keys\": [" + keys(65) + "]"), "2..64 keys"},
        {"a key short of points", doc("\"keys\": [" + keys(2) + ", {\"mesh\": [[0,0]]}]"), "\"keys\" 3 \"mesh\" holds 1"},
        {"a key without a mesh", doc("\"keys\": [" + keys(2) + ", {\"image\": \"x.jpg\"}]"), "\"keys\" 3 has no"},
        {"a key that is a number", doc("\"keys\": [" + keys(2) + ", 7]"), "\"keys\" 3 is not an object"},
        {"an empty image path", doc("\"keys\": [" + keys(2) + ", {\"image\": \"\", \"mesh\": " + mesh + "}]"),
         "\"keys\" 3 \"image\" is not a file path"},
        {"a bad size", doc("\"keys\": [{\"size\": [0, 5], \"mesh\": " + mesh + "}, " + keys(2) + "]"),
         "\"keys\" 1 \"size\" is 0"},
        {"a later keys version", doc("\"project\": 3, \"keys\": [" + keys(3) + "]"), "later version"},
        {"a loop that is not a switch", doc("\"loop\": 1, \"keys\": [" + keys(3) + "]"), "\"loop\" is not true"},
    };
    for (const Case& c : cases) {
        ProjectData data;
        std::string error;
        EXPECT_FALSE(ParseProjectFile(c.text, data, error)) << c.name;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << "\n  gave: " << error;
    }
    // 64 keys of the largest meshes stay inside the parser's bounds.
    std::vector<ProjectKey> many;
    for (int n = 0; n < kMaxChainKeys; ++n) many.push_back({"", 0, 0, DefaultMesh(40, 40, 5000, 4000)});
    std::string error;
    const std::string text = ProjectFileText(chainOf(many), error);
    ASSERT_FALSE(text.empty()) << error;
    ProjectData back;
    ASSERT_TRUE(ParseProjectFile(text, back, error)) << error;
    EXPECT_EQ(back.keyCount(), kMaxChainKeys);
}

TEST(ProjectFileChain, SizeChecksNameTheKey) {
    const ProjectData d = chainOf({key("a.jpg", 0), key("b.jpg", 1), key("c.jpg", 2, 320, 200)});
    const auto found = CheckProjectKeySizes(d, {{300, 200}, {300, 200}, {300, 200}});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].key, 2);
    EXPECT_EQ(found[0].kind, ProjectSizeMismatch::Kind::ImageSize);
    EXPECT_EQ(found[0].expectedWidth, 320);
    EXPECT_EQ(found[0].foundWidth, 300);
    EXPECT_TRUE(CheckProjectKeySizes(d, {{300, 200}, {300, 200}, {320, 200}}).empty());
}
