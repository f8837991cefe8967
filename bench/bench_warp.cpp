// Frame render of the warp engine in megapixels per second, beside memcpy of
// the same frame bytes and the memory floor of a render (two frames read, one
// written) measured in the same run, and the literal reference. At 1920x1080
// every instruction set the CPU runs renders the same scenes, with its ratio
// to the portable loop.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "bench/BenchMeshes.h"
#include "core/Mesh.h"
#include "core/warp/Warp.h"

using namespace tarnel;
using tarnel::bench::RateReporter;

namespace {

struct Scene {
    int w = 0, h = 0;
    PixelArray start, end;
    std::vector<MeshTriangle> startTriangles, endTriangles;
    Bitmap frame;
};

PixelArray noiseImage(int w, int h, uint32_t seed) {
    PixelArray p;
    p.resize(w, h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p(x, y) = rng() & 0x00FFFFFFu;
    return p;
}

using bench::DraggedMesh;

// Scenes are large; build each once and keep it for the run.
Scene& scene(int w, int h, int cells, bool dragged) {
    static std::map<std::tuple<int, int, int, bool>, std::unique_ptr<Scene>> scenes;
    auto& slot = scenes[{w, h, cells, dragged}];
    if (!slot) {
        slot = std::make_unique<Scene>();
        Scene& s = *slot;
        s.w = w;
        s.h = h;
        s.start = noiseImage(w, h, 1);
        s.end = noiseImage(w, h, 2);
        const MeshGrid start = dragged ? DraggedMesh(cells, w, h, 3) : DefaultMesh(cells, cells, w, h);
        const MeshGrid end = dragged ? DraggedMesh(cells, w, h, 4) : DefaultMesh(cells, cells, w, h);
        s.startTriangles = BuildTriangleList(start);
        s.endTriangles = BuildTriangleList(end);
        s.frame.create(w, h, 32);
    }
    return *slot;
}

void setRate(benchmark::State& state, int w, int h) {
    state.counters["Mpx/s"] =
        benchmark::Counter(double(w) * double(h) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// args: width, height, mesh cells, dragged, k (of N = 9)[, instruction set]
void BM_WarpFrame(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    Scene& s = scene(w, h, int(state.range(2)), state.range(3) != 0);
    const int k = int(state.range(4));
    const WarpIsa before = ActiveWarpIsa();
    if (state.range(5) >= 0) SetWarpIsa(WarpIsa(state.range(5)));
    state.SetLabel(WarpIsaName(ActiveWarpIsa()));
    for (auto _ : state) {
        WarpFrame(s.startTriangles, s.endTriangles, k, 9, s.start, s.end, w, h, s.frame);
        benchmark::DoNotOptimize(s.frame.bits());
        benchmark::ClobberMemory();
    }
    SetWarpIsa(before);
    setRate(state, w, h);
}

// The same with bilinear reads.
void BM_WarpFrameBilinear(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    Scene& s = scene(w, h, int(state.range(2)), state.range(3) != 0);
    const int k = int(state.range(4));
    const WarpIsa before = ActiveWarpIsa();
    SetWarpIsa(WarpIsa(state.range(5)));
    state.SetLabel(WarpIsaName(ActiveWarpIsa()));
    WarpOptions options;
    options.sampling = WarpSampling::Bilinear;
    for (auto _ : state) {
        WarpFrame(s.startTriangles, s.endTriangles, k, 9, s.start, s.end, w, h, s.frame, options);
        benchmark::DoNotOptimize(s.frame.bits());
        benchmark::ClobberMemory();
    }
    SetWarpIsa(before);
    setRate(state, w, h);
}

void BM_WarpFrameReference(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    Scene& s = scene(w, h, int(state.range(2)), state.range(3) != 0);
    const int k = int(state.range(4));
    for (auto _ : state) {
        WarpFrameReference(s.startTriangles, s.endTriangles, k, 9, s.start, s.end, w, h, s.frame);
        benchmark::DoNotOptimize(s.frame.bits());
        benchmark::ClobberMemory();
    }
    setRate(state, w, h);
}

// The baseline: copying one frame's bytes.
void BM_Memcpy(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    std::vector<uint32_t> from(size_t(w) * size_t(h), 0x123456), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    setRate(state, w, h);
}

// The floor of any render: two frames' worth of reads and one of writes.
void BM_MemoryFloor(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    std::vector<uint32_t> a(size_t(w) * size_t(h), 0x123456), b(a.size(), 0x654321), out(a.size());
    for (auto _ : state) {
        for (size_t i = 0; i < out.size(); ++i) out[i] = a[i] ^ b[i];
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRate(state, w, h);
}

const std::vector<std::pair<int, int>> kSizes = {{640, 480}, {1920, 1080}, {4000, 3000}};

void registerAll() {
    for (auto [w, h] : kSizes) {
        benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)->Args({w, h})->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_MemoryFloor", BM_MemoryFloor)->Args({w, h})->Unit(benchmark::kMillisecond);
        for (int cells : {5, 40})
            for (int dragged : {0, 1})
                benchmark::RegisterBenchmark("BM_WarpFrame", BM_WarpFrame)
                    ->Args({w, h, cells, dragged, 3, -1})
                    ->Unit(benchmark::kMillisecond);
        // Frame 0 samples only the start image.
        benchmark::RegisterBenchmark("BM_WarpFrame", BM_WarpFrame)
            ->Args({w, h, 5, 0, 0, -1})
            ->Unit(benchmark::kMillisecond);
        if (w == 1920) {
            // Each instruction set on edited meshes, coarse and fine.
            for (WarpIsa isa : {WarpIsa::Portable, WarpIsa::Sse41, WarpIsa::Avx2, WarpIsa::Avx512}) {
                if (!WarpIsaSupported(isa)) continue;
                for (int cells : {5, 40})
                    benchmark::RegisterBenchmark("BM_WarpFrame", BM_WarpFrame)
                        ->Args({w, h, cells, 1, 3, int(isa)})
                        ->Unit(benchmark::kMillisecond);
            }
            for (WarpIsa isa : {WarpIsa::Portable, BestWarpIsa()})
                for (int cells : {5, 40})
                    benchmark::RegisterBenchmark("BM_WarpFrameBilinear", BM_WarpFrameBilinear)
                        ->Args({w, h, cells, 1, 3, int(isa)})
                        ->Unit(benchmark::kMillisecond);
        }
        if (w <= 1920)
            for (int cells : {5, 40})
                benchmark::RegisterBenchmark("BM_WarpFrameReference", BM_WarpFrameReference)
                    ->Args({w, h, cells, 1, 3})
                    ->Unit(benchmark::kMillisecond);
    }
}

// Each render's rate as a multiple of memcpy's and of the memory floor's at
// the same size, and for runs that name an instruction set, of the portable
// loop's on the same scene.
class RatioReporter : public RateReporter {
public:
    RatioReporter() : RateReporter("Mpx/s") {}
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::map<std::string, double> copy, floor, portable;
        for (const Rate& r : rates()) {
            if (isBaseline(r.name, "BM_Memcpy/")) copy[sizeOf(r.name)] = r.rate;
            if (isBaseline(r.name, "BM_MemoryFloor/")) floor[sizeOf(r.name)] = r.rate;
            if (named(r) && r.label == WarpIsaName(WarpIsa::Portable)) portable[sceneOf(r.name)] = r.rate;
        }
        std::printf("\n%-50s %-9s %9s %10s %10s %11s\n", "render (w/h/cells/dragged/k/isa)", "path", "Mpx/s",
                    "vs memcpy", "vs floor", "vs portable");
        for (const Rate& r : rates()) {
            if (isBaseline(r.name, "BM_Memcpy/") || isBaseline(r.name, "BM_MemoryFloor/")) continue;
            const std::string size = sizeOf(r.name), scene = sceneOf(r.name);
            const double c = copy.count(size) ? copy[size] : 0.0, f = floor.count(size) ? floor[size] : 0.0;
            std::printf("%-50s %-9s %9.1f %9.4fx %9.4fx", r.name.c_str(), r.label.c_str(), r.rate,
                        c > 0 ? r.rate / c : 0.0, f > 0 ? r.rate / f : 0.0);
            if (named(r) && portable.count(scene)) std::printf(" %10.2fx", r.rate / portable[scene]);
            std::printf("\n");
        }
    }

private:
    // Runs whose last argument names an instruction set (-1: the one in use).
    static bool named(const Rate& r) {
        return (isBaseline(r.name, "BM_WarpFrame/") || isBaseline(r.name, "BM_WarpFrameBilinear/")) &&
               !(r.name.size() > 3 && r.name.compare(r.name.size() - 3, 3, "/-1") == 0);
    }
    // "BM_WarpFrame/w/h/cells/dragged/k/isa" -> "BM_WarpFrame/w/h/cells/dragged/k".
    static std::string sceneOf(const std::string& name) { return name.substr(0, name.rfind('/')); }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
