#include "support/SyntheticWarp.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarnel::test {

MeshPoint WarpSource(const SyntheticWarp& warp, int width, int height, MeshPoint end) {
    const double cx = width / 2.0, cy = height / 2.0;
    const double u = (end.x - cx - warp.shiftX) / cx, v = (end.y - cy - warp.shiftY) / cy;
    const double w = 1 + warp.tiltX * u + warp.tiltY * v;
    const double a = -warp.degrees * std::numbers::pi / 180;
    const double px = u * cx / w / warp.scale, py = v * cy / w / warp.scale;
    double x = cx + std::cos(a) * px - std::sin(a) * py;
    double y = cy + std::sin(a) * px + std::cos(a) * py;
    const double k = 2 * std::numbers::pi / warp.waveLength;
    x += warp.wave * std::sin(k * end.y + 0.7);
    y += warp.wave * std::sin(k * end.x + 1.9);
    return {float(x), float(y)};
}

bool WarpTarget(const SyntheticWarp& warp, int width, int height, MeshPoint start, MeshPoint& end) {
    // Newton's method on WarpSource(e) = start with a numeric Jacobian.
    double ex = start.x, ey = start.y;
    for (int iteration = 0; iteration < 60; ++iteration) {
        auto at = [&](double x, double y) { return WarpSource(warp, width, height, {float(x), float(y)}); };
        const MeshPoint s = at(ex, ey);
        const double fx = s.x - start.x, fy = s.y - start.y;
        if (std::hypot(fx, fy) < 1e-3) {
            end = {float(ex), float(ey)};
            return true;
        }
        const double h = 0.5;
        const MeshPoint sx = at(ex + h, ey), sy = at(ex, ey + h);
        const double a = (sx.x - s.x) / h, b = (sy.x - s.x) / h, c = (sx.y - s.y) / h, d = (sy.y - s.y) / h;
        const double det = a * d - b * c;
        if (std::abs(det) < 1e-9) return false;
        ex -= (d * fx - b * fy) / det;
        ey -= (-c * fx + a * fy) / det;
    }
    return false;
}

Bitmap WarpPicture(const Bitmap& picture, const SyntheticWarp& warp) {
    const int w = picture.width(), h = picture.height(), step = picture.bpp() / 8;
    Bitmap out;
    out.create(w, h, 32);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = out.scanline(y);
        for (int x = 0; x < w; ++x) {
            const MeshPoint s = WarpSource(warp, w, h, {float(x), float(y)});
            const double sx = std::clamp(double(s.x), 0.0, w - 1.0), sy = std::clamp(double(s.y), 0.0, h - 1.0);
            const int x0 = std::min(int(sx), w - 2 < 0 ? 0 : w - 2), y0 = std::min(int(sy), h - 2 < 0 ? 0 : h - 2);
            const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
            const double fx = sx - x0, fy = sy - y0;
            for (int c = 0; c < 3; ++c) {
                auto px = [&](int xx, int yy) { return double(picture.scanline(yy)[xx * step + c]); };
                const double top = px(x0, y0) * (1 - fx) + px(x1, y0) * fx;
                const double bottom = px(x0, y1) * (1 - fx) + px(x1, y1) * fx;
                row[x * 4 + c] = uint8_t(std::lround(top * (1 - fy) + bottom * fy));
            }
        }
    }
    return out;
}

}  // namespace tarnel::test
