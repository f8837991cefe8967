// tarnel-cli gif info / encode / optimize: the animated GIF container from
// the command line.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/cli/Command.h"
#include "app/cli/Options.h"
#include "app/cli/ProgressBar.h"
#include "imaging/GcDIB.h"
#include "imaging/PictureIO.h"
#include "imaging/gif/cGif.h"
#include "platform/AtomicFile.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "imaging/gif/mGIFExt.h"

namespace tarnel::cli {
namespace {

std::string disposalName(int method) {
    switch (method) {
        case 0: return "unspecified";
        case 1: return "keep";
        case 2: return "background";
        case 3: return "previous";
        default: return std::to_string(method);
    }
}

// Comment bytes as they stand, with anything outside printable ASCII escaped.
std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

uintmax_t fileSize(const std::string& path) {
    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

int runInfo(const std::vector<std::string>& rawArgs) {
    Options options;
    if (std::string err = options.parse(rawArgs, {}); !err.empty()) return Fail(kBadArguments, err);
    const std::vector<std::string>& args = options.positional();
    if (args.size() != 1) return Fail(kBadArguments, "gif info needs one FILE.gif");
    cGif gif;
    if (!gif.LoadFromFile(args[0])) return Fail(kFailure, NamedOnce("cannot read GIF file:", args[0], gif.LoadError()));
    std::printf("file: %s\n", args[0].c_str());
    std::printf("version: GIF%s\n", gif.Version().c_str());
    // An aspect byte of 0 (the usual) means no ratio is given.
    const float aspect = gif.ScreenPixelAspectRatio();
    std::string aspectText = aspect == 15.0f / 64.0f ? "not given" : std::to_string(aspect).substr(0, 5);
    std::printf("screen: %dx%d, background index %d, pixel aspect %s\n", gif.ScreenWidth(), gif.ScreenHeight(),
                gif.ScreenBackgroundColorIndex(), aspectText.c_str());
    if (gif.GlobalPaletteExists())
        std::printf("global palette: %d entries%s\n", gif.GlobalPaletteEntries(),
                    gif.GlobalPaletteSorted() ? " (sorted)" : "");
    else
        std::printf("global palette: none\n");
    std::printf("loops: %d\n", gif.AnimationLoops());
    std::printf("frames: %d\n", gif.FramesCount());
    for (int n = 1; n <= gif.FramesCount(); ++n) {
        std::string transparency =
            gif.FrameUseTransparentColor(n) ? "index " + std::to_string(gif.FrameTransparentColorIndex(n)) : "none";
        std::string palette = gif.LocalPaletteUsed(n)
                                  ? "local " + std::to_string(gif.LocalPaletteEntries(n)) + " entries"
                                  : "global";
        std::printf("  %d: %dx%d at (%d,%d), delay %d, disposal %d (%s), transparency %s, palette %s%s%s\n", n,
                    gif.FrameDIBXOR(n).Width(), gif.FrameDIBXOR(n).Height(), gif.FrameLeft(n), gif.FrameTop(n),
                    gif.FrameDelay(n), gif.FrameDisposalMethod(n), disposalName(gif.FrameDisposalMethod(n)).c_str(),
                    transparency.c_str(), palette.c_str(), gif.FrameInterlaced(n) ? ", interlaced" : "",
                    gif.FrameUserInput(n) ? ", user input" : "");
    }
    std::printf("comments: %d\n", gif.CommentsCount());
    for (int n = 1; n <= gif.CommentsCount(); ++n)
        std::printf("  %d: \"%s\"\n", n, printable(gif.Comment(n)).c_str());
    return kOk;
}

int runEncode(const std::vector<std::string>& args) {
    Options options;
    if (std::string err = options.parse(args, {{"--palette", true}, {"--dither", true}}); !err.empty())
        return Fail(kBadArguments, err);
    int paletteMode = 0, method = 0;
    bool refined = false;
    if (auto v = options.value("--palette")) {
        if (*v == "cube") paletteMode = 0;
        else if (*v == "adaptive" || *v == "adaptive-hq") paletteMode = 1;
        else return Fail(kBadArguments, "--palette takes cube, adaptive or adaptive-hq");
        refined = *v == "adaptive-hq";
    }
    if (auto v = options.value("--dither")) {
        if (*v == "none") method = 0;
        else if (*v == "ordered") method = 1;
        else if (*v == "diffusion") method = 2;
        else return Fail(kBadArguments, "--dither takes none, ordered or diffusion");
    }
    const std::vector<std::string>& positional = options.positional();
    if (positional.size() != 2) return Fail(kBadArguments, "gif encode needs IN and OUT.gif");
    const std::string& in = positional[0];
    const std::string& out = positional[1];

    StdPicture picture;
    if (PictureResult loaded = LoadPicture(in, picture); !loaded)
        return Fail(kFailure, NamedOnce("cannot load", in, loaded.reason));
    GcDIB source;
    if (source.CreateFromStdPicture(picture, true) == 0) return Fail(kFailure, "cannot make a surface of " + in);

    Dither8bpp dither;
    dither.SetPaletteMode(paletteMode);
    dither.SetRefinedPalette(refined);
    dither.SetDitherMethod(method);
    cPal8bpp palette;
    GcDIB reduced;
    dither.DitherTo8bpp(source, reduced, palette, false);
    if (reduced.BPP() != 8 || palette.Entries() < 1) return Fail(kFailure, "cannot reduce " + in + " to 256 colours");

    cGif gif;
    if (!gif.FrameInsert(1, reduced.Width(), reduced.Height())) return Fail(kFailure, "picture too large: " + in);
    gif.FrameDIBXOR(1) = std::move(reduced);
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(palette.Entries());
    std::memcpy(gif.lpGlobalPalette(), palette.lpPalette(), 1024);
    std::memcpy(gif.lpLocalPalette(1), palette.lpPalette(), 1024);
    gif.SetLocalPaletteEntries(1, palette.Entries());
    gif.FrameMask(1, 0);
    if (std::string why; !gif.Save(out, GifSaveOptions(), &why)) return Fail(kFailure, NamedOnce("cannot write", out, why));
    std::printf("%s: %dx%d, %d colours, %ju bytes\n", out.c_str(), gif.ScreenWidth(), gif.ScreenHeight(),
                gif.GlobalPaletteEntries(), fileSize(out));
    return kOk;
}

int runOptimize(const std::vector<std::string>& args) {
    Options options;
    if (std::string err = options.parse(args, {{"--transparent-index", true}, {"--max", false}}); !err.empty())
        return Fail(kBadArguments, err);
    const bool max = options.has("--max");
    std::optional<int> transparentIndex;
    if (auto v = options.value("--transparent-index")) {
        transparentIndex = ParseInt(*v);
        if (!transparentIndex || *transparentIndex < 0 || *transparentIndex > 255)
            return Fail(kBadArguments, "--transparent-index needs a number from 0 to 255");
    }
    const std::vector<std::string>& positional = options.positional();
    if (positional.size() != 2) return Fail(kBadArguments, "gif optimize needs IN.gif and OUT.gif");
    const std::string& in = positional[0];
    const std::string& out = positional[1];

    cGif gif;
    if (!gif.LoadFromFile(in)) return Fail(kFailure, NamedOnce("cannot read GIF file:", in, gif.LoadError()));
    const int framesBefore = gif.FramesCount();
    const int entriesBefore = gif.GlobalPaletteEntries();
    if (transparentIndex) {
        BarProgress progress("transparency");
        SetFramesTransparency(gif, true, uint8_t(*transparentIndex), &progress);
    }
    int removed;
    {
        BarProgress progress("palette");
        removed = OptimizePalette(gif, &progress);
        if (max) SortPaletteByUse(gif, &progress);
    }
    bool cropped;
    {
        BarProgress progress("frames");
        cropped = OptimizeFrames(gif, &progress);
    }
    if (max) {
        // Coded in three palette orders; the shortest file is written.
        std::vector<uint8_t> bytes;
        BarProgress progress("coding");
        if (!CodeSmallestFile(gif, bytes, &progress))
            return Fail(kFailure, NamedOnce("cannot write", out, "the animation cannot be written as a GIF file (no frames, palette or 8-bpp images)"));
        if (std::string why; !WriteFileReplacing(out, bytes.data(), bytes.size(), &why, true))
            return Fail(kFailure, NamedOnce("cannot write", out, why));
    } else if (std::string why; !gif.Save(out, GifSaveOptions{}, &why)) {
        return Fail(kFailure, NamedOnce("cannot write", out, why));
    }

    if (transparentIndex) std::printf("transparency: index %d in every frame\n", *transparentIndex);
    if (!gif.GlobalPaletteExists())
        std::printf("palette: no global palette, unchanged\n");
    else
        std::printf("palette: %d of %d entries removed, %d left\n", removed, entriesBefore, gif.GlobalPaletteEntries());
    if (cropped)
        std::printf("frames: %d -> %d, cropped to what changed\n", framesBefore, gif.FramesCount());
    else
        std::printf("frames: %d, unchanged (not every frame is a whole picture of the screen)\n", framesBefore);
    if (max) std::printf("pixels: what already shows written transparent where that codes smaller\n");
    std::printf("size: %ju -> %ju bytes\n", fileSize(in), fileSize(out));
    return kOk;
}

Registrar gifCommand(
    "gif",
    {
        Command{"info",
                "  tarnel-cli gif info FILE.gif\n"
                "      screen, palettes, loops, every frame and comment",
                runInfo,
                {}},
        Command{"encode",
                "  tarnel-cli gif encode IN OUT.gif [--palette cube|adaptive|adaptive-hq]\n"
                "                       [--dither none|ordered|diffusion]\n"
                "      a BMP, JPEG or GIF picture as a one-frame GIF of 256 colours at most;\n"
                "      adaptive-hq refines the adaptive palette over every pixel (slower, closer colours)",
                runEncode,
                {}},
        Command{"optimize",
                "  tarnel-cli gif optimize IN.gif OUT.gif [--transparent-index I] [--max]\n"
                "      removes unused palette entries, crops frames to what changed, merges repeats;\n"
                "      --max also codes each frame's unchanged pixels in whichever way is smallest",
                runOptimize,
                {}},
    });

}  // namespace
}  // namespace tarnel::cli
