// MP4 (H.264) and WebM (VP9) export of a frame folder, 100 frames of
// 1920x1080 BMP files, against the ffmpeg program encoding the same files
// with the same encoder settings, measured in the same run. Both read and
// decode the BMP files, convert to yuv420p and encode; the encoder does
// nearly all the work, so the ratio shows what our pipeline adds (or saves
// by decoding the next frame while the encoder works).
//
// The folder is on tmpfs (/dev/shm) unless TARNEL_BENCH_DIR names another.
// Frames/s is the figure to quote; x_ffmpeg_wall < 1 means we are faster.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchFrames.h"
#include "imaging/PictureIO.h"
#include "output/FolderChooser.h"
#include "output/VideoExport.h"

namespace {

using namespace tarnel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 100;

// A picture-like sequence: soft colour waves that drift and change a little
// from frame to frame, as a morph does.
bench::BenchFrames gFrames("video", kWidth, kHeight, kFrames, [](int x, int y, int n, uint8_t* pixel) {
    const double t = n / double(kFrames);
    pixel[0] = uint8_t(128 + 90 * std::sin((x + 3 * n) / 70.0) * std::cos(y / 90.0));
    pixel[1] = uint8_t(128 + 100 * std::sin((x * (1 - t) + y * t) / 55.0));
    pixel[2] = uint8_t(128 + 110 * std::cos((y - 2 * n) / 45.0 + x / 300.0));
});

const fs::path& workFolder() { return gFrames.folder(); }

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The ffmpeg program's time per container, for the ratios.
std::map<std::string, double> gPeerSeconds;

const char* peerOptions(const std::string& ext) {
    return ext == "mp4" ? "-c:v libx264 -crf 23 -pix_fmt yuv420p"
                        : "-c:v libvpx-vp9 -crf 32 -b:v 0 -deadline good -cpu-used 4 -row-mt 1 -pix_fmt yuv420p";
}

void BM_FFmpegCommand(benchmark::State& state, std::string ext) {
    const fs::path& dir = workFolder();
    const std::string command = "cd '" + (dir / "frames").string() +
                                "' && ffmpeg -y -loglevel error -framerate 20 -i %03d.bmp " + peerOptions(ext) + " '" +
                                (dir / ("ffmpeg." + ext)).string() + "'";
    double total = 0;
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
    gPeerSeconds[ext] = total / double(state.iterations());
    state.counters["frames/s"] = kFrames / gPeerSeconds[ext];
}

void BM_ExportVideo(benchmark::State& state, std::string ext) {
    const fs::path& dir = workFolder();
    VideoExportRequest request;
    for (const std::string& name : ListPatternFiles((dir / "frames").string()))
        request.framePaths.push_back((dir / "frames" / name).string());
    request.outputPath = (dir / ("ours." + ext)).string();
    request.framesPerSecond = 20;
    double total = 0;
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::string error;
        const VideoExportResult result = ExportVideo(request, nullptr, &error);
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        if (result != VideoExportResult::Written) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    const double ours = total / double(state.iterations());
    state.counters["frames/s"] = kFrames / ours;
    state.counters["cpu_s"] = (cpuSeconds(RUSAGE_SELF) - cpu0) / double(state.iterations());
    std::error_code ec;
    state.counters["kB"] = double(fs::file_size(request.outputPath, ec)) / 1e3;
    if (gPeerSeconds.count(ext)) state.counters["x_ffmpeg_wall"] = ours / gPeerSeconds[ext];
}

BENCHMARK_CAPTURE(BM_FFmpegCommand, mp4, std::string("mp4"))->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_ExportVideo, mp4, std::string("mp4"))->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_FFmpegCommand, webm, std::string("webm"))->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_ExportVideo, webm, std::string("webm"))->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
