#include "ui/Skin.h"

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <cmath>
#include <cstdint>

namespace tarnel {

namespace {

constexpr int kTextureSize = 128;

// Value noise on a lattice that wraps every `period` cells, so the texture
// tiles without seams.
double latticeValue(int ix, int iy, int period, uint32_t seed) {
    ix = ((ix % period) + period) % period;
    iy = ((iy % period) + period) % period;
    uint32_t h = uint32_t(ix) * 374761393u + uint32_t(iy) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return double(h & 0xFFFF) / 65535.0;
}

double smoothNoise(double x, double y, int period, uint32_t seed) {
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    double fx = x - ix, fy = y - iy;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    double a = latticeValue(ix, iy, period, seed), b = latticeValue(ix + 1, iy, period, seed);
    double c = latticeValue(ix, iy + 1, period, seed), d = latticeValue(ix + 1, iy + 1, period, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

// u, v in [0, 1) across the tile.
double fbm(double u, double v) {
    double sum = 0, amp = 0.5;
    int period = 4;
    for (int octave = 0; octave < 5; ++octave) {
        sum += amp * smoothNoise(u * period, v * period, period, 17u + uint32_t(octave));
        amp *= 0.5;
        period *= 2;
    }
    return sum;
}

QColor mix(const QColor& a, const QColor& b, double t) {
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QPixmap makeTexture(qreal dpr) {
    const int n = int(std::lround(kTextureSize * dpr));
    QImage img(n, n, QImage::Format_RGB32);
    const QColor base(176, 184, 212), light(198, 205, 230), vein(132, 142, 184);
    const double twoPi = 6.283185307179586;
    for (int y = 0; y < n; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < n; ++x) {
            double u = double(x) / n, v = double(y) / n;
            double turbulence = fbm(u, v);
            // Whole periods across the tile keep the veins seamless.
            double s = std::sin(twoPi * (2 * u + v) + 7.0 * turbulence);
            double veinWeight = std::pow(1.0 - std::fabs(s), 9.0);
            QColor c = mix(base, light, fbm(v + 0.37, u + 0.61) * 1.3 - 0.25);
            c = mix(c, vein, veinWeight * 0.55);
            row[x] = c.rgb();
        }
    }
    QPixmap pm = QPixmap::fromImage(img);
    pm.setDevicePixelRatio(dpr);
    return pm;
}

QPixmap canvas(int w, int h, qreal dpr) {
    QPixmap pm(int(std::lround(w * dpr)), int(std::lround(h * dpr)));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

QPixmap makeExit(bool pressed, qreal dpr) {
    QPixmap pm = canvas(16, 16, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r(0.5, 0.5, 15, 15);
    QLinearGradient g(0, 0, 0, 16);
    if (pressed) {
        g.setColorAt(0, QColor(120, 28, 32));
        g.setColorAt(1, QColor(168, 52, 56));
    } else {
        g.setColorAt(0, QColor(226, 100, 96));
        g.setColorAt(1, QColor(164, 36, 40));
    }
    QPainterPath box;
    box.addRoundedRect(r, 3.5, 3.5);
    p.fillPath(box, g);
    p.setPen(QPen(pressed ? QColor(70, 10, 14) : QColor(96, 16, 20), 1));
    p.drawPath(box);
    if (!pressed) {
        p.setPen(QPen(QColor(255, 255, 255, 90), 1));
        p.drawLine(QPointF(3.5, 1.8), QPointF(12.5, 1.8));
    }
    qreal o = pressed ? 0.6 : 0;
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5 + o, 5 + o), QPointF(11 + o, 11 + o));
    p.drawLine(QPointF(11 + o, 5 + o), QPointF(5 + o, 11 + o));
    return pm;
}

// The maximise image beside the exit image: one square for "fill the screen",
// two overlapping ones for "back to the earlier size".
QPixmap makeMaximise(bool restore, qreal dpr) {
    QPixmap pm = canvas(16, 16, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 16);
    g.setColorAt(0, QColor(118, 128, 190));
    g.setColorAt(1, QColor(52, 60, 124));
    QPainterPath box;
    box.addRoundedRect(QRectF(0.5, 0.5, 15, 15), 3.5, 3.5);
    p.fillPath(box, g);
    p.setPen(QPen(QColor(30, 34, 80), 1));
    p.drawPath(box);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::white, 1));
    if (restore) {
        p.drawRect(6, 3, 6, 6);
        p.fillRect(4, 6, 7, 7, QColor(80, 88, 150));
        p.drawRect(4, 6, 6, 6);
    } else {
        p.drawRect(4, 4, 8, 8);
        p.drawLine(4, 5, 12, 5);
    }
    return pm;
}

QPixmap makeOption(bool on, qreal dpr) {
    QPixmap pm = canvas(14, 14, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(5, 5), 9);
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, QColor(214, 218, 236));
    p.setBrush(g);
    p.setPen(QPen(QColor(52, 60, 112), 1.2));
    p.drawEllipse(QRectF(1, 1, 12, 12));
    if (on) {
        QRadialGradient dot(QPointF(6, 6), 4);
        dot.setColorAt(0, QColor(86, 104, 200));
        dot.setColorAt(1, QColor(30, 40, 110));
        p.setBrush(dot);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(3.8, 3.8, 6.4, 6.4));
    }
    return pm;
}

QPixmap makeSwitch(bool on, qreal dpr) {
    QPixmap pm = canvas(34, 16, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF track(0.5, 1.5, 33, 13);
    QLinearGradient g(0, 1, 0, 15);
    if (on) {
        g.setColorAt(0, QColor(70, 118, 214));
        g.setColorAt(1, QColor(40, 78, 168));
    } else {
        g.setColorAt(0, QColor(150, 154, 172));
        g.setColorAt(1, QColor(176, 180, 198));
    }
    p.setBrush(g);
    p.setPen(QPen(on ? QColor(26, 46, 110) : QColor(96, 100, 124), 1));
    p.drawRoundedRect(track, 6.5, 6.5);
    QRectF knob = on ? QRectF(18.5, 0.5, 15, 15) : QRectF(0.5, 0.5, 15, 15);
    QRadialGradient k(knob.center() - QPointF(2, 2), 9);
    k.setColorAt(0, Qt::white);
    k.setColorAt(1, QColor(206, 210, 226));
    p.setBrush(k);
    p.setPen(QPen(QColor(84, 88, 120), 1));
    p.drawEllipse(knob);
    return pm;
}

QPixmap makePlate(qreal dpr) {
    QPixmap pm = canvas(150, 20, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r(0.5, 0.5, 149, 19);
    QLinearGradient g(0, 0, 0, 20);
    g.setColorAt(0, QColor(84, 98, 168));
    g.setColorAt(0.5, QColor(52, 64, 132));
    g.setColorAt(1, QColor(36, 46, 104));
    QPainterPath path;
    path.addRoundedRect(r, 4, 4);
    p.fillPath(path, g);
    p.setPen(QPen(QColor(22, 28, 70), 1));
    p.drawPath(path);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(QPointF(4, 1.6), QPointF(146, 1.6));
    // A small mark at the left end, where the heading starts.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(192, 192, 255));
    p.drawRoundedRect(QRectF(6, 6, 4, 8), 1, 1);
    return pm;
}

QPixmap makeCursorPicture(qreal dpr) {
    QPixmap pm = canvas(32, 32, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(1, 1);
    arrow.lineTo(1, 19);
    arrow.lineTo(5.6, 14.8);
    arrow.lineTo(8.8, 21.6);
    arrow.lineTo(11.8, 20.2);
    arrow.lineTo(8.7, 13.6);
    arrow.lineTo(14.6, 13.4);
    arrow.closeSubpath();
    QLinearGradient g(0, 0, 12, 20);
    g.setColorAt(0, QColor(60, 76, 170));
    g.setColorAt(1, QColor(18, 24, 70));
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPath(arrow);
    // The light-blue accent the buttons share.
    p.setPen(QPen(QColor(18, 24, 70), 0.8));
    p.setBrush(QColor(192, 192, 255));
    p.drawEllipse(QRectF(3.2, 8.6, 3.4, 3.4));
    return pm;
}

QIcon makeIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        QLinearGradient back(0, 0, 0, 64);
        back.setColorAt(0, QColor(70, 84, 160));
        back.setColorAt(1, QColor(28, 36, 92));
        p.setPen(Qt::NoPen);
        p.setBrush(back);
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
        // A warped mesh: straight grid lines bending towards the right.
        p.setPen(QPen(QColor(192, 192, 255), 2.2));
        for (int k = 0; k < 4; ++k) {
            double t = 14 + k * 12;
            QPainterPath h;
            h.moveTo(12, t);
            h.cubicTo(26, t - 4 + k * 2, 38, t + 6 - k * 2, 52, t);
            p.drawPath(h);
            QPainterPath v;
            v.moveTo(12 + k * 13.3, 14);
            v.cubicTo(12 + k * 13.3 + 4, 28, 12 + k * 13.3 - 4, 38, 12 + k * 13.3, 50);
            p.drawPath(v);
        }
        p.setPen(QPen(QColor(24, 30, 64), 1.5));
        p.setBrush(QColor(110, 230, 150));
        p.drawEllipse(QPointF(38.6, 38), 4.5, 4.5);
        icon.addPixmap(pm);
    }
    return icon;
}

}  // namespace

Skin::Skin(qreal dpr) : dpr_(dpr) {
    texture = makeTexture(dpr);
    exitNormal = makeExit(false, dpr);
    exitPressed = makeExit(true, dpr);
    maximiseImage = makeMaximise(false, dpr);
    restoreImage = makeMaximise(true, dpr);
    optOn = makeOption(true, dpr);
    optOff = makeOption(false, dpr);
    switchOff = makeSwitch(false, dpr);
    switchOn = makeSwitch(true, dpr);
    titlePlate = makePlate(dpr);
    cursor = QCursor(makeCursorPicture(dpr), 1, 1);
    icon = makeIcon();
}

const Skin& Skin::get() {
    static const Skin skin([] {
        qreal dpr = 1.0;
        if (QScreen* s = QGuiApplication::primaryScreen()) dpr = s->devicePixelRatio();
        return dpr < 1.0 ? 1.0 : dpr;
    }());
    return skin;
}

QPixmap Skin::titleStrip(int width, const QString& caption) const {
    if (width < 1) width = 1;
    QPixmap pm = canvas(width, kTitleHeight, dpr_);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, kTitleHeight);
    g.setColorAt(0, QColor(66, 80, 150));
    g.setColorAt(0.55, QColor(38, 48, 110));
    g.setColorAt(1, QColor(26, 34, 84));
    p.fillRect(QRectF(0, 0, width, kTitleHeight), g);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawLine(QPointF(0, 0.5), QPointF(width, 0.5));
    p.setPen(QPen(QColor(10, 14, 40), 1));
    p.drawLine(QPointF(0, kTitleHeight - 0.5), QPointF(width, kTitleHeight - 0.5));
    icon.paint(&p, QRect(4, 2, 16, 16));
    p.setFont(font(12, true));
    p.setPen(QColor(236, 238, 255));
    p.drawText(QRectF(26, 0, width - 60, kTitleHeight), Qt::AlignVCenter | Qt::AlignLeft, caption);
    return pm;
}

QString Skin::styleSheet() {
    return QStringLiteral(
        "QPushButton[skin=\"true\"] {"
        "  color: rgb(24, 30, 64);"
        "  background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(212, 212, 255),"
        "    stop:0.5 rgb(192, 192, 255), stop:1 rgb(176, 176, 246));"
        "  border: 1px solid rgb(66, 72, 132); border-radius: 3px; padding: 0px 4px; }"
        "QPushButton[skin=\"true\"]:hover { background-color: rgb(206, 206, 255); }"
        "QPushButton[skin=\"true\"]:pressed {"
        "  background-color: rgb(160, 160, 230); border-color: rgb(36, 40, 96); padding-top: 2px; }"
        "QPushButton[skin=\"true\"]:disabled {"
        "  color: rgb(124, 128, 156); background-color: rgb(202, 204, 222); border-color: rgb(146, 150, 176); }"
        "QPushButton[skin=\"corner\"] { background-color: rgb(212, 208, 200); border: none; }"
        "QLineEdit[skin=\"true\"] {"
        "  color: rgb(24, 30, 64); background: white; border: 1px solid rgb(66, 72, 132);"
        "  border-radius: 2px; padding: 0px 3px; }"
        "QLineEdit[skin=\"true\"]:disabled { color: rgb(124, 128, 156); background: rgb(214, 216, 230);"
        "  border-color: rgb(146, 150, 176); }");
}

QFont Skin::font(int pixelSize, bool bold) {
    QFont f;
    f.setFamilies({"IPAPGothic", "Noto Sans CJK JP"});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void PaintSkin(QPainter& painter, int boxWidth, int boxHeight) {
    const QPixmap& tile = Skin::get().texture;
    const int tw = kTextureSize, th = kTextureSize;
    for (int x = 0; x <= boxWidth; x += tw)
        for (int y = 0; y <= boxHeight; y += th) painter.drawPixmap(x, y, tile);
}

QLabel* SkinLabel(QWidget* parent, const QString& text, const QRect& r, bool bold, Qt::Alignment align) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(r);
    l->setAlignment(align);
    l->setFont(Skin::font(12, bold));
    return l;
}

QPushButton* SkinButton(QWidget* parent, const QString& text, const QRect& r) {
    auto* b = new QPushButton(text, parent);
    b->setProperty("skin", "true");
    b->setGeometry(r);
    b->setFont(Skin::font(12));
    b->setAutoDefault(false);
    return b;
}

}  // namespace tarnel
