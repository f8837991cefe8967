// Painting the canvas: a 640 x 480 frame at zoom 1 to 10, scrolled to the
// middle, composed into a 640 x 480 client, beside memcpy of the same client
// bytes measured in the same run. The composer repaints every 10 ms at most.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "ui/view/CanvasLayout.h"

using namespace tarnel;
using tarnel::bench::RateReporter;

namespace {

constexpr int kPictureW = 640, kPictureH = 480, kClientW = 640, kClientH = 480;

void BM_PaintCanvas(benchmark::State& state) {
    const int zoom = int(state.range(0));
    GcDIB picture, target;
    picture.Create(kPictureW, kPictureH, 32);
    for (int y = 0; y < kPictureH; ++y)
        for (int x = 0; x < kPictureW; ++x) picture.bitmap()->setPixelValue(x, y, uint32_t(x * 7 + y * 131) & 0xFFFFFF);
    target.Create(kClientW, kClientH, 32);
    CanvasLayout layout;
    layout.SetZoom(zoom);
    layout.Resize(kClientW, kClientH, picture);  // scrolled to the middle
    for (auto _ : state) {
        PaintCanvas(layout, picture, kCanvasDefaultBackColor, target);
        benchmark::DoNotOptimize(target.lpBits());
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<uint32_t> from(size_t(kClientW) * kClientH, 0x123456), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// Each paint's rate as a fraction of memcpy's.
class RatioReporter : public RateReporter {
public:
    RatioReporter() : RateReporter("frames/s") {}
    void Finalize() override {
        ConsoleReporter::Finalize();
        double base = 0;
        for (const Rate& r : rates())
            if (r.name == "BM_Memcpy") base = r.rate;
        std::printf("\n%-24s %12s %12s %14s\n", "paint (zoom)", "frames/s", "vs memcpy", "ms per frame");
        for (const Rate& r : rates())
            if (r.name != "BM_Memcpy")
                std::printf("%-24s %12.0f %11.4fx %14.3f\n", r.name.c_str(), r.rate, base > 0 ? r.rate / base : 0.0,
                            r.rate > 0 ? 1000.0 / r.rate : 0.0);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)->Unit(benchmark::kMicrosecond);
    for (int zoom : {1, 2, 3, 5, 10})
        benchmark::RegisterBenchmark("BM_PaintCanvas", BM_PaintCanvas)->Arg(zoom)->Unit(benchmark::kMicrosecond);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
