// LZW coding of 8-bpp frames in megapixels per second, beside giflib coding
// the same frames in the same run (EGifPutLine / DGifGetLine, all in memory).
// Ends with a table of our rate divided by giflib's.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/gif/mGIFLZWDec.h"
#include "imaging/gif/mGIFLZWEnc.h"

using namespace tarnel;

namespace {

using Bytes = std::vector<uint8_t>;

enum Content { kPhoto, kNoise, kFlat, kContentCount };
const char* const kContentNames[] = {"photo", "noise", "flat"};

// A reduced photograph: smooth shading under an ordered dither, 256 colours.
uint8_t PhotoPixel(int x, int y) {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    const double v = 0.5 + 0.22 * std::sin(x * 0.023 + y * 0.007) + 0.18 * std::cos(y * 0.031 - x * 0.012) +
                     0.08 * std::sin((x + y) * 0.11);
    const int level = int(v * 255 * 16 + (bayer[y & 3][x & 3] - 8) * 40) / 16;
    return uint8_t(std::clamp(level, 0, 255));
}

// Large single-colour areas with hard edges, like a drawing or a screen shot.
uint8_t FlatPixel(int x, int y) {
    const int cell = ((x / 80) + (y / 60) * 3) % 7;
    if ((x - 320) * (x - 320) + (y - 240) * (y - 240) < 150 * 150) return uint8_t(200 + cell);
    return uint8_t(cell * 30);
}

struct Sample {
    int w = 0, h = 0;
    GcDIB frame;
    Bytes subBlocks;  // our encoding
    Bytes gif;        // the same wrapped in a one-image GIF
};

void Put16(Bytes& b, int v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

Bytes WrapInGif(int w, int h, const Bytes& subBlocks) {
    Bytes g = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(g, w);
    Put16(g, h);
    g.insert(g.end(), {0xF7, 0, 0});
    for (int i = 0; i < 256; ++i) g.insert(g.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    g.push_back(0x2C);
    Put16(g, 0);
    Put16(g, 0);
    Put16(g, w);
    Put16(g, h);
    g.push_back(0);
    g.push_back(8);
    g.insert(g.end(), subBlocks.begin(), subBlocks.end());
    g.insert(g.end(), {0x00, 0x3B});
    return g;
}

struct MemoryReader {
    const Bytes* data;
    size_t at;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buf, int n) {
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    const size_t k = std::min(size_t(n), r->data->size() - r->at);
    std::memcpy(buf, r->data->data() + r->at, k);
    r->at += k;
    return int(k);
}

int WriteToMemory(GifFileType* gif, const GifByteType* buf, int n) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), buf, buf + n);
    return n;
}

// giflib's whole encode of one frame: header, screen, image, rows, trailer.
bool GiflibEncode(const Sample& s, ColorMapObject* map, Bytes& out) {
    out.clear();
    int err = 0;
    GifFileType* gif = EGifOpen(&out, WriteToMemory, &err);
    if (!gif) return false;
    bool ok = EGifPutScreenDesc(gif, s.w, s.h, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, s.w, s.h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < s.h; ++y)
        ok = EGifPutLine(gif, s.frame.lpBits() + size_t(y) * s.frame.BytesPerScanline(), s.w) == GIF_OK;
    return EGifCloseFile(gif, &err) == GIF_OK && ok;
}

// giflib's whole decode of the first image, row by row.
bool GiflibDecode(const Bytes& gifBytes, int w, Bytes& pixels) {
    MemoryReader reader{&gifBytes, 0};
    int err = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &err);
    if (!gif) return false;
    GifRecordType type;
    bool ok = false;
    while (DGifGetRecordType(gif, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
        if (type != IMAGE_DESC_RECORD_TYPE) break;
        if (DGifGetImageDesc(gif) != GIF_OK) break;
        ok = true;
        for (int y = 0; ok && y < gif->Image.Height; ++y)
            ok = DGifGetLine(gif, pixels.data() + size_t(y) * size_t(w), w) == GIF_OK;
        break;
    }
    DGifCloseFile(gif, &err);
    return ok;
}

// What the container does before decoding: gather the sub-block contents.
void Gather(const Bytes& subBlocks, Bytes& data) {
    data.clear();
    for (size_t at = 0; at < subBlocks.size(); at += subBlocks[at] + 1u)
        data.insert(data.end(), subBlocks.begin() + long(at + 1), subBlocks.begin() + long(at + 1 + subBlocks[at]));
}

Bytes RowsOf(const GcDIB& frame) {
    Bytes out;
    for (int y = 0; y < frame.Height(); ++y) {
        const uint8_t* row = frame.lpBits() + size_t(y) * frame.BytesPerScanline();
        out.insert(out.end(), row, row + frame.Width());
    }
    return out;
}

// Frames are built and checked once: both decoders must give back the pixels.
Sample& sample(Content content, int w, int h) {
    static std::map<std::tuple<int, int, int>, std::unique_ptr<Sample>> samples;
    auto& slot = samples[{int(content), w, h}];
    if (!slot) {
        slot = std::make_unique<Sample>();
        Sample& s = *slot;
        s.w = w;
        s.h = h;
        s.frame.Create(w, h, 8);
        std::mt19937 rng(7);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = s.frame.lpBits() + size_t(y) * s.frame.BytesPerScanline();
            for (int x = 0; x < w; ++x)
                row[x] = content == kPhoto ? PhotoPixel(x, y) : content == kNoise ? uint8_t(rng()) : FlatPixel(x, y);
        }
        CompressFrame(s.subBlocks, s.frame, 9, false);
        s.gif = WrapInGif(w, h, s.subBlocks);

        const Bytes original = RowsOf(s.frame);
        Bytes theirs(original.size());
        GcDIB ours;
        ours.Create(w, h, 8);
        Bytes data;
        Gather(s.subBlocks, data);
        DecompressFrame(ours, false, 8, data);
        if (!GiflibDecode(s.gif, w, theirs) || theirs != original || RowsOf(ours) != original) {
            std::fprintf(stderr, "%s %dx%d: decoders disagree with the frame\n", kContentNames[content], w, h);
            std::exit(1);
        }
    }
    return *slot;
}

void setRate(benchmark::State& state, const Sample& s) {
    state.counters["Mpx/s"] =
        benchmark::Counter(double(s.w) * double(s.h) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// args: content, width, height
void BM_OurEncode(benchmark::State& state) {
    Sample& s = sample(Content(state.range(0)), int(state.range(1)), int(state.range(2)));
    GifLzwEncoder encoder;
    Bytes out;
    for (auto _ : state) {
        out.clear();
        encoder.CompressFrame(out, s.frame, 9, false);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["bytes/px"] = double(out.size()) / (double(s.w) * s.h);
    setRate(state, s);
}

void BM_GiflibEncode(benchmark::State& state) {
    Sample& s = sample(Content(state.range(0)), int(state.range(1)), int(state.range(2)));
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    Bytes out;
    out.reserve(s.gif.size() * 2);
    for (auto _ : state) {
        if (!GiflibEncode(s, map, out)) state.SkipWithError("giflib failed to encode");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    GifFreeMapObject(map);
    state.counters["bytes/px"] = double(out.size()) / (double(s.w) * s.h);
    setRate(state, s);
}

void BM_OurDecode(benchmark::State& state) {
    Sample& s = sample(Content(state.range(0)), int(state.range(1)), int(state.range(2)));
    GifLzwDecoder decoder;
    GcDIB frame;
    frame.Create(s.w, s.h, 8);
    Bytes data;
    for (auto _ : state) {
        Gather(s.subBlocks, data);
        decoder.DecompressFrame(frame, false, 8, data.data(), data.size());
        benchmark::DoNotOptimize(frame.lpBits());
        benchmark::ClobberMemory();
    }
    setRate(state, s);
}

void BM_GiflibDecode(benchmark::State& state) {
    Sample& s = sample(Content(state.range(0)), int(state.range(1)), int(state.range(2)));
    Bytes pixels(size_t(s.w) * size_t(s.h));
    for (auto _ : state) {
        if (!GiflibDecode(s.gif, s.w, pixels)) state.SkipWithError("giflib failed to decode");
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    setRate(state, s);
}

void registerAll() {
    const std::pair<int, int> sizes[] = {{640, 480}, {1920, 1080}};
    for (auto [w, h] : sizes) {
        for (int c = 0; c < kContentCount; ++c) {
            if (w > 640 && c != kPhoto) continue;
            using Fn = void (*)(benchmark::State&);
            const std::pair<const char*, Fn> runs[] = {{"BM_OurEncode", BM_OurEncode},
                                                       {"BM_GiflibEncode", BM_GiflibEncode},
                                                       {"BM_OurDecode", BM_OurDecode},
                                                       {"BM_GiflibDecode", BM_GiflibDecode}};
            for (auto [name, fn] : runs)
                benchmark::RegisterBenchmark(name, fn)->Args({c, w, h})->Unit(benchmark::kMillisecond);
        }
    }
}

// Prints the usual table, then our rate over giflib's for each frame.
// Rates are per CPU second, the steadier measure on a shared machine.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions the median stands for the runs (it comes last).
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            auto it = run.counters.find("Mpx/s");
            if (it != run.counters.end()) rates_[run.run_name.str()] = double(it->second);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-10s %-8s %-10s %12s %12s %8s\n", "direction", "content", "size", "ours Mpx/s",
                    "giflib Mpx/s", "ratio");
        for (const char* dir : {"Encode", "Decode"}) {
            for (auto& [name, rate] : rates_) {
                const std::string ours = std::string("BM_Our") + dir + "/";
                if (name.rfind(ours, 0) != 0) continue;
                const std::string args = name.substr(ours.size());
                auto theirs = rates_.find(std::string("BM_Giflib") + dir + "/" + args);
                if (theirs == rates_.end() || theirs->second <= 0) continue;
                const int content = std::atoi(args.c_str());
                const std::string size = args.substr(args.find('/') + 1);
                std::printf("%-10s %-8s %-10s %12.1f %12.1f %8.2f\n", dir, kContentNames[content], size.c_str(), rate,
                            theirs->second, rate / theirs->second);
            }
        }
    }

private:
    std::map<std::string, double> rates_;
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
