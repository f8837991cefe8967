// Which instruction set the warp's vector runs use: the best the CPU has,
// or what TARNEL_WARP_ISA or SetWarpIsa asks for when the CPU has it.
#include <atomic>
#include <cstdlib>
#include <string>

#include "core/warp/Warp.h"
#include "core/warp/WarpKernels.h"

namespace tarnel {

namespace {

constexpr WarpIsa kIsas[] = {WarpIsa::Portable, WarpIsa::Sse41, WarpIsa::Avx2, WarpIsa::Avx512};

bool cpuRuns(WarpIsa isa) {
#if defined(TARNEL_WARP_X86)
    switch (isa) {
        case WarpIsa::Portable: return true;
        case WarpIsa::Sse41: return __builtin_cpu_supports("sse4.1");
        case WarpIsa::Avx2: return __builtin_cpu_supports("avx2");
        case WarpIsa::Avx512: return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    }
    return false;
#else
    return isa == WarpIsa::Portable;
#endif
}

WarpIsa isaFromEnvironment() {
    const char* text = std::getenv("TARNEL_WARP_ISA");
    WarpIsa isa = BestWarpIsa();
    if (text && ParseWarpIsa(text, isa) && WarpIsaSupported(isa)) return isa;
    return BestWarpIsa();
}

// -1 until first use.
std::atomic<int> activeIsa{-1};

const warp::TriangleRuns& runsOf(WarpIsa isa) {
    static const warp::TriangleRuns none{};
    switch (isa) {
        case WarpIsa::Sse41: return warp::kSse41TriangleRuns;
        case WarpIsa::Avx2: return warp::kAvx2TriangleRuns;
        case WarpIsa::Avx512: return warp::kAvx512TriangleRuns;
        case WarpIsa::Portable: break;
    }
    return none;
}

}  // namespace

const warp::TriangleRuns& warp::ActiveTriangleRuns() { return runsOf(ActiveWarpIsa()); }

bool WarpIsaSupported(WarpIsa isa) {
    const warp::TriangleRuns& runs = runsOf(isa);
    return isa == WarpIsa::Portable || (runs.mix && cpuRuns(isa));
}

WarpIsa BestWarpIsa() {
    static const WarpIsa best = [] {
        WarpIsa found = WarpIsa::Portable;
        for (WarpIsa isa : kIsas)
            if (WarpIsaSupported(isa)) found = isa;
        return found;
    }();
    return best;
}

WarpIsa ActiveWarpIsa() {
    const int current = activeIsa.load(std::memory_order_relaxed);
    if (current >= 0) return WarpIsa(current);
    static const WarpIsa initial = isaFromEnvironment();
    int expected = -1;
    activeIsa.compare_exchange_strong(expected, int(initial), std::memory_order_relaxed);
    return WarpIsa(activeIsa.load(std::memory_order_relaxed));
}

WarpIsa SetWarpIsa(WarpIsa isa) {
    if (!WarpIsaSupported(isa)) isa = BestWarpIsa();
    activeIsa.store(int(isa), std::memory_order_relaxed);
    return isa;
}

const char* WarpIsaName(WarpIsa isa) {
    switch (isa) {
        case WarpIsa::Portable: return "portable";
        case WarpIsa::Sse41: return "sse4.1";
        case WarpIsa::Avx2: return "avx2";
        case WarpIsa::Avx512: return "avx512";
    }
    return "portable";
}

bool ParseWarpIsa(const std::string& text, WarpIsa& out) {
    for (WarpIsa isa : kIsas)
        if (text == WarpIsaName(isa)) {
            out = isa;
            return true;
        }
    return false;
}

}  // namespace tarnel
