// tarnel-cli video: a frame folder or an AVI file to an MP4 (H.264), WebM
// (VP9), animated WebP or APNG file.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "app/cli/ProgressBar.h"
#include "core/AreaResize.h"
#include "output/FolderChooser.h"
#include "output/VideoExport.h"
#include "output/mAVIImp.h"
#include "platform/media/AviReader.h"

namespace tarnel::cli {
namespace {

// The AVI export's default rate.
constexpr int kDefaultFrameRate = 20;

struct VideoArgs {
    VideoExportRequest request;
    std::string in;
    AnimationFormat format = AnimationFormat::Mp4;
    bool fpsGiven = false;
};

// Why an option does not fit the format; empty when it does.
std::string refused(const Options& options, AnimationFormat format) {
    const bool video = format == AnimationFormat::Mp4 || format == AnimationFormat::WebM;
    const char* name = AnimationFormatName(format);
    if (options.has("--crf") && !video) return std::string("--crf is for .mp4 and .webm; ") + name + " has no crf";
    if (format != AnimationFormat::WebP) {
        if (options.has("--quality")) return std::string("--quality is for .webp; ") + name + " has no quality";
        if (options.has("--lossless")) return std::string("--lossless is for .webp; ") + name + " is always " +
                                              (format == AnimationFormat::Apng ? "lossless" : "lossy");
    }
    if (options.has("--quality") && options.has("--lossless")) return "--quality is for lossy WebP, not with --lossless";
    if (options.has("--loop") && video) return std::string("--loop is for .webp, .apng and .png; ") + name + " has no loop count";
    return "";
}

// Empty when the arguments are fine, else why not.
std::string parseArgs(const std::vector<std::string>& args, VideoArgs& a) {
    VideoExportRequest& request = a.request;
    Options options;
    if (std::string err = options.parse(args, {{"--fps", true},
                                               {"--crf", true},
                                               {"--size", true},
                                               {"--quality", true},
                                               {"--lossless", false},
                                               {"--loop", true},
                                               {"--pingpong", false}});
        !err.empty())
        return err;
    if (options.positional().size() != 2) return "video needs FOLDER and OUT.mp4, .webm, .webp, .apng or .png (FOLDER may be an AVI file)";
    a.in = options.positional()[0];
    request.outputPath = options.positional()[1];
    const std::optional<AnimationFormat> format = AnimationFormatFor(request.outputPath);
    if (!format)
        return request.outputPath +
               ": the name must end in .webp (animated WebP), .apng or .png (APNG), .mp4 (H.264) or .webm (VP9)";
    a.format = *format;
    if (std::string why = refused(options, *format); !why.empty()) return why;

    request.framesPerSecond = kDefaultFrameRate;
    if (auto v = options.value("--fps")) {
        auto n = ParseInt(*v);
        if (!n || *n < kMinVideoFrameRate || *n > kMaxVideoFrameRate)
            return "--fps takes " + std::to_string(kMinVideoFrameRate) + " to " + std::to_string(kMaxVideoFrameRate);
        request.framesPerSecond = *n;
        a.fpsGiven = true;
    }
    if (auto v = options.value("--crf")) {
        const VideoContainer container = *format == AnimationFormat::Mp4 ? VideoContainer::Mp4 : VideoContainer::WebM;
        const int most = MaxVideoCrf(container);
        auto n = ParseInt(*v);
        if (!n || *n < 0 || *n > most)
            return "--crf takes 0 to " + std::to_string(most) + " for " + VideoContainerName(container);
        request.crf = *n;
    }
    if (auto v = options.value("--quality")) {
        auto n = ParseInt(*v);
        if (!n || *n < 0 || *n > 100) return "--quality takes 0 to 100";
        request.quality = *n;
    }
    request.lossless = options.has("--lossless");
    if (auto v = options.value("--loop")) {
        auto n = ParseInt(*v);
        if (!n || *n < 0 || *n > 65535) return "--loop takes 0 (forever) to 65535";
        request.loops = *n;
    }
    request.shape.pingpong = options.has("--pingpong");
    if (auto v = options.value("--size")) {
        auto size = ParseFrameSize(*v);
        if (!size) return "--size takes WIDTHxHEIGHT, WIDTHx or xHEIGHT, e.g. 320x240 or 480x";
        request.shape.size = *size;
    }
    return "";
}

std::string describe(const VideoArgs& a) {
    const VideoExportRequest& r = a.request;
    std::string plays = r.loops == 0 ? "looping" : r.loops == 1 ? "played once" : "played " + std::to_string(r.loops) + " times";
    switch (a.format) {
        case AnimationFormat::Mp4: return "h264 crf " + std::to_string(r.crf < 0 ? DefaultVideoCrf(VideoContainer::Mp4) : r.crf);
        case AnimationFormat::WebM: return "vp9 crf " + std::to_string(r.crf < 0 ? DefaultVideoCrf(VideoContainer::WebM) : r.crf);
        case AnimationFormat::WebP:
            return (r.lossless ? std::string("webp lossless") :
                                 "webp quality " + std::to_string(r.quality < 0 ? kDefaultWebPQuality : r.quality)) +
                   ", " + plays;
        case AnimationFormat::Apng: return "apng, " + plays;
    }
    return "";
}

int runVideo(const std::vector<std::string>& args) {
    VideoArgs a;
    VideoExportRequest& request = a.request;
    if (std::string err = parseArgs(args, a); !err.empty()) return Fail(kBadArguments, err);

    std::error_code ec;
    AviReader reader(kLoadFloorPixels);
    std::optional<AviFrameSource> avi;
    if (std::filesystem::is_directory(a.in, ec)) {
        FolderError folderError;
        if (!CheckFolder(a.in, &folderError)) return Fail(kFailure, NamedOnce("", a.in, folderError.description));
        for (const std::string& name : ListPatternFiles(a.in)) request.framePaths.push_back(JoinFolder(a.in, name));
        if (request.framePaths.empty())
            return Fail(kFailure, "no images (" + std::string(kFrameFilePattern) + ") in " + a.in);
    } else if (!std::filesystem::exists(a.in, ec)) {
        return Fail(kFailure, NamedOnce("cannot read", a.in, "no such file or folder"));
    } else {
        std::string why;
        if (!reader.Open(a.in, &why)) return Fail(kFailure, NamedOnce("cannot read AVI file", a.in, why));
        if (reader.Length() <= 0) return Fail(kFailure, NamedOnce("cannot read AVI file", a.in, "the video has no frames"));
        avi.emplace(reader);
        request.source = &*avi;
        // The AVI's own rate unless one is given.
        if (!a.fpsGiven)
            request.framesPerSecond = std::clamp(int(std::lround(reader.FramesPerSecond())), kMinVideoFrameRate,
                                                 kMaxVideoFrameRate);
    }

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

    std::string size = std::to_string(summary.width) + "x" + std::to_string(summary.height);
    if (summary.codedWidth != summary.width || summary.codedHeight != summary.height)
        size += " (padded to " + std::to_string(summary.codedWidth) + "x" + std::to_string(summary.codedHeight) + ")";
    std::printf("%s: %d frames, %s, %d fp/s, %s\n", request.outputPath.c_str(), summary.frames, size.c_str(),
                request.framesPerSecond, describe(a).c_str());
    return kOk;
}

Registrar videoCommand(
    "video",
    "  tarnel-cli video FOLDER|IN.avi OUT.mp4|OUT.webm|OUT.webp|OUT.apng|OUT.png [--fps N] [--size WxH]\n"
    "                  [--pingpong] [--crf Q] [--quality Q] [--lossless] [--loop N]\n"
    "      the images of FOLDER in name order, or the frames of an AVI file, as H.264 (.mp4),\n"
    "      VP9 (.webm), animated WebP (.webp) or APNG (.apng, .png), 20 fp/s (an AVI: its own\n"
    "      rate) unless --fps says otherwise; --size averages every frame to W x H, or keeps\n"
    "      the proportions given only W (480x) or H (x270); --pingpong plays the frames\n"
    "      forward then back without repeating the end frames;\n"
    "      .mp4/.webm: --crf 0-51 for H.264 (default 23), 0-63 for VP9 (default 32), lower is\n"
    "      better; .webp: --quality 0-100 (default 85) or --lossless; .webp/.apng: --loop N\n"
    "      plays N times (0, the default: forever); without --size all images must have one size",
    runVideo);

}  // namespace
}  // namespace tarnel::cli
