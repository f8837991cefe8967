// A stretch whose destination span is mostly clipped costs what its visible
// part costs: the same 10 visible pixels drawn from a 1x1 source stretched to
// 10 pixels (the baseline) and to 30 million pixels of which 10 are on the
// destination. The ratio of the two times should stay near 1.
#include <benchmark/benchmark.h>

#include "platform/gdi.h"

using namespace tarnel;

namespace {

struct Surfaces {
    Bitmap source, target;
    DC src, dst;
    Surfaces() {
        source.create(1, 1, 32, true);
        target.create(10, 10, 32, true);
        src.select(&source);
        dst.select(&target);
    }
};

void BM_StretchVisibleOnly(benchmark::State& state) {
    Surfaces s;
    for (auto _ : state) benchmark::DoNotOptimize(StretchBlt(&s.dst, 0, 0, 10, 10, &s.src, 0, 0, 1, 1, SRCCOPY));
}
BENCHMARK(BM_StretchVisibleOnly);

void BM_StretchMostlyClipped(benchmark::State& state) {
    Surfaces s;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            StretchBlt(&s.dst, -15000000, -15000000, 30000000, 30000000, &s.src, 0, 0, 1, 1, SRCCOPY));
}
BENCHMARK(BM_StretchMostlyClipped);

}  // namespace

BENCHMARK_MAIN();
