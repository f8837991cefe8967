#include "ui/ZoomAnimation.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QVariantAnimation>
#include <QWidget>

namespace tarnel {

namespace {

int liveOverlays = 0;

// A frameless top-level window masked to the outline of the moving
// rectangle: transparent everywhere else, with or without a compositor.
class ZoomOverlay : public QWidget {
public:
    ZoomOverlay(QRect from, QRect to)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint |
                               Qt::WindowDoesNotAcceptFocus),
          from_(from),
          to_(to) {
        ++liveOverlays;
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_DeleteOnClose);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(from.united(to).adjusted(-2, -2, 2, 2));
        animation_.setStartValue(0.0);
        animation_.setEndValue(1.0);
        animation_.setDuration(200);
        animation_.setEasingCurve(QEasingCurve::OutCubic);
        QObject::connect(&animation_, &QVariantAnimation::valueChanged, this,
                         [this](const QVariant& v) { step(v.toDouble()); });
        QObject::connect(&animation_, &QVariantAnimation::finished, this, [this] { close(); });
        step(0.0);
        show();
        animation_.start();
    }
    ~ZoomOverlay() override { --liveOverlays; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(30, 38, 96));
        p.setPen(QPen(QColor(192, 192, 255), 1));
        p.drawRect(current_.adjusted(1, 1, -2, -2));
    }

private:
    void step(double t) {
        auto lerp = [t](int a, int b) { return int(a + (b - a) * t); };
        QRect r(QPoint(lerp(from_.left(), to_.left()), lerp(from_.top(), to_.top())),
                QPoint(lerp(from_.right(), to_.right()), lerp(from_.bottom(), to_.bottom())));
        current_ = r.translated(-geometry().topLeft()).normalized();
        if (current_.width() < 3 || current_.height() < 3) current_ = current_.adjusted(-1, -1, 1, 1);
        // Platforms without window shapes (the offscreen one of the tests) show no overlay anyway.
        if (masks_) setMask(QRegion(current_).subtracted(QRegion(current_.adjusted(3, 3, -3, -3))));
        update();
    }

    QRect from_, to_, current_;
    const bool masks_ = QGuiApplication::platformName() != QLatin1String("offscreen") &&
                        QGuiApplication::platformName() != QLatin1String("minimal");
    QVariantAnimation animation_;
};

}  // namespace

void ZoomWindowOpen(const QWidget* window, QPoint from) {
    if (!window) return;
    new ZoomOverlay(QRect(from, from), window->frameGeometry());
}

void ZoomWindowClose(const QRect& windowRect, QPoint to) { new ZoomOverlay(windowRect, QRect(to, to)); }

int ZoomOverlayCount() { return liveOverlays; }

}  // namespace tarnel
