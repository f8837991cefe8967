// Loading and saving a large settings file (15 MB: many other sections and
// keys), against reading the same file's bytes once, measured in the same run.
// A load or save should cost a small multiple of one read, not fifteen parses.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/Settings.h"
#include "platform/FileRead.h"
#include "platform/ProgramFolder.h"

namespace {

using namespace tarnel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string& folder() {
    static const std::string path = [] {
        fs::path dir = fs::temp_directory_path() / ("tarnel-bench-settings-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::ofstream out(dir / "Tarnel.ini", std::ios::binary);
        for (int section = 0; section < 3000; ++section) {
            out << "[Other" << section << "]\n";
            for (int key = 0; key < 100; ++key) out << "key" << key << "=value of some length " << key << "\n";
        }
        out << "[Section]\n行数= 9\n";
        SetProgramFolderOverride(dir.string());
        return dir.string();
    }();
    return path;
}

// Seconds of one read of the whole file, the best of a few.
double oneRead() {
    const std::string file = folder() + "/Tarnel.ini";
    std::string bytes;
    double best = 1e9;
    for (int i = 0; i < 10; ++i) {
        auto t0 = Clock::now();
        ReadRegularFile(file, uint64_t(1) << 30, bytes);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// Runs `body` per iteration and reports its time as a multiple of one read.
template <typename Body>
void againstOneRead(benchmark::State& state, Body body) {
    const double read = oneRead();
    double total = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        body();
        total += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    state.counters["x_one_read"] = total / double(state.iterations()) / read;
}

void BM_LoadSettings(benchmark::State& state) {
    MorphSettings s;
    againstOneRead(state, [&] { benchmark::DoNotOptimize(LoadSettings(s)); });
}

void BM_SaveSettings(benchmark::State& state) {
    MorphSettings s;
    LoadSettings(s);
    againstOneRead(state, [&] { benchmark::DoNotOptimize(SaveSettings(s, SettingsControls{})); });
}

BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSettings)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::error_code ec;
    fs::remove_all(folder(), ec);
    return 0;
}
