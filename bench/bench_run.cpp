// Whole morph runs: 100 frames of 1920 x 1080 photo-like pictures, each kind
// (BMP, JPG, GIF) on the plain 5 x 5 mesh and on an edited one, with one and
// with two worker threads; frames per second and the two-thread speed-up,
// measured in the same run. Then the peak memory of one run of each kind and
// thread count, each in a process of its own (this program started again),
// against the budget of 64 MB + (threads + 2) frames.
//
// Frames go to /dev/shm when there is one, so the disk's speed stays out of
// the figures.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/RateReporter.h"
#include "bench/BenchMeshes.h"
#include "core/Mesh.h"
#include "core/MorphRun.h"
#include "core/warp/Warp.h"
#include "imaging/gif/GIF.h"
#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "platform/PictureBox.h"

extern char** environ;

using namespace tarnel;
using tarnel::bench::RateReporter;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 100, kCells = 5;
const char* const kKindNames[] = {"bmp", "jpg", "gif"};

// Smooth shapes and gradients with a little grain, like a photograph, so
// JPEG and GIF sizes and times are those of real pictures.
StdPicture photoLike(int w, int h, uint32_t seed) {
    StdPicture p;
    p.bitmap = std::make_shared<Bitmap>();
    p.bitmap->create(w, h, 32);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    struct Blob {
        double x, y, r, red, green, blue;
    };
    std::vector<Blob> blobs(12);
    for (Blob& b : blobs)
        b = {unit(rng) * w, unit(rng) * h, (0.05 + 0.2 * unit(rng)) * w, 255 * unit(rng), 255 * unit(rng),
             255 * unit(rng)};
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(p.bitmap->scanline(y));
        for (int x = 0; x < w; ++x) {
            double r = 40 + 120.0 * x / w, g = 60 + 100.0 * y / h, b = 90 + 40 * std::sin(x * 0.01 + seed);
            for (const Blob& bl : blobs) {
                const double d2 = ((x - bl.x) * (x - bl.x) + (y - bl.y) * (y - bl.y)) / (bl.r * bl.r);
                if (d2 < 1.0) {
                    const double a = 1.0 - d2;
                    r += a * (bl.red - r), g += a * (bl.green - g), b += a * (bl.blue - b);
                }
            }
            const double grain = double(rng() % 9) - 4.0;
            auto channel = [&](double v) { return uint32_t(std::clamp(v + grain, 0.0, 255.0)); };
            row[x] = channel(r) << 16 | channel(g) << 8 | channel(b);
        }
    }
    return p;
}

// The inner points moved by up to 30 % of a cell, as a user's drags would.
MeshGrid editedMesh(int w, int h, uint32_t seed) { return bench::DraggedMesh(kCells, w, h, seed, 2, 2); }

std::string workFolder() {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path folder = base / ("tarnel-bench-run-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    return folder.string();
}

struct Scene {
    StdPicture start, end;
    PictureBox frame;  // the serial baseline's canvas
    MeshGrid startMesh, endMesh;

    explicit Scene(bool edited) {
        start = photoLike(kWidth, kHeight, 1);
        end = photoLike(kWidth, kHeight, 2);
        startMesh = DefaultMesh(kCells, kCells, kWidth, kHeight);
        endMesh = edited ? editedMesh(kWidth, kHeight, 7) : startMesh;
    }
};

// CPU seconds of every thread of this process so far.
double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The work a run did, whatever else the machine runs: CPU milliseconds of all
// threads per frame; "CPU" in the table is the calling thread's alone.
void setCounters(benchmark::State& state, double cpuSeconds) {
    const double frames = double(kFrames) * double(state.iterations());
    state.counters["frames_per_second"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["cpu_ms_per_frame"] = cpuSeconds * 1000.0 / frames;
}

// As the command line watches a run: nobody looks at the canvas.
class Quiet : public MorphRunObserver {
    void folderCreated(const std::string&) override {}
    bool showsFrames() const override { return false; }
    bool frameDone(int, int) override { return true; }
};

MorphRunResult runOnce(Scene& s, int kind, int threads, const std::string& folder) {
    MorphRunRequest request;
    request.start = s.start.bitmap.get();
    request.end = s.end.bitmap.get();
    request.startMesh = &s.startMesh;
    request.endMesh = &s.endMesh;
    request.totalFrames = kFrames - 1;
    request.saveKind = kind;
    request.threads = threads;
    request.programFolder = folder;
    Quiet quiet;
    return RunMorph(request, quiet);
}

// The baseline: the run as it was before it had workers, one canvas, one
// frame after the other, JPG frames through a BMP file.
bool serialRun(Scene& s, int kind, const std::string& folder) {
    const std::vector<MeshTriangle> startTriangles = BuildTriangleList(s.startMesh);
    const std::vector<MeshTriangle> endTriangles = BuildTriangleList(s.endMesh);
    s.frame.setPicture(StdPicture{});
    s.frame.resize(kWidth, kHeight);
    PixelArray startPixels, endPixels;
    ReadPicturePixels(*s.start.bitmap, startPixels);
    ReadPicturePixels(*s.end.bitmap, endPixels);
    for (int k = 0; k < kFrames; ++k) {
        s.frame.Cls();
        WarpFrame(startTriangles, endTriangles, k, kFrames - 1, startPixels, endPixels, kWidth, kHeight,
                  s.frame.image());
        const std::string path = folder + "/" + FrameFileName(k, kind);
        bool ok = true;
        if (kind == kSaveBmp) {
            ok = bool(SavePictureBMP(s.frame.image(), path));
        } else if (kind == kSaveJpg) {
            ok = SavePictureBMP(s.frame.image(), folder + "/Dumy.bmp") &&
                 ConvertBMPtoJPG(folder + "/Dumy.bmp", path, -1, 100, -1) == kConvertOk;
            fs::remove(folder + "/Dumy.bmp");
        } else {
            s.frame.setPictureFromImage();
            ok = GIF().SaveGIF(s.frame.picture(), path, s.frame.hDC(), false, GetPixel(s.frame.hDC(), 0, 0));
        }
        if (!ok) return false;
    }
    return true;
}

// Args: kind, edited mesh (0/1).
void BM_SerialRun(benchmark::State& state) {
    const int kind = int(state.range(0));
    static std::map<bool, std::unique_ptr<Scene>> scenes;
    auto& scene = scenes[state.range(1) != 0];
    if (!scene) scene = std::make_unique<Scene>(state.range(1) != 0);
    const std::string folder = workFolder() + "/serial";
    double cpu = 0;
    for (auto _ : state) {
        fs::create_directories(folder);
        const double before = processCpuSeconds();
        if (!serialRun(*scene, kind, folder)) state.SkipWithError("a frame could not be saved");
        cpu += processCpuSeconds() - before;
        state.PauseTiming();
        fs::remove_all(folder);
        state.ResumeTiming();
    }
    setCounters(state, cpu);
    state.SetLabel(std::string(kKindNames[kind]) + (state.range(1) ? " edited" : " 5x5"));
}

// Args: kind, threads, edited mesh (0/1).
void BM_Run(benchmark::State& state) {
    const int kind = int(state.range(0)), threads = int(state.range(1));
    static std::map<bool, std::unique_ptr<Scene>> scenes;
    auto& scene = scenes[state.range(2) != 0];
    if (!scene) scene = std::make_unique<Scene>(state.range(2) != 0);
    const std::string folder = workFolder();
    double cpu = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        MorphRunResult r = runOnce(*scene, kind, threads, folder);
        cpu += processCpuSeconds() - before;
        state.PauseTiming();
        if (!r.ok()) state.SkipWithError(r.error.c_str());
        fs::remove_all(r.folder);
        state.ResumeTiming();
    }
    fs::remove_all(folder);
    setCounters(state, cpu);
    state.SetLabel(std::string(kKindNames[kind]) + (state.range(2) ? " edited" : " 5x5"));
}

// The child's part: one run, then its peak resident size (VmHWM, in kB) into
// `report`. VmHWM belongs to the child's own memory map: the size a spawned
// child inherits in ru_maxrss would be the parent's.
int childRun(int kind, int threads, const char* report) {
    MorphRunResult r;
    {
        Scene scene(true);
        const std::string folder = workFolder();
        if (threads > 0) {
            r = runOnce(scene, kind, threads, folder);
        } else {
            r.status = serialRun(scene, kind, folder) ? MorphRunResult::Status::Completed
                                                     : MorphRunResult::Status::Failed;
        }
        fs::remove_all(folder);
    }
    if (!r.ok()) {
        std::fprintf(stderr, "run failed: %s\n", r.error.c_str());
        return 1;
    }
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(status);
    std::FILE* out = std::fopen(report, "w");
    if (!out || kb < 0) return 1;
    std::fprintf(out, "%ld\n", kb);
    return std::fclose(out) == 0 ? 0 : 1;
}

// Peak resident kilobytes of this program started again for one run; -1 on failure.
long childPeakKb(const char* self, int kind, int threads) {
    const std::string k = std::to_string(kind), t = std::to_string(threads);
    const std::string report = workFolder() + "/peak";
    char* argv[] = {const_cast<char*>(self), const_cast<char*>("--child-run"), const_cast<char*>(k.c_str()),
                    const_cast<char*>(t.c_str()), const_cast<char*>(report.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    long kb = -1;
    if (std::FILE* in = std::fopen(report.c_str(), "r")) {
        if (std::fscanf(in, "%ld", &kb) != 1) kb = -1;
        std::fclose(in);
    }
    fs::remove_all(fs::path(report).parent_path());
    return kb;
}

void reportPeakMemory(const char* self) {
    const double frameMb = double(kWidth) * kHeight * 4 / (1024.0 * 1024.0);
    std::printf("\npeak memory of one %d-frame %dx%d run (edited mesh), each in a process of its own\n", kFrames,
                kWidth, kHeight);
    std::printf("%-5s %-8s %10s %22s %7s %17s\n", "kind", "threads", "peak MB", "budget MB (64+(t+2)f)", "within",
                "frames over serial");
    for (int kind = 0; kind < 3; ++kind) {
        const long serialKb = childPeakKb(self, kind, 0);
        std::printf("%-5s %-8s %10.1f\n", kKindNames[kind], "serial", serialKb / 1024.0);
        for (int threads : {1, 2}) {
            const long kb = childPeakKb(self, kind, threads);
            const double mb = kb / 1024.0, budget = 64.0 + (threads + 2) * frameMb;
            std::printf("%-5s %-8d %10.1f %22.1f %7s %17.2f\n", kKindNames[kind], threads, kb < 0 ? -1.0 : mb, budget,
                        kb < 0 ? "failed" : (mb <= budget ? "yes" : "no"), (kb - serialKb) / 1024.0 / frameMb);
        }
    }
    std::printf("(one %dx%d frame is %.1f MB; \"serial\" is the one-canvas run of before, whose fixed part\n"
                " already holds both pictures, their canvases, their pixel arrays and the frame canvas)\n",
                kWidth, kHeight, frameMb);
}

// Each configuration's frames per second, and two threads against one.
class RunReporter : public RateReporter {
public:
    RunReporter() : RateReporter("frames_per_second") {}
    void ReportRuns(const std::vector<Run>& runs) override {
        RateReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("cpu_ms_per_frame");
            if (run.run_type != Run::RT_Iteration || it == run.counters.end()) continue;
            double& least = cpuMs_[run.report_label][threadsOf(run.benchmark_name())];
            least = least > 0 ? std::min(least, double(it->second)) : double(it->second);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::map<std::string, std::map<int, double>> fps;  // label -> threads (0: serial) -> frames/s
        for (const Rate& r : rates()) {
            double& best = fps[r.label][threadsOf(r.name)];
            best = std::max(best, r.rate);  // the better of the repetitions
        }
        auto at = [](const std::map<int, double>& m, int k) { return m.count(k) ? m.at(k) : 0.0; };
        std::printf("\n%-12s %11s %14s %14s %12s %12s\n", "run", "serial f/s", "1 thread f/s", "2 threads f/s",
                    "2 vs 1", "2 vs serial");
        for (const auto& [label, byThreads] : fps) {
            const double serial = at(byThreads, 0), one = at(byThreads, 1), two = at(byThreads, 2);
            std::printf("%-12s %11.2f %14.2f %14.2f %11.2fx %11.2fx\n", label.c_str(), serial, one, two,
                        one > 0 ? two / one : 0.0, serial > 0 ? two / serial : 0.0);
        }
        std::printf("(target: 1.8x on 2 cores; %u cores here)\n", std::thread::hardware_concurrency());
        std::printf("\n%-12s %24s %14s %14s\n", "run", "CPU ms/frame: serial", "1 thread", "2 threads");
        for (const auto& [label, byThreads] : cpuMs_)
            std::printf("%-12s %24.1f %14.1f %14.1f\n", label.c_str(), at(byThreads, 0), at(byThreads, 1),
                        at(byThreads, 2));
        std::printf("(all threads' CPU time: the work a run does whatever else the machine runs)\n");
    }

private:
    // "BM_Run/kind/threads/edited..." -> threads; the serial run counts as 0.
    static int threadsOf(const std::string& name) {
        if (isBaseline(name, "BM_SerialRun/")) return 0;
        const size_t a = name.find('/'), b = name.find('/', a + 1), c = name.find('/', b + 1);
        return std::stoi(name.substr(b + 1, c - b - 1));
    }
    std::map<std::string, std::map<int, double>> cpuMs_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--child-run")
        return childRun(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    bool memory = true;
    std::vector<char*> args(argv, argv + argc);
    for (size_t i = 1; i < args.size(); ++i)
        if (std::string(args[i]) == "--no-peak-memory") memory = false, args.erase(args.begin() + long(i--));
    // The repetitions of all runs shuffled together: on a shared machine a
    // busy spell then hits every configuration alike, and the best of each
    // is taken.
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    for (int kind = 0; kind < 3; ++kind)
        for (int edited : {0, 1}) {
            benchmark::RegisterBenchmark("BM_SerialRun", BM_SerialRun)
                ->Args({kind, edited})
                ->Iterations(1)
                ->Repetitions(3)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
            for (int threads : {1, 2})
                benchmark::RegisterBenchmark("BM_Run", BM_Run)
                    ->Args({kind, threads, edited})
                    ->Iterations(1)
                    ->Repetitions(3)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
        }
    RunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (memory) reportPeakMemory(argv[0]);
    return 0;
}
