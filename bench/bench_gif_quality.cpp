// The palette and dither choices of the AVI import against the composer's
// own setting (216-colour cube, nearest colour) on the same 100-frame
// 640 x 480 video, measured in the same run: what a better-looking GIF costs.
// The video is made by the ffmpeg tool at start-up.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "imaging/cGif.h"
#include "imaging/mDither8bpp.h"
#include "output/GifQuality.h"

using namespace tarnel;

namespace {

constexpr int kFrames = 100;

const std::string& videoPath() {
    static const std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "tarnel-bench-gif-quality.avi").string();
        std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v " +
                              std::to_string(kFrames) + " -c:v mjpeg -q:v 3 -f avi '" + p + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 ? p : std::string();
    }();
    return path;
}

double gBaselineCpu = 0;  // seconds of processor time per import, cube and nearest colour

void importWith(benchmark::State& state, GifQuality quality, bool baseline) {
    if (videoPath().empty()) return state.SkipWithError("the ffmpeg tool could not make the video");
    InitDitherTables();
    double cpu = 0;
    for (auto _ : state) {
        const std::clock_t c0 = std::clock();
        cGif gif;
        if (!ImportAviFramesWithQuality(videoPath(), gif, nullptr, quality)) return state.SkipWithError("import failed");
        cpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
    }
    const double perImport = cpu / double(state.iterations());
    state.counters["frames/s_cpu"] = kFrames / perImport;
    if (baseline) gBaselineCpu = perImport;
    if (gBaselineCpu > 0) state.counters["x_cube_cpu"] = perImport / gBaselineCpu;
    ApplyGifQuality({});
}

void BM_CubeNearest(benchmark::State& s) { importWith(s, {GifPaletteChoice::Cube, 0}, true); }
void BM_CubeOrdered(benchmark::State& s) { importWith(s, {GifPaletteChoice::Cube, 1}, false); }
void BM_CubeDiffusion(benchmark::State& s) { importWith(s, {GifPaletteChoice::Cube, 2}, false); }
void BM_AdaptiveNearest(benchmark::State& s) { importWith(s, {GifPaletteChoice::Adaptive, 0}, false); }
void BM_AdaptiveAllNearest(benchmark::State& s) { importWith(s, {GifPaletteChoice::AdaptiveAll, 0}, false); }
void BM_AdaptiveAllDiffusion(benchmark::State& s) { importWith(s, {GifPaletteChoice::AdaptiveAll, 2}, false); }

// The baseline first: the ratios of the later cases refer to it.
BENCHMARK(BM_CubeNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_CubeOrdered)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_CubeDiffusion)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveAllNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveAllDiffusion)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
