// Single-frame GIF writer on a full-HD true-colour frame, against a memcpy of
// the same pixel bytes measured in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "imaging/gif/GIF.h"

namespace {

using namespace tarnel;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920, kHeight = 1080;

// Smooth gradients and soft shapes with a little sensor-like noise.
const Bitmap& photoLikeFrame() {
    static const std::unique_ptr<Bitmap> frame = [] {
        auto b = std::make_unique<Bitmap>();
        b->create(kWidth, kHeight, 32);
        uint32_t seed = 12345;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = b->scanline(y);
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                int noise = int(seed >> 28) - 8;
                double dx = x - 1200.0, dy = y - 400.0;
                double radial = std::sqrt(dx * dx + dy * dy);
                int r = int(128 + 100 * std::sin(x / 97.0 + y / 131.0)) + noise;
                int g = int(255.0 * y / kHeight) + noise / 2;
                int bl = int(255 - std::min(255.0, radial / 4)) + noise;
                row[4 * x] = uint8_t(std::clamp(bl, 0, 255));
                row[4 * x + 1] = uint8_t(std::clamp(g, 0, 255));
                row[4 * x + 2] = uint8_t(std::clamp(r, 0, 255));
                row[4 * x + 3] = 0;
            }
        }
        return b;
    }();
    return *frame;
}

// Wall time and this thread's CPU time of the measured calls. The machine is
// shared, so CPU time is the steadier figure; both are reported.
struct Stopwatch {
    double wall = 0, cpu = 0;
    Clock::time_point wall0;
    double cpu0 = 0;
    static double threadCpu() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    }
    void start() {
        wall0 = Clock::now();
        cpu0 = threadCpu();
    }
    void stop() {
        cpu += threadCpu() - cpu0;
        wall += std::chrono::duration<double>(Clock::now() - wall0).count();
    }
};

Stopwatch gMemcpy;
int64_t gMemcpyIterations = 0;

void setRates(benchmark::State& state, const Stopwatch& w) {
    const double frames = double(state.iterations());
    const double megapixels = double(kWidth) * kHeight / 1e6;
    state.counters["Mpx/s_cpu"] = megapixels * frames / w.cpu;
    state.counters["Mpx/s_wall"] = megapixels * frames / w.wall;
    if (gMemcpyIterations > 0) {
        state.counters["x_memcpy_cpu"] = (w.cpu / frames) / (gMemcpy.cpu / double(gMemcpyIterations));
        state.counters["x_memcpy_wall"] = (w.wall / frames) / (gMemcpy.wall / double(gMemcpyIterations));
    }
}

void BM_MemcpyBaseline(benchmark::State& state) {
    const Bitmap& frame = photoLikeFrame();
    std::vector<uint8_t> copy(frame.sizeBytes());
    Stopwatch w;
    for (auto _ : state) {
        w.start();
        std::memcpy(copy.data(), frame.bits(), frame.sizeBytes());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        w.stop();
    }
    gMemcpy = w;
    gMemcpyIterations = int64_t(state.iterations());
    setRates(state, w);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.sizeBytes()));
}
BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMillisecond);

void BM_EncodeGIF(benchmark::State& state) {
    const Bitmap& frame = photoLikeFrame();
    Stopwatch w;
    size_t fileSize = 0;
    for (auto _ : state) {
        w.start();
        std::vector<uint8_t> gif = GIF::Encode(frame, nullptr, false, 0);
        benchmark::DoNotOptimize(gif.data());
        w.stop();
        fileSize = gif.size();
    }
    setRates(state, w);
    state.counters["file_KiB"] = double(fileSize) / 1024.0;
}
BENCHMARK(BM_EncodeGIF)->Unit(benchmark::kMillisecond);

void BM_SaveGIF(benchmark::State& state) {
    const Bitmap& frame = photoLikeFrame();
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("tarnel-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "000.gif").string();
    Stopwatch w;
    for (auto _ : state) {
        w.start();
        GIF gif;
        bool ok = gif.SaveGIF(frame, path, nullptr, false, 0);
        benchmark::DoNotOptimize(ok);
        w.stop();
    }
    setRates(state, w);
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_SaveGIF)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
