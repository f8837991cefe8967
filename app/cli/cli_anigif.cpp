// tarnel-cli anigif: an AVI file or a morph run's frame folder to an animated
// GIF, as the composer makes it.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "app/cli/ProgressBar.h"
#include "imaging/gif/cGif.h"
#include "platform/AtomicFile.h"
#include "imaging/gif/mGIFExt.h"
#include "output/FrameFolderImport.h"
#include "core/AreaResize.h"
#include "output/AnimationShape.h"
#include "output/GifQuality.h"
#include "output/mAVIImp.h"

namespace tarnel::cli {
namespace {

std::optional<int> parseIndex(const std::string& text) {
    auto value = ParseInt(text);
    if (!value || *value < 0 || *value > 255) return std::nullopt;
    return value;
}

int runAniGif(const std::vector<std::string>& given) {
    // "--optimize=max" is the one option with a value left optional.
    std::vector<std::string> args = given;
    bool optimizeMax = false;
    for (std::string& a : args) {
        if (a == "--") break;
        if (a == "--optimize=max") {
            if (optimizeMax) return Fail(kBadArguments, "option --optimize given twice");
            optimizeMax = true;
            a = "--optimize";
        } else if (a.rfind("--optimize=", 0) == 0) {
            return Fail(kBadArguments, "--optimize takes no value or max");
        }
    }
    Options options;
    if (std::string err = options.parse(args, {{"--optimize", false},
                                               {"--transparent-index", true},
                                               {"--palette", true},
                                               {"--dither", true},
                                               {"--delay", true},
                                               {"--size", true},
                                               {"--loop", true},
                                               {"--pingpong", false}});
        !err.empty())
        return Fail(kBadArguments, err);
    const bool optimize = options.has("--optimize");
    std::optional<int> transparentIndex;
    GifQuality quality;  // the composer's default: the 216-colour cube, nearest colour
    int16_t delay = kDefaultFolderFrameDelay;
    if (auto v = options.value("--transparent-index")) {
        transparentIndex = parseIndex(*v);
        if (!transparentIndex) return Fail(kBadArguments, "--transparent-index needs a number from 0 to 255");
    }
    if (auto v = options.value("--palette"); v && !ParseGifPaletteChoice(*v, quality.palette))
        return Fail(kBadArguments, "--palette takes cube, adaptive, adaptive-all or adaptive-hq");
    if (auto v = options.value("--dither"); v && !ParseGifDitherMethod(*v, quality.ditherMethod))
        return Fail(kBadArguments, "--dither takes none, ordered or diffusion");
    if (auto v = options.value("--delay")) {
        auto d = ParseInt(*v);
        if (!d || *d < 0 || *d > 32767) return Fail(kBadArguments, "--delay needs hundredths of a second, 0 to 32767");
        delay = int16_t(*d);
    }
    AnimationShape shape;
    shape.pingpong = options.has("--pingpong");
    if (auto v = options.value("--size")) {
        auto size = ParseFrameSize(*v);
        if (!size) return Fail(kBadArguments, "--size takes WIDTHxHEIGHT, WIDTHx or xHEIGHT, e.g. 320x240 or 480x");
        shape.size = *size;
    }
    std::optional<int> loops;
    if (auto v = options.value("--loop")) {
        loops = ParseInt(*v);
        if (!loops || *loops < 0 || *loops > 32767) return Fail(kBadArguments, "--loop takes 0 (forever) to 32767");
    }
    const std::vector<std::string>& positional = options.positional();
    if (positional.size() != 2) return Fail(kBadArguments, "anigif needs IN.avi (or a frame FOLDER) and OUT.gif");
    const std::string& in = positional[0];
    const std::string& out = positional[1];
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(in, ec);
    if (options.has("--delay") && !folder)
        return Fail(kBadArguments, "--delay is for a frame folder; an AVI brings its own frame rate");

    cGif gif;
    std::string error;
    {
        BarProgress progress("import");
        if (folder) {
            if (!ImportFrameFolder(in, gif, &progress, quality, delay, shape, &error))
                return Fail(kFailure, NamedOnce("cannot read frame folder", in, error));
        } else if (!std::filesystem::exists(in, ec)) {
            return Fail(kFailure, NamedOnce("cannot read", in, "no such file or folder"));
        } else if (!ImportAviFramesShaped(in, gif, &progress, quality, shape, &error)) {
            return Fail(kFailure, NamedOnce("cannot read AVI file", in, error));
        }
    }
    if (loops) gif.SetAnimationLoops(int16_t(*loops));
    if (transparentIndex) {
        BarProgress progress("transparency");
        SetFramesTransparency(gif, true, uint8_t(*transparentIndex), &progress);
    }
    if (optimize) {
        {
            BarProgress progress("palette");
            OptimizePalette(gif, &progress);
            if (optimizeMax) SortPaletteByUse(gif, &progress);
        }
        BarProgress progress("frames");
        if (!OptimizeFrames(gif, &progress)) return Fail(kFailure, "cannot optimise the frames");
    }
    // An optimised animation also leaves out what each frame repeats of the
    // screen; at max only where that shortens the frame's data.
    if (optimizeMax) {
        // Coded in three palette orders; the shortest file is written.
        std::vector<uint8_t> bytes;
        BarProgress progress("coding");
        if (!CodeSmallestFile(gif, bytes, &progress))
            return Fail(kFailure, NamedOnce("cannot write", out, "the animation cannot be written as a GIF file"));
        if (std::string why; !WriteFileReplacing(out, bytes.data(), bytes.size(), &why, true))
            return Fail(kFailure, NamedOnce("cannot write", out, why));
        return kOk;
    }
    GifSaveOptions saveOptions;
    saveOptions.interFrameTransparency = optimize;
    if (std::string why; !gif.Save(out, saveOptions, &why)) return Fail(kFailure, NamedOnce("cannot write", out, why));
    return kOk;
}

Registrar aniGifCommand("anigif",
                        "  tarnel-cli anigif IN.avi|FOLDER OUT.gif [--optimize[=max]] [--transparent-index I]\n"
                        "                   [--palette cube|adaptive|adaptive-all|adaptive-hq]\n"
                        "                   [--dither none|ordered|diffusion] [--delay D]\n"
                        "                   [--size WxH] [--loop N] [--pingpong]\n"
                        "      every frame of an AVI, or of a morph run's FOLDER (000, 001, ... as the\n"
                        "      viewer plays them, each shown D hundredths of a second, default 5),\n"
                        "      by default in the 216-colour cube by nearest colour (I is then a cube\n"
                        "      index: red + 6 green + 36 blue levels of 0..5); adaptive fits 256 colours\n"
                        "      to frame 1, adaptive-all to every frame, adaptive-hq refines adaptive-all\n"
                        "      over the frames' pixels; --optimize=max also codes each frame's unchanged\n"
                        "      pixels in whichever way makes the file smallest; --size averages every\n"
                        "      frame to W x H (480x or x270 keep the proportions), --pingpong plays the\n"
                        "      frames forward then back without repeating the end frames, --loop N stores\n"
                        "      the loop count N (0, the default: forever)",
                        runAniGif);

}  // namespace
}  // namespace tarnel::cli
