// Automatic mesh placement: wall time of one placement of a 12 x 16 mesh on
// pairs of 1280 x 800, 1920 x 1080 and 4000 x 3000 pixels, beside loading the
// same two pictures from BMP files (the baseline, measured in the same run).
// The pair is a photograph (TARNEL_ALIGN_PHOTO, any picture Tarnel loads;
// default: a textured picture made here) and a turned, grown copy of it.
// Accuracy against known warps of real photographs: bench/compare_align.py.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/Mesh.h"
#include "core/align/MeshAlign.h"
#include "imaging/PictureIO.h"

using namespace tarnel;

namespace {

// Nearest-pixel resample of `source` to w x h, turned by `degrees` and grown
// by `scale` about the centre when `degrees` or `scale` say so.
Bitmap resampled(const Bitmap& source, int w, int h, double degrees, double scale) {
    Bitmap out;
    out.create(w, h, 32);
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = out.scanline(y);
        for (int x = 0; x < w; ++x) {
            const double u = (x - w / 2.0) / scale, v = (y - h / 2.0) / scale;
            const double sx = (c * u + s * v + w / 2.0) * source.width() / w;
            const double sy = (-s * u + c * v + h / 2.0) * source.height() / h;
            const int px = std::clamp(int(sx), 0, source.width() - 1), py = std::clamp(int(sy), 0, source.height() - 1);
            const RGBQuad q = source.pixelColor(px, py);
            row[x * 4] = q.blue, row[x * 4 + 1] = q.green, row[x * 4 + 2] = q.red;
        }
    }
    return out;
}

Bitmap texture(int w, int h) {
    // Blobs at several scales: corners and gradients everywhere.
    Bitmap out;
    out.create(w, h, 32);
    std::mt19937 rng(7);
    std::vector<std::array<double, 5>> blobs(400);
    for (auto& b : blobs) {
        b = {double(rng() % unsigned(w)), double(rng() % unsigned(h)), 6.0 + rng() % 90, double(rng() % 256), double(rng() % 3)};
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* row = out.scanline(y);
        for (int x = 0; x < w; ++x) {
            double v[3] = {96, 96, 96};
            for (const auto& b : blobs) {
                const double d2 = ((x - b[0]) * (x - b[0]) + (y - b[1]) * (y - b[1])) / (b[2] * b[2]);
                if (d2 < 1) v[int(b[4])] += (b[3] - 128) * (1 - d2);
            }
            for (int k = 0; k < 3; ++k) row[x * 4 + k] = uint8_t(std::clamp(v[k], 0.0, 255.0));
        }
    }
    return out;
}

const Bitmap& photo() {
    static const Bitmap picture = [] {
        if (const char* path = std::getenv("TARNEL_ALIGN_PHOTO")) {
            StdPicture loaded;
            if (LoadPicture(path, loaded) && loaded.bitmap) return resampled(*loaded.bitmap, loaded.width(), loaded.height(), 0, 1);
            std::fprintf(stderr, "cannot load %s; using the made picture\n", path);
        }
        return texture(1600, 1000);
    }();
    return picture;
}

struct Pair {
    Bitmap start, end;
    std::string startFile, endFile;
    ~Pair() {
        std::error_code ec;
        if (!startFile.empty()) std::filesystem::remove(startFile, ec);
        if (!endFile.empty()) std::filesystem::remove(endFile, ec);
    }
};

const Pair& pairOf(int w, int h) {
    static std::map<std::pair<int, int>, Pair> pairs;
    auto [it, made] = pairs.try_emplace({w, h});
    if (made) {
        it->second.start = resampled(photo(), w, h, 0, 1);
        it->second.end = resampled(photo(), w, h, 5, 1.06);
        const std::string dir = std::filesystem::temp_directory_path().string();
        const std::string stem = dir + "/tarnel-bench-align-" + std::to_string(::getpid()) + "-" + std::to_string(w);
        it->second.startFile = stem + "-a.bmp";
        it->second.endFile = stem + "-b.bmp";
        if (!SavePictureBMP(it->second.start, it->second.startFile) || !SavePictureBMP(it->second.end, it->second.endFile))
            std::fprintf(stderr, "cannot write %s: the load baseline is void\n", it->second.startFile.c_str());
    }
    return it->second;
}

void BM_Align(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const Pair& pair = pairOf(w, h);
    const MeshGrid startMesh = DefaultMesh(12, 16, w, h), endMesh = startMesh;
    int matches = 0;
    for (auto _ : state) {
        AlignResult r = AlignMesh({&pair.start, &pair.end, &startMesh, &endMesh, {}});
        if (!r.ok()) state.SkipWithError(r.error.c_str());
        matches = r.matches;
        benchmark::DoNotOptimize(r);
    }
    state.counters["matches"] = matches;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024;
}

void BM_LoadBothPictures(benchmark::State& state) {
    const Pair& pair = pairOf(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        StdPicture a, b;
        benchmark::DoNotOptimize(LoadPicture(pair.startFile, a));
        benchmark::DoNotOptimize(LoadPicture(pair.endFile, b));
    }
}

}  // namespace

BENCHMARK(BM_LoadBothPictures)->Args({1280, 800})->Args({1920, 1080})->Args({4000, 3000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Align)->Args({1280, 800})->Args({1920, 1080})->Args({4000, 3000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
