#pragma once
// Window tests on a screen of a chosen size: while a FakeScreen lives,
// every window sees it instead of the real screen. Header only: just the
// window tests include it.
#include <QRect>
#include <QWidget>

#include "ui/ScreenArea.h"

namespace tarnel::test {

class FakeScreen {
public:
    FakeScreen(const QRect& screen, const QRect& available) {
        SetScreenAreasOverride(ScreenAreas{ToScreenRect(screen), ToScreenRect(available)});
    }
    ~FakeScreen() { SetScreenAreasOverride(std::nullopt); }
    FakeScreen(const FakeScreen&) = delete;
    FakeScreen& operator=(const FakeScreen&) = delete;
};

// Where a child widget of a top-level window lies on the screen (the window
// need not be shown).
inline QRect ScreenRectOf(const QWidget* child) {
    const QWidget* top = child->window();
    return QRect(top->pos() + child->mapTo(top, QPoint(0, 0)), child->size());
}

}  // namespace tarnel::test
