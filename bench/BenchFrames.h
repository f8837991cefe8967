#pragma once
// A benchmark's work folder with a numbered sequence of BMP frames in
// "frames/", made once on first use and removed when the program ends. It
// lives under TARNEL_BENCH_DIR, else /dev/shm (so the disk stays out of the
// figures), else the temporary folder.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "imaging/PictureIO.h"
#include "platform/gdi.h"

namespace tarnel::bench {

class BenchFrames {
public:
    // paint(x, y, n, pixel) writes frame n's pixel (x, y) as blue, green, red bytes.
    using Painter = std::function<void(int x, int y, int n, uint8_t* pixel)>;

    BenchFrames(std::string name, int width, int height, int frames, Painter paint)
        : name_(std::move(name)), width_(width), height_(height), frames_(frames), paint_(std::move(paint)) {}
    ~BenchFrames() {
        std::error_code ec;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    }
    BenchFrames(const BenchFrames&) = delete;
    BenchFrames& operator=(const BenchFrames&) = delete;

    // The work folder; its frames are in folder() / "frames".
    const std::filesystem::path& folder() {
        if (folder_.empty()) make();
        return folder_;
    }

private:
    void make() {
        namespace fs = std::filesystem;
        const char* chosen = std::getenv("TARNEL_BENCH_DIR");
        const fs::path base = chosen && *chosen ? fs::path(chosen)
                              : fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                             : fs::temp_directory_path();
        folder_ = base / ("tarnel-bench-" + name_ + "-" + std::to_string(::getpid()));
        fs::create_directories(folder_ / "frames");
        Bitmap frame;
        frame.create(width_, height_, 32);
        for (int n = 0; n < frames_; ++n) {
            for (int y = 0; y < height_; ++y) {
                uint8_t* row = frame.scanline(y);
                for (int x = 0; x < width_; ++x) paint_(x, y, n, row + 4 * x);
            }
            char file[32];
            std::snprintf(file, sizeof file, "%03d.bmp", n);
            // Figures over missing frames would mean nothing.
            if (PictureResult saved = SavePictureBMP(frame, (folder_ / "frames" / file).string()); !saved) {
                std::fprintf(stderr, "cannot write frame %s: %s\n", file, saved.reason.c_str());
                std::exit(1);
            }
        }
    }

    std::string name_;
    int width_, height_, frames_;
    Painter paint_;
    std::filesystem::path folder_;
};

}  // namespace tarnel::bench
