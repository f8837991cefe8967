#pragma once
// The arithmetic of the flat progress bar, free of any window: the filled
// length, the bar and rest rectangles for either orientation, the border
// that the styles take from the control, and the rule that a new value only
// asks for a repaint when the filled length changes.
#include <cstdint>

#include "platform/gdi.h"

namespace tarnel {

enum ProgressOrientation : int32_t { kProgressHorizontal = 0, kProgressVertical = 1 };
enum ProgressBorder : int32_t { kProgressBorderNone = 0, kProgressBorderThin = 1, kProgressBorderSunken = 2 };

// Defaults: button face behind a highlight-coloured bar.
inline constexpr uint32_t kProgressDefaultBackColor = 0x8000000Fu;
inline constexpr uint32_t kProgressDefaultForeColor = 0x8000000Du;
inline constexpr int32_t kProgressDefaultMax = 100;

class ProgressBarModel {
public:
    // Every setter returns true when the bar must be repainted.

    // The control's outer size; the client area is what the border leaves.
    bool SetControlSize(int32_t width, int32_t height);
    int32_t ControlWidth() const { return controlW_; }
    int32_t ControlHeight() const { return controlH_; }
    int32_t ClientWidth() const;
    int32_t ClientHeight() const;

    int32_t BorderStyle() const { return borderStyle_; }
    bool SetBorderStyle(int32_t style);
    // Pixels the border takes on each side: none 0, thin 1, sunken 2.
    int32_t BorderWidth() const;

    int32_t Orientation() const { return orientation_; }
    // Switching between horizontal and vertical swaps the control's width
    // and height (the container keeps its left and top).
    bool SetOrientation(int32_t orientation);
    bool Vertical() const { return orientation_ != kProgressHorizontal; }

    uint32_t BackColor() const { return backColor_; }
    uint32_t ForeColor() const { return foreColor_; }
    bool SetBackColor(uint32_t color);
    bool SetForeColor(uint32_t color);

    int32_t Max() const { return max_; }
    // 0 or less is stored as 1. Repaints only when the filled length moves.
    bool SetMax(int32_t max);
    int32_t Value() const { return value_; }
    // Repaints only when the filled length differs from the one painted last.
    bool SetValue(int32_t value);

    // Pixels of the client length now filled, kept within 0 .. client length
    // (values below 0 or above Max paint the same as 0 and Max).
    int32_t FilledLength() const { return filled_; }
    // In client coordinates.
    Rect Bar() const;
    Rect Rest() const;

private:
    int32_t computeLength() const;
    // Recomputes; true when the length changed.
    bool recompute();

    int32_t controlW_ = 0, controlH_ = 0;
    int32_t borderStyle_ = kProgressBorderSunken;
    int32_t orientation_ = kProgressHorizontal;
    uint32_t backColor_ = kProgressDefaultBackColor;
    uint32_t foreColor_ = kProgressDefaultForeColor;
    int32_t max_ = kProgressDefaultMax;
    int32_t value_ = 0;
    int32_t filled_ = 0;
};

}  // namespace tarnel
