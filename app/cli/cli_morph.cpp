// tarnel-cli morph / mesh: the morph run and default meshes from the command line.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "core/MeshFile.h"
#include "core/align/MeshAlign.h"
#include "core/ProjectFile.h"
#include "core/MorphRun.h"
#include "imaging/PictureIO.h"
#include "platform/ProgramFolder.h"

namespace tarnel::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) { interrupted = 1; }

struct MorphOptions {
    std::string start, end, meshFile, out;
    std::vector<std::string> images;  // every key picture given, start and end first
    std::optional<int> rows, columns, frames, kind;
    std::optional<bool> transparent;
    bool align = false;  // --auto
    bool loop = false;   // --loop
    WarpOptions warp;
    int threads = 0;  // one per core
};

constexpr int kMaxRunThreads = 256;

// Fills options from args; returns an error text for bad arguments.
std::string parseMorphArgs(const std::vector<std::string>& args, MorphOptions& o, bool meshCommand) {
    Options options;
    std::vector<OptionDef> known = {{"--rows", true}, {"--columns", true}, {"--out", true}, {"--auto", false}};
    if (!meshCommand)
        known.insert(known.end(), {{"--mesh", true},
                                   {"--frames", true},
                                   {"--kind", true},
                                   {"--transparent", false},
                                   {"--no-transparent", false},
                                   {"--threads", true},
                                   {"--sampling", true},
                                   {"--ease", true},
                                   {"--warp-ease", true},
                                   {"--blend-ease", true},
                                   {"--loop", false}});
    if (std::string err = options.parse(args, known); !err.empty()) return err;

    auto intValue = [&](const char* name, int lo, int hi, std::optional<int>& target) -> std::string {
        auto v = options.value(name);
        if (!v) return "";
        auto n = ParseInt(*v);
        if (!n || *n < lo || *n > hi)
            return std::string(name) + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
        target = *n;
        return "";
    };
    for (std::string err : {intValue("--rows", kMinMeshCells, kMaxMeshCells, o.rows),
                            intValue("--columns", kMinMeshCells, kMaxMeshCells, o.columns),
                            intValue("--frames", kMinRunFrames, kMaxRunFrames, o.frames)})
        if (!err.empty()) return err;
    if (auto v = options.value("--out")) {
        if (v->empty()) return "--out needs a path";
        o.out = *v;
    }
    if (auto v = options.value("--mesh")) {
        if (v->empty()) return "--mesh needs a file";
        o.meshFile = *v;
    }
    if (auto v = options.value("--kind")) {
        int kind = 0;
        if (!ParseSaveKindName(*v, kind)) return "--kind takes bmp, jpg, gif or png";
        o.kind = kind;
    }
    if (auto v = options.value("--threads")) {
        auto n = ParseInt(*v);
        if (!n || *n < 1 || *n > kMaxRunThreads)
            return "--threads needs a number from 1 to " + std::to_string(kMaxRunThreads);
        o.threads = *n;
    }
    if (auto v = options.value("--sampling"); v && !ParseWarpSampling(*v, o.warp.sampling))
        return "--sampling takes nearest or bilinear";
    // --ease sets both; the specific ones override it.
    for (const char* name : {"--ease", "--warp-ease", "--blend-ease"}) {
        auto v = options.value(name);
        if (!v) continue;
        WarpEase ease = WarpEase::Linear;
        if (!ParseWarpEase(*v, ease)) return std::string(name) + " takes linear or smooth";
        if (std::string(name) != "--blend-ease") o.warp.warpEase = ease;
        if (std::string(name) != "--warp-ease") o.warp.blendEase = ease;
    }
    if (options.has("--transparent") && options.has("--no-transparent"))
        return "--transparent and --no-transparent exclude each other";
    o.align = options.has("--auto");
    o.loop = options.has("--loop");
    if (options.has("--transparent")) o.transparent = true;
    if (options.has("--no-transparent")) o.transparent = false;

    const auto& positional = options.positional();
    // A project names its images, so morph may go without them.
    if (positional.size() >= 2) {
        if (positional.size() > size_t(kMaxChainKeys))
            return "at most " + std::to_string(kMaxChainKeys) + " key images";
        o.images = positional;
        o.start = positional[0];
        o.end = positional[1];
    } else if (meshCommand || !positional.empty() || o.meshFile.empty()) {
        return meshCommand ? "expected a start and an end image"
                           : "expected a start and an end image, or --mesh with a project that names them";
    }
    if (o.rows.has_value() != o.columns.has_value()) return "--rows and --columns go together";
    if (meshCommand && (!o.rows || o.out.empty())) return "mesh needs --rows, --columns and --out";
    return "";
}

std::string sizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// One clause per mismatch, in English; the editor words its own. A pair's
// keys are the start and the end image, a chain's are numbered from 1.
std::string describe(const std::vector<ProjectSizeMismatch>& mismatches, bool chain = false) {
    std::string text;
    for (const ProjectSizeMismatch& m : mismatches) {
        const std::string which = chain ? "key " + std::to_string(m.key + 1)
                                        : (m.image == ProjectSizeMismatch::Image::Start ? "start" : "end");
        if (!text.empty()) text += "; ";
        if (m.kind == ProjectSizeMismatch::Kind::ImageSize)
            text += std::string("the ") + which + " image is " + sizeText(m.foundWidth, m.foundHeight) +
                    ", the project was made for " + sizeText(m.expectedWidth, m.expectedHeight);
        else
            text += std::string("the ") + which + " mesh was placed for a " +
                    sizeText(m.expectedWidth, m.expectedHeight) + " image, the " + which + " image is " +
                    sizeText(m.foundWidth, m.foundHeight);
    }
    return text;
}

// Empty when all pictures are of the first one's size; else names the
// first that is not and both sizes.
std::string chainSizeMismatch(const std::vector<std::string>& names, const std::vector<StdPicture>& pictures) {
    for (size_t n = 1; n < pictures.size(); ++n) {
        if (pictures[n].width() != pictures[0].width() || pictures[n].height() != pictures[0].height())
            return "the key images differ in size (" + names[0] + " is " +
                   sizeText(pictures[0].width(), pictures[0].height()) + ", " + names[n] + " is " +
                   sizeText(pictures[n].width(), pictures[n].height()) + ")";
    }
    return "";
}

// Picture errors give the cause; the file is named here, once.
bool loadImage(const std::string& path, StdPicture& picture, std::string& error) {
    if (PictureResult loaded = LoadPicture(path, picture); !loaded) {
        error = NamedOnce("", path, loaded.reason);
        return false;
    }
    return true;
}

// Places the end mesh on the end picture's features; the start mesh stays.
bool alignEndMesh(const StdPicture& start, const StdPicture& end, const MeshGrid& startMesh, MeshGrid& endMesh,
                  const std::string& startName, const std::string& endName, std::string& error) {
    AlignRequest request;
    request.start = start.bitmap.get();
    request.end = end.bitmap.get();
    request.startMesh = &startMesh;
    request.endMesh = &endMesh;
    AlignResult aligned = AlignMesh(request);
    if (!aligned.ok()) {
        error = aligned.status == AlignResult::Status::TooFewMatches
                    ? startName + " and " + endName + " have too little in common to align: " +
                          std::to_string(aligned.matches) + " consistent feature matches, at least " +
                          std::to_string(aligned.requiredMatches) + " needed"
                    : "cannot align " + endName + " to " + startName + ": " + aligned.error;
        return false;
    }
    endMesh = std::move(aligned.end);
    return true;
}

class CliObserver : public MorphRunObserver {
public:
    explicit CliObserver(bool showProgress) : showProgress_(showProgress) {}
    void folderCreated(const std::string& folder) override { folder_ = folder; }
    bool showsFrames() const override { return false; }
    bool frameDone(int k, int last) override {
        if (showProgress_) {
            const int width = 40;
            int filled = (k + 1) * width / (last + 1);
            std::fprintf(stderr, "\r[%s%s] %d/%d", std::string(size_t(filled), '#').c_str(),
                         std::string(size_t(width - filled), '.').c_str(), k + 1, last + 1);
            if (k == last) std::fputc('\n', stderr);
            std::fflush(stderr);
        }
        return !interrupted;
    }

private:
    bool showProgress_;
    std::string folder_;
};

int runMorph(const std::vector<std::string>& args) {
    MorphOptions o;
    if (std::string err = parseMorphArgs(args, o, false); !err.empty()) return Fail(kBadArguments, err);

    // A plain mesh file reads as a project without images or settings.
    ProjectData project;
    std::string error;
    if (!o.meshFile.empty() && !LoadProjectFile(o.meshFile, project, error))
        return Fail(kFailure, NamedOnce("", o.meshFile, error));
    if (o.images.empty()) {
        for (const ProjectKey& key : ProjectKeys(project)) o.images.push_back(key.image);
        if (std::find(o.images.begin(), o.images.end(), std::string()) != o.images.end())
            return Fail(kBadArguments, project.keyCount() == 2
                                           ? o.meshFile + ": names no start and end image; give them on the command line"
                                           : o.meshFile + ": names no image for every key; give them on the command line");
        o.start = o.images[0];
        o.end = o.images[1];
    }
    const size_t keyCount = o.images.size();
    const bool chain = keyCount > 2;

    // The command line overrides the project's run settings.
    const int frames = o.frames.value_or(project.hasFrames ? project.frames : kDefaultRunFrames);
    const int kind = o.kind.value_or(project.hasSaveKind ? project.saveKind : kSaveBmp);
    const bool transparent = o.transparent.value_or(project.hasTransparent && project.transparent);
    const bool loop = o.loop || project.loop;
    // Refused before any picture is read, let alone a frame written.
    if (const long long files = ChainFrameCount(int(keyCount), frames - 1, loop); files > kMaxRunFrameFiles)
        return Fail(kBadArguments, std::to_string(keyCount) + " keys of " + std::to_string(frames) + " frames" +
                                       (loop ? " in a loop" : "") + " make " + std::to_string(files) +
                                       " frames, more than " + std::to_string(kMaxRunFrameFiles));
    if (!o.meshFile.empty() && size_t(project.keyCount()) != keyCount)
        return Fail(kFailure, o.meshFile + ": holds the meshes of " + std::to_string(project.keyCount()) +
                                  " keys, not of " + std::to_string(keyCount));

    std::vector<StdPicture> pictures(keyCount);
    for (size_t n = 0; n < keyCount; ++n)
        if (!loadImage(o.images[n], pictures[n], error)) return Fail(kFailure, error);
    const StdPicture &start = pictures[0], &end = pictures[1];
    if (!chain) {
        if (CheckRunPreconditions(o.start, o.end, start.bitmap.get(), end.bitmap.get()) ==
            RunPrecondition::SizeMismatch)
            return Fail(kFailure, "the start and end images differ in size (" +
                                      sizeText(start.width(), start.height()) + " and " +
                                      sizeText(end.width(), end.height()) + ")");
    } else if (std::string mismatch = chainSizeMismatch(o.images, pictures); !mismatch.empty()) {
        return Fail(kFailure, mismatch);
    }

    std::vector<MeshGrid> meshes(keyCount);
    if (!o.meshFile.empty()) {
        if (o.rows && (*o.rows != project.mesh.rows || *o.columns != project.mesh.columns))
            return Fail(kBadArguments, "--rows/--columns differ from the mesh file");
        std::vector<std::pair<int, int>> sizes;
        for (const StdPicture& p : pictures) sizes.emplace_back(p.width(), p.height());
        const auto mismatches =
            chain ? CheckProjectKeySizes(project, sizes)
                  : CheckProjectImageSizes(project, start.width(), start.height(), end.width(), end.height());
        if (!mismatches.empty()) return Fail(kFailure, o.meshFile + ": " + describe(mismatches, chain));
        std::vector<ProjectKey> keys = ProjectKeys(project);
        for (size_t n = 0; n < keyCount; ++n) meshes[n] = std::move(keys[n].mesh);
    } else {
        int rows = o.rows.value_or(5), columns = o.columns.value_or(5);
        for (size_t n = 0; n < keyCount; ++n)
            meshes[n] = DefaultMesh(rows, columns, pictures[n].width(), pictures[n].height());
    }
    // Pair by pair: each key's mesh placed on the one before.
    if (o.align)
        for (size_t n = 1; n < keyCount; ++n)
            if (!alignEndMesh(pictures[n - 1], pictures[n], meshes[n - 1], meshes[n], o.images[n - 1], o.images[n],
                              error))
                return Fail(kFailure, error);

    MorphRunRequest request;
    request.start = start.bitmap.get();
    request.end = end.bitmap.get();
    request.background = RGBColor(0, 0, 0);  // the editor's frame canvas, black
    request.startMesh = &meshes[0];
    request.endMesh = &meshes[1];
    if (chain || loop)
        for (size_t n = 0; n < keyCount; ++n) request.keys.push_back({pictures[n].bitmap.get(), &meshes[n]});
    request.loop = loop;
    request.totalFrames = frames - 1;
    request.saveKind = kind;
    request.transparency = transparent;
    request.options = o.warp;
    request.threads = o.threads;
    request.programFolder = o.out.empty() ? ProgramFolder() : o.out;
    if (!o.out.empty()) {
        // Report why the folder cannot be made here: the run would only say
        // that its frame folder is missing a parent.
        std::error_code ec;
        std::filesystem::create_directories(o.out, ec);
        if (ec) return Fail(kFailure, "cannot create " + o.out + " (" + ec.message() + ")");
    }

    interrupted = 0;
    auto previous = std::signal(SIGINT, onInterrupt);
    CliObserver observer(::isatty(2));
    MorphRunResult result = RunMorph(request, observer);
    std::signal(SIGINT, previous);

    switch (result.status) {
        case MorphRunResult::Status::Completed: std::printf("%s\n", result.folder.c_str()); return kOk;
        case MorphRunResult::Status::Cancelled:
            std::printf("%s\n", result.folder.c_str());
            return Fail(kFailure, "interrupted after " + std::to_string(result.framesWritten) + " frames");
        case MorphRunResult::Status::Failed: break;
    }
    return Fail(kFailure, result.error);
}

int runMesh(const std::vector<std::string>& args) {
    MorphOptions o;
    if (std::string err = parseMorphArgs(args, o, true); !err.empty()) return Fail(kBadArguments, err);
    const size_t keyCount = o.images.size();
    std::vector<StdPicture> pictures(keyCount);
    std::string error;
    for (size_t n = 0; n < keyCount; ++n)
        if (!loadImage(o.images[n], pictures[n], error)) return Fail(kFailure, error);
    std::vector<ProjectKey> keys(keyCount);
    for (size_t n = 0; n < keyCount; ++n)
        keys[n].mesh = DefaultMesh(*o.rows, *o.columns, pictures[n].width(), pictures[n].height());
    if (o.align) {
        const StdPicture &start = pictures[0], &end = pictures[1];
        if (keyCount == 2 && (start.width() != end.width() || start.height() != end.height()))
            return Fail(kFailure, "the start and end images differ in size (" + sizeText(start.width(), start.height()) +
                                      " and " + sizeText(end.width(), end.height()) + "); --auto aligns pictures of one size");
        if (std::string mismatch = chainSizeMismatch(o.images, pictures); !mismatch.empty())
            return Fail(kFailure, mismatch + "; --auto aligns pictures of one size");
        // Key 1 keeps the default mesh; each later key is placed on the one before.
        for (size_t n = 1; n < keyCount; ++n)
            if (!alignEndMesh(pictures[n - 1], pictures[n], keys[n - 1].mesh, keys[n].mesh, o.images[n - 1],
                              o.images[n], error))
                return Fail(kFailure, error);
    }
    if (keyCount == 2) {
        if (!SaveMeshFile(o.out, keys[0].mesh, keys[1].mesh, error)) return Fail(kFailure, NamedOnce("", o.out, error));
        return kOk;
    }
    // A chain's mesh file is the keys form of a project without images.
    ProjectData chain;
    SetProjectKeys(chain, std::move(keys));
    if (!SaveProjectFile(o.out, chain, error)) return Fail(kFailure, NamedOnce("", o.out, error));
    return kOk;
}

Registrar morphCommand("morph",
                       "  tarnel-cli morph START END [--mesh FILE.json] [--rows R --columns C] [--auto] [--frames N]\n"
                       "                   [--kind bmp|jpg|gif|png] [--transparent|--no-transparent] [--out DIR]\n"
                       "                   [--threads T] [--sampling nearest|bilinear] [--ease linear|smooth]\n"
                       "                   [--warp-ease linear|smooth] [--blend-ease linear|smooth]\n"
                       "  tarnel-cli morph K1 K2 K3 ... [--mesh CHAIN.json] [--loop] [options as above]\n"
                       "  tarnel-cli morph --mesh PROJECT.json [options as above]\n"
                       "      N frames (2..100, default 10) into a new dated folder inside DIR\n"
                       "      (default: the program folder); prints the folder. FILE.json is a mesh\n"
                       "      file or a project; a project gives the images when START and END are\n"
                       "      left out, and the frames, kind and transparency that are not given.\n"
                       "      T frames are rendered at once (1..256, default one per core); the files\n"
                       "      are the same for any T. --sampling reads the images at the nearest pixel\n"
                       "      (default) or between pixels; --ease smooth starts and ends the morph\n"
                       "      slowly, for the shapes (--warp-ease) and the colours (--blend-ease) or\n"
                       "      both (--ease; the other two override it); default linear. --auto places\n"
                       "      the end mesh on the end image's matching features (the start mesh stays)\n"
                       "      A chain of key images (up to 64, all of one size) morphs each into the\n"
                       "      next, N frames per pair, the frame at each join written once: K keys\n"
                       "      give (K - 1) x (N - 1) + 1 frames, at most 1000. CHAIN.json holds one\n"
                       "      mesh per key (as tarnel-cli mesh writes it). --loop adds a last morph\n"
                       "      back to the first key without its final frame: K x (N - 1) frames that\n"
                       "      repeat seamlessly. --auto places each key's mesh on the key before",
                       runMorph);
Registrar meshCommand("mesh",
                      "  tarnel-cli mesh START END --rows R --columns C [--auto] --out FILE.json\n"
                      "  tarnel-cli mesh K1 K2 K3 ... --rows R --columns C [--auto] --out CHAIN.json\n"
                      "      writes the default meshes of both images; with --auto the end mesh is\n"
                      "      placed on the end image's features that match the start mesh's points.\n"
                      "      With three or more images, one mesh per key in a chain file; with --auto\n"
                      "      the first key keeps the default mesh and each later key's mesh is placed\n"
                      "      on the key before",
                      runMesh);

}  // namespace
}  // namespace tarnel::cli
