// Includes point down the layers only: app -> editor | output -> ui -> core
// -> imaging -> platform (platform/media included). editor/ and output/, each
// with its windows in ui/, are siblings that never include each other; their
// engine files include no window code; a window never includes another
// window's header: windows meet through the child-window openers. The link
// graph enforces the rest (each layer is a library linking only those below).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Layer {
    int rank;
    std::string group;  // folders of one rank that must not include each other
};

std::optional<Layer> LayerOf(const std::string& path) {
    auto starts = [&](const char* prefix) { return path.rfind(prefix, 0) == 0; };
    if (starts("platform/")) return Layer{0, "platform"};
    if (starts("imaging/")) return Layer{10, "imaging"};
    if (starts("core/")) return Layer{20, "core"};
    if (starts("ui/")) return Layer{30, "ui"};
    if (starts("editor/")) return Layer{40, "editor"};
    if (starts("output/")) return Layer{40, "output"};
    if (starts("app/")) return Layer{60, "app"};
    return std::nullopt;
}

// Qt-side code: ui/ and the windows' ui/ folders.
bool IsWindowCode(const std::string& path) {
    return path.rfind("ui/", 0) == 0 || path.find("/ui/") != std::string::npos;
}

// "Tarnel_M" for "editor/ui/Tarnel_M_Run.cpp", empty for files that are not a window's.
std::string WindowOf(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    const bool window = name.size() >= 8 && name.compare(0, 7, "Tarnel_") == 0 && name[7] >= 'A' && name[7] <= 'Z' &&
                        (name.size() == 8 || name[8] == '_' || name[8] == '.');
    return window ? name.substr(0, 8) : std::string();
}

// The quoted name of an #include "..." line, or empty.
std::string QuotedInclude(const std::string& line) {
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] != '#') return {};
    i = line.find_first_not_of(" \t", i + 1);
    if (i == std::string::npos || line.compare(i, 7, "include") != 0) return {};
    const size_t open = line.find_first_not_of(" \t", i + 7);
    if (open == std::string::npos || line[open] != '"') return {};
    const size_t close = line.find('"', open + 1);
    return close == std::string::npos ? std::string() : line.substr(open + 1, close - open - 1);
}

const char* const kLayerFolders[] = {"platform", "imaging", "core", "output", "editor", "ui", "app"};

// What a walk read: a wrong root or a renamed folder shows as nothing read.
struct Scan {
    std::map<std::string, int> files;     // per layer folder
    std::map<std::string, int> includes;  // quoted includes, per layer folder
    int totalFiles() const {
        int n = 0;
        for (const auto& [folder, count] : files) n += count;
        return n;
    }
};

// Calls visit(from, lineNumber, line) for every line of every source file
// under the layer folders of `root`, `from` relative to it.
template <typename Visit>
Scan ForEachSourceLine(const fs::path& root, Visit visit) {
    Scan scan;
    for (const char* top : kLayerFolders) {
        if (!fs::exists(root / top)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
            const std::string from = fs::relative(entry.path(), root).generic_string();
            std::ifstream in(entry.path());
            if (!in) continue;
            ++scan.files[top];
            std::string line;
            for (int n = 1; std::getline(in, line); ++n) {
                if (!QuotedInclude(line).empty()) ++scan.includes[top];
                visit(from, n, line);
            }
        }
    }
    return scan;
}

std::vector<std::string> Violations(const fs::path& root, Scan* read = nullptr) {
    std::vector<std::string> found;
    const Scan scan = ForEachSourceLine(root, [&](const std::string& from, int n, const std::string& line) {
        const std::string to = QuotedInclude(line);
        if (to.empty()) return;
        const auto fromLayer = LayerOf(from);
        const auto toLayer = LayerOf(to);
        if (!fromLayer || !toLayer) return;
        const std::string where = from + ":" + std::to_string(n) + " includes " + to;
        const std::string fromTop = from.substr(0, from.find('/')), toTop = to.substr(0, to.find('/'));
        const bool siblings = (fromTop == "output" && toTop == "editor") || (fromTop == "editor" && toTop == "output");
        if (siblings)
            found.push_back(where + " (across to the other window subsystem)");
        else if (fromLayer->rank == 40 && !IsWindowCode(from) && IsWindowCode(to))
            found.push_back(where + " (engine code includes window code)");
        else if (toLayer->rank > fromLayer->rank)
            found.push_back(where + " (points up)");
        else if (toLayer->rank == fromLayer->rank && toLayer->group != fromLayer->group)
            found.push_back(where + " (across to another folder of the same layer)");
        else if (const std::string w = WindowOf(to); !w.empty() && !WindowOf(from).empty() && w != WindowOf(from))
            found.push_back(where + " (a window includes another window)");
    });
    if (read) *read = scan;
    return found;
}

// The walk over the real tree read every layer folder: its files and the
// includes between them.
void ExpectTheWholeTreeRead(const Scan& scan) {
    EXPECT_GT(scan.totalFiles(), 100) << "the walk read almost nothing under " << TARNEL_SOURCE_ROOT;
    for (const char* top : kLayerFolders) {
        EXPECT_GT(scan.files.count(top) ? scan.files.at(top) : 0, 5) << top;
        EXPECT_GT(scan.includes.count(top) ? scan.includes.at(top) : 0, 5) << top;
    }
}

// The picture front door (imaging/PictureIO) sits above the format folders
// of imaging/: none of them includes it, and each codec library is talked to
// by its own folder only: TurboJPEG by jpeg/, libpng and zlib by png/,
// libwebp by webp/ (pictures in, animations out); OpenCV by
// the alignment (core/align/).
struct CodecLibrary {
    const char* header;  // the start of its headers' names, after "<"
    const char* folder;
    const char* name;
};
constexpr CodecLibrary kCodecLibraries[] = {
    {"turbojpeg.h>", "imaging/jpeg/", "TurboJPEG"},
    {"png", "imaging/png/", "libpng"},
    {"zlib.h>", "imaging/png/", "zlib"},
    {"webp/", "imaging/webp/", "libwebp"},
    {"opencv2/", "core/align/", "OpenCV"},
};

std::vector<std::string> FrontDoorViolations(const fs::path& root, Scan* read = nullptr) {
    std::vector<std::string> found;
    const Scan scan = ForEachSourceLine(root, [&](const std::string& from, int n, const std::string& line) {
        const bool formatCode = from.rfind("imaging/", 0) == 0 && from.find('/', 8) != std::string::npos;
        const std::string where = from + ":" + std::to_string(n);
        if (formatCode && QuotedInclude(line) == "imaging/PictureIO.h") found.push_back(where + " includes the front door");
        const size_t include = line.find("#include");
        const size_t open = include == std::string::npos ? include : line.find('<', include);
        if (open == std::string::npos) return;
        for (const CodecLibrary& library : kCodecLibraries)
            if (line.compare(open + 1, std::strlen(library.header), library.header) == 0 &&
                from.rfind(library.folder, 0) != 0)
                found.push_back(where + " includes " + library.name);
    });
    if (read) *read = scan;
    return found;
}

TEST(Layers, EveryIncludePointsDown) {
    Scan scan;
    const std::vector<std::string> found = Violations(TARNEL_SOURCE_ROOT, &scan);
    ExpectTheWholeTreeRead(scan);
    std::string report;
    for (const std::string& v : found) report += v + "\n";
    EXPECT_TRUE(found.empty()) << report;
}

TEST(Layers, TheCheckSeesAWrongInclude) {
    const tarnel::test::TempDir scratch;
    const fs::path& root = scratch.path();
    fs::create_directories(root / "core");
    fs::create_directories(root / "output/ui");
    std::ofstream(root / "core/A.cpp") << "#include \"output/ui/Tarnel_F.h\"\n#include \"platform/gdi.h\"\n";
    std::ofstream(root / "output/ui/Tarnel_F.cpp") << "#include \"output/ui/Tarnel_A.h\"\n#include \"ui/Skin.h\"\n";
    const std::vector<std::string> found = Violations(root);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NE(found[0].find("points up"), std::string::npos);
    EXPECT_NE(found[1].find("another window"), std::string::npos);
}

TEST(Layers, TheCheckSeesOutputAndEditorMeet) {
    const tarnel::test::TempDir scratch;
    const fs::path& root = scratch.path();
    fs::create_directories(root / "output/ui");
    std::ofstream(root / "output/ui/Tarnel_F.cpp") << "#include \"editor/SourceImages.h\"\n";
    std::ofstream(root / "output/AviExport.cpp") << "#include \"ui/Skin.h\"\n#include \"output/ui/Tarnel_F.h\"\n";
    const std::vector<std::string> found = Violations(root);
    ASSERT_EQ(found.size(), 3u);
    size_t across = 0, engine = 0;
    for (const std::string& v : found) {
        across += v.find("other window subsystem") != std::string::npos;
        engine += v.find("engine code includes window code") != std::string::npos;
    }
    EXPECT_EQ(across, 1u);
    EXPECT_EQ(engine, 2u);
}

TEST(Layers, FormatCodeStaysBelowThePictureFrontDoor) {
    Scan scan;
    const std::vector<std::string> found = FrontDoorViolations(TARNEL_SOURCE_ROOT, &scan);
    ExpectTheWholeTreeRead(scan);
    std::string report;
    for (const std::string& v : found) report += v + "\n";
    EXPECT_TRUE(found.empty()) << report;

    const tarnel::test::TempDir scratch;
    const fs::path& root = scratch.path();
    fs::create_directories(root / "imaging/gif");
    fs::create_directories(root / "imaging/jpeg");
    fs::create_directories(root / "imaging/png");
    fs::create_directories(root / "imaging/webp");
    fs::create_directories(root / "output");
    std::ofstream(root / "imaging/gif/A.cpp") << "#include \"imaging/PictureIO.h\"\n#include <turbojpeg.h>\n";
    std::ofstream(root / "imaging/jpeg/B.cpp") << "#include <turbojpeg.h>\n#include \"imaging/LoadBudget.h\"\n";
    std::ofstream(root / "imaging/C.cpp") << "#include \"imaging/PictureIO.h\"\n";
    std::ofstream(root / "imaging/png/D.cpp") << "#include <png.h>\n#include <zlib.h>\n#include <webp/decode.h>\n";
    std::ofstream(root / "imaging/webp/E.cpp") << "#include <webp/demux.h>\n#include <pngconf.h>\n";
    std::ofstream(root / "output/F.cpp") << "#include <zlib.h>\n#include <vector>\n";
    fs::create_directories(root / "core/align");
    std::ofstream(root / "core/align/G.cpp") << "#include <opencv2/core.hpp>\n";
    std::ofstream(root / "core/H.cpp") << "#include <opencv2/imgproc.hpp>\n";
    std::vector<std::string> seen = FrontDoorViolations(root);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"core/H.cpp:1 includes OpenCV",
                                               "imaging/gif/A.cpp:1 includes the front door",
                                               "imaging/gif/A.cpp:2 includes TurboJPEG",
                                               "imaging/png/D.cpp:3 includes libwebp",
                                               "imaging/webp/E.cpp:2 includes libpng", "output/F.cpp:1 includes zlib"}));
}

}  // namespace
