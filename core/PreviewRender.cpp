#include "core/PreviewRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace tarnel {

FrameSize FitFrameSize(int width, int height, int maxWidth, int maxHeight) {
    if (width <= 0 || height <= 0) return {};
    maxWidth = std::max(maxWidth, 1);
    maxHeight = std::max(maxHeight, 1);
    if (width <= maxWidth && height <= maxHeight) return {width, height};
    const double scale = std::min(double(maxWidth) / width, double(maxHeight) / height);
    return {std::clamp(int(std::lround(width * scale)), 1, std::min(width, maxWidth)),
            std::clamp(int(std::lround(height * scale)), 1, std::min(height, maxHeight))};
}

bool DownscalePixels(const PixelArray& source, int width, int height, PixelArray& target) {
    const int sw = source.width(), sh = source.height();
    if (source.empty() || width <= 0 || height <= 0 || width > sw || height > sh) return false;
    if (target.width() != width || target.height() != height) {
        if (!target.resize(width, height)) return false;
    }
    // Target column x covers source columns [x·sw/width, (x+1)·sw/width).
    std::vector<int> columnStart;
    std::vector<uint32_t> sums;
    try {
        columnStart.resize(size_t(width) + 1);
        sums.resize(size_t(width) * 3);
    } catch (const std::bad_alloc&) {
        target.clear();
        return false;
    }
    for (int x = 0; x <= width; ++x) columnStart[size_t(x)] = int(int64_t(x) * sw / width);
    for (int y = 0; y < height; ++y) {
        const int rowFirst = int(int64_t(y) * sh / height), rowEnd = int(int64_t(y + 1) * sh / height);
        std::fill(sums.begin(), sums.end(), 0u);
        for (int sy = rowFirst; sy < rowEnd; ++sy) {
            const uint32_t* in = source.row(sy);
            uint32_t* sum = sums.data();
            for (int x = 0; x < width; ++x, sum += 3)
                for (int sx = columnStart[size_t(x)]; sx < columnStart[size_t(x) + 1]; ++sx) {
                    const uint32_t p = in[sx];
                    sum[0] += (p >> 16) & 0xFF;
                    sum[1] += (p >> 8) & 0xFF;
                    sum[2] += p & 0xFF;
                }
        }
        uint32_t* out = target.row(y);
        const uint32_t rows = uint32_t(rowEnd - rowFirst);
        for (int x = 0; x < width; ++x) {
            const uint32_t count = rows * uint32_t(columnStart[size_t(x) + 1] - columnStart[size_t(x)]);
            const uint32_t* sum = sums.data() + 3 * size_t(x);
            auto mean = [count](uint32_t s) { return (s + count / 2) / count; };
            out[x] = mean(sum[0]) << 16 | mean(sum[1]) << 8 | mean(sum[2]);
        }
    }
    return true;
}

namespace {

// The run's way: the picture as a canvas of its size shows it.
bool readPicture(const StdPicture& picture, PixelArray& pixels) {
    return picture.isBitmap() && !ReadPicturePixels(*picture.bitmap, pixels);
}

}  // namespace

bool PreviewRender::setSources(const StdPicture& start, const StdPicture& end) {
    clearSources();
    if (!readPicture(start, start_) || !readPicture(end, end_)) {
        clearSources();
        return false;
    }
    return true;
}

void PreviewRender::clearSources() {
    start_.clear();
    end_.clear();
    reducedStart_.clear();
    reducedEnd_.clear();
    reducedSize_ = {};
    trianglesValid_ = false;
}

bool PreviewRender::prepareSources(FrameSize size) {
    if (size == fullSize() || size == reducedSize_) return true;
    reducedSize_ = {};
    // The end image shrinks by the start image's factors, like the meshes.
    const double fx = double(size.width) / start_.width(), fy = double(size.height) / start_.height();
    const int endWidth = std::clamp(int(std::lround(end_.width() * fx)), 1, end_.width());
    const int endHeight = std::clamp(int(std::lround(end_.height() * fy)), 1, end_.height());
    if (!DownscalePixels(start_, size.width, size.height, reducedStart_) ||
        !DownscalePixels(end_, endWidth, endHeight, reducedEnd_))
        return false;
    reducedSize_ = size;
    return true;
}

bool PreviewRender::prepareTriangles(const MeshGrid& startMesh, const MeshGrid& endMesh, FrameSize size) {
    if (trianglesValid_ && size == builtSize_ && startMesh == builtStart_ && endMesh == builtEnd_) return true;
    trianglesValid_ = false;
    const bool full = size == fullSize();
    const double fx = double(size.width) / start_.width(), fy = double(size.height) / start_.height();
    auto build = [&](const MeshGrid& mesh, std::vector<MeshTriangle>& triangles) {
        if (full) {
            triangles = BuildTriangleList(mesh);
            return;
        }
        scaled_ = mesh;
        for (MeshPoint& p : scaled_.points()) p = MeshPoint{float(p.x * fx), float(p.y * fy)};
        triangles = BuildTriangleList(scaled_);
    };
    build(startMesh, startTriangles_);
    build(endMesh, endTriangles_);
    if (startTriangles_.empty() || startTriangles_.size() != endTriangles_.size()) return false;
    builtStart_ = startMesh;
    builtEnd_ = endMesh;
    builtSize_ = size;
    trianglesValid_ = true;
    return true;
}

bool PreviewRender::render(const MeshGrid& startMesh, const MeshGrid& endMesh, double t, FrameSize size,
                           Bitmap& frame) {
    const FrameSize full = fullSize();
    if (!hasSources() || size.width <= 0 || size.height <= 0 || size.width > full.width ||
        size.height > full.height)
        return false;
    if (!prepareSources(size) || !prepareTriangles(startMesh, endMesh, size)) return false;
    if (frame.width() != size.width || frame.height() != size.height || frame.bpp() != 32 || !frame.topDown()) {
        if (!frame.create(size.width, size.height, 32)) return false;
    } else {
        std::memset(frame.bits(), 0, frame.sizeBytes());
    }
    const bool reduced = !(size == full);
    // t = k / N in double, stored as a float: the run's frame parameter.
    const float tf = float(std::clamp(t, 0.0, 1.0));
    const WarpContext context(reduced ? reducedStart_ : start_, reduced ? reducedEnd_ : end_, size.width,
                              size.height, tf);
    InterpolateTriangles(startTriangles_, endTriangles_, tf, mid_);
    for (size_t i = 0; i < mid_.size(); ++i) FillTriangle(frame, mid_[i], startTriangles_[i], endTriangles_[i], context);
    return true;
}

}  // namespace tarnel
