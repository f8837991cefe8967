// Saving a morph-like animation with the smallest delta coding against the
// plain inter-frame transparency save (what --optimize writes), both measured
// in the same run: frames a second, and the file size, with their ratios.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/RateReporter.h"
#include "imaging/gif/cGif.h"

namespace {

using namespace tarnel;

constexpr int kWidth = 640, kHeight = 480, kFrames = 12, kColours = 200;

// A smooth picture drifting a little from frame to frame, reduced to
// palette indices with a fixed dither: most pixels keep their index from
// one frame to the next, as a morph's do after reduction to a palette.
const cGif& animation() {
    static const std::unique_ptr<cGif> gif = [] {
        auto g = std::make_unique<cGif>();
        for (int n = 1; n <= kFrames; ++n) {
            if (!g->FrameInsert(n, kWidth, kHeight)) std::abort();
            const double t = 0.08 * n;
            for (int y = 0; y < kHeight; ++y) {
                uint8_t* row = g->FrameDIBXOR(n).bitmap()->scanline(y);
                for (int x = 0; x < kWidth; ++x) {
                    const double v = 100 + 45 * std::sin(x / 41.0 + t) + 45 * std::cos(y / 37.0 - 0.7 * t) +
                                     8 * std::sin((x + y) / 9.0);
                    const double dither = ((x * 7 + y * 13) % 16) / 16.0;
                    row[x] = uint8_t(int(v + dither) % kColours);
                }
            }
            g->SetFrameDisposalMethod(n, 1);
            g->SetFrameDelay(n, 5);
        }
        g->SetScreenWidth(kWidth);
        g->SetScreenHeight(kHeight);
        g->SetGlobalPaletteExists(true);
        g->SetGlobalPaletteEntries(256);
        for (int i = 0; i < 256; ++i) {
            uint8_t* q = g->lpGlobalPalette() + 4 * i;
            q[0] = uint8_t(i * 3), q[1] = uint8_t(255 - i), q[2] = uint8_t(i * 7);
        }
        return g;
    }();
    return *gif;
}

void save(benchmark::State& state, bool smallest) {
    GifSaveOptions options;
    options.interFrameTransparency = !smallest;
    options.smallestDelta = smallest;
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (!animation().SaveToStream(out, options)) return state.SkipWithError("save failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["frames/s"] = benchmark::Counter(double(kFrames) * double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(out.size());
}

void BM_SaveInterFrameTransparency(benchmark::State& state) { save(state, false); }
void BM_SaveSmallestDelta(benchmark::State& state) { save(state, true); }

BENCHMARK(BM_SaveInterFrameTransparency)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_SaveSmallestDelta)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// Rates and sizes of the smallest delta coding against the baseline.
class DeltaReporter : public tarnel::bench::RateReporter {
public:
    DeltaReporter() : RateReporter("frames/s") {}
    void ReportRuns(const std::vector<Run>& runs) override {
        RateReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            auto it = run.counters.find("bytes");
            if (it == run.counters.end()) continue;
            (isBaseline(run.benchmark_name(), "BM_SaveInterFrame") ? baseBytes_ : bytes_) = double(it->second);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        double base = 0, smallest = 0;
        for (const Rate& r : rates()) (isBaseline(r.name, "BM_SaveInterFrame") ? base : smallest) = r.rate;
        if (base > 0 && baseBytes_ > 0)
            std::printf("smallest delta / inter-frame transparency: speed %.3f, size %.4f\n", smallest / base,
                        bytes_ / baseBytes_);
    }

private:
    double baseBytes_ = 0, bytes_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    DeltaReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
