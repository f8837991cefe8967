// The palette and dither choices of the AVI import against the composer's
// own setting (216-colour cube, nearest colour) on the same 100-frame
// 640 x 480 video, measured in the same run: what a better-looking GIF costs.
// The video is made by the ffmpeg tool at start-up. Then one photo-like
// 1920 x 1080 frame reduced with a palette of its own: the refined palette
// (adaptive-hq) against the octree palette of the same frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/palette/PaletteRefine.h"
#include "imaging/gif/cGif.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"
#include "output/GifQuality.h"
#include "output/mAVIImp.h"

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
}

void BM_CubeNearest(benchmark::State& s) { importWith(s, {GifPaletteChoice::Cube, 0}, true); }
void BM_CubeOrdered(benchmark::State& s) { importWith(s, {GifPaletteChoice::Cube, 1}, false); }
void BM_CubeDiffusion(benchmark::State& s) { importWith(s, {GifPaletteChoice::Cube, 2}, false); }
void BM_AdaptiveNearest(benchmark::State& s) { importWith(s, {GifPaletteChoice::Adaptive, 0}, false); }
void BM_AdaptiveAllNearest(benchmark::State& s) { importWith(s, {GifPaletteChoice::AdaptiveAll, 0}, false); }
void BM_AdaptiveAllDiffusion(benchmark::State& s) { importWith(s, {GifPaletteChoice::AdaptiveAll, 2}, false); }
void BM_AdaptiveHqNearest(benchmark::State& s) { importWith(s, {GifPaletteChoice::AdaptiveHq, 0}, false); }
void BM_AdaptiveHqDiffusion(benchmark::State& s) { importWith(s, {GifPaletteChoice::AdaptiveHq, 2}, false); }

// ---------------------------------------------------------------- one 1080p frame

constexpr int kWidth = 1920, kHeight = 1080;

// Colour fields at three scales (value noise) with sensor grain.
const GcDIB& photoFrame() {
    static const GcDIB frame = [] {
        uint32_t seed = 77;
        auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
        auto grid = [&](int cells) {
            std::vector<double> v(size_t((cells + 1) * (cells + 1)));
            for (double& x : v) x = double(next() % 1000) / 999.0;
            return v;
        };
        const int sizes[3] = {3, 11, 37};
        std::vector<double> grids[3][3];
        for (auto& channel : grids)
            for (int k = 0; k < 3; ++k) channel[k] = grid(sizes[k]);
        auto noise = [&](const std::vector<double>& v, int cells, double fx, double fy) {
            const double x = fx * cells, y = fy * cells;
            const int x0 = std::min(int(x), cells - 1), y0 = std::min(int(y), cells - 1);
            const double tx = x - x0, ty = y - y0;
            auto at = [&](int i, int j) { return v[size_t(j * (cells + 1) + i)]; };
            return (at(x0, y0) * (1 - tx) + at(x0 + 1, y0) * tx) * (1 - ty) +
                   (at(x0, y0 + 1) * (1 - tx) + at(x0 + 1, y0 + 1) * tx) * ty;
        };
        GcDIB d;
        d.Create(kWidth, kHeight, 32);
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = d.bitmap()->scanline(y);
            for (int x = 0; x < kWidth; ++x) {
                const double fx = double(x) / kWidth, fy = double(y) / kHeight;
                const int grain = int(next() % 9) - 4;
                for (int c = 0; c < 3; ++c) {
                    const double v = 0.55 * noise(grids[c][0], 3, fx, fy) + 0.3 * noise(grids[c][1], 11, fx, fy) +
                                     0.15 * noise(grids[c][2], 37, fx, fy);
                    row[4 * x + c] = uint8_t(std::clamp(int(std::lround(255 * v)) + grain, 0, 255));
                }
            }
        }
        return d;
    }();
    return frame;
}

double gOctreeFrameCpu = 0;  // seconds of processor time per frame, octree palette and nearest colour

// A frame with a palette of its own: the palette, then every pixel.
void reduceFrame(benchmark::State& state, bool refined, int32_t method, bool baseline) {
    const GcDIB& frame = photoFrame();
    Dither8bpp dither;
    dither.SetPaletteMode(1);
    dither.SetRefinedPalette(refined);
    dither.SetDitherMethod(method);
    cPal8bpp palette;
    GcDIB target;
    double cpu = 0;
    for (auto _ : state) {
        const std::clock_t c0 = std::clock();
        dither.DitherTo8bpp(frame, target, palette, false);
        benchmark::DoNotOptimize(target.lpBits());
        cpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
    }
    const double perFrame = cpu / double(state.iterations());
    state.counters["ms/frame_cpu"] = perFrame * 1e3;
    if (baseline) gOctreeFrameCpu = perFrame;
    if (gOctreeFrameCpu > 0) state.counters["x_octree_cpu"] = perFrame / gOctreeFrameCpu;
}

// The refined palette alone, without the pixel pass.
void BM_Frame1080_RefinedPaletteOnly(benchmark::State& state) {
    const GcDIB& frame = photoFrame();
    cPal8bpp palette;
    double cpu = 0;
    for (auto _ : state) {
        const std::clock_t c0 = std::clock();
        CreateRefinedPalette(frame, palette);
        benchmark::DoNotOptimize(palette.lpPalette());
        cpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
    }
    const double perFrame = cpu / double(state.iterations());
    state.counters["ms/frame_cpu"] = perFrame * 1e3;
    if (gOctreeFrameCpu > 0) state.counters["x_octree_cpu"] = perFrame / gOctreeFrameCpu;
}

void BM_Frame1080_OctreeNearest(benchmark::State& s) { reduceFrame(s, false, 0, true); }
void BM_Frame1080_OctreeDiffusion(benchmark::State& s) { reduceFrame(s, false, 2, false); }
void BM_Frame1080_HqNearest(benchmark::State& s) { reduceFrame(s, true, 0, false); }
void BM_Frame1080_HqDiffusion(benchmark::State& s) { reduceFrame(s, true, 2, false); }

// The baseline first: the ratios of the later cases refer to it.
BENCHMARK(BM_CubeNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_CubeOrdered)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_CubeDiffusion)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveAllNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveAllDiffusion)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveHqNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AdaptiveHqDiffusion)->Unit(benchmark::kMillisecond)->MinTime(1.0);
// Again the baseline first.
BENCHMARK(BM_Frame1080_OctreeNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Frame1080_OctreeDiffusion)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Frame1080_RefinedPaletteOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Frame1080_HqNearest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Frame1080_HqDiffusion)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
