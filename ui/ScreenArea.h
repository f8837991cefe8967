#pragma once
// The screen a window opens on and its free area (without panels and docks),
// for ScreenFit. A child window opens on its owner's screen.
#include <QRect>
#include <optional>

#include "ui/view/ScreenFit.h"

class QWidget;

namespace tarnel {

struct ScreenAreas {
    ScreenRect screen;
    ScreenRect available;
};

// Nothing when there is no screen at all.
std::optional<ScreenAreas> ScreenAreasFor(const QWidget* window);

// For tests: every window sees this screen instead of the real one; nothing
// goes back to the real one.
void SetScreenAreasOverride(std::optional<ScreenAreas> areas);

ScreenRect ToScreenRect(const QRect& r);
QRect ToQRect(const ScreenRect& r);

}  // namespace tarnel
