#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

#include "core/MeshFile.h"
#include "support/TempDir.h"

using namespace tarnel;

namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

MeshGrid scrambled(MeshGrid mesh, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1000.0f, 1000.0f);
    for (MeshPoint& p : mesh.points()) p = MeshPoint{d(rng) / 3.0f, d(rng) * 1.0e-3f};
    return mesh;
}

// A 1 x 1 file (3 x 3 points) whose start point n is (n, 10 + n).
std::string oneByOne(const std::string& startPoints = "", const std::string& extra = "") {
    std::string start = startPoints;
    if (start.empty()) {
        for (int n = 0; n < 9; ++n) start += (n ? ", [" : "[") + std::to_string(n) + ", " + std::to_string(10 + n) + "]";
        start = "[" + start + "]";
    }
    return R"({"rows": 1, "columns": 1, "start": )" + start +
           R"(, "end": [[0,0],[1,0],[2,0],[0,1],[1,1],[2,1],[0,2],[1,2],[2,2]])" + extra + "}";
}

}  // namespace

TEST(MeshFile, PointOrderIsDownOuterAcrossInner) {
    MeshFileData data;
    std::string error;
    ASSERT_TRUE(ParseMeshFile(oneByOne(), data, error)) << error;
    EXPECT_EQ(data.rows, 1);
    EXPECT_EQ(data.columns, 1);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            const int n = j * 3 + i;
            EXPECT_EQ(data.start(i, j), (MeshPoint{float(n), float(10 + n)}));
            EXPECT_EQ(data.end(i, j), (MeshPoint{float(i), float(j)}));
        }
}

TEST(MeshFile, TextListsPointsInFileOrder) {
    MeshGrid start(2, 1), end(2, 1);
    start(3, 0) = MeshPoint{1.5f, -2.25f};  // position 0 · 4 + 3
    start(0, 2) = MeshPoint{7, 8};          // position 2 · 4 + 0
    const std::string text = MeshFileText(start, end);
    MeshFileData data;
    std::string error;
    ASSERT_TRUE(ParseMeshFile(text, data, error)) << error;
    EXPECT_EQ(data.start.points()[3], (MeshPoint{1.5f, -2.25f}));
    EXPECT_EQ(data.start.points()[8], (MeshPoint{7, 8}));
    EXPECT_NE(text.find("\"rows\": 2"), std::string::npos);
    EXPECT_NE(text.find("[1.5, -2.25]"), std::string::npos);
}

TEST(MeshFile, SaveAndLoadKeepEveryFloatExactly) {
    test::TempDir dir;
    for (auto [r, c] : {std::pair{1, 1}, {5, 5}, {40, 40}, {3, 17}}) {
        const MeshGrid start = scrambled(DefaultMesh(r, c, 640, 480), uint32_t(r * 100 + c));
        const MeshGrid end = scrambled(DefaultMesh(r, c, 640, 480), uint32_t(r * 100 + c + 1));
        const auto path = dir.path() / "mesh.json";
        std::string error;
        ASSERT_TRUE(SaveMeshFile(path, start, end, error)) << error;
        MeshFileData data;
        ASSERT_TRUE(LoadMeshFile(path, data, error)) << error;
        EXPECT_EQ(data.rows, r);
        EXPECT_EQ(data.columns, c);
        EXPECT_EQ(data.start, start);
        EXPECT_EQ(data.end, end);
    }
}

TEST(MeshFile, SaveReplacesTheFileAndLeavesNoTemporary) {
    test::TempDir dir;
    const auto path = dir.path() / "mesh.json";
    writeText(path, "old contents");
    const MeshGrid mesh = DefaultMesh(2, 2, 100, 100);
    std::string error;
    ASSERT_TRUE(SaveMeshFile(path, mesh, mesh, error)) << error;
    EXPECT_EQ(readText(path), MeshFileText(mesh, mesh));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(MeshFile, SaveFailuresKeepTheOldFile) {
    test::TempDir dir;
    std::string error;
    const MeshGrid a = DefaultMesh(2, 2, 100, 100), b = DefaultMesh(3, 2, 100, 100);
    EXPECT_FALSE(SaveMeshFile(dir.path() / "missing" / "mesh.json", a, a, error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    const auto path = dir.path() / "mesh.json";
    writeText(path, "keep me");
    EXPECT_FALSE(SaveMeshFile(path, a, b, error));
    EXPECT_NE(error.find("differ"), std::string::npos) << error;
    EXPECT_FALSE(SaveMeshFile(path, MeshGrid(), MeshGrid(), error));
    EXPECT_EQ(readText(path), "keep me");
    EXPECT_TRUE(MeshFileText(a, b).empty());
}

TEST(MeshFile, MalformedInputIsRefusedWithAReason) {
    struct Case {
        std::string text;
        std::string expected;  // part of the error text
    };
    const std::string points9 = "[[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0]]";
    const Case cases[] = {
        {"", "malformed JSON"},
        {"{\"rows\": 1,", "malformed JSON"},
        {"[1, 2]", "not a JSON object"},
        {R"({"columns": 1, "start": [], "end": []})", "missing key \"rows\""},
        {R"({"rows": 1, "start": [], "end": []})", "missing key \"columns\""},
        {R"({"rows": 1, "columns": 1, "end": )" + points9 + "}", "missing key \"start\""},
        {R"({"rows": 1, "columns": 1, "start": )" + points9 + "}", "missing key \"end\""},
        {R"({"rows": 0, "columns": 1, "start": [], "end": []})", "outside 1..40"},
        {R"({"rows": 1, "columns": 41, "start": [], "end": []})", "outside 1..40"},
        {R"({"rows": -3, "columns": 1, "start": [], "end": []})", "outside 1..40"},
        {R"({"rows": 1.5, "columns": 1, "start": [], "end": []})", "not an integer"},
        {R"({"rows": "2", "columns": 1, "start": [], "end": []})", "not an integer"},
        {R"({"rows": 1, "columns": 1, "start": {}, "end": []})", "not an array"},
        {R"({"rows": 1, "columns": 1, "start": [[0,0]], "end": []})", "expected 9"},
        {R"({"rows": 2, "columns": 1, "start": )" + points9 + ", \"end\": " + points9 + "}", "expected 12"},
        {oneByOne("[[0,0],[0,0],[0,0],[0,0],[0],[0,0],[0,0],[0,0],[0,0]]"), "point 4 (i 1, j 1)"},
        {oneByOne("[[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,\"x\"],[0,0],[0,0]]"), "not a finite number"},
        {oneByOne("[[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[1e39,0]]"), "point 8 (i 2, j 2)"},
        {oneByOne("[[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[1e400,0]]"), "out of range"},
        {oneByOne("[[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[null,0]]"), "not a finite number"},
        {oneByOne("[[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0],[0,0,0]]"), "not an [x, y] pair"},
        {oneByOne("", "} trailing"), "malformed JSON"},
    };
    for (const Case& c : cases) {
        MeshFileData data;
        data.rows = 99;
        std::string error;
        EXPECT_FALSE(ParseMeshFile(c.text, data, error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << "\n  gave: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;  // our words, not the parser's
        EXPECT_EQ(data.rows, 99) << "output touched on failure";
    }
}

TEST(MeshFile, NestingAndValueCountsAreBoundedWhileParsing) {
    // Refused as the parse reaches the limit, before a tree of the whole
    // input is built (16 MB of "[" would otherwise take over a gigabyte).
    struct Case { const char* name; std::string text; const char* expected; };
    std::string manyValues = "{\"rows\": [";
    for (int i = 0; i < 70000; ++i) manyValues += "0,";
    manyValues += "0]}";
    const Case cases[] = {
        {"16 MB of [", std::string(16u << 20, '['), "nested more than 64 deep"},
        {"65 nested arrays, closed", std::string(65, '[') + std::string(65, ']'), "nested more than 64 deep"},
        {"64 nested arrays hold the value", std::string(64, '[') + "1" + std::string(64, ']'), "not a JSON object"},
        {"deep inside an object", "{\"start\": " + std::string(100, '[') + std::string(100, ']') + "}",
         "nested more than 64 deep"},
        {"70000 values", manyValues, "more than 65536 values"},
    };
    for (const Case& c : cases) {
        MeshFileData data;
        std::string error;
        EXPECT_FALSE(ParseMeshFile(c.text, data, error)) << c.name;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << "\n  gave: " << error;
    }
    // The largest meshes stay well inside both limits.
    const MeshGrid big(40, 40);
    MeshFileData data;
    std::string error;
    EXPECT_TRUE(ParseMeshFile(MeshFileText(big, big), data, error)) << error;
}

TEST(MeshFile, LoadReportsUnreadableAndOversizedFiles) {
    test::TempDir dir;
    MeshFileData data;
    std::string error;
    EXPECT_FALSE(LoadMeshFile(dir.path() / "none.json", data, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    const auto big = dir.path() / "big.json";
    writeText(big, "{");
    std::filesystem::resize_file(big, kMaxMeshFileBytes + 1);
    EXPECT_FALSE(LoadMeshFile(big, data, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
}
