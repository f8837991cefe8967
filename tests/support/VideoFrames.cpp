#include "support/VideoFrames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "imaging/PictureIO.h"
#include "support/Images.h"

namespace tarnel::test {

StdPicture movingPicture(int w, int h, int k) {
    const double cx = w * (0.25 + 0.02 * k), cy = h * 0.5, radius = std::max(3.0, std::min(w, h) * 0.4);
    return makePicture(w, h, [&](int x, int y) {
        const int r = (x * 200 / std::max(1, w - 1) + 3 * k) & 0xFF;
        const int g = 30 + y * 180 / std::max(1, h - 1);
        const int ramp = std::min(60 + (x + y) * 120 / std::max(1, w + h - 2) + 5 * k, 255);
        // Brightest in the middle, fading to the rim: colour that changes slowly,
        // as in photographs, so 4:2:0 sampling alone costs little.
        const double inside = std::clamp((radius - std::hypot(x - cx, y - cy)) / radius, 0.0, 1.0);
        const int b = int(std::lround(ramp + (240 - ramp) * inside));
        return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
    });
}

bool writeMovingFrames(const std::string& folder, int count, int w, int h) {
    for (int k = 0; k < count; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.bmp", k);
        if (!SavePictureBMP(movingPicture(w, h, k), (std::filesystem::path(folder) / name).string())) return false;
    }
    return true;
}

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> Bt709ToBgr24(const std::vector<uint8_t>& yuv, int width, int height) {
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    const uint8_t* py = yuv.data();
    const uint8_t* pu = py + size_t(width) * size_t(height);
    const uint8_t* pv = pu + size_t(cw) * size_t(ch);
    auto clamp8 = [](double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    std::vector<uint8_t> bgr(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double l = 1.164383 * (py[size_t(y) * size_t(width) + size_t(x)] - 16);
            const size_t c = size_t(y / 2) * size_t(cw) + size_t(x / 2);
            const double u = pu[c] - 128.0, v = pv[c] - 128.0;
            uint8_t* out = bgr.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
            out[0] = clamp8(l + 2.112402 * u);
            out[1] = clamp8(l - 0.213249 * u - 0.532909 * v);
            out[2] = clamp8(l + 1.792741 * v);
        }
    return bgr;
}

double Psnr(const std::vector<uint8_t>& bgr, int decodedWidth, const StdPicture& picture) {
    const Bitmap& b = *picture.bitmap;
    double sum = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const RGBQuad c = b.pixelColor(x, y);
            const uint8_t* d = bgr.data() + (size_t(y) * size_t(decodedWidth) + size_t(x)) * 3;
            const int diffs[3] = {d[0] - c.blue, d[1] - c.green, d[2] - c.red};
            for (int v : diffs) sum += double(v) * v;
        }
    const double mse = sum / (3.0 * b.width() * b.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace tarnel::test
