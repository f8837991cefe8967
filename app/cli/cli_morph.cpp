// tarnel-cli morph / mesh: the morph run and default meshes from the command line.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "core/MeshFile.h"
#include "core/MorphRun.h"
#include "imaging/PictureIO.h"
#include "platform/ProgramFolder.h"

namespace tarnel::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) { interrupted = 1; }

struct MorphOptions {
    std::string start, end, meshFile, out;
    std::optional<int> rows, columns;
    int frames = 10;
    int kind = kSaveBmp;
    bool transparent = false;
};

std::optional<int> parseInt(const std::string& text) {
    try {
        size_t used = 0;
        int v = std::stoi(text, &used);
        if (used == text.size()) return v;
    } catch (...) {
    }
    return std::nullopt;
}

// Fills options from args; returns an error text for bad arguments.
std::string parseMorphArgs(const std::vector<std::string>& args, MorphOptions& o, bool meshCommand) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            (void)name;
            return args[++i];
        };
        auto intValue = [&](const char* name, int lo, int hi, std::optional<int>& target) -> std::string {
            auto v = value(name);
            auto n = v ? parseInt(*v) : std::nullopt;
            if (!n || *n < lo || *n > hi)
                return std::string(name) + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
            target = *n;
            return "";
        };
        std::string err;
        if (a == "--rows") {
            err = intValue("--rows", kMinMeshCells, kMaxMeshCells, o.rows);
        } else if (a == "--columns") {
            err = intValue("--columns", kMinMeshCells, kMaxMeshCells, o.columns);
        } else if (a == "--out") {
            auto v = value("--out");
            if (!v || v->empty()) return "--out needs a path";
            o.out = *v;
        } else if (!meshCommand && a == "--frames") {
            std::optional<int> frames;
            err = intValue("--frames", 2, 100, frames);
            if (frames) o.frames = *frames;
        } else if (!meshCommand && a == "--mesh") {
            auto v = value("--mesh");
            if (!v) return "--mesh needs a file";
            o.meshFile = *v;
        } else if (!meshCommand && a == "--kind") {
            auto v = value("--kind");
            if (v && *v == "bmp") o.kind = kSaveBmp;
            else if (v && *v == "jpg") o.kind = kSaveJpg;
            else if (v && *v == "gif") o.kind = kSaveGif;
            else return "--kind takes bmp, jpg or gif";
        } else if (!meshCommand && a == "--transparent") {
            o.transparent = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option " + a;
        } else {
            positional.push_back(a);
        }
        if (!err.empty()) return err;
    }
    if (positional.size() != 2) return "expected a start and an end image";
    o.start = positional[0];
    o.end = positional[1];
    if (o.rows.has_value() != o.columns.has_value()) return "--rows and --columns go together";
    if (meshCommand && (!o.rows || o.out.empty())) return "mesh needs --rows, --columns and --out";
    return "";
}

// Picture errors give the cause; the file is named here, once.
bool loadImage(const std::string& path, PictureBox& box, std::string& error) {
    StdPicture picture;
    std::string why;
    if (!LoadPicture(path, picture, &why)) {
        error = path + ": " + why;
        return false;
    }
    box.setPicture(picture);
    return true;
}

class CliObserver : public MorphRunObserver {
public:
    explicit CliObserver(bool showProgress) : showProgress_(showProgress) {}
    void folderCreated(const std::string& folder) override { folder_ = folder; }
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

    PictureBox start, end, frame;
    std::string error;
    if (!loadImage(o.start, start, error) || !loadImage(o.end, end, error)) return Fail(kFailure, error);
    if (CheckRunPreconditions(o.start, o.end, start, end) == RunPrecondition::SizeMismatch)
        return Fail(kFailure, kSizeMismatchMessage);

    MeshGrid startMesh, endMesh;
    if (!o.meshFile.empty()) {
        MeshFileData data;
        if (!LoadMeshFile(o.meshFile, data, error)) return Fail(kFailure, o.meshFile + ": " + error);
        if (o.rows && (*o.rows != data.rows || *o.columns != data.columns))
            return Fail(kBadArguments, "--rows/--columns differ from the mesh file");
        startMesh = std::move(data.start);
        endMesh = std::move(data.end);
    } else {
        int rows = o.rows.value_or(5), columns = o.columns.value_or(5);
        startMesh = DefaultMesh(rows, columns, start.scaleWidth(), start.scaleHeight());
        endMesh = DefaultMesh(rows, columns, end.scaleWidth(), end.scaleHeight());
    }

    MorphRunRequest request;
    request.start = &start;
    request.end = &end;
    request.frame = &frame;
    request.startMesh = &startMesh;
    request.endMesh = &endMesh;
    request.totalFrames = o.frames - 1;
    request.saveKind = o.kind;
    request.transparency = o.transparent;
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
    PictureBox start, end;
    std::string error;
    if (!loadImage(o.start, start, error) || !loadImage(o.end, end, error)) return Fail(kFailure, error);
    MeshGrid startMesh = DefaultMesh(*o.rows, *o.columns, start.scaleWidth(), start.scaleHeight());
    MeshGrid endMesh = DefaultMesh(*o.rows, *o.columns, end.scaleWidth(), end.scaleHeight());
    if (!SaveMeshFile(o.out, startMesh, endMesh, error)) return Fail(kFailure, o.out + ": " + error);
    return kOk;
}

Registrar morphCommand("morph",
                       "  tarnel-cli morph START END [--mesh FILE.json] [--rows R --columns C] [--frames N]\n"
                       "                   [--kind bmp|jpg|gif] [--transparent] [--out DIR]\n"
                       "      N frames (2..100, default 10) into a new dated folder inside DIR\n"
                       "      (default: the program folder); prints the folder",
                       runMorph);
Registrar meshCommand("mesh",
                      "  tarnel-cli mesh START END --rows R --columns C --out FILE.json\n"
                      "      writes the default meshes of both images",
                      runMesh);

}  // namespace
}  // namespace tarnel::cli
