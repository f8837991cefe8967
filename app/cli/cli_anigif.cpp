// tarnel-cli anigif: an AVI file to an animated GIF, as the composer makes it.
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "app/cli/ProgressBar.h"
#include "imaging/cGif.h"
#include "imaging/mDither8bpp.h"
#include "imaging/mGIFExt.h"
#include "output/GifQuality.h"
#include "output/mAVIImp.h"

namespace tarnel::cli {
namespace {

std::optional<int> parseIndex(const std::string& text) {
    auto value = ParseInt(text);
    if (!value || *value < 0 || *value > 255) return std::nullopt;
    return value;
}

int runAniGif(const std::vector<std::string>& args) {
    Options options;
    if (std::string err = options.parse(args, {{"--optimize", false},
                                               {"--transparent-index", true},
                                               {"--palette", true},
                                               {"--dither", true}});
        !err.empty())
        return Fail(kBadArguments, err);
    const bool optimize = options.has("--optimize");
    std::optional<int> transparentIndex;
    GifQuality quality;
    if (auto v = options.value("--transparent-index")) {
        transparentIndex = parseIndex(*v);
        if (!transparentIndex) return Fail(kBadArguments, "--transparent-index needs a number from 0 to 255");
    }
    if (auto v = options.value("--palette"); v && !ParseGifPaletteChoice(*v, quality.palette))
        return Fail(kBadArguments, "--palette takes cube, adaptive, adaptive-all or adaptive-hq");
    if (auto v = options.value("--dither"); v && !ParseGifDitherMethod(*v, quality.ditherMethod))
        return Fail(kBadArguments, "--dither takes none, ordered or diffusion");
    const std::vector<std::string>& positional = options.positional();
    if (positional.size() != 2) return Fail(kBadArguments, "anigif needs IN.avi and OUT.gif");
    const std::string& in = positional[0];
    const std::string& out = positional[1];

    // The composer's settings: by default the 216-colour cube, nearest colour.
    InitDitherTables();
    cGif gif;
    std::string error;
    {
        BarProgress progress("import");
        if (!ImportAviFramesWithQuality(in, gif, &progress, quality, &error))
            return Fail(kFailure, NamedOnce("cannot read AVI file", in, error));
    }
    if (transparentIndex) {
        BarProgress progress("transparency");
        SetFramesTransparency(gif, true, uint8_t(*transparentIndex), &progress);
    }
    if (optimize) {
        {
            BarProgress progress("palette");
            OptimizePalette(gif, &progress);
        }
        BarProgress progress("frames");
        if (!OptimizeFrames(gif, &progress)) return Fail(kFailure, "cannot optimise the frames");
    }
    // An optimised animation also leaves out what each frame repeats of the screen.
    GifSaveOptions saveOptions;
    saveOptions.interFrameTransparency = optimize;
    if (std::string why; !gif.Save(out, saveOptions, &why)) return Fail(kFailure, NamedOnce("cannot write", out, why));
    return kOk;
}

Registrar aniGifCommand("anigif",
                        "  tarnel-cli anigif IN.avi OUT.gif [--optimize] [--transparent-index I]\n"
                        "                   [--palette cube|adaptive|adaptive-all|adaptive-hq]\n"
                        "                   [--dither none|ordered|diffusion]\n"
                        "      every frame of an AVI, by default in the 216-colour cube by nearest\n"
                        "      colour (I is then a cube index: red + 6 green + 36 blue levels of 0..5);\n"
                        "      adaptive fits 256 colours to frame 1, adaptive-all to every frame,\n"
                        "      adaptive-hq refines adaptive-all over the frames' pixels",
                        runAniGif);

}  // namespace
}  // namespace tarnel::cli
