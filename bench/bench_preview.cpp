// Live preview frames per second: the full frame (what shows when the slider
// rests) and the reduced frame the preview window renders while the slider
// or a mesh point moves, beside memcpy of the frame's bytes and one call of
// the warp engine's WarpFrame, measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bench/RateReporter.h"
#include "bench/BenchMeshes.h"
#include "core/Mesh.h"
#include "core/PreviewRender.h"
#include "core/warp/Warp.h"

using namespace tarnel;
using tarnel::bench::RateReporter;

namespace {

// The preview window's frame area on a 1600 x 1000 screen: 60 % of it.
constexpr int kDisplayWidth = 960, kDisplayHeight = 600;

StdPicture noisePicture(int w, int h, uint32_t seed) {
    StdPicture p;
    p.bitmap = std::make_shared<Bitmap>();
    p.bitmap->create(w, h, 32);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(p.bitmap->scanline(y));
        for (int x = 0; x < w; ++x) row[x] = rng() & 0x00FFFFFFu;
    }
    return p;
}

using bench::DraggedMesh;

struct Scene {
    int w = 0, h = 0;
    StdPicture start, end;
    MeshGrid startMesh, endMesh;
    PreviewRender preview;
    Bitmap frame;
};

Scene& scene(int w, int h, int cells) {
    static std::map<std::tuple<int, int, int>, std::unique_ptr<Scene>> scenes;
    auto& slot = scenes[{w, h, cells}];
    if (!slot) {
        slot = std::make_unique<Scene>();
        Scene& s = *slot;
        s.w = w;
        s.h = h;
        s.start = noisePicture(w, h, 1);
        s.end = noisePicture(w, h, 2);
        s.startMesh = DraggedMesh(cells, w, h, 3);
        s.endMesh = DraggedMesh(cells, w, h, 4);
        s.preview.setSources(s.start, s.end);
    }
    return *slot;
}

void setFps(benchmark::State& state) { state.SetItemsProcessed(state.iterations()); }

// The baseline: copying one frame's bytes.
void BM_Memcpy(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    std::vector<uint32_t> from(size_t(w) * size_t(h), 0x123456), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    setFps(state);
}

// The second baseline: one frame of the warp engine as the run calls it.
void BM_WarpFrame(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    Scene& s = scene(w, h, int(state.range(2)));
    PixelArray start, end;
    ReadPicturePixels(*s.start.bitmap, start);
    ReadPicturePixels(*s.end.bitmap, end);
    const auto startTriangles = BuildTriangleList(s.startMesh), endTriangles = BuildTriangleList(s.endMesh);
    Bitmap frame;
    frame.create(w, h, 32);
    for (auto _ : state) {
        WarpFrame(startTriangles, endTriangles, 3, 9, start, end, w, h, frame);
        benchmark::DoNotOptimize(frame.bits());
        benchmark::ClobberMemory();
    }
    setFps(state);
}

// args: width, height, mesh cells, reduced (fitted to the window's frame
// area), dragging (a mesh point moves every frame; otherwise the slider does)
void BM_Preview(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    Scene& s = scene(w, h, int(state.range(2)));
    const bool reduced = state.range(3) != 0, dragging = state.range(4) != 0;
    const FrameSize size = reduced ? FitFrameSize(w, h, kDisplayWidth, kDisplayHeight) : FrameSize{w, h};
    MeshGrid startMesh = s.startMesh;
    MeshPoint& dragged = startMesh(startMesh.countI() / 2, startMesh.countJ() / 2);
    const MeshPoint home = dragged;
    int step = 0;
    for (auto _ : state) {
        ++step;
        double t = 0.37;
        if (dragging) dragged = MeshPoint{home.x + float(step % 20), home.y - float(step % 13)};
        else t = double(step % 1000) / 1000.0;
        s.preview.render(startMesh, s.endMesh, t, size, s.frame);
        benchmark::DoNotOptimize(s.frame.bits());
        benchmark::ClobberMemory();
    }
    setFps(state);
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

// New pictures: reading both and the first reduced frame, with its downscaled copies.
void BM_PreviewNewSources(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    Scene& s = scene(w, h, 20);
    const FrameSize size = FitFrameSize(w, h, kDisplayWidth, kDisplayHeight);
    PreviewRender preview;
    Bitmap frame;
    for (auto _ : state) {
        preview.setSources(s.start, s.end);
        preview.render(s.startMesh, s.endMesh, 0.5, size, frame);
        benchmark::DoNotOptimize(frame.bits());
    }
    setFps(state);
}

void registerAll() {
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{4000, 3000}}) {
        const std::vector<int> meshes = w == 1920 ? std::vector<int>{5, 20} : std::vector<int>{20};
        benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)->Args({w, h})->Unit(benchmark::kMillisecond);
        for (int cells : meshes) {
            benchmark::RegisterBenchmark("BM_WarpFrame", BM_WarpFrame)
                ->Args({w, h, cells})
                ->Unit(benchmark::kMillisecond);
            for (int reduced : {0, 1})
                for (int dragging : {0, 1})
                    benchmark::RegisterBenchmark("BM_Preview", BM_Preview)
                        ->Args({w, h, cells, reduced, dragging})
                        ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark("BM_PreviewNewSources", BM_PreviewNewSources)
            ->Args({w, h})
            ->Unit(benchmark::kMillisecond);
    }
}

// Each render's frames per second beside the baselines at the same picture size.
class FpsReporter : public RateReporter {
public:
    FpsReporter() : RateReporter("items_per_second") {}
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::map<std::string, double> memcpyFps, warpFps;
        for (const Rate& r : rates()) {
            if (isBaseline(r.name, "BM_Memcpy/")) memcpyFps[sizeOf(r.name)] = r.rate;
            // The 20 x 20 mesh's warp is the reference frame rate.
            if (isBaseline(r.name, "BM_WarpFrame/") && r.name.find("/20") != std::string::npos)
                warpFps[sizeOf(r.name)] = r.rate;
        }
        std::printf("\n%-44s %-10s %9s %11s %12s\n", "preview (w/h/cells/reduced/dragging)", "frame", "fps",
                    "vs memcpy", "vs WarpFrame");
        for (const Rate& r : rates()) {
            if (isBaseline(r.name, "BM_Memcpy/")) continue;
            const std::string size = sizeOf(r.name);
            const double m = memcpyFps.count(size) ? memcpyFps[size] : 0.0;
            const double wf = warpFps.count(size) ? warpFps[size] : 0.0;
            std::printf("%-44s %-10s %9.1f %10.4fx %11.2fx\n", r.name.c_str(), r.label.c_str(), r.rate,
                        m > 0 ? r.rate / m : 0.0, wf > 0 ? r.rate / wf : 0.0);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    FpsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
