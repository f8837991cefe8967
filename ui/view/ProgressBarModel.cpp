#include "ui/view/ProgressBarModel.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarnel {

int32_t ProgressBarModel::BorderWidth() const {
    switch (borderStyle_) {
        case kProgressBorderThin: return 1;
        case kProgressBorderSunken: return 2;
        default: return 0;
    }
}

int32_t ProgressBarModel::ClientWidth() const { return std::max(controlW_ - 2 * BorderWidth(), 0); }
int32_t ProgressBarModel::ClientHeight() const { return std::max(controlH_ - 2 * BorderWidth(), 0); }

int32_t ProgressBarModel::computeLength() const {
    const int64_t length = Vertical() ? ClientHeight() : ClientWidth();
    const int64_t filled = (length * value_) / max_;
    return int32_t(std::clamp<int64_t>(filled, 0, length));
}

bool ProgressBarModel::recompute() {
    const int32_t length = computeLength();
    if (length == filled_) return false;
    filled_ = length;
    return true;
}

bool ProgressBarModel::SetControlSize(int32_t width, int32_t height) {
    controlW_ = std::max(width, 0);
    controlH_ = std::max(height, 0);
    recompute();
    return true;
}

bool ProgressBarModel::SetBorderStyle(int32_t style) {
    borderStyle_ = style;
    recompute();
    return true;
}

bool ProgressBarModel::SetOrientation(int32_t orientation) {
    const bool wasVertical = Vertical();
    orientation_ = orientation;
    if (wasVertical != Vertical()) std::swap(controlW_, controlH_);
    recompute();
    return true;
}

bool ProgressBarModel::SetBackColor(uint32_t color) {
    backColor_ = color;
    return true;
}

bool ProgressBarModel::SetForeColor(uint32_t color) {
    foreColor_ = color;
    return true;
}

bool ProgressBarModel::SetMax(int32_t max) {
    max_ = max <= 0 ? 1 : max;
    return recompute();
}

bool ProgressBarModel::SetValue(int32_t value) {
    value_ = value;
    return recompute();
}

Rect ProgressBarModel::Bar() const {
    const int32_t W = ClientWidth(), H = ClientHeight();
    return Vertical() ? Rect{0, H - filled_, W, H} : Rect{0, 0, filled_, H};
}

Rect ProgressBarModel::Rest() const {
    const int32_t W = ClientWidth(), H = ClientHeight();
    return Vertical() ? Rect{0, 0, W, H - filled_} : Rect{filled_, 0, W, H};
}

}  // namespace tarnel
