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
    return HitPointWithin(pointX, pointY, double(pointerSize), x, y);
}

bool HitPointWithin(float pointX, float pointY, double radius, float x, float y) {
    double dx = double(pointX) - double(x), dy = double(pointY) - double(y);
    return std::sqrt(dx * dx + dy * dy) < radius;
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

ColorRef ContrastColor(ColorRef color) {
    const int luma = 299 * RedOf(color) + 587 * GreenOf(color) + 114 * BlueOf(color);
    return luma >= 128 * 1000 ? RGBColor(0, 0, 0) : RGBColor(255, 255, 255);
}

Rect PartnerRingBounds(float cx, float cy, int pointerSize) {
    return CircleBounds(cx, cy, float(std::abs(pointerSize) + 4));
}

void DrawPartnerRing(Bitmap& image, float cx, float cy, int pointerSize, ColorRef pointerColor, const Rect& clip) {
    if (image.empty() || image.bpp() != 32) return;
    const Rect area = IntersectRect(clip, imageBounds(image));
    const Rect bounds = IntersectRect(PartnerRingBounds(cx, cy, pointerSize), area);
    if (bounds.isEmpty()) return;
    const uint32_t ring = pixelOf(pointerColor), edge = pixelOf(ContrastColor(pointerColor));
    const int x0 = nearestPixel(cx), y0 = nearestPixel(cy), r = std::abs(pointerSize);
    // Bands by doubled distance from the centre, in integers: the edge from
    // r + 0.5 to r + 1.5, the ring to r + 3.5, the edge to r + 4.5.
    auto sq = [](int v) { return v * v; };
    const int inner = sq(2 * r + 1), ringFrom = sq(2 * r + 3), ringTo = sq(2 * r + 7), outer = sq(2 * r + 9);
    for (int y = bounds.top; y < bounds.bottom; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanline(y));
        for (int x = bounds.left; x < bounds.right; ++x) {
            const int d = 4 * (sq(x - x0) + sq(y - y0));
            if (d < inner || d >= outer) continue;
            row[x] = d >= ringFrom && d < ringTo ? ring : edge;
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
    partner_[size_t(index)] = Partner{};
    MeshStyle s = style;
    s.pointerSize = pointerSize();
    DrawMesh(canvas, model_.mesh(index), s);
    d.rect[size_t(index)] = imageRect(index);
    return d;
}

Rect MeshEditor::markPartner(int index, int i, int j) {
    const MeshGrid& mesh = model_.mesh(index);
    if (!mesh.contains(i, j)) return Rect{};
    const MeshPoint& p = mesh(i, j);
    DrawPartnerRing(canvas_[size_t(index)]->image(), p.x, p.y, pointerSize(), style.pointerColor, imageRect(index));
    Rect r = IntersectRect(PartnerRingBounds(p.x, p.y, pointerSize()), imageRect(index));
    partner_[size_t(index)] = Partner{true, i, j, r};
    return r;
}

void MeshEditor::redraw(int index, const Rect& area) {
    PictureBox& canvas = *canvas_[size_t(index)];
    ClsRect(canvas, area);
    MeshStyle s = style;
    s.pointerSize = pointerSize();
    DrawMesh(canvas, model_.mesh(index), s, area);
}

Rect MeshEditor::removePartner(int index) {
    Partner& old = partner_[size_t(index)];
    const Rect r = old.shown ? old.rect : Rect{};
    old = Partner{};
    if (!r.isEmpty()) redraw(index, r);
    return r;
}

MeshEditor::Damage MeshEditor::P_MouseDown(int index, int button, int, float x, float y, bool bothImagesLoaded,
                                           float grabRadius) {
    Damage d;
    if (index < 0 || index > 1 || !bothImagesLoaded || button != 1) return d;
    dragging_ = false;
    const double radius = grabRadius < 0 ? double(pointerSize()) : double(grabRadius);
    const MeshGrid& bounds = model_.StartMesh;  // the start mesh's bounds serve both canvases
    const MeshGrid& mine = model_.mesh(index);
    const int other = 1 - index;
    for (int j = 1; j <= bounds.countJ() - 1; ++j) {
        for (int i = 1; i <= bounds.countI() - 1; ++i) {
            if (!mine.contains(i, j)) continue;
            const MeshPoint& p = mine(i, j);
            if (!HitPointWithin(p.x, p.y, radius, x, y)) continue;
            Rect restored = removePartner(other);
            dragging_ = true;
            selectedI_ = i;
            selectedJ_ = j;
            Rect partner = markPartner(other, i, j);
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
    // A full clear would also wipe a partner marker drawn on this canvas.
    dirty = UnionRect(dirty, partner_[size_t(index)].rect);
    partner_[size_t(index)] = Partner{};
    dirty = IntersectRect(dirty, imageRect(index));
    if (dirty.isEmpty()) return d;
    redraw(index, dirty);
    d.rect[size_t(index)] = dirty;
    return d;
}

void MeshEditor::P_MouseUp(int, int, int, float, float) { dragging_ = false; }

}  // namespace tarnel
