#include "ui/MeshOverlay.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <vector>

#include "ui/view/ZoomMapping.h"

namespace tarnel {

namespace {

QColor qcolor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

// The centre of the screen pixel that shows an image coordinate.
QPointF toScreen(const MeshPoint& p, double zoom) {
    return QPointF(ImageToScreen(p.x, zoom) + 0.5, ImageToScreen(p.y, zoom) + 0.5);
}

}  // namespace

void PaintMeshOverlay(QPainter& painter, const MeshGrid& mesh, const MeshStyle& style,
                      const MeshEditor::Partner& partner, const QRectF& exposed, double zoom,
                      const std::vector<bool>& toCheck) {
    if (mesh.empty() || !(zoom > 0)) return;
    const int size = std::max(0, style.pointerSize);
    // Markers and the ring reach this far (image pixels) beyond their point.
    const double reach = (size + 6) / zoom + 1;
    const QRectF area = exposed.adjusted(-reach, -reach, reach, reach);
    const double left = area.left(), top = area.top(), right = area.right(), bottom = area.bottom();
    const int R = mesh.rows(), C = mesh.columns();
    painter.setRenderHint(QPainter::Antialiasing, false);

    std::vector<QLineF> lines;
    lines.reserve(size_t(R) * size_t(C) * 5);
    for (int j = 1; j <= C; ++j) {
        for (int i = 1; i <= R; ++i) {
            const MeshPoint& tl = mesh(i, j);
            const MeshPoint& bl = mesh(i, j + 1);
            const MeshPoint& br = mesh(i + 1, j + 1);
            const MeshPoint& tr = mesh(i + 1, j);
            const float minX = std::min({tl.x, bl.x, br.x, tr.x}), maxX = std::max({tl.x, bl.x, br.x, tr.x});
            const float minY = std::min({tl.y, bl.y, br.y, tr.y}), maxY = std::max({tl.y, bl.y, br.y, tr.y});
            if (maxX < left || minX > right || maxY < top || minY > bottom) continue;
            const QPointF a = toScreen(tl, zoom), b = toScreen(bl, zoom), c = toScreen(br, zoom), d = toScreen(tr, zoom);
            lines.insert(lines.end(), {QLineF(a, b), QLineF(b, c), QLineF(c, d), QLineF(d, a), QLineF(a, c)});
        }
    }
    QPen linePen(qcolor(style.lineColor));
    linePen.setCosmetic(true);
    linePen.setWidth(1);
    painter.setPen(linePen);
    painter.setBrush(Qt::NoBrush);
    if (!lines.empty()) painter.drawLines(lines.data(), int(lines.size()));

    QPen markerPen(qcolor(style.pointerColor));
    markerPen.setCosmetic(true);
    markerPen.setWidth(1);
    painter.setPen(markerPen);
    for (int j = 1; j <= C + 1; ++j) {
        for (int i = 1; i <= R + 1; ++i) {
            const MeshPoint& p = mesh(i, j);
            if (p.x < left || p.x > right || p.y < top || p.y > bottom) continue;
            painter.drawEllipse(toScreen(p, zoom), size, size);
        }
    }

    if (toCheck.size() == mesh.points().size()) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        const QColor orange(int((kCheckRingColor >> 16) & 0xFF), int((kCheckRingColor >> 8) & 0xFF), int(kCheckRingColor & 0xFF));
        for (int j = 1; j <= C + 1; ++j) {
            for (int i = 1; i <= R + 1; ++i) {
                const MeshPoint& p = mesh(i, j);
                if (!toCheck[size_t(j) * size_t(mesh.countI()) + size_t(i)]) continue;
                if (p.x < left || p.x > right || p.y < top || p.y > bottom) continue;
                const double ring = size + 4.5;
                painter.setPen(QPen(QColor(0, 0, 0, 160), 3.5));
                painter.drawEllipse(toScreen(p, zoom), ring, ring);
                painter.setPen(QPen(orange, 2.0));
                painter.drawEllipse(toScreen(p, zoom), ring, ring);
            }
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
    }

    if (partner.shown && mesh.contains(partner.i, partner.j)) {
        // On a pixel centre and without smoothing, so that the one-pixel edges stay crisp.
        const QPointF exact = toScreen(mesh(partner.i, partner.j), zoom);
        const QPointF at(std::floor(exact.x()) + 0.5, std::floor(exact.y()) + 0.5);
        const double ring = size + 2.5;
        painter.setPen(QPen(qcolor(ContrastColor(style.pointerColor)), 4.0));
        painter.drawEllipse(at, ring, ring);
        painter.setPen(QPen(qcolor(style.pointerColor), 2.0));
        painter.drawEllipse(at, ring, ring);
    }
}

}  // namespace tarnel
