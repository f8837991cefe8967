// The morph run's PNG frame writer on real frames: the BMP files of a frame
// folder (TARNEL_PNG_FRAMES, as bench/compare_png.sh passes it; else two
// photo-like synthetic 1080p frames), encoded one after another with one
// encoder, beside the BMP file image of the same frames as the baseline.
// Counters: bytes per frame of each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/PictureIO.h"
#include "imaging/png/PngEncoder.h"

namespace {

using namespace tarnel;

const std::vector<Bitmap>& frames() {
    static const std::vector<Bitmap> all = [] {
        std::vector<Bitmap> out;
        if (const char* folder = std::getenv("TARNEL_PNG_FRAMES")) {
            std::vector<std::string> paths;
            for (const auto& e : std::filesystem::directory_iterator(folder))
                if (e.path().extension() == ".bmp") paths.push_back(e.path().string());
            std::sort(paths.begin(), paths.end());
            for (const std::string& p : paths) {
                StdPicture picture;
                if (LoadPicture(p, picture)) out.push_back(*picture.bitmap);
            }
        }
        if (out.empty()) {
            uint32_t seed = 7;
            for (int n = 0; n < 2; ++n) {
                Bitmap b;
                b.create(1920, 1080, 32);
                for (int y = 0; y < 1080; ++y)
                    for (int x = 0; x < 1920; ++x) {
                        seed = seed * 1664525u + 1013904223u;
                        uint8_t* p = b.scanline(y) + 4 * x;
                        const int noise = int(seed >> 29);
                        p[0] = uint8_t((x / 8 + n * 40 + noise) & 255);
                        p[1] = uint8_t((y / 5 + x / 31 + noise) & 255);
                        p[2] = uint8_t((200 - y / 9 + noise) & 255);
                        p[3] = 0;
                    }
                out.push_back(std::move(b));
            }
        }
        return out;
    }();
    return all;
}

void BM_PngFrame(benchmark::State& state) {
    PngEncoder encoder;
    std::vector<uint8_t> bytes;
    size_t i = 0, total = 0, count = 0;
    for (auto _ : state) {
        const Bitmap& frame = frames()[i++ % frames().size()];
        if (!encoder.encode(frame, bytes)) state.SkipWithError("encoding failed");
        total += bytes.size();
        ++count;
    }
    state.counters["bytes"] = double(total) / double(std::max<size_t>(count, 1));
    state.counters["frames"] = double(frames().size());
}
BENCHMARK(BM_PngFrame)->Unit(benchmark::kMillisecond);

void BM_BmpFrame(benchmark::State& state) {
    std::vector<uint8_t> bytes;
    size_t i = 0;
    for (auto _ : state) {
        EncodeBmp24(frames()[i++ % frames().size()], bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_BmpFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
