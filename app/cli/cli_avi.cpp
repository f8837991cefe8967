// tarnel-cli avi: a frame folder to an AVI file, through the export window's
// writer.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "app/cli/ProgressBar.h"
#include "imaging/PictureIO.h"
#include "output/AviExport.h"
#include "output/FolderChooser.h"
#include "platform/ProgramFolder.h"
#include "platform/StaleTempFiles.h"

namespace tarnel::cli {
namespace {

struct AviArgs {
    std::string folder, out;
    int fps = 20;
    int width = 0, height = 0;  // 0: the first image's size
    AviCompressOptions options;
};

// Empty when the arguments are fine, else why not.
std::string parseArgs(const std::vector<std::string>& args, AviArgs& a) {
    Options options;
    if (std::string err = options.parse(
            args, {{"--fps", true}, {"--size", true}, {"--codec", true}, {"--quality", true}, {"--keyframes", true}});
        !err.empty())
        return err;
    if (auto v = options.value("--size")) {
        const size_t x = v->find('x');
        auto w = x == std::string::npos ? std::nullopt : ParseInt(v->substr(0, x));
        auto h = x == std::string::npos ? std::nullopt : ParseInt(v->substr(x + 1));
        if (!w || !h || !Bitmap::sizeAllowed(*w, *h)) return "--size takes WIDTHxHEIGHT, e.g. 320x240";
        a.width = *w;
        a.height = *h;
    }
    if (auto v = options.value("--codec")) {
        AviCodecInfo info;
        if (!FindAviCodec(*v, &info)) {
            std::string keys;
            for (const AviCodecInfo& c : AvailableAviCodecs()) keys += (keys.empty() ? "" : "|") + c.key;
            return "--codec takes " + keys;
        }
        a.options.codec = info.codec;
    }
    if (auto v = options.value("--fps")) {
        auto n = ParseInt(*v);
        if (!n) return "--fps needs a whole number";
        a.fps = *n;
    }
    if (auto v = options.value("--quality")) {
        auto n = ParseInt(*v);
        if (!n || *n < 1 || *n > 100) return "--quality takes 1 to 100";
        a.options.quality = *n;
    }
    if (auto v = options.value("--keyframes")) {
        auto n = ParseInt(*v);
        if (!n || *n < 1) return "--keyframes takes a number of frames from 1";
        a.options.keyFrameEvery = *n;
    }
    if (options.positional().size() != 2) return "avi needs FOLDER and OUT.avi";
    a.folder = options.positional()[0];
    a.out = options.positional()[1];
    return "";
}

// The temporary BMP goes whatever happens.
struct TempFile {
    std::string path;
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

int runAvi(const std::vector<std::string>& args) {
    AviArgs a;
    if (std::string err = parseArgs(args, a); !err.empty()) return Fail(kBadArguments, err);

    FolderError folderError;
    if (!CheckFolder(a.folder, &folderError)) return Fail(kFailure, NamedOnce("", a.folder, folderError.description));
    AviExportRequest request;
    for (const std::string& name : ListPatternFiles(a.folder)) request.framePaths.push_back(JoinFolder(a.folder, name));
    if (request.framePaths.empty())
        return Fail(kFailure, "no images (" + std::string(kFrameFilePattern) + ") in " + a.folder);

    request.width = a.width;
    request.height = a.height;
    if (request.width == 0) {
        StdPicture first;
        if (PictureResult loaded = LoadPicture(request.framePaths[0], first); !loaded)
            return Fail(kFailure, NamedOnce("", request.framePaths[0], loaded.reason));
        request.width = first.width();
        request.height = first.height();
    }
    request.outputPath = a.out;
    request.framesPerSecond = a.fps;
    TempFile temp{ProcessTempFilePath(ProgramFolder(), "AVI_Temp.bmp")};
    request.tempBmpPath = temp.path;

    std::string error;
    AviExportResult result;
    {
        BarProgress progress("frames");
        result = ExportAvi(request, [&] { return std::optional<AviCompressOptions>(a.options); }, &progress, &error);
    }
    // The frames pass through a file in the program folder, not OUT.avi's.
    if (result == AviExportResult::StagingFailed) return Fail(kFailure, error);
    if (result != AviExportResult::Written) return Fail(kFailure, NamedOnce("cannot write", a.out, error));

    std::string label = "raw";
    for (const AviCodecInfo& c : AvailableAviCodecs())
        if (c.codec == a.options.codec) label = c.key;
    std::printf("%s: %zu frames, %dx%d, %d fp/s, %s\n", a.out.c_str(), request.framePaths.size(), request.width,
                request.height, ClampAviFrameRate(a.fps), label.c_str());
    return kOk;
}

Registrar aviCommand("avi",
                     "  tarnel-cli avi FOLDER OUT.avi [--fps N] [--size WxH] [--codec raw|mjpeg|ffv1|mpeg4|h264]\n"
                     "                [--quality Q] [--keyframes N]\n"
                     "      the images of FOLDER in name order as an AVI file, every frame stretched to the size",
                     runAvi);

}  // namespace
}  // namespace tarnel::cli
