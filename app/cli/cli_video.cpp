// tarnel-cli video: a frame folder to an MP4 (H.264) or WebM (VP9) file.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "app/cli/ProgressBar.h"
#include "output/FolderChooser.h"
#include "output/VideoExport.h"

namespace tarnel::cli {
namespace {

// The AVI export's default rate.
constexpr int kDefaultFrameRate = 20;

// Empty when the arguments are fine, else why not.
std::string parseArgs(const std::vector<std::string>& args, VideoExportRequest& request, std::string& folder) {
    Options options;
    if (std::string err = options.parse(args, {{"--fps", true}, {"--crf", true}, {"--size", true}}); !err.empty())
        return err;
    if (options.positional().size() != 2) return "video needs FOLDER and OUT.mp4 or OUT.webm";
    folder = options.positional()[0];
    request.outputPath = options.positional()[1];
    const std::optional<VideoContainer> container = VideoContainerFor(request.outputPath);
    if (!container) return request.outputPath + ": the name must end in .mp4 (H.264) or .webm (VP9)";

    request.framesPerSecond = kDefaultFrameRate;
    if (auto v = options.value("--fps")) {
        auto n = ParseInt(*v);
        if (!n || *n < kMinVideoFrameRate || *n > kMaxVideoFrameRate)
            return "--fps takes " + std::to_string(kMinVideoFrameRate) + " to " + std::to_string(kMaxVideoFrameRate);
        request.framesPerSecond = *n;
    }
    if (auto v = options.value("--crf")) {
        const int most = MaxVideoCrf(*container);
        auto n = ParseInt(*v);
        if (!n || *n < 0 || *n > most)
            return "--crf takes 0 to " + std::to_string(most) + " for " + VideoContainerName(*container);
        request.crf = *n;
    }
    if (auto v = options.value("--size")) {
        const size_t x = v->find('x');
        auto w = x == std::string::npos ? std::nullopt : ParseInt(v->substr(0, x));
        auto h = x == std::string::npos ? std::nullopt : ParseInt(v->substr(x + 1));
        if (!w || !h || !Bitmap::sizeAllowed(*w, *h)) return "--size takes WIDTHxHEIGHT, e.g. 320x240";
        request.width = *w;
        request.height = *h;
    }
    return "";
}

int runVideo(const std::vector<std::string>& args) {
    VideoExportRequest request;
    std::string folder;
    if (std::string err = parseArgs(args, request, folder); !err.empty()) return Fail(kBadArguments, err);

    FolderError folderError;
    if (!CheckFolder(folder, &folderError)) return Fail(kFailure, NamedOnce("", folder, folderError.description));
    for (const std::string& name : ListPatternFiles(folder)) request.framePaths.push_back(JoinFolder(folder, name));
    if (request.framePaths.empty()) return Fail(kFailure, "no images (" + std::string(kFrameFilePattern) + ") in " + folder);

    std::string error;
    VideoExportSummary summary;
    VideoExportResult result;
    {
        BarProgress progress("frames");
        result = ExportVideo(request, &progress, &error, &summary);
    }
    switch (result) {
        case VideoExportResult::Written: break;
        case VideoExportResult::ImageLoadFailed:
        case VideoExportResult::SizeMismatch: return Fail(kFailure, "cannot write " + request.outputPath + ": " + error);
        default: return Fail(kFailure, NamedOnce("cannot write", request.outputPath, error));
    }

    const VideoContainer container = *VideoContainerFor(request.outputPath);
    const int crf = request.crf < 0 ? DefaultVideoCrf(container) : request.crf;
    std::string size = std::to_string(summary.width) + "x" + std::to_string(summary.height);
    if (summary.codedWidth != summary.width || summary.codedHeight != summary.height)
        size += " (padded to " + std::to_string(summary.codedWidth) + "x" + std::to_string(summary.codedHeight) + ")";
    std::printf("%s: %d frames, %s, %d fp/s, %s crf %d\n", request.outputPath.c_str(), summary.frames, size.c_str(),
                request.framesPerSecond, container == VideoContainer::Mp4 ? "h264" : "vp9", crf);
    return kOk;
}

Registrar videoCommand("video",
                       "  tarnel-cli video FOLDER OUT.mp4|OUT.webm [--fps N] [--crf Q] [--size WxH]\n"
                       "      the images of FOLDER in name order as H.264 (.mp4) or VP9 (.webm), 20 fp/s unless\n"
                       "      --fps says otherwise; --crf 0-51 for H.264 (default 23), 0-63 for VP9 (default 32),\n"
                       "      lower is better; all images must have one size unless --size stretches them",
                       runVideo);

}  // namespace
}  // namespace tarnel::cli
