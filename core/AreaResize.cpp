#include "core/AreaResize.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace tarnel {

namespace {

std::optional<int> side(const std::string& text) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || !Bitmap::sizeAllowed(v, 1)) return std::nullopt;
    return v;
}

}  // namespace

std::optional<FrameSizeRequest> ParseFrameSize(const std::string& text) {
    const size_t x = text.find('x');
    if (x == std::string::npos || text.find('x', x + 1) != std::string::npos) return std::nullopt;
    const std::string w = text.substr(0, x), h = text.substr(x + 1);
    if (w.empty() && h.empty()) return std::nullopt;
    FrameSizeRequest r;
    if (!w.empty()) {
        auto v = side(w);
        if (!v) return std::nullopt;
        r.width = *v;
    }
    if (!h.empty()) {
        auto v = side(h);
        if (!v) return std::nullopt;
        r.height = *v;
    }
    if (r.width && r.height && !Bitmap::sizeAllowed(r.width, r.height)) return std::nullopt;
    return r;
}

void ResolveFrameSize(const FrameSizeRequest& request, int sourceWidth, int sourceHeight, int& width, int& height) {
    width = request.width;
    height = request.height;
    if (request.empty()) {
        width = sourceWidth;
        height = sourceHeight;
    } else if (width == 0) {
        width = std::max(1, int(std::lround(double(sourceWidth) * height / std::max(1, sourceHeight))));
    } else if (height == 0) {
        height = std::max(1, int(std::lround(double(sourceHeight) * width / std::max(1, sourceWidth))));
    }
}

void AreaResizer::MakeAxis(int from, int to, Axis& axis) {
    // Output pixel d covers [d, d + 1) * from / to of the source; each source
    // pixel s weighs by its overlap with that span.
    axis.taps.assign(size_t(to), Tap{});
    axis.weights.clear();
    const double scale = double(from) / double(to);
    for (int d = 0; d < to; ++d) {
        const double lo = d * scale, hi = (d + 1) * scale;
        const int first = std::min(from - 1, int(std::floor(lo)));
        const int last = std::max(first, std::min(from - 1, int(std::ceil(hi)) - 1));
        Tap& tap = axis.taps[size_t(d)];
        tap.first = first;
        tap.offset = int(axis.weights.size());
        double sum = 0;
        for (int s = first; s <= last; ++s) {
            const double w = std::min(hi, double(s + 1)) - std::max(lo, double(s));
            axis.weights.push_back(float(std::max(0.0, w)));
            sum += std::max(0.0, w);
        }
        tap.count = last - first + 1;
        for (int k = 0; k < tap.count; ++k) axis.weights[size_t(tap.offset + k)] = float(axis.weights[size_t(tap.offset + k)] / sum);
    }
}

bool AreaResizer::Prepare(int sourceWidth, int sourceHeight, int width, int height) {
    if (!Bitmap::sizeAllowed(sourceWidth, sourceHeight) || !Bitmap::sizeAllowed(width, height)) return false;
    try {
        MakeAxis(sourceWidth, width, x_);
        MakeAxis(sourceHeight, height, y_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    sourceWidth_ = sourceWidth;
    sourceHeight_ = sourceHeight;
    width_ = width;
    height_ = height;
    return true;
}

bool AreaResizer::Resize(const Bitmap& source, Bitmap& out) const {
    if (source.width() != sourceWidth_ || source.height() != sourceHeight_ || width_ == 0) return false;
    if (source.bpp() != 24 && source.bpp() != 32) return false;
    const int bytes = source.bpp() / 8;
    if (out.width() != width_ || out.height() != height_ || out.bpp() != 32 || !out.topDown())
        if (!out.create(width_, height_, 32, true)) return false;
    try {
        // Across first, into one row of floats per source row, then down.
        std::vector<float> rows(size_t(width_) * 3 * size_t(sourceHeight_));
        for (int y = 0; y < sourceHeight_; ++y) {
            const uint8_t* in = source.scanline(y);
            float* row = rows.data() + size_t(y) * size_t(width_) * 3;
            for (int d = 0; d < width_; ++d) {
                const Tap& t = x_.taps[size_t(d)];
                const float* w = x_.weights.data() + t.offset;
                const uint8_t* p = in + size_t(t.first) * size_t(bytes);
                float b = 0, g = 0, r = 0;
                for (int k = 0; k < t.count; ++k, p += bytes) {
                    b += w[k] * p[0];
                    g += w[k] * p[1];
                    r += w[k] * p[2];
                }
                row[3 * d] = b;
                row[3 * d + 1] = g;
                row[3 * d + 2] = r;
            }
        }
        std::vector<float> sum(size_t(width_) * 3);
        for (int y = 0; y < height_; ++y) {
            const Tap& t = y_.taps[size_t(y)];
            const float* w = y_.weights.data() + t.offset;
            std::fill(sum.begin(), sum.end(), 0.0f);
            for (int k = 0; k < t.count; ++k) {
                const float* row = rows.data() + size_t(t.first + k) * size_t(width_) * 3;
                for (size_t i = 0; i < sum.size(); ++i) sum[i] += w[k] * row[i];
            }
            uint8_t* o = out.scanline(y);
            for (int d = 0; d < width_; ++d, o += 4) {
                for (int c = 0; c < 3; ++c) o[c] = uint8_t(std::clamp(int(sum[size_t(3 * d + c)] + 0.5f), 0, 255));
                o[3] = 0;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool AreaResize(const Bitmap& source, int width, int height, Bitmap& out) {
    AreaResizer resizer;
    return resizer.Prepare(source.width(), source.height(), width, height) && resizer.Resize(source, out);
}

}  // namespace tarnel
