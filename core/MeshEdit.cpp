#include "core/MeshEdit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace tarnel {

namespace {

// Coordinates further out than this are not drawn (they would only cost time).
constexpr double kDrawLimit = 1 << 24;

bool drawable(double v) { return std::isfinite(v) && std::fabs(v) < kDrawLimit; }

int nearestPixel(float v) { return int(std::nearbyint(double(v))); }

uint32_t pixelOf(ColorRef c) { return uint32_t(RedOf(c)) << 16 | uint32_t(GreenOf(c)) << 8 | uint32_t(BlueOf(c)); }

Rect imageBounds(const Bitmap& image) { return Rect{0, 0, image.width(), image.height()}; }

bool overlaps(const Rect& a, const Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

inline void plot(Bitmap& image, int x, int y, uint32_t value, const Rect& clip) {
    if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) return;
    reinterpret_cast<uint32_t*>(image.scanline(y))[x] = value;
}

void edgeLine(Bitmap& image, int x1, int y1, int x2, int y2, ColorRef c, const Rect& clip) {
    DrawLine(image, float(x1), float(y1), float(x2), float(y2), c, clip);
}

}  // namespace

bool HitPoint(float pointX, float pointY, int pointerSize, float x, float y) {
    double dx = double(pointX) - double(x), dy = double(pointY) - double(y);
    return std::sqrt(dx * dx + dy * dy) < double(pointerSize);
}

Rect UnionRect(const Rect& a, const Rect& b) {
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

Rect IntersectRect(const Rect& a, const Rect& b) {
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    return r.isEmpty() ? Rect{} : r;
}

Rect LineBounds(float x1, float y1, float x2, float y2) {
    if (!drawable(x1) || !drawable(y1) || !drawable(x2) || !drawable(y2)) return Rect{};
    int ax = nearestPixel(x1), ay = nearestPixel(y1), bx = nearestPixel(x2), by = nearestPixel(y2);
    return Rect{std::min(ax, bx), std::min(ay, by), std::max(ax, bx) + 1, std::max(ay, by) + 1};
}

Rect CircleBounds(float cx, float cy, float radius) {
    if (!drawable(cx) || !drawable(cy) || !drawable(radius)) return Rect{};
    int x = nearestPixel(cx), y = nearestPixel(cy), r = std::abs(nearestPixel(radius));
    return Rect{x - r, y - r, x + r + 1, y + r + 1};
}

void DrawLine(Bitmap& image, float x1, float y1, float x2, float y2, ColorRef color, const Rect& clip) {
    if (image.empty() || image.bpp() != 32) return;
    Rect area = IntersectRect(clip, imageBounds(image));
    Rect bounds = LineBounds(x1, y1, x2, y2);
    if (area.isEmpty() || bounds.isEmpty() || !overlaps(area, bounds)) return;
    const uint32_t value = pixelOf(color);
    int x = nearestPixel(x1), y = nearestPixel(y1);
    const int xe = nearestPixel(x2), ye = nearestPixel(y2);
    const int dx = std::abs(xe - x), dy = -std::abs(ye - y);
    const int sx = x < xe ? 1 : -1, sy = y < ye ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        plot(image, x, y, value, area);
        if (x == xe && y == ye) break;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void DrawCircle(Bitmap& image, float cx, float cy, float radius, ColorRef color, const Rect& clip) {
    if (image.empty() || image.bpp() != 32) return;
    Rect area = IntersectRect(clip, imageBounds(image));
    Rect bounds = CircleBounds(cx, cy, radius);
    if (area.isEmpty() || bounds.isEmpty() || !overlaps(area, bounds)) return;
    const uint32_t value = pixelOf(color);
    const int x0 = nearestPixel(cx), y0 = nearestPixel(cy), r = std::abs(nearestPixel(radius));
    if (r == 0) {
        plot(image, x0, y0, value, area);
        return;
    }
    // Midpoint circle: one pixel wide, symmetric in all eight octants.
    int x = r, y = 0, err = 1 - r;
    while (x >= y) {
        plot(image, x0 + x, y0 + y, value, area);
        plot(image, x0 - x, y0 + y, value, area);
        plot(image, x0 + x, y0 - y, value, area);
        plot(image, x0 - x, y0 - y, value, area);
        plot(image, x0 + y, y0 + x, value, area);
        plot(image, x0 - y, y0 + x, value, area);
        plot(image, x0 + y, y0 - x, value, area);
        plot(image, x0 - y, y0 - x, value, area);
        ++y;
        if (err < 0) {
            err += 2 * y + 1;
        } else {
            --x;
            err += 2 * (y - x) + 1;
        }
    }
}

void DrawMesh(PictureBox& canvas, const MeshGrid& mesh, const MeshStyle& style, const Rect& clip) {
    Bitmap& image = canvas.image();
    if (mesh.empty() || image.empty()) return;
    const Rect area = IntersectRect(clip, imageBounds(image));
    if (area.isEmpty()) return;
    const int R = mesh.rows(), C = mesh.columns();
    auto line = [&](const MeshPoint& a, const MeshPoint& b) {
        // Most lines of a partial redraw miss the area; test before drawing.
        Rect bounds = LineBounds(a.x, a.y, b.x, b.y);
        if (!bounds.isEmpty() && overlaps(bounds, area)) DrawLine(image, a.x, a.y, b.x, b.y, style.lineColor, area);
    };
    for (int j = 1; j <= C; ++j) {
        for (int i = 1; i <= R; ++i) {
            const MeshPoint& tl = mesh(i, j);
            const MeshPoint& bl = mesh(i, j + 1);
            const MeshPoint& br = mesh(i + 1, j + 1);
            const MeshPoint& tr = mesh(i + 1, j);
            line(tl, bl);
            line(bl, br);
            line(br, tr);
            line(tr, tl);
            line(tl, br);
        }
    }
    const float radius = float(style.pointerSize);
    for (int j = 1; j <= C + 1; ++j) {
        for (int i = 1; i <= R + 1; ++i) {
            const MeshPoint& p = mesh(i, j);
            Rect bounds = CircleBounds(p.x, p.y, radius);
            if (!bounds.isEmpty() && overlaps(bounds, area)) DrawCircle(image, p.x, p.y, radius, style.pointerColor, area);
        }
    }
}

void DrawMesh(PictureBox& canvas, const MeshGrid& mesh, const MeshStyle& style) {
    DrawMesh(canvas, mesh, style, imageBounds(canvas.image()));
}

void ClsRect(PictureBox& canvas, const Rect& area) {
    Bitmap& image = canvas.image();
    if (image.empty()) return;
    Rect r = IntersectRect(area, imageBounds(image));
    if (r.isEmpty()) return;
    FillRect(canvas.hDC(), r, Brush::solid(canvas.backColor));
    if (canvas.hasPicture()) {
        DC source;
        source.select(canvas.picture().bitmap.get());
        BitBlt(canvas.hDC(), r.left, r.top, r.right - r.left, r.bottom - r.top, &source, r.left, r.top, SRCCOPY);
    }
}

void DrawEdgeFrame(PictureBox& box) {
    Bitmap& image = box.image();
    if (image.empty()) return;
    const int w = image.width(), h = image.height();
    const Rect all = imageBounds(image);
    // Outer ring: light at the top and left, dark shadow at the bottom and right.
    edgeLine(image, 0, 0, w - 1, 0, GetSysColor(22), all);
    edgeLine(image, 0, 0, 0, h - 1, GetSysColor(22), all);
    edgeLine(image, 0, h - 1, w - 1, h - 1, GetSysColor(21), all);
    edgeLine(image, w - 1, 0, w - 1, h - 1, GetSysColor(21), all);
    if (w < 3 || h < 3) return;
    // Inner ring: highlight, then shadow.
    edgeLine(image, 1, 1, w - 2, 1, GetSysColor(20), all);
    edgeLine(image, 1, 1, 1, h - 2, GetSysColor(20), all);
    edgeLine(image, 1, h - 2, w - 2, h - 2, GetSysColor(16), all);
    edgeLine(image, w - 2, 1, w - 2, h - 2, GetSysColor(16), all);
}

MeshEditor::MeshEditor(PictureBox& start, PictureBox& end, MeshModel& model) : canvas_{&start, &end}, model_(model) {}

Rect MeshEditor::imageRect(int index) const { return imageBounds(canvas_[size_t(index)]->image()); }

MeshEditor::Damage MeshEditor::Refresh_Mesh(int index) {
    Damage d;
    if (index < 0 || index > 1) return d;
    PictureBox& canvas = *canvas_[size_t(index)];
    canvas.Cls();
    extras_[size_t(index)] = Rect{};
    MeshStyle s = style;
    s.pointerSize = pointerSize();
    DrawMesh(canvas, model_.mesh(index), s);
    d.rect[size_t(index)] = imageRect(index);
    return d;
}

Rect MeshEditor::markCircle(int index, int i, int j, ColorRef color) {
    const MeshGrid& mesh = model_.mesh(index);
    if (!mesh.contains(i, j)) return Rect{};
    const MeshPoint& p = mesh(i, j);
    PictureBox& canvas = *canvas_[size_t(index)];
    DrawCircle(canvas.image(), p.x, p.y, float(pointerSize()), color, imageRect(index));
    Rect r = IntersectRect(CircleBounds(p.x, p.y, float(pointerSize())), imageRect(index));
    extras_[size_t(index)] = UnionRect(extras_[size_t(index)], r);
    return r;
}

MeshEditor::Damage MeshEditor::P_MouseDown(int index, int button, int, float x, float y, bool bothImagesLoaded) {
    Damage d;
    if (index < 0 || index > 1 || !bothImagesLoaded || button != 1) return d;
    dragging_ = false;
    const MeshGrid& bounds = model_.StartMesh;  // the start mesh's bounds serve both canvases
    const MeshGrid& mine = model_.mesh(index);
    const int other = 1 - index;
    for (int j = 1; j <= bounds.countJ() - 1; ++j) {
        for (int i = 1; i <= bounds.countI() - 1; ++i) {
            if (!mine.contains(i, j)) continue;
            const MeshPoint& p = mine(i, j);
            if (!HitPoint(p.x, p.y, pointerSize(), x, y)) continue;
            Rect restored = markCircle(other, selectedI_, selectedJ_, style.pointerColor);
            dragging_ = true;
            selectedI_ = i;
            selectedJ_ = j;
            Rect partner = markCircle(other, i, j, style.lineColor);
            d.rect[size_t(other)] = UnionRect(restored, partner);
            return d;
        }
    }
    return d;
}

Rect MeshEditor::pointRegion(int index, int i, int j) const {
    const MeshGrid& mesh = model_.mesh(index);
    if (!mesh.contains(i, j)) return Rect{};
    const MeshPoint& p = mesh(i, j);
    Rect r = CircleBounds(p.x, p.y, float(pointerSize()));
    // Every line from the point ends at one of its eight neighbours.
    for (int nj = std::max(1, j - 1); nj <= std::min(mesh.countJ() - 1, j + 1); ++nj)
        for (int ni = std::max(1, i - 1); ni <= std::min(mesh.countI() - 1, i + 1); ++ni) {
            const MeshPoint& q = mesh(ni, nj);
            r = UnionRect(r, LineBounds(p.x, p.y, q.x, q.y));
        }
    return r;
}

MeshEditor::Damage MeshEditor::P_MouseMove(int index, int button, int, float x, float y) {
    Damage d;
    if (index < 0 || index > 1 || button != 1 || !dragging_) return d;
    MeshGrid& mesh = model_.mesh(index);
    if (!mesh.contains(selectedI_, selectedJ_)) return d;
    PictureBox& canvas = *canvas_[size_t(index)];
    Rect dirty = pointRegion(index, selectedI_, selectedJ_);
    MeshPoint& p = mesh(selectedI_, selectedJ_);
    if (x >= 0 && x <= float(canvas.scaleWidth())) p.x = x;
    if (y >= 0 && y <= float(canvas.scaleHeight())) p.y = y;
    dirty = UnionRect(dirty, pointRegion(index, selectedI_, selectedJ_));
    // A full clear would also wipe partner markers drawn on this canvas.
    dirty = UnionRect(dirty, extras_[size_t(index)]);
    extras_[size_t(index)] = Rect{};
    dirty = IntersectRect(dirty, imageRect(index));
    if (dirty.isEmpty()) return d;
    ClsRect(canvas, dirty);
    MeshStyle s = style;
    s.pointerSize = pointerSize();
    DrawMesh(canvas, mesh, s, dirty);
    d.rect[size_t(index)] = dirty;
    return d;
}

void MeshEditor::P_MouseUp(int, int, int, float, float) { dragging_ = false; }

}  // namespace tarnel
