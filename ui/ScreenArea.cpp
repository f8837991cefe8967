#include "ui/ScreenArea.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tarnel {

namespace {
std::optional<ScreenAreas>& override_() {
    static std::optional<ScreenAreas> areas;
    return areas;
}
}  // namespace

ScreenRect ToScreenRect(const QRect& r) { return {r.left(), r.top(), r.width(), r.height()}; }
QRect ToQRect(const ScreenRect& r) { return QRect(r.left, r.top, r.width, r.height); }

void SetScreenAreasOverride(std::optional<ScreenAreas> areas) { override_() = areas; }

std::optional<ScreenAreas> ScreenAreasFor(const QWidget* window) {
    if (override_()) return override_();
    QScreen* screen = nullptr;
    if (window) {
        const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : window;
        screen = owner->screen();
    }
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return std::nullopt;
    ScreenAreas areas{ToScreenRect(screen->geometry()), ToScreenRect(screen->availableGeometry())};
    // A free area that is empty or outside the screen says nothing useful.
    if (areas.available.width <= 0 || areas.available.height <= 0 || !areas.screen.contains(areas.available))
        areas.available = areas.screen;
    return areas;
}

}  // namespace tarnel
