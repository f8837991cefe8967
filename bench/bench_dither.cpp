// Throughput of the 8-bpp reduction at 1920 x 1080 for each palette mode and
// method, against a memcpy of the same source bytes measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/palette/cPal8bpp.h"
#include "imaging/palette/mDither8bpp.h"

using namespace tarnel;

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr double kPixels = double(kWidth) * kHeight;

// Smooth shading with edges, texture and sensor grain, like a video frame.
const GcDIB& photoFrame() {
    static GcDIB frame = [] {
        GcDIB d;
        d.Create(kWidth, kHeight, 32);
        uint32_t seed = 2024;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = d.bitmap()->scanline(y);
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int grain = int((seed >> 24) % 13) - 6;
                const double fx = double(x) / kWidth, fy = double(y) / kHeight;
                const double sky = 200 - 120 * fy + 25 * std::sin(fx * 9.0);
                const double hill = 0.6 + 0.2 * std::sin(fx * 5.0 + 1.3);
                const bool ground = fy > hill;
                const double tex = 18 * std::sin(x * 0.11) * std::cos(y * 0.07);
                const int r = int(ground ? 90 + 60 * fx + tex : sky * 0.7) + grain;
                const int g = int(ground ? 120 + 40 * std::sin(fy * 11) + tex : sky * 0.85) + grain;
                const int b = int(ground ? 50 + 30 * fy : sky + 40) + grain;
                row[4 * x + 0] = uint8_t(std::clamp(b, 0, 255));
                row[4 * x + 1] = uint8_t(std::clamp(g, 0, 255));
                row[4 * x + 2] = uint8_t(std::clamp(r, 0, 255));
            }
        }
        return d;
    }();
    return frame;
}

void setRate(benchmark::State& state) {
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPixels));
    state.counters["Mpx/s"] = benchmark::Counter(double(state.iterations()) * kPixels / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void BM_Memcpy(benchmark::State& state) {
    const GcDIB& src = photoFrame();
    std::vector<uint8_t> dst(size_t(src.Size()));
    for (auto _ : state) {
        std::memcpy(dst.data(), src.lpBits(), dst.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// The pixel pass with a kept palette: what every frame after the first costs.
void BM_Dither(benchmark::State& state) {
    const int mode = int(state.range(0)), method = int(state.range(1));
    const GcDIB& src = photoFrame();
    Dither8bpp dither;
    dither.SetPaletteMode(mode);
    dither.SetDitherMethod(method);
    cPal8bpp palette;
    GcDIB target;
    dither.DitherTo8bpp(src, target, palette, false);
    for (auto _ : state) {
        dither.DitherTo8bpp(src, target, palette, true);
        benchmark::DoNotOptimize(target.lpBits());
    }
    setRate(state);
}
BENCHMARK(BM_Dither)
    ->ArgNames({"mode", "method"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

// A first frame: the palette (and for mode 1 the inverse table) is built too.
void BM_DitherNewPalette(benchmark::State& state) {
    const int mode = int(state.range(0)), method = int(state.range(1));
    const GcDIB& src = photoFrame();
    Dither8bpp dither;
    dither.SetPaletteMode(mode);
    dither.SetDitherMethod(method);
    cPal8bpp palette;
    GcDIB target;
    for (auto _ : state) {
        dither.DitherTo8bpp(src, target, palette, false);
        benchmark::DoNotOptimize(target.lpBits());
    }
    setRate(state);
}
BENCHMARK(BM_DitherNewPalette)
    ->ArgNames({"mode", "method"})
    ->ArgsProduct({{0, 1}, {0, 2}})
    ->Unit(benchmark::kMillisecond);

// The palette work alone for mode 1: fitted copy, octree, inverse table.
void BM_AdaptivePalette(benchmark::State& state) {
    const GcDIB& src = photoFrame();
    GcDIB tiny;
    Dither8bpp dither;
    dither.SetPaletteMode(1);
    cPal8bpp palette;
    for (auto _ : state) {
        int bx = 0, by = 0, bw = 0, bh = 0;
        src.GetBestFitInfo(50, 50, bx, by, bw, bh, false);
        tiny.Create(bw, bh, 32);
        src.Stretch(tiny.hDIBDC(), 0, 0, bw, bh, 0, 0, kWidth, kHeight);
        palette.CreateOptimal(tiny, 256, 6, 1.0f, 1.0f, 1.0f);
        dither.BuildInverseTable(palette);
        benchmark::DoNotOptimize(dither.InverseTable().data());
    }
}
BENCHMARK(BM_AdaptivePalette)->Unit(benchmark::kMicrosecond);

// Console output plus, at the end, each result's share of memcpy speed.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("Mpx/s");
            if (run.error_occurred || it == run.counters.end()) continue;
            rates_.emplace_back(run.benchmark_name(), it->second.value);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        double baseline = 0;
        for (const auto& [name, rate] : rates_)
            if (name.rfind("BM_Memcpy", 0) == 0) baseline = rate;
        if (baseline <= 0) return;
        std::printf("\n%-46s %10s %12s\n", "benchmark", "Mpx/s", "vs memcpy");
        for (const auto& [name, rate] : rates_)
            std::printf("%-46s %10.1f %11.3fx\n", name.c_str(), rate, rate / baseline);
    }

private:
    std::vector<std::pair<std::string, double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
