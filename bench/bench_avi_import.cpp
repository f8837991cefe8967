// Importing a 100-frame 640 x 480 MJPEG AVI into the GIF container (decode,
// conversion to 32 bpp, 216-colour reduction) against FFmpeg decoding the
// same file alone, measured in the same run. The file is made by the ffmpeg
// tool at start-up.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "imaging/gif/cGif.h"
#include "output/mAVIImp.h"
#include "platform/media/AviReader.h"

using namespace tarnel;

namespace {

constexpr int kFrames = 100;

const std::string& videoPath() {
    static const std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "tarnel-bench-avi-import.avi").string();
        std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v " +
                              std::to_string(kFrames) + " -c:v mjpeg -q:v 3 -f avi '" + p + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 ? p : std::string();
    }();
    return path;
}

using Clock = std::chrono::steady_clock;

// Wall and processor time of the timed parts; the machine may be shared, so
// both are reported.
struct Stopwatch {
    double wall = 0, cpu = 0;
    Clock::time_point wall0;
    std::clock_t cpu0 = 0;
    void start() {
        wall0 = Clock::now();
        cpu0 = std::clock();
    }
    void stop() {
        wall += std::chrono::duration<double>(Clock::now() - wall0).count();
        cpu += double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    }
};
Stopwatch gDecode;  // FFmpeg decoding alone
int64_t gDecodeIterations = 0;

// The plain libav decode loop: every packet of the video stream through the
// decoder, frames received and dropped.
int decodeAll(const std::string& path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return -1;
    avformat_find_stream_info(format, nullptr);
    int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = stream >= 0 ? avcodec_find_decoder(format->streams[stream]->codecpar->codec_id) : nullptr;
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    int frames = -1;
    if (decoder && avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar) >= 0 &&
        (decoder->thread_count = 1, avcodec_open2(decoder, codec, nullptr) >= 0)) {
        frames = 0;
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        auto drain = [&] {
            while (avcodec_receive_frame(decoder, frame) == 0) {
                ++frames;
                av_frame_unref(frame);
            }
        };
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && avcodec_send_packet(decoder, packet) >= 0) drain();
            av_packet_unref(packet);
        }
        avcodec_send_packet(decoder, nullptr);
        drain();
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return frames;
}

void BM_FFmpegDecodeOnly(benchmark::State& state) {
    if (videoPath().empty()) return state.SkipWithError("the ffmpeg tool could not make the video");
    av_log_set_level(AV_LOG_QUIET);
    Stopwatch w;
    for (auto _ : state) {
        w.start();
        int frames = decodeAll(videoPath());
        w.stop();
        if (frames != kFrames) return state.SkipWithError("decoding failed");
    }
    gDecode = w;
    gDecodeIterations = int64_t(state.iterations());
    state.counters["frames/s_cpu"] = kFrames * double(state.iterations()) / w.cpu;
}
BENCHMARK(BM_FFmpegDecodeOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void ratio(benchmark::State& state, const Stopwatch& w) {
    const double passes = double(state.iterations());
    state.counters["frames/s_cpu"] = kFrames * passes / w.cpu;
    if (gDecodeIterations > 0) {
        state.counters["x_decode_cpu"] = (w.cpu / passes) / (gDecode.cpu / double(gDecodeIterations));
        state.counters["x_decode_wall"] = (w.wall / passes) / (gDecode.wall / double(gDecodeIterations));
    }
}

// Our reader: decoding and conversion to a 32-bpp surface, every frame.
void BM_AviReaderFrames(benchmark::State& state) {
    if (videoPath().empty()) return state.SkipWithError("the ffmpeg tool could not make the video");
    Stopwatch w;
    Bitmap frame;
    for (auto _ : state) {
        w.start();
        AviReader reader;
        if (!reader.Open(videoPath())) return state.SkipWithError("open failed");
        for (int k = 0; k < reader.Length(); ++k)
            if (!reader.GetFrame(k, frame)) return state.SkipWithError("frame failed");
        w.stop();
    }
    ratio(state, w);
}
BENCHMARK(BM_AviReaderFrames)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The composer's import: the 216-colour cube by nearest colour.
void BM_ImportAviFrames(benchmark::State& state) {
    if (videoPath().empty()) return state.SkipWithError("the ffmpeg tool could not make the video");
    Stopwatch w;
    for (auto _ : state) {
        cGif gif;
        w.start();
        if (!ImportAviFrames(videoPath(), gif, nullptr)) return state.SkipWithError("import failed");
        w.stop();
    }
    ratio(state, w);
}
BENCHMARK(BM_ImportAviFrames)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
