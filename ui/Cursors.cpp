#include "ui/Cursors.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>

namespace tarnel {

namespace {

constexpr int kSide = 32;

// Drawn on a 32 x 32 grid with the tip at (1, 30): a dark outline around a
// light glass tube, a navy bulb at the top right.
QPixmap drawEyedropper(qreal dpr) {
    QPixmap pm(QSize(kSide, kSide) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(1.5, 30.5);
    p.rotate(-45);
    // Along +x from the tip: nib 0..5, tube 5..19, collar 19..22, bulb 22..31.
    QPainterPath body;
    body.moveTo(0, 0);
    body.lineTo(5, -2);
    body.lineTo(19, -2);
    body.lineTo(19, 2);
    body.lineTo(5, 2);
    body.closeSubpath();
    QPen outline(QColor(16, 18, 40), 1.6);
    p.setPen(outline);
    p.setBrush(QColor(236, 240, 252));
    p.drawPath(body);
    // The liquid in the tube.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 170, 230));
    p.drawRect(QRectF(7, -1, 10, 2));
    p.setPen(outline);
    p.setBrush(QColor(96, 104, 140));
    p.drawRect(QRectF(19, -4, 3, 8));
    p.setBrush(QColor(40, 52, 120));
    p.drawRoundedRect(QRectF(22, -3.5, 9, 7), 3.5, 3.5);
    return pm;
}

}  // namespace

QCursor PickColorCursor() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpr = screen ? screen->devicePixelRatio() : 1.0;
    return QCursor(drawEyedropper(dpr), 1, 30);
}

}  // namespace tarnel
