// Uncompressed AVI export of a frame folder (100 frames of 640x480 BMP files)
// against the ffmpeg program writing the same frames to a raw AVI from the
// same files, measured in the same run. Each of our frames makes the round
// trip of the export window (load, stretch, temporary BMP, read back); ffmpeg
// decodes and muxes. Our export also syncs the file before renaming it into
// place, so the folder is on tmpfs (/dev/shm) unless TARNEL_BENCH_DIR names
// another: on a disk the sync of ~92 MB dominates whatever the pipeline does.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchFrames.h"
#include "imaging/PictureIO.h"
#include "output/AviExport.h"
#include "output/FolderChooser.h"

namespace {

using namespace tarnel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 640, kHeight = 480, kFrames = 100;

// The work folder with its 100 frames, made once.
bench::BenchFrames gFrames("avi", kWidth, kHeight, kFrames, [](int x, int y, int n, uint8_t* pixel) {
    pixel[0] = uint8_t(x + n);
    pixel[1] = uint8_t(y * 2 + n);
    pixel[2] = uint8_t(128 + 100 * std::sin((x + y + 5 * n) / 40.0));
});

const fs::path& workFolder() { return gFrames.folder(); }

double gFFmpegSeconds = 0, gFFmpegCpu = 0;

// User plus system time of this process or of its finished children. The
// machine is shared, so CPU time is the steadier figure; both are reported.
double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void BM_FFmpegCommand(benchmark::State& state) {
    const fs::path& dir = workFolder();
    const std::string command = "cd '" + (dir / "frames").string() +
                                "' && ffmpeg -y -loglevel error -framerate 20 -i %03d.bmp -c:v rawvideo "
                                "-pix_fmt bgr24 '" + (dir / "ffmpeg.avi").string() + "'";
    double total = 0;
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int rc = std::system(command.c_str());
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        if (rc != 0) {
            state.SkipWithError("the ffmpeg program failed or is missing");
            return;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    gFFmpegSeconds = total / double(state.iterations());
    gFFmpegCpu = (cpuSeconds(RUSAGE_CHILDREN) - cpu0) / double(state.iterations());
    state.counters["cpu_ms"] = gFFmpegCpu * 1e3;
    state.counters["MB/s"] = double(kWidth) * kHeight * 3 * kFrames / 1e6 / gFFmpegSeconds;
}
BENCHMARK(BM_FFmpegCommand)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_ExportAviRaw(benchmark::State& state) {
    const fs::path& dir = workFolder();
    AviExportRequest request;
    for (const std::string& name : ListPatternFiles((dir / "frames").string()))
        request.framePaths.push_back((dir / "frames" / name).string());
    request.outputPath = (dir / "ours.avi").string();
    request.width = kWidth;
    request.height = kHeight;
    request.framesPerSecond = 20;
    request.tempBmpPath = (dir / "AVI_Temp.bmp").string();
    const AviOptionsChooser raw = [] { return std::optional<AviCompressOptions>(AviCompressOptions{}); };
    double total = 0;
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::string error;
        const AviExportResult result = ExportAvi(request, raw, nullptr, &error);
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        if (result != AviExportResult::Written) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    const double ours = total / double(state.iterations());
    const double oursCpu = (cpuSeconds(RUSAGE_SELF) - cpu0) / double(state.iterations());
    state.counters["MB/s"] = double(kWidth) * kHeight * 3 * kFrames / 1e6 / ours;
    state.counters["cpu_ms"] = oursCpu * 1e3;
    if (gFFmpegSeconds > 0) state.counters["x_ffmpeg_wall"] = ours / gFFmpegSeconds;
    if (gFFmpegCpu > 0) state.counters["x_ffmpeg_cpu"] = oursCpu / gFFmpegCpu;
}
BENCHMARK(BM_ExportAviRaw)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace

BENCHMARK_MAIN();
